// The htmltess extension module: the HtmlHandler type and the bridge that turns
// tokenizer callbacks into Python method calls, and the two parse functions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "html/consumer.h"
#include "html/tokenizer.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/unicode_stream.h"

using Tessarin::FileInputStream;
using Tessarin::MemoryInputStream;
using Tessarin::RawInputStream;
using Tessarin::Html::attr_list_t;
using Tessarin::Html::Handler;
using Tessarin::Html::InputConsumer;
using Tessarin::Html::TextState;
using Tessarin::Html::Tokenizer;

namespace {

class PythonHtmlHandler;

}  // namespace

struct tessarin_HtmlHandler {
  PyObject_HEAD PythonHtmlHandler* nativeHandler;
};

namespace {

// Method names, interned once at module initialisation.
enum MethodName {
  kOnParseError,
  kOnDoctype,
  kOnStartTag,
  kOnEndTag,
  kOnComment,
  kOnChar,
  kOnEof,
  kOnText,
  kMethodCount
};
PyObject* methodNames[kMethodCount];
const char* const methodNameStrings[kMethodCount] = {"OnParseError", "OnDoctype", "OnStartTag", "OnEndTag",
                                                     "OnComment",    "OnChar",    "OnEof",      "OnText"};
// The type's own do-nothing methods, as found in its dictionary.
PyObject* defaultMethods[kMethodCount];

PyObject* HtmlHandler_default(PyObject*, PyObject*);

constexpr unsigned int kMaxUnicode = 0x10FFFF;

inline bool Representable(unsigned int cp) { return cp <= kMaxUnicode; }

// A code point as Python can hold it: values above U+10FFFF become U+FFFD.
inline unsigned int ToRepresentable(unsigned int cp) {
  return Representable(cp) ? cp : Tessarin::Unicode::kReplacementCharacter;
}

// A str holding exactly the given code points; None for a null pointer.
PyObject* CodePointsToStr(const unsigned int* text, unsigned long length) {
  if (!text) Py_RETURN_NONE;
  const unsigned int* end = text + length;
  if (std::all_of(text, end, Representable))
    return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text, static_cast<Py_ssize_t>(length));
  Py_UCS4* copy = PyMem_New(Py_UCS4, length);
  if (!copy) return PyErr_NoMemory();
  std::transform(text, end, copy, ToRepresentable);
  PyObject* str = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, copy, static_cast<Py_ssize_t>(length));
  PyMem_Free(copy);
  return str;
}

// Tag and attribute names recur throughout a document: the strs made for them
// are kept in a small direct-mapped table so that a recurring name costs a
// comparison instead of an allocation, and its hash is already known when it
// becomes a dict key. Used only with the interpreter lock held.
class NameCache {
 public:
  // A new reference to a str of the name, or null with an exception set.
  PyObject* Get(const unsigned int* name, unsigned long length) {
    if (length > kMaxLength) return CodePointsToStr(name, length);
    uint32_t hash = 2166136261u;
    for (unsigned long i = 0; i < length; ++i) hash = (hash ^ name[i]) * 16777619u;
    Entry& entry = entries[hash % kEntries];
    if (entry.str && entry.length == length && std::equal(name, name + length, entry.codePoints)) {
      Py_INCREF(entry.str);
      return entry.str;
    }
    PyObject* str = CodePointsToStr(name, length);
    if (!str) return nullptr;
    Py_INCREF(str);
    Py_XSETREF(entry.str, str);
    entry.length = length;
    std::copy(name, name + length, entry.codePoints);
    return str;
  }

 private:
  static constexpr unsigned long kMaxLength = 24;
  static constexpr size_t kEntries = 1024;
  struct Entry {
    PyObject* str = nullptr;
    unsigned long length = 0;
    unsigned int codePoints[kMaxLength];
  };
  Entry entries[kEntries];
};

NameCache* names;

// Forwards each tokenizer callback to the method of the same name on the Python
// handler object, looked up by name at every call. Once a callback raises, the
// exception stays pending, no further Python call is made, and the tokenizer
// is interrupted.
//
// Two things keep the bridge cheap without changing what Python sees:
// - A callback whose method resolves to the type's own do-nothing default is
//   not called: it would do nothing. Whether it does is decided as Python's
//   lookup would decide it, and the answer is kept only while no Python code can
//   have run (see `epoch`), so an override made by any callback is seen at the
//   next call.
// - When the handler provides OnText, consecutive characters are joined and
//   delivered to OnText right before any other callback (and in pieces of
//   kTextChunk), instead of one OnChar call per character.
class PythonHtmlHandler final : public Handler {
 public:
  void SetObject(tessarin_HtmlHandler* o) { object = o; }

  bool Failed() const { return failed; }
  bool Busy() const { return busy; }
  void SetBusy(bool parsing) { busy = parsing; }
  // The tokenizer of the parse under way, null outside a parse.
  Tokenizer* Running() const { return running; }
  void SetRunning(Tokenizer* t) { running = t; }
  bool InOnStartTag() const { return inOnStartTag; }

  // Prepares a parse: clears the failure and picks per-character or text-run
  // delivery. False with an exception set if looking OnText up failed.
  bool BeginParse() {
    failed = false;
    text.clear();
    PythonMayHaveRun();
    textMode = !ResolvesToDefault(kOnText);
    return !failed;
  }

  // Called whenever Python code may have run outside the callbacks (signal
  // handlers, other threads): decisions about default methods are stale.
  void PythonMayHaveRun() { ++epoch; }

  void OnParseError() override { Call(kOnParseError, nullptr, 0); }

  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    if (!Wanted(kOnDoctype)) return;
    PyObject* args[3] = {CodePointsToStr(name, nameLength), CodePointsToStr(publicId, publicIdLength),
                         CodePointsToStr(systemId, systemIdLength)};
    if (args[0] && args[1] && args[2])
      Call(kOnDoctype, args, 3);
    else
      Fail();
    for (PyObject* arg : args) Py_XDECREF(arg);
  }

  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    if (selfClosing) tokenizer->Acknowledge();
    if (!Wanted(kOnStartTag)) return;
    PyObject* dict = AttributeDict(attributes, attributeCount);
    if (!dict) {
      Fail();
      return;
    }
    PyObject* tagName = names->Get(name, nameLength);
    if (tagName) {
      PyObject* args[3] = {tagName, dict, selfClosing ? Py_True : Py_False};
      inOnStartTag = true;
      Call(kOnStartTag, args, 3);
      inOnStartTag = false;
      Py_DECREF(tagName);
    } else {
      Fail();
    }
    // A handler that kept the dict is left holding an empty one.
    PyDict_Clear(dict);
    Py_DECREF(dict);
  }

  void OnEndTag(const unsigned int* name, unsigned long nameLength) override {
    if (Wanted(kOnEndTag)) CallWithStr(kOnEndTag, names->Get(name, nameLength));
  }

  void OnComment(const unsigned int* text, unsigned long length) override {
    if (Wanted(kOnComment)) CallWithStr(kOnComment, CodePointsToStr(text, length));
  }

  void OnChar(unsigned int codePoint) override {
    if (textMode) {
      if (failed) return;
      text.push_back(ToRepresentable(codePoint));
      if (text.size() == kTextChunk) FlushText();
      return;
    }
    // Hot path: a default OnChar is decided once per run of characters.
    if (failed || SkipsDefault(kOnChar)) return;
    CallWithStr(kOnChar, PyUnicode_FromOrdinal(static_cast<int>(ToRepresentable(codePoint))));
  }

  void OnEof() override { Call(kOnEof, nullptr, 0); }

  // A block of characters from the tokenizer's text fast path.
  void OnText(const unsigned int* block, unsigned long length) override {
    if (failed) return;
    if (textMode) {
      for (unsigned long i = 0; i < length && !failed; ++i) {
        text.push_back(ToRepresentable(block[i]));
        if (text.size() == kTextChunk) FlushText();
      }
      return;
    }
    // No Python code runs while a default OnChar is skipped, so the whole
    // block is decided by one lookup.
    if (SkipsDefault(kOnChar)) return;
    for (unsigned long i = 0; i < length; ++i) OnChar(block[i]);
  }

 private:
  // Longest piece of text delivered by one OnText call.
  static constexpr size_t kTextChunk = 65536;

  void Fail() {
    failed = true;
    text.clear();
    tokenizer->Interrupt();
  }

  // Delivers the characters collected for OnText, if any.
  void FlushText() {
    if (text.empty() || failed) return;
    PyObject* str = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size()));
    text.clear();
    CallWithStr(kOnText, str);
  }

  // Calls a method with a new str as its one argument and releases the str; a
  // str that could not be made (null, an exception set) fails the parse.
  void CallWithStr(MethodName method, PyObject* str) {
    if (!str) {
      Fail();
      return;
    }
    Invoke(method, &str, 1);
    Py_DECREF(str);
  }

  // True when a callback is to be made: nothing failed, and its method is not
  // the type's default. Text collected so far is delivered first, since it
  // comes before this token.
  bool Wanted(MethodName method) {
    if (textMode) FlushText();
    return !failed && !SkipsDefault(method);
  }

  // Calls a method by name with up to three arguments, unless it is the default.
  void Call(MethodName method, PyObject* const* args, size_t count) {
    if (Wanted(method)) Invoke(method, args, count);
  }

  void Invoke(MethodName method, PyObject* const* args, size_t count) {
    PyObject* stack[4] = {reinterpret_cast<PyObject*>(object), nullptr, nullptr, nullptr};
    for (size_t i = 0; i < count; ++i) stack[i + 1] = args[i];
    PythonMayHaveRun();
    PyObject* result =
        PyObject_VectorcallMethod(methodNames[method], stack, (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (result)
      Py_DECREF(result);
    else
      Fail();
  }

  // Whether calling `method` now would run the type's default, decided at most
  // once per epoch. A lookup that fails fails the parse (and answers true, so
  // nothing is called).
  bool SkipsDefault(MethodName method) {
    unsigned bit = 1u << method;
    if (decidedEpoch != epoch) {
      decided = 0;
      decidedEpoch = epoch;
    }
    if (!(decided & bit)) {
      bool isDefault = ResolvesToDefault(method);
      skipped = isDefault ? skipped | bit : skipped & ~bit;
      // Lookups through a custom __getattribute__ or __getattr__ run Python
      // code: their answer is not kept.
      if (Py_TYPE(object)->tp_getattro == PyObject_GenericGetAttr) decided |= bit;
    }
    return skipped & bit;
  }

  // Looks the method up on the handler object as a call would, and tells
  // whether it is the type's do-nothing default bound to this object. The
  // type's answer is kept while the type is unchanged (its version tag stays);
  // only a default found there needs the full lookup, since an instance
  // attribute may hide it.
  bool ResolvesToDefault(MethodName method) {
    if (!(TypeDefaults() & (1u << method))) return false;
    PyObject* self = reinterpret_cast<PyObject*>(object);
    PyObject* bound = PyObject_GetAttr(self, methodNames[method]);
    if (!bound) {
      Fail();
      return true;
    }
    bool isDefault = PyCFunction_Check(bound) && PyCFunction_GET_FUNCTION(bound) == HtmlHandler_default &&
                     PyCFunction_GET_SELF(bound) == self;
    Py_DECREF(bound);
    return isDefault;
  }

  // One bit per method whose attribute on the handler's type is the default.
  unsigned TypeDefaults() {
    PyTypeObject* type = Py_TYPE(object);
    if (type->tp_version_tag != 0 && type->tp_version_tag == typeVersion) return typeDefaults;
    typeDefaults = 0;
    for (int method = 0; method < kMethodCount; ++method) {
      PyObject* onType = PyObject_GetAttr(reinterpret_cast<PyObject*>(type), methodNames[method]);
      if (!onType) {
        Fail();
        return ~0u;
      }
      if (onType == defaultMethods[method]) typeDefaults |= 1u << method;
      Py_DECREF(onType);
    }
    typeVersion = type->tp_version_tag;
    return typeDefaults;
  }

  static PyObject* AttributeDict(const attr_list_t& attributes, unsigned long count) {
    PyObject* dict = PyDict_New();
    if (!dict) return nullptr;
    for (unsigned long i = 0; i < count; ++i) {
      const Tessarin::Html::attr_t& attribute = attributes.data[i];
      PyObject* value = CodePointsToStr(attribute.value.data, attribute.value.size);
      PyObject* key = value ? names->Get(attribute.name.data, attribute.name.size) : nullptr;
      int status = key ? PyDict_SetItem(dict, key, value) : -1;
      Py_XDECREF(key);
      Py_XDECREF(value);
      if (status < 0) {
        Py_DECREF(dict);
        return nullptr;
      }
    }
    return dict;
  }

  tessarin_HtmlHandler* object = nullptr;
  Tokenizer* running = nullptr;
  bool inOnStartTag = false;
  bool failed = false;
  bool busy = false;
  bool textMode = false;
  std::vector<Py_UCS4> text;  // characters not yet delivered to OnText
  // Python code may have run since `epoch` last changed if it differs from
  // `decidedEpoch`; `decided` and `skipped` hold one bit per method.
  unsigned long epoch = 0;
  unsigned long decidedEpoch = ~0ul;
  unsigned decided = 0;
  unsigned skipped = 0;
  unsigned int typeVersion = 0;  // the type's version tag when typeDefaults was read
  unsigned typeDefaults = 0;
};

// Every so many tokenizer steps a parse runs the pending signal handlers and
// lets other threads take the interpreter lock for a moment, as the
// interpreter's own loop would: a callback that is not Python code never
// enters that loop, so without this Ctrl-C would wait for the end of the
// document and every other thread would stand still until then.
constexpr unsigned kYieldInterval = 4096;

// The keyword-only arguments of the parse functions: content models, and the
// state and last start tag a parse starts with.
struct parse_options_t {
  bool browser = false;
  bool scripting = true;
  bool hasInitialState = false;
  TextState initialState = TextState::Data;
  PyObject* lastStartTag = Py_None;  // a str or None, borrowed from the arguments
};

template <typename Value>
struct named_t {
  const char* name;
  Value value;
};

const named_t<TextState> kInitialStates[] = {
    {"Data state", TextState::Data},           {"RCDATA state", TextState::Rcdata},
    {"RAWTEXT state", TextState::Rawtext},     {"Script data state", TextState::ScriptData},
    {"PLAINTEXT state", TextState::Plaintext}, {"CDATA section state", TextState::CdataSection},
};
const named_t<TextState> kContentModels[] = {
    {"data", TextState::Data},         {"rcdata", TextState::Rcdata},       {"rawtext", TextState::Rawtext},
    {"script", TextState::ScriptData}, {"plaintext", TextState::Plaintext},
};
const named_t<bool> kModes[] = {{"none", false}, {"browser", true}};

// Finds `name` in a table; raises ValueError naming the argument and the
// choices when it is not there.
template <typename Value, size_t N>
bool Lookup(const named_t<Value> (&table)[N], const char* name, const char* function, const char* argument,
            Value& value) {
  char choices[128] = "";
  for (const named_t<Value>& row : table) {
    if (std::strcmp(row.name, name) == 0) {
      value = row.value;
      return true;
    }
    size_t used = std::strlen(choices);
    std::snprintf(choices + used, sizeof choices - used, "%s'%s'", used ? ", " : "", row.name);
  }
  PyErr_Format(PyExc_ValueError, "%s(): %s must be one of %s, not '%s'", function, argument, choices, name);
  return false;
}

// Parses the arguments of a parse function: two positional, the options
// keyword-only. False with an exception set.
bool ParseArguments(PyObject* args, PyObject* kwargs, const char* format, PyObject** handler, PyObject** source,
                    parse_options_t& options) {
  static const char* keywords[] = {"", "", "content_model", "scripting", "initial_state", "last_start_tag", nullptr};
  const char* function = std::strchr(format, ':') + 1;
  const char* mode = "none";
  int scripting = 1;
  const char* initialState = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), handler, source, &mode,
                                   &scripting, &initialState, &options.lastStartTag))
    return false;
  options.scripting = scripting;
  if (options.lastStartTag != Py_None && !PyUnicode_Check(options.lastStartTag)) {
    PyErr_Format(PyExc_TypeError, "%s(): last_start_tag must be str or None, not %.200s", function,
                 Py_TYPE(options.lastStartTag)->tp_name);
    return false;
  }
  if (!Lookup(kModes, mode, function, "content_model", options.browser)) return false;
  if (initialState) {
    options.hasInitialState = true;
    if (!Lookup(kInitialStates, initialState, function, "initial_state", options.initialState)) return false;
  }
  return true;
}

// Sets a new tokenizer up as the options say.
void ApplyOptions(Tokenizer& tokenizer, const parse_options_t& options) {
  if (options.browser) tokenizer.FollowBrowserRules(options.scripting);
  if (options.lastStartTag != Py_None) {
    // Tag names are reported in lower case; the last start tag is compared with them.
    std::vector<unsigned int> name;
    for (Py_ssize_t i = 0; i < PyUnicode_GET_LENGTH(options.lastStartTag); ++i) {
      Py_UCS4 c = PyUnicode_READ_CHAR(options.lastStartTag, i);
      name.push_back(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    }
    tokenizer.SetLastStartTag(name.data(), name.size());
  }
  if (options.hasInitialState) tokenizer.SetContentModel(options.initialState);
}

// Marks the handler as running a tokenizer for as long as it lives.
class RunningTokenizer {
 public:
  RunningTokenizer(PythonHtmlHandler& handler, Tokenizer& tokenizer) : handler(handler) {
    handler.SetRunning(&tokenizer);
  }
  ~RunningTokenizer() { handler.SetRunning(nullptr); }
  RunningTokenizer(const RunningTokenizer&) = delete;
  RunningTokenizer& operator=(const RunningTokenizer&) = delete;

 private:
  PythonHtmlHandler& handler;
};

// Builds the pipeline over a byte stream, runs the tokenizer to the end of
// input and tears the pipeline down in reverse order. False with a Python
// exception set when a callback raised, a signal handler raised, or memory ran
// out. No C++ exception leaves it.
bool Parse(RawInputStream& bytes, PythonHtmlHandler& handler, const parse_options_t& options) {
  try {
    Tessarin::Unicode::InputStream codePoints(bytes);
    InputConsumer consumer(codePoints);
    Tokenizer tokenizer(consumer);
    tokenizer.SetHandler(handler);
    ApplyOptions(tokenizer, options);
    RunningTokenizer running(handler, tokenizer);
    if (!handler.BeginParse()) return false;
    while (tokenizer.Run(kYieldInterval) && !handler.Failed()) {
      handler.PythonMayHaveRun();
      if (PyErr_CheckSignals() < 0) return false;
      PyEval_RestoreThread(PyEval_SaveThread());
    }
    if (handler.Failed()) return false;
    if (tokenizer.OutOfMemory()) {
      PyErr_NoMemory();
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return false;
  }
}

// The lowest address of the calling thread's stack, found once per thread; 0
// when unknown.
uintptr_t StackLimit() {
  thread_local const uintptr_t limit = [] {
    pthread_attr_t attributes;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstack(&attributes, &base, &size);
      pthread_attr_destroy(&attributes);
    }
    return reinterpret_cast<uintptr_t>(base);
  }();
  return limit;
}

// Stack a parse must find free: its pipeline with the tokenizer's inline token
// storage, the interpreter frames of a callback and the entry of a nested parse.
constexpr uintptr_t kStackReserve = 32 * 1024;

// True when a parse started here could run out of stack. Parses nested in
// callbacks are bounded by the recursion limit, but a raised limit or a thread
// with a small stack must end in RecursionError too, never in a crash.
bool StackNearlyExhausted() {
  char here;
  uintptr_t top = reinterpret_cast<uintptr_t>(&here);
  uintptr_t limit = StackLimit();
  return limit != 0 && top - limit < kStackReserve;
}

PyTypeObject* HandlerType();

// The handler argument of a parse call, marked as parsing from the claim until
// the call returns, on every way out. A claim fails, with an exception set,
// when the argument is not an HtmlHandler or its handler is already parsing.
class HandlerClaim {
 public:
  HandlerClaim(PyObject* handler, const char* function) {
    if (!PyObject_TypeCheck(handler, HandlerType())) {
      PyErr_Format(PyExc_TypeError, "%s() argument 1 must be an HtmlHandler, not %.200s", function,
                   Py_TYPE(handler)->tp_name);
      return;
    }
    PythonHtmlHandler* candidate = reinterpret_cast<tessarin_HtmlHandler*>(handler)->nativeHandler;
    if (candidate->Busy()) {
      PyErr_Format(PyExc_RuntimeError, "%s(): this handler is already parsing a document", function);
      return;
    }
    native = candidate;
    native->SetBusy(true);
  }
  ~HandlerClaim() {
    if (native) native->SetBusy(false);
  }
  HandlerClaim(const HandlerClaim&) = delete;
  HandlerClaim& operator=(const HandlerClaim&) = delete;

  explicit operator bool() const { return native != nullptr; }
  PythonHtmlHandler& operator*() const { return *native; }

 private:
  PythonHtmlHandler* native = nullptr;
};

// Runs one parse with a claimed handler, bounded by the recursion limit and the
// free stack. True (a new reference), or null with an exception set.
PyObject* RunParse(PythonHtmlHandler& handler, RawInputStream& bytes, const parse_options_t& options) {
  if (Py_EnterRecursiveCall(" while parsing an HTML document")) return nullptr;
  bool ok = false;
  if (StackNearlyExhausted())
    PyErr_SetString(PyExc_RecursionError, "stack exhausted while parsing an HTML document");
  else
    ok = Parse(bytes, handler, options);
  Py_LeaveRecursiveCall();
  if (!ok) return nullptr;
  Py_RETURN_TRUE;
}

PyObject* html_parse_string(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* handlerArg;
  PyObject* text;
  parse_options_t options;
  if (!ParseArguments(args, kwargs, "OO|$spzO:html_parse_string", &handlerArg, &text, options)) return nullptr;
  HandlerClaim handler(handlerArg, "html_parse_string");
  if (!handler) return nullptr;

  if (PyUnicode_Check(text)) {
    if (PyUnicode_IS_ASCII(text)) {
      // An ASCII str's characters are its UTF-8 bytes: read them in place.
      MemoryInputStream bytes(PyUnicode_DATA(text), static_cast<unsigned long>(PyUnicode_GET_LENGTH(text)));
      return RunParse(*handler, bytes, options);
    }
    // Lone surrogates are kept, so the handler receives exactly the str's code points.
    PyObject* encoded = PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass");
    if (!encoded) return nullptr;
    MemoryInputStream bytes(PyBytes_AS_STRING(encoded), static_cast<unsigned long>(PyBytes_GET_SIZE(encoded)));
    PyObject* result = RunParse(*handler, bytes, options);
    Py_DECREF(encoded);
    return result;
  }
  if (!PyObject_CheckBuffer(text)) {
    PyErr_Format(PyExc_TypeError, "html_parse_string() argument 2 must be str or a bytes-like object, not %.200s",
                 Py_TYPE(text)->tp_name);
    return nullptr;
  }
  // The buffer stays exported for the whole parse: it can be neither resized nor closed.
  Py_buffer view;
  if (PyObject_GetBuffer(text, &view, PyBUF_SIMPLE) < 0) return nullptr;
  MemoryInputStream bytes(view.buf, static_cast<unsigned long>(view.len));
  PyObject* result = RunParse(*handler, bytes, options);
  PyBuffer_Release(&view);
  return result;
}

// Raises the OSError (the subclass matching the errno value, with the path as
// its filename) for a file that could not be opened or read.
PyObject* RaiseFileError(int error, PyObject* path) {
  if (error == ENOMEM) return PyErr_NoMemory();
  const char* message =
      error == ESPIPE ? "Not a regular file; read it and pass its bytes to html_parse_string()" : std::strerror(error);
  PyObject* exception = PyObject_CallFunction(PyExc_OSError, "isO", error, message, path);
  if (exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
    Py_DECREF(exception);
  }
  return nullptr;
}

PyObject* html_parse_file(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* handlerArg;
  PyObject* pathArg;
  parse_options_t options;
  if (!ParseArguments(args, kwargs, "OO|$spzO:html_parse_file", &handlerArg, &pathArg, options)) return nullptr;
  HandlerClaim handler(handlerArg, "html_parse_file");
  if (!handler) return nullptr;
  PyObject* path = nullptr;  // bytes, from str, bytes or os.PathLike
  if (!PyUnicode_FSConverter(pathArg, &path)) return nullptr;

  PyObject* result = nullptr;
  {
    FileInputStream bytes(PyBytes_AS_STRING(path));
    if (bytes.OpenError()) {
      RaiseFileError(bytes.OpenError(), pathArg);
    } else {
      result = RunParse(*handler, bytes, options);
      // A read error ends the input early; the parse ran to its end, then it is raised.
      if (result && bytes.ReadError()) {
        Py_CLEAR(result);
        RaiseFileError(bytes.ReadError(), pathArg);
      }
    }
  }
  Py_DECREF(path);
  return result;
}

// Default callbacks: each ignores its arguments and returns None.
PyObject* HtmlHandler_default(PyObject*, PyObject*) { Py_RETURN_NONE; }

// The tokenizer of the handler's parse under way; null with RuntimeError set
// outside a parse.
Tokenizer* RunningTokenizerOf(PyObject* self, const char* method) {
  Tokenizer* tokenizer = reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler->Running();
  if (!tokenizer) PyErr_Format(PyExc_RuntimeError, "%s() may only be called during a parse, from a callback", method);
  return tokenizer;
}

PyObject* HtmlHandler_set_content_model(PyObject* self, PyObject* name) {
  if (!PyUnicode_Check(name)) {
    return PyErr_Format(PyExc_TypeError, "set_content_model() argument must be str, not %.200s",
                        Py_TYPE(name)->tp_name);
  }
  const char* utf8 = PyUnicode_AsUTF8(name);
  TextState text;
  if (!utf8 || !Lookup(kContentModels, utf8, "set_content_model", "the content model", text)) return nullptr;
  Tokenizer* tokenizer = RunningTokenizerOf(self, "set_content_model");
  if (!tokenizer) return nullptr;
  if (!reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler->InOnStartTag()) {
    PyErr_SetString(PyExc_RuntimeError, "set_content_model() may only be called from OnStartTag");
    return nullptr;
  }
  tokenizer->SetContentModel(text);
  Py_RETURN_NONE;
}

PyObject* HtmlHandler_allow_cdata(PyObject* self, PyObject* allow) {
  int truth = PyObject_IsTrue(allow);
  if (truth < 0) return nullptr;
  Tokenizer* tokenizer = RunningTokenizerOf(self, "allow_cdata");
  if (!tokenizer) return nullptr;
  tokenizer->AllowCdata(truth);
  Py_RETURN_NONE;
}

PyMethodDef tessarin_HtmlHandler_methods[] = {
    {"OnParseError", HtmlHandler_default, METH_VARARGS,
     "Called when the parser encountered a parse error. Parse error does not stop the parser."},
    {"OnDoctype", HtmlHandler_default, METH_VARARGS, "Called when a DOCTYPE token is encountered."},
    {"OnStartTag", HtmlHandler_default, METH_VARARGS, "Called when a start tag token is encountered."},
    {"OnEndTag", HtmlHandler_default, METH_VARARGS, "Called when an end tag token is encountered."},
    {"OnComment", HtmlHandler_default, METH_VARARGS, "Called when a comment token is encountered."},
    {"OnChar", HtmlHandler_default, METH_VARARGS, "Called when a character token is encountered."},
    {"OnEof", HtmlHandler_default, METH_VARARGS,
     "Called when the end-of-file token is encountered. This token is returned when there is not more data to "
     "parse, even if the data does not come from an actual file. Parsing terminates after this token has been "
     "encountered."},
    {"OnText", HtmlHandler_default, METH_VARARGS,
     "Called with a run of consecutive characters when the handler overrides it; OnChar is then not called. "
     "A run ends before any other callback; a long run may arrive in several calls."},
    {"set_content_model", HtmlHandler_set_content_model, METH_O,
     "set_content_model($self, name, /)\n--\n\n"
     "From OnStartTag: tokenize the text after this start tag as \"rcdata\", \"rawtext\", \"script\",\n"
     "\"plaintext\" or \"data\". RCDATA, RAWTEXT and script data end at this tag's end tag."},
    {"allow_cdata", HtmlHandler_allow_cdata, METH_O,
     "allow_cdata($self, allow, /)\n--\n\n"
     "From any callback: whether \"<![CDATA[\" opens a CDATA section (in foreign content) from now on."},
    {nullptr, nullptr, 0, nullptr}};

PyObject* HtmlHandler_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  PythonHtmlHandler* native = new (std::nothrow) PythonHtmlHandler();
  if (!native) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler = native;
  native->SetObject(reinterpret_cast<tessarin_HtmlHandler*>(self));
  return self;
}

void HtmlHandler_dealloc(PyObject* self) {
  delete reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler;
  Py_TYPE(self)->tp_free(self);
}

// Filled in by PyInit_htmltess; everything it does not set keeps the interpreter's defaults.
PyTypeObject tessarin_HtmlParserType;

PyTypeObject* HandlerType() { return &tessarin_HtmlParserType; }

PyMethodDef tessarin_methods[] = {
    {"html_parse_string", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(html_parse_string)),
     METH_VARARGS | METH_KEYWORDS,
     "html_parse_string(handler, text, /, *, content_model='none', scripting=True, initial_state=None,\n"
     "                  last_start_tag=None)\n--\n\n"
     "Tokenize an HTML document given as str or bytes-like object (UTF-8), reporting every token\n"
     "to the handler's callbacks in document order. Returns True. content_model='browser' switches\n"
     "to the text states after <script>, <style>, <title>, ... as a browser does."},
    {"html_parse_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(html_parse_file)),
     METH_VARARGS | METH_KEYWORDS,
     "html_parse_file(handler, path, /, *, content_model='none', scripting=True, initial_state=None,\n"
     "                last_start_tag=None)\n--\n\n"
     "Tokenize the HTML document (UTF-8) in the file at path (str, bytes or os.PathLike), reporting\n"
     "every token to the handler's callbacks in document order. Returns True. content_model='browser'\n"
     "switches to the text states after <script>, <style>, <title>, ... as a browser does."},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef tessarinwebmodule = {PyModuleDef_HEAD_INIT,
                                 "tessarin",
                                 "Module that provides tools for the web.",
                                 -1,
                                 tessarin_methods,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_htmltess(void) {
  Py_SET_REFCNT(&tessarin_HtmlParserType, 1);
  tessarin_HtmlParserType.tp_name = "tessarin.HtmlParser";
  tessarin_HtmlParserType.tp_basicsize = sizeof(tessarin_HtmlHandler);
  tessarin_HtmlParserType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  tessarin_HtmlParserType.tp_doc = "HTML handler objects";
  tessarin_HtmlParserType.tp_methods = tessarin_HtmlHandler_methods;
  tessarin_HtmlParserType.tp_new = HtmlHandler_new;
  tessarin_HtmlParserType.tp_dealloc = HtmlHandler_dealloc;
  if (PyType_Ready(&tessarin_HtmlParserType) < 0) return nullptr;

  for (int i = 0; i < kMethodCount; ++i) {
    if (!methodNames[i] && !(methodNames[i] = PyUnicode_InternFromString(methodNameStrings[i]))) return nullptr;
    defaultMethods[i] = PyDict_GetItemWithError(tessarin_HtmlParserType.tp_dict, methodNames[i]);
    if (!defaultMethods[i]) return nullptr;
  }
  if (!names && !(names = new (std::nothrow) NameCache())) {
    PyErr_NoMemory();
    return nullptr;
  }
  PyObject* module = PyModule_Create(&tessarinwebmodule);
  if (!module) return nullptr;
  Py_INCREF(&tessarin_HtmlParserType);
  if (PyModule_AddObject(module, "HtmlHandler", reinterpret_cast<PyObject*>(&tessarin_HtmlParserType)) < 0) {
    Py_DECREF(&tessarin_HtmlParserType);
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

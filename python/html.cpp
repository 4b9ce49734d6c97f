// The htmltess extension module: the HtmlHandler type and the bridge that turns
// tokenizer callbacks into Python method calls, and the two parse functions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "html/consumer.h"
#include "html/tokenizer.h"
#include "python/cpp_handler.h"
#include "stream/feed_stream.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/source_positions.h"
#include "stream/unicode_stream.h"

using Tessarin::FileInputStream;
using Tessarin::MemoryInputStream;
using Tessarin::RawInputStream;
using Tessarin::source_point_t;
using Tessarin::SourcePositions;
using Tessarin::Bridge::CppHandler;
using Tessarin::Bridge::HandlerType;
using Tessarin::Html::attr_list_t;
using Tessarin::Html::error_place_t;
using Tessarin::Html::Handler;
using Tessarin::Html::InputConsumer;
using Tessarin::Html::ParseErrorCode;
using Tessarin::Html::TextState;
using Tessarin::Html::Tokenizer;

// Before 3.13 the interpreter's method lookup that binds nothing is declared
// in its public headers; from 3.13 on it is internal.
#if PY_VERSION_HEX < 0x030D0000
#define HTMLTESS_HAVE_GET_METHOD
#endif

namespace {

class PythonHtmlHandler;

}  // namespace

struct tessarin_HtmlHandler {
  PyObject_HEAD PythonHtmlHandler* nativeHandler;
};

namespace {

// Method names, interned once when the module is first initialised.
enum MethodName {
  kOnParseError,
  kOnDoctype,
  kOnStartTag,
  kOnEndTag,
  kOnComment,
  kOnChar,
  kOnEof,
  kOnText,
  kOnError,
  kMethodCount
};
PyObject* methodNames[kMethodCount];
const char* const methodNameStrings[kMethodCount] = {"OnParseError", "OnDoctype", "OnStartTag", "OnEndTag", "OnComment",
                                                     "OnChar",       "OnEof",     "OnText",     "OnError"};
// The names of the parse error codes, interned once at module initialisation.
PyObject* errorCodeNames[Tessarin::Html::kParseErrorCodeCount];

PyObject* HtmlHandler_default(PyObject*, PyObject*);

constexpr unsigned int kMaxUnicode = 0x10FFFF;

inline bool Representable(unsigned int cp) { return cp <= kMaxUnicode; }

// A code point as Python can hold it: values above U+10FFFF become U+FFFD.
inline unsigned int ToRepresentable(unsigned int cp) {
  return Representable(cp) ? cp : Tessarin::Unicode::kReplacementCharacter;
}

// Whether every code point is ASCII: or-ed together, they stay below 0x80.
bool AllAscii(const unsigned int* text, unsigned long length) {
  unsigned int bits = 0;
  for (unsigned long i = 0; i < length; ++i) bits |= text[i];
  return bits < 0x80;
}

// A str of ASCII code points, narrowed to a byte each; Python's general path
// would first scan them for the largest.
PyObject* AsciiToStr(const unsigned int* text, unsigned long length) {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 0x7F);
  if (!str) return nullptr;
  Py_UCS1* out = PyUnicode_1BYTE_DATA(str);
  for (unsigned long i = 0; i < length; ++i) out[i] = static_cast<Py_UCS1>(text[i]);
  return str;
}

// A str holding exactly the given code points; None for a null pointer.
PyObject* CodePointsToStr(const unsigned int* text, unsigned long length) {
  if (!text) Py_RETURN_NONE;
  if (AllAscii(text, length)) return AsciiToStr(text, length);
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
// are kept in a small two-way set-associative table so that a recurring name
// costs a comparison instead of an allocation, and its hash is already known
// when it becomes a dict key. Each thread has its own (ThreadNameCache).
class NameCache {
 public:
  NameCache() = default;
  ~NameCache() {
    for (Entry& entry : entries) Py_XDECREF(entry.str);
  }
  NameCache(const NameCache&) = delete;
  NameCache& operator=(const NameCache&) = delete;

  // A new reference to a str of the name, or null with an exception set.
  PyObject* Get(const unsigned int* name, unsigned long length) {
    if (length > kMaxLength) return CodePointsToStr(name, length);
    uint32_t hash = 2166136261u;
    for (unsigned long i = 0; i < length; ++i) hash = (hash ^ name[i]) * 16777619u;
    // The top bits of the hash mixed once more: FNV mixes the low bits of
    // short names poorly, and common names (class, h2) would share a set.
    Entry* set = entries + ((hash * 2654435769u) >> (32 - kSetBits)) * kWays;
    // The set's first entry holds its name used last.
    if (set[1].Holds(name, length)) std::swap(set[0], set[1]);
    if (set[0].Holds(name, length)) {
      Py_INCREF(set[0].str);
      return set[0].str;
    }
    PyObject* str = CodePointsToStr(name, length);
    if (!str) return nullptr;
    Py_INCREF(str);
    Py_XSETREF(set[1].str, str);
    set[1].length = length;
    std::copy(name, name + length, set[1].codePoints);
    std::swap(set[0], set[1]);
    return str;
  }

 private:
  static constexpr unsigned long kMaxLength = 32;
  static constexpr unsigned kSetBits = 9;
  static constexpr size_t kWays = 2;
  struct Entry {
    bool Holds(const unsigned int* name, unsigned long length) const {
      return str && this->length == length && std::equal(name, name + length, codePoints);
    }
    PyObject* str = nullptr;
    unsigned long length = 0;
    unsigned int codePoints[kMaxLength];
  };
  Entry entries[kWays << kSetBits];
};

// Threads that parse at once must not share a NameCache: each thread's lives in
// its thread state's dict under this key (interned at module initialisation),
// made at the thread's first parse and freed with its thread state.
PyObject* nameCacheKey;
const char* const kNameCacheCapsule = "htmltess.NameCache";

void FreeNameCache(PyObject* capsule) {
  delete static_cast<NameCache*>(PyCapsule_GetPointer(capsule, kNameCacheCapsule));
}

// The calling thread's NameCache, made by its first call. A thread whose cache
// cannot be had (memory ran out) gets null and parses without one.
NameCache* ThreadNameCache() {
  PyObject* dict = PyThreadState_GetDict();  // borrowed
  if (!dict) return nullptr;
  PyObject* capsule = PyDict_GetItemWithError(dict, nameCacheKey);  // borrowed
  if (capsule) return static_cast<NameCache*>(PyCapsule_GetPointer(capsule, kNameCacheCapsule));
  NameCache* cache = PyErr_Occurred() ? nullptr : new (std::nothrow) NameCache();
  capsule = cache ? PyCapsule_New(cache, kNameCacheCapsule, FreeNameCache) : nullptr;
  if (!capsule) delete cache;
  int stored = capsule ? PyDict_SetItem(dict, nameCacheKey, capsule) : -1;
  Py_XDECREF(capsule);  // the dict holds the cache, if it took it
  PyErr_Clear();
  return stored == 0 ? cache : nullptr;
}

// Whether calling a callback would run the type's do-nothing default, as
// Python's own lookup of the method on the handler object answers: what it
// finds (the type's function or descriptor, or a bound method) is compared
// with the default.
//
// An override, once found, is kept for the parse: should the default come
// back, calling it would do nothing either. A default is kept only until
// Python code may have run (PythonMayHaveRun), and only when its lookup runs
// none: the type's getattr is the generic one and the attribute the type
// holds is a plain function or method (no descriptor written in Python, no
// __getattribute__), and the lookup ran with the cyclic collector paused
// (with the GIL, from 3.10 on), so that no gc callback ran inside it.
class DefaultMethods {
 public:
  enum Answer { kDefault, kOverridden, kFailed };

  void Reset() { overridden = known = 0; }
  void PythonMayHaveRun() { known = 0; }
  bool KnownDefault(MethodName method) const { return known & (1u << method); }

  // On kOverridden, *bound is the bound method found by a lookup made now (a
  // new reference), or null when the call is to look the method up itself.
  // kFailed leaves the lookup's exception set.
  Answer Resolve(PyObject* self, MethodName method, PyObject** bound) {
    unsigned bit = 1u << method;
    if (overridden & bit) return kOverridden;
    if (known & bit) return kDefault;
    bool cacheable = LookupRunsNoPython(self, method);
    bool unbound = false;
    PyObject* found = LookUp(self, method, cacheable, unbound);
    if (!found) return kFailed;
    if (unbound ? IsDefaultDescriptor(found) : IsDefaultBoundTo(found, self)) {
      Py_DECREF(found);
      if (cacheable) known |= bit;
      return kDefault;
    }
    overridden |= bit;
    if (unbound)
      Py_DECREF(found);  // the call looks it up again
    else
      *bound = found;
    return kOverridden;
  }

 private:
  static bool LookupRunsNoPython(PyObject* self, MethodName method) {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
#ifdef Py_GIL_DISABLED
    // Another thread may replace the attribute meanwhile: it is held while looked at.
    PyObject* attribute = _PyType_LookupRef(type, methodNames[method]);
    bool plain = IsPlainMethod(attribute);
    Py_XDECREF(attribute);
    return plain;
#else
    return IsPlainMethod(_PyType_Lookup(type, methodNames[method]));
#endif
  }

  static bool IsDefaultBoundTo(PyObject* found, PyObject* self) {
    return PyCFunction_Check(found) && PyCFunction_GET_FUNCTION(found) == HtmlHandler_default &&
           PyCFunction_GET_SELF(found) == self;
  }

  static bool IsDefaultDescriptor(PyObject* found) {
    return Py_IS_TYPE(found, &PyMethodDescr_Type) &&
           reinterpret_cast<PyMethodDescrObject*>(found)->d_method->ml_meth == HtmlHandler_default;
  }

  static bool IsPlainMethod(PyObject* attribute) {
    return attribute && (PyFunction_Check(attribute) || Py_IS_TYPE(attribute, &PyMethodDescr_Type));
  }

  // A new reference to what the handler's method name finds, or null with an
  // exception set. Where the interpreter's lookup that binds nothing is
  // available and runs no Python code, it is used: `unbound` then tells
  // whether the type's function or descriptor was found instead of a bound
  // method. Otherwise the lookup is Python's own getattr.
  static PyObject* LookUp(PyObject* self, MethodName method, bool runsNoPython, bool& unbound) {
#ifdef HTMLTESS_HAVE_GET_METHOD
    if (runsNoPython) {
      PyObject* found = nullptr;
      unbound = _PyObject_GetMethod(self, methodNames[method], &found);
      return found;
    }
#else
    (void)unbound;  // bound methods only
#endif
#if PY_VERSION_HEX >= 0x030A0000 && !defined(Py_GIL_DISABLED)
    int collecting = runsNoPython ? PyGC_Disable() : 0;
    PyObject* found = PyObject_GetAttr(self, methodNames[method]);
    if (collecting) PyGC_Enable();
    return found;
#else
    // The collector cannot be paused before 3.10; without the GIL, whether it
    // collects is shared by all threads, which run Python code at any time
    // anyway. There a default found is kept until PythonMayHaveRun all the same.
    (void)runsNoPython;
    return PyObject_GetAttr(self, methodNames[method]);
#endif
  }

  unsigned overridden = 0;  // one bit per method found overridden in this parse
  unsigned known = 0;       // one bit per method known to be the default for now
};

// A new int for an offset, a line or a column: through PyLong_FromLong, whose
// fast path takes the values that fit one digit of an int.
PyObject* IntFromCount(uint64_t value) {
  return value <= static_cast<uint64_t>(LONG_MAX) ? PyLong_FromLong(static_cast<long>(value))
                                                  : PyLong_FromUnsignedLongLong(value);
}

// Forwards each tokenizer callback to the method of the same name on the
// Python handler object. Once a callback raises, the exception stays pending,
// no further Python call is made, and the tokenizer is interrupted.
//
// A handler object may instead carry a CppHandler, which then takes the
// tokens of its parses (Target) and no Python method is called.
//
// Callbacks that resolve to the type's default are not made (DefaultMethods).
// When the handler provides OnText, characters collect in a buffer and reach
// OnText as runs: right before any callback that is made, when the buffer
// holds kTextChunk characters, and at the end of the document.
class PythonHtmlHandler final : public Handler {
 public:
  void SetObject(tessarin_HtmlHandler* o) { object = o; }

  bool Failed() const { return cppHandler ? cppHandler->Failed() : failed; }

  void SetCppHandler(CppHandler* handler) { cppHandler.reset(handler); }
  // The handler that takes the tokens of a parse with this object.
  Handler& Target() { return cppHandler ? static_cast<Handler&>(*cppHandler) : *this; }

  // Marks the handler as parsing until EndParse; false when it is parsing
  // already. Of threads that race to claim it, one wins.
  bool TryClaim() {
    bool idle = false;
    return busy.compare_exchange_strong(idle, true);
  }
  // The tokenizer of the parse under way when the calling thread is running
  // it, null otherwise.
  Tokenizer* RunningHere() const { return runningThread.load() == PyThread_get_thread_ident() ? running : nullptr; }
  // Marks the calling thread as running `t` (or no longer, with nulls), whose
  // places in the input are found by `finder`; spans count code points
  // instead of bytes if asked. The names of its tokens come from that
  // thread's NameCache.
  void SetRunning(Tokenizer* t, SourcePositions* finder, bool codePoints) {
    running = t;
    runningThread.store(t ? PyThread_get_thread_ident() : 0);
    names = t ? ThreadNameCache() : nullptr;
    positions = finder;
    codePointOffsets = codePoints;
    if (cppHandler) cppHandler->SetPositions(finder);
  }
  bool InOnStartTag() const { return inOnStartTag; }
  bool InCallback() const { return inCallback; }

  // The span of the token being delivered: offsets in bytes, or in code points
  // for a str, and the line and column of its start.
  void Span(uint64_t& start, uint64_t& end) {
    const span_t span = CurrentSpan();
    start = Offset(span.start);
    end = Offset(span.end);
  }
  source_point_t Position() {
    const place_t start = CurrentSpan().start;
    return positions->Find(start.offset, start.after);
  }

  // Prepares a parse: clears the failure, picks per-character or text-run
  // delivery and whether errors go to OnError. False with an exception set if
  // looking OnText or OnError up failed.
  bool BeginParse() {
    if (cppHandler) {
      cppHandler->BeginParse();
      errorMode = cppHandler->WantsErrorPositions();
      return true;
    }
    failed = false;
    defaults.Reset();
    PyObject* onText = nullptr;
    DefaultMethods::Answer answer = defaults.Resolve(Self(), kOnText, &onText);
    Py_XDECREF(onText);
    textMode = answer == DefaultMethods::kOverridden;
    if (answer == DefaultMethods::kFailed) return false;
    PyObject* onError = nullptr;
    answer = defaults.Resolve(Self(), kOnError, &onError);
    Py_XDECREF(onError);
    errorMode = answer == DefaultMethods::kOverridden;
    return answer != DefaultMethods::kFailed;
  }

  // Ends a claim, releasing the text buffer (an idle handler holds none).
  void EndParse() {
    std::vector<Py_UCS4>().swap(text);
    if (cppHandler) cppHandler->EndParse();
    busy.store(false);
  }

  // Whether parse errors go to OnError, with their codes and positions.
  bool ErrorMode() const { return errorMode; }

  // Delivers the characters collected for OnText; false if the handler failed.
  bool DeliverText() {
    FlushText();
    return !failed;
  }

  // Called whenever Python code may have run outside the callbacks (signal
  // handlers, other threads): which methods are defaults is to be looked up again.
  void PythonMayHaveRun() { defaults.PythonMayHaveRun(); }

  void OnParseError() override {
    Deliver(kOnParseError, 0, [](PyObject**) { return true; });
  }

  void OnCodedParseError(ParseErrorCode code, error_place_t where) override {
    if (!errorMode) return OnParseError();
    Deliver(kOnError, 3, [&](PyObject** args) {
      source_point_t point;
      try {
        point = positions->Find(where.offset, where.after);
      } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
      }
      args[0] = errorCodeNames[static_cast<unsigned>(code)];
      Py_INCREF(args[0]);
      return (args[1] = IntFromCount(point.line)) && (args[2] = IntFromCount(point.Column()));
    });
  }

  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    Deliver(kOnDoctype, 3, [&](PyObject** args) {
      return (args[0] = CodePointsToStr(name, nameLength)) && (args[1] = CodePointsToStr(publicId, publicIdLength)) &&
             (args[2] = CodePointsToStr(systemId, systemIdLength));
    });
  }

  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    if (selfClosing) tokenizer->Acknowledge();
    PyObject* dict = nullptr;
    Deliver(kOnStartTag, 3, [&](PyObject** args) {
      if (!(args[0] = NameStr(name, nameLength)) || !(args[1] = AttributeDict(attributes, attributeCount)))
        return false;
      dict = args[1];
      Py_INCREF(dict);
      args[2] = PyBool_FromLong(selfClosing);
      inOnStartTag = true;  // until the call returns
      return true;
    });
    inOnStartTag = false;
    if (!dict) return;
    // A handler that kept the dict is left holding an empty one.
    PyDict_Clear(dict);
    Py_DECREF(dict);
    PythonMayHaveRun();
  }

  void OnEndTag(const unsigned int* name, unsigned long nameLength) override {
    Deliver(kOnEndTag, 1, [&](PyObject** args) { return (args[0] = NameStr(name, nameLength)) != nullptr; });
  }

  void OnComment(const unsigned int* comment, unsigned long length) override {
    Deliver(kOnComment, 1, [&](PyObject** args) { return (args[0] = CodePointsToStr(comment, length)) != nullptr; });
  }

  void OnChar(unsigned int codePoint) override {
    if (textMode) {
      AppendText(&codePoint, 1);
      return;
    }
    DeliverChar(codePoint);
  }

  void OnEof() override {
    FlushText();
    Deliver(kOnEof, 0, [](PyObject**) { return true; });
  }

  // A block of characters from the tokenizer's text fast path.
  void OnText(const unsigned int* block, unsigned long length) override {
    if (textMode) {
      AppendText(block, length);
      return;
    }
    // Once OnChar is known to be the default, the rest of the block is skipped.
    const Tokenizer::span_t emitted = tokenizer->CurrentSpan();
    const uint64_t first = tokenizer->TextStart();
    for (unsigned long i = 0; i < length && !failed && !defaults.KnownDefault(kOnChar); ++i) {
      GiveSpan(PlaceInBlock(emitted, first, length, i), PlaceInBlock(emitted, first, length, i + 1));
      DeliverChar(block[i]);
    }
    spanGiven = false;
  }

 private:
  // A place in the input that may still have to be counted: `after` code
  // points past byte `offset`.
  struct place_t {
    uint64_t offset;
    uint64_t after;
  };
  struct span_t {
    place_t start;
    place_t end;
  };

  // Where the character at `index` of a block of `length` begins (the end of
  // the block at `length`): the first takes the block's span from its start,
  // the last to its end, the others are one code point each.
  static place_t PlaceInBlock(const Tokenizer::span_t& block, uint64_t first, unsigned long length,
                              unsigned long index) {
    if (index == 0) return {block.start, 0};
    if (index == length) return {block.end, 0};
    return {first, index};
  }

  void GiveSpan(place_t start, place_t end) {
    given = {start, end};
    spanGiven = true;
  }

  span_t CurrentSpan() const {
    if (spanGiven) return given;
    const Tokenizer::span_t span = tokenizer->CurrentSpan();
    return {{span.start, 0}, {span.end, 0}};
  }

  // A place as an offset: in bytes, or in code points for a str.
  uint64_t Offset(place_t place) {
    if (!codePointOffsets && !place.after) return place.offset;
    const source_point_t point = positions->Find(place.offset, place.after);
    return codePointOffsets ? point.index : point.offset;
  }

  void DeliverChar(unsigned int codePoint) {
    Deliver(kOnChar, 1, [&](PyObject** args) {
      return (args[0] = PyUnicode_FromOrdinal(static_cast<int>(ToRepresentable(codePoint)))) != nullptr;
    });
  }
  // Longest piece of text delivered by one OnText call.
  static constexpr size_t kTextChunk = 65536;

  PyObject* Self() const { return reinterpret_cast<PyObject*>(object); }

  void Fail() {
    failed = true;
    text.clear();
    tokenizer->Interrupt();
  }

  // Makes the callback `method` with `count` arguments, unless it resolves to
  // the default. Text not yet delivered comes first, since it precedes this
  // token; then `makeArgs` stores new references in its array, true if it
  // made them all. The method is looked up once per call, as Python would.
  template <typename MakeArgs>
  void Deliver(MethodName method, size_t count, MakeArgs makeArgs) {
    if (failed) return;
    PyObject* bound = nullptr;
    DefaultMethods::Answer answer = defaults.Resolve(Self(), method, &bound);
    if (answer == DefaultMethods::kOverridden && !text.empty()) {
      // OnText may change the method: it is resolved again afterwards.
      Py_CLEAR(bound);
      FlushText();
      if (failed) return;
      answer = defaults.Resolve(Self(), method, &bound);
    }
    if (answer == DefaultMethods::kFailed) return Fail();
    if (answer == DefaultMethods::kDefault) return;
    PyObject* args[4] = {Self(), nullptr, nullptr, nullptr};
    if (makeArgs(args + 1))
      Invoke(method, bound, args, count);
    else
      Fail();
    for (size_t i = 1; i <= count; ++i) Py_XDECREF(args[i]);  // args[0] is borrowed
    Py_XDECREF(bound);
  }

  // The one place a callback is called: the method `bound` if a lookup just
  // found it, otherwise `method` looked up by name. args[0] is the handler.
  void Invoke(MethodName method, PyObject* bound, PyObject** args, size_t count) {
    inCallback = true;
    PyObject* result = bound ? PyObject_Vectorcall(bound, args + 1, count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)
                             : PyObject_VectorcallMethod(methodNames[method], args,
                                                         (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    inCallback = false;
    if (result)
      Py_DECREF(result);
    else
      Fail();
    PythonMayHaveRun();
  }

  // Collects characters for OnText, delivering each full chunk, and where
  // the collected run begins and ends in the input. They are copied in
  // blocks, then made representable in place.
  void AppendText(const unsigned int* codePoints, unsigned long length) {
    const Tokenizer::span_t emitted = tokenizer->CurrentSpan();
    const uint64_t first = tokenizer->TextStart();
    if (text.empty()) runStart = {emitted.start, 0};
    unsigned long done = 0;
    while (done < length && !failed) {
      const size_t piece = std::min<size_t>(length - done, kTextChunk - text.size());
      const size_t from = text.size();
      text.insert(text.end(), codePoints + done, codePoints + done + piece);
      std::transform(text.begin() + from, text.end(), text.begin() + from, ToRepresentable);
      done += piece;
      if (text.size() < kTextChunk) continue;
      runEnd = PlaceInBlock(emitted, first, length, done);
      FlushText();
      runStart = runEnd;
    }
    runEnd = {emitted.end, 0};
  }

  // Delivers the characters collected for OnText, if any.
  void FlushText() {
    if (text.empty() || failed) return;
    PyObject* args[2] = {Self(), CodePointsToStr(text.data(), text.size())};
    text.clear();
    GiveSpan(runStart, runEnd);
    if (args[1])
      Invoke(kOnText, nullptr, args, 1);
    else
      Fail();
    spanGiven = false;
    Py_XDECREF(args[1]);
  }

  // A new reference to a str of a tag or attribute name, or null with an exception set.
  PyObject* NameStr(const unsigned int* name, unsigned long length) {
    return names ? names->Get(name, length) : CodePointsToStr(name, length);
  }

  // The first of two names that collapse to the same key (two code points
  // above U+10FFFF both become U+FFFD) keeps its value, as a real duplicate does.
  PyObject* AttributeDict(const attr_list_t& attributes, unsigned long count) {
    PyObject* dict = PyDict_New();
    if (!dict) return nullptr;
    for (unsigned long i = 0; i < count; ++i) {
      const Tessarin::Html::attr_t& attribute = attributes.data[i];
      PyObject* value = CodePointsToStr(attribute.value.data, attribute.value.size);
      PyObject* key = value ? NameStr(attribute.name.data, attribute.name.size) : nullptr;
      PyObject* kept = key ? PyDict_SetDefault(dict, key, value) : nullptr;
      Py_XDECREF(key);
      Py_XDECREF(value);
      if (!kept) {
        Py_DECREF(dict);
        return nullptr;
      }
    }
    return dict;
  }

  tessarin_HtmlHandler* object = nullptr;
  Tokenizer* running = nullptr;
  SourcePositions* positions = nullptr;
  bool codePointOffsets = false;
  bool inCallback = false;
  // The span of a callback whose characters are not the token the tokenizer
  // is reporting (a collected run, a character of a block), while it runs.
  bool spanGiven = false;
  span_t given{};
  place_t runStart{}, runEnd{};  // of the characters collected for OnText
  bool inOnStartTag = false;
  bool failed = false;
  std::atomic<bool> busy{false};
  std::atomic<unsigned long> runningThread{0};  // the identifier of the thread running the tokenizer, or 0
  NameCache* names = nullptr;                   // that thread's, null if it has none
  bool textMode = false;
  bool errorMode = false;
  std::vector<Py_UCS4> text;  // characters not yet delivered to OnText
  DefaultMethods defaults;
  std::unique_ptr<CppHandler> cppHandler;
};

// A parse gives signal handlers and other threads their turn, as the
// interpreter's own loop would: a callback that is not Python code never
// enters that loop. Every kCheckInterval tokenizer steps it runs the pending
// signal handlers, and once one and a half switch intervals have passed since
// it last released the interpreter lock, it releases it for a moment.
// Releasing it more often would starve a waiting thread: each release wakes
// the waiter before its interval has run out, the parse takes the lock back
// first, and the waiter starts a new wait without ever asking for the lock.
// After a full interval the waiter asks, and the next release hands it over.
class Turns {
 public:
  static constexpr unsigned long kCheckInterval = 1024;

  // False with an exception set when a signal handler raised.
  bool Give() {
    if (PyErr_CheckSignals() < 0) return false;
    double now = Now();
    if (interval < 0) {
      interval = 1.5 * SwitchInterval();
      last = now;
    }
    if (now - last >= interval) {
      PyEval_RestoreThread(PyEval_SaveThread());
      last = Now();
    }
    return true;
  }

 private:
  static double Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  }

  // sys.getswitchinterval(), read once per parse (and only by a parse long
  // enough to give turns); 5 ms, the interpreter's default, if it cannot be read.
  static double SwitchInterval() {
    PyObject* get = PySys_GetObject("getswitchinterval");  // borrowed
    PyObject* seconds = get ? PyObject_CallNoArgs(get) : nullptr;
    double value = seconds ? PyFloat_AsDouble(seconds) : -1;
    Py_XDECREF(seconds);
    if (value > 0) return value;
    PyErr_Clear();
    return 0.005;
  }

  double interval = -1;
  double last = 0;
};

// The keyword-only arguments of the parse functions: content models, and the
// state and last start tag a parse starts with.
struct parse_options_t {
  bool browser = false;
  bool scripting = true;
  bool hasInitialState = false;
  TextState initialState = TextState::Data;
  PyObject* lastStartTag = Py_None;  // a str or None, borrowed from the arguments
  bool codePointOffsets = false;     // spans count code points: the input is a str that is not ASCII
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

// Parses the arguments of a parse function: two positional (one, the
// handler, when `source` is null), the options keyword-only. False with an
// exception set.
bool ParseArguments(PyObject* args, PyObject* kwargs, const char* format, PyObject** handler, PyObject** source,
                    parse_options_t& options) {
  static const char* keywords[] = {"", "", "content_model", "scripting", "initial_state", "last_start_tag", nullptr};
  char** names = const_cast<char**>(keywords);
  const char* function = std::strchr(format, ':') + 1;
  const char* mode = "none";
  int scripting = 1;
  const char* initialState = nullptr;
  if (source ? !PyArg_ParseTupleAndKeywords(args, kwargs, format, names, handler, source, &mode, &scripting,
                                            &initialState, &options.lastStartTag)
             : !PyArg_ParseTupleAndKeywords(args, kwargs, format, names + 1, handler, &mode, &scripting, &initialState,
                                            &options.lastStartTag))
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
  RunningTokenizer(PythonHtmlHandler& handler, Tokenizer& tokenizer, SourcePositions& positions, bool codePoints)
      : handler(handler) {
    handler.SetRunning(&tokenizer, &positions, codePoints);
  }
  ~RunningTokenizer() { handler.SetRunning(nullptr, nullptr, false); }
  RunningTokenizer(const RunningTokenizer&) = delete;
  RunningTokenizer& operator=(const RunningTokenizer&) = delete;

 private:
  PythonHtmlHandler& handler;
};

// The stages from a byte stream to the handler, set up as the options say.
// When errors go to OnError, the input-stream errors are reported too.
// Members are torn down in reverse order.
struct Pipeline {
  Pipeline(RawInputStream& bytes, PythonHtmlHandler& handler, const parse_options_t& options)
      : positions(bytes),
        codePoints(bytes),
        consumer(codePoints),
        tokenizer(consumer),
        codePointOffsets(options.codePointOffsets) {
    tokenizer.SetHandler(handler.Target());
    if (handler.ErrorMode()) consumer.ReportInputErrors(tokenizer);
    ApplyOptions(tokenizer, options);
  }

  SourcePositions positions;
  Tessarin::Unicode::InputStream codePoints;
  InputConsumer consumer;
  Tokenizer tokenizer;
  bool codePointOffsets;
};

// Runs the pipeline's tokenizer by `run`, which runs up to
// Turns::kCheckInterval steps and says whether there is more to run, giving
// turns in between. False with a Python exception set when a callback raised,
// a signal handler raised, or memory ran out; no C++ exception leaves it.
template <typename RunSome>
bool Drive(PythonHtmlHandler& handler, Pipeline& pipeline, RunSome run) {
  Tokenizer& tokenizer = pipeline.tokenizer;
  try {
    RunningTokenizer running(handler, tokenizer, pipeline.positions, pipeline.codePointOffsets);
    Turns turns;
    while (run() && !handler.Failed()) {
      if (!turns.Give()) return false;
      handler.PythonMayHaveRun();
    }
  } catch (const std::bad_alloc&) {
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return false;
  }
  if (handler.Failed()) return false;
  if (tokenizer.OutOfMemory()) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

// Tokenizes a whole byte stream to the end of input.
bool Parse(RawInputStream& bytes, PythonHtmlHandler& handler, const parse_options_t& options) {
  if (!handler.BeginParse()) return false;
  try {
    Pipeline pipeline(bytes, handler, options);
    Tokenizer& tokenizer = pipeline.tokenizer;
    return Drive(handler, pipeline, [&] { return tokenizer.Run(Turns::kCheckInterval); });
  } catch (const std::bad_alloc&) {
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return false;
  }
}

// A parse whose input arrives in pieces, for a handler that BeginParse has
// prepared. Each piece is tokenized as far as the bytes fed so far determine
// the tokens; Close tokenizes the rest to the end of input.
class FedParse {
 public:
  // Throws std::bad_alloc when memory runs out.
  FedParse(PythonHtmlHandler& handler, const parse_options_t& options)
      : handler(handler), pipeline(input, handler, options) {}

  // False with a Python exception set when the parse failed; it is then over.
  bool Feed(const void* data, size_t size) {
    Tokenizer& tokenizer = pipeline.tokenizer;
    // The source of the token under construction stays held, so that its span
    // and position can be asked for; what is dropped is counted first.
    const uint64_t keep = tokenizer.CurrentSpan().start;
    if (!input.Append(data, size, keep, [&](uint64_t dropTo) { pipeline.positions.Forget(dropTo); })) {
      PyErr_NoMemory();
      return false;
    }
    handler.PythonMayHaveRun();
    // The text collected for OnText so far is delivered at once rather than
    // with whatever comes next, which may be a feed away.
    return Drive(handler, pipeline, [&] {
      if (tokenizer.RunFed(Turns::kCheckInterval, input)) return true;
      handler.DeliverText();
      return false;
    });
  }

  // Spans are to count code points: the pieces are str.
  void CountCodePoints() { pipeline.codePointOffsets = true; }

  bool Close() {
    handler.PythonMayHaveRun();
    Tokenizer& tokenizer = pipeline.tokenizer;
    return Drive(handler, pipeline, [&] { return tokenizer.Run(Turns::kCheckInterval); });
  }

 private:
  PythonHtmlHandler& handler;
  Tessarin::FeedInputStream input;
  Pipeline pipeline;
};

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
    if (!candidate->TryClaim()) {
      PyErr_Format(PyExc_RuntimeError, "%s(): this handler is already parsing a document", function);
      return;
    }
    native = candidate;
  }
  ~HandlerClaim() {
    if (native) native->EndParse();
  }
  HandlerClaim(const HandlerClaim&) = delete;
  HandlerClaim& operator=(const HandlerClaim&) = delete;

  explicit operator bool() const { return native != nullptr; }
  PythonHtmlHandler& operator*() const { return *native; }
  // Hands the claim over: the caller ends it with EndParse.
  PythonHtmlHandler* Keep() {
    PythonHtmlHandler* kept = native;
    native = nullptr;
    return kept;
  }

 private:
  PythonHtmlHandler* native = nullptr;
};

// Runs `parse` (which returns false with an exception set when it fails) with
// a claimed handler, bounded by the recursion limit and the free stack.
template <typename ParseSome>
bool Guarded(ParseSome parse) {
  if (Py_EnterRecursiveCall(" while parsing an HTML document")) return false;
  bool ok = false;
  if (StackNearlyExhausted())
    PyErr_SetString(PyExc_RecursionError, "stack exhausted while parsing an HTML document");
  else
    ok = parse();
  Py_LeaveRecursiveCall();
  return ok;
}

// Runs one parse of a whole byte stream. True (a new reference), or null with
// an exception set.
PyObject* RunParse(PythonHtmlHandler& handler, RawInputStream& bytes, const parse_options_t& options) {
  if (!Guarded([&] { return Parse(bytes, handler, options); })) return nullptr;
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
    options.codePointOffsets = true;
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
  const char* message = error == ESPIPE ? "Not a regular file" : std::strerror(error);
  PyObject* exception = PyObject_CallFunction(PyExc_OSError, "isO", error, message, path);
  if (exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
    Py_DECREF(exception);
  }
  return nullptr;
}

// Whether the path names a pipe, FIFO, terminal, socket or device: something
// that is neither a regular file nor a directory.
bool IsStream(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// Runs a system call that may wait without the interpreter lock, and again
// after a signal whose handlers did not raise. Its result: negative with errno
// set, or with a Python exception set when a signal handler raised.
template <typename Call>
long WithoutLock(Call call) {
  for (;;) {
    PyThreadState* thread = PyEval_SaveThread();
    const long result = call();
    const int error = errno;
    PyEval_RestoreThread(thread);
    if (result >= 0 || error != EINTR) {
      errno = error;
      return result;
    }
    if (PyErr_CheckSignals() < 0) return -1;
  }
}

// Parses a stream as it comes, read in chunks and fed to a FedParse: its
// size is not known, and it cannot be read again. A FIFO is opened as a
// reader would open it, waiting for a writer. A read error ends the input
// there, as for a regular file. True, or false with an exception set.
bool ParseStream(PythonHtmlHandler& handler, const char* path, PyObject* pathArg, const parse_options_t& options) {
  const int fd = static_cast<int>(WithoutLock([&] { return open(path, O_RDONLY | O_CLOEXEC); }));
  if (fd < 0) {
    if (!PyErr_Occurred()) RaiseFileError(errno, pathArg);
    return false;
  }
  int readError = 0;
  bool ok = handler.BeginParse() && Guarded([&] {
              try {
                FedParse parse(handler, options);
                std::vector<unsigned char> chunk(FileInputStream::kBufferSize);
                for (;;) {
                  const long got = WithoutLock([&] { return read(fd, chunk.data(), chunk.size()); });
                  if (got < 0 && PyErr_Occurred()) return false;
                  if (got < 0) readError = errno;
                  if (got <= 0) return parse.Close();
                  if (!parse.Feed(chunk.data(), static_cast<size_t>(got))) return false;
                }
              } catch (const std::bad_alloc&) {
                if (!PyErr_Occurred()) PyErr_NoMemory();
                return false;
              }
            });
  close(fd);
  if (ok && readError) {
    RaiseFileError(readError, pathArg);
    ok = false;
  }
  return ok;
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
  if (IsStream(PyBytes_AS_STRING(path))) {
    if (ParseStream(*handler, PyBytes_AS_STRING(path), pathArg, options)) {
      Py_INCREF(Py_True);
      result = Py_True;
    }
  } else {
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

// htmltess.Parser: a parse fed in pieces by feed() and ended by close(). The
// handler stays claimed from the parser's creation until it is closed, fails,
// is left by a with-block on an exception, or is deallocated; the last two end
// the parse without any further callback.
struct tessarin_Parser {
  PyObject_HEAD PyObject* handler;  // the HtmlHandler, until the parser is closed
  FedParse* parse;                  // null once the parser is closed
  unsigned char kind;               // what it is fed: kNotFedYet, kFedStr or kFedBytes
  std::atomic<bool> running;        // a feed or close is under way: claimed by compare-exchange
};

enum : unsigned char { kNotFedYet, kFedStr, kFedBytes };

PythonHtmlHandler& NativeHandler(PyObject* handler) {
  return *reinterpret_cast<tessarin_HtmlHandler*>(handler)->nativeHandler;
}

// Ends the parse without a callback: the pipeline and the text buffer are
// released, and the handler is free for another parse.
void Parser_end(tessarin_Parser* self) {
  delete self->parse;
  self->parse = nullptr;
  if (self->handler) NativeHandler(self->handler).EndParse();
  Py_CLEAR(self->handler);
}

bool RaiseParserRunning(const char* method) {
  PyErr_Format(PyExc_RuntimeError, "%s(): the parser is already running, in one of its callbacks or another thread",
               method);
  return false;
}

// Whether the parser can run now; RuntimeError naming `method` when it is
// closed or already running (from one of its own callbacks or another thread).
bool Parser_ready(tessarin_Parser* self, const char* method) {
  if (self->running) return RaiseParserRunning(method);
  if (!self->parse) {
    PyErr_Format(PyExc_RuntimeError, "%s(): the parser is closed", method);
    return false;
  }
  return true;
}

PyObject* Parser_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* handlerArg;
  parse_options_t options;
  if (!ParseArguments(args, kwargs, "O|$spzO:Parser", &handlerArg, nullptr, options)) return nullptr;
  HandlerClaim claim(handlerArg, "Parser");
  if (!claim || !(*claim).BeginParse()) return nullptr;
  tessarin_Parser* self = reinterpret_cast<tessarin_Parser*>(type->tp_alloc(type, 0));
  if (!self) return nullptr;
  try {
    self->parse = new FedParse(*claim, options);
  } catch (const std::bad_alloc&) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  claim.Keep();
  Py_INCREF(handlerArg);
  self->handler = handlerArg;
  return reinterpret_cast<PyObject*>(self);
}

// Runs `step` on the parse; a failure ends the parse, and its exception propagates.
// Two threads that both found it ready race for the claim; one raises.
template <typename Step>
bool Parser_run(tessarin_Parser* self, const char* method, Step step) {
  bool idle = false;
  if (!self->running.compare_exchange_strong(idle, true)) return RaiseParserRunning(method);
  if (!self->parse) {
    self->running = false;
    PyErr_Format(PyExc_RuntimeError, "%s(): the parser is closed", method);
    return false;
  }
  bool ok = Guarded([&] { return step(*self->parse); });
  if (!ok) Parser_end(self);
  self->running = false;
  return ok;
}

PyObject* Parser_feed(PyObject* op, PyObject* data) {
  tessarin_Parser* self = reinterpret_cast<tessarin_Parser*>(op);
  const bool isStr = PyUnicode_Check(data);
  if (!isStr && !PyObject_CheckBuffer(data)) {
    return PyErr_Format(PyExc_TypeError, "feed() argument must be str or a bytes-like object, not %.200s",
                        Py_TYPE(data)->tp_name);
  }
  const unsigned char kind = isStr ? kFedStr : kFedBytes;
  if (self->kind != kNotFedYet && self->kind != kind) {
    return PyErr_Format(PyExc_TypeError, "feed() argument must be %s, as before, not %.200s",
                        isStr ? "a bytes-like object" : "str", Py_TYPE(data)->tp_name);
  }
  if (!Parser_ready(self, "feed")) return nullptr;
  self->kind = kind;
  if (isStr) self->parse->CountCodePoints();
  bool ok;
  if (isStr && PyUnicode_IS_ASCII(data)) {
    ok = Parser_run(self, "feed", [&](FedParse& parse) {
      return parse.Feed(PyUnicode_DATA(data), static_cast<size_t>(PyUnicode_GET_LENGTH(data)));
    });
  } else if (isStr) {
    // Lone surrogates are kept, as html_parse_string keeps them.
    PyObject* encoded = PyUnicode_AsEncodedString(data, "utf-8", "surrogatepass");
    if (!encoded) return nullptr;
    ok = Parser_run(self, "feed", [&](FedParse& parse) {
      return parse.Feed(PyBytes_AS_STRING(encoded), static_cast<size_t>(PyBytes_GET_SIZE(encoded)));
    });
    Py_DECREF(encoded);
  } else if (PyBytes_CheckExact(data)) {
    // A bytes object cannot change: it is read without exporting a buffer.
    ok = Parser_run(self, "feed", [&](FedParse& parse) {
      return parse.Feed(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    });
  } else {
    // The bytes are copied before any callback runs: the buffer is free again at once.
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    ok = Parser_run(self, "feed", [&](FedParse& parse) { return parse.Feed(view.buf, static_cast<size_t>(view.len)); });
    PyBuffer_Release(&view);
  }
  if (!ok) return nullptr;
  Py_RETURN_NONE;
}

PyObject* Parser_close(PyObject* op, PyObject*) {
  tessarin_Parser* self = reinterpret_cast<tessarin_Parser*>(op);
  if (!Parser_ready(self, "close")) return nullptr;
  if (!Parser_run(self, "close", [](FedParse& parse) { return parse.Close(); })) return nullptr;
  Parser_end(self);
  Py_RETURN_TRUE;
}

PyObject* Parser_enter(PyObject* self, PyObject*) {
  Py_INCREF(self);
  return self;
}

// A with-block closes the parser when it ends normally; when it ends with an
// exception, the parse is abandoned without OnEof or any other callback, and
// the exception propagates.
PyObject* Parser_exit(PyObject* op, PyObject* args) {
  tessarin_Parser* self = reinterpret_cast<tessarin_Parser*>(op);
  PyObject* excType = Py_None;
  PyObject* ignored;
  if (!PyArg_UnpackTuple(args, "__exit__", 0, 3, &excType, &ignored, &ignored)) return nullptr;
  if (self->running && !Parser_ready(self, "__exit__")) return nullptr;
  if (self->parse && excType == Py_None) {
    PyObject* closed = Parser_close(op, nullptr);
    if (!closed) return nullptr;
    Py_DECREF(closed);
  }
  Parser_end(self);
  Py_RETURN_FALSE;
}

PyObject* Parser_reduce(PyObject* self, PyObject*) {
  return PyErr_Format(PyExc_TypeError, "cannot pickle '%.200s' object: it holds a parse under way",
                      Py_TYPE(self)->tp_name);
}

int Parser_traverse(PyObject* op, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<tessarin_Parser*>(op)->handler);
  return 0;
}

int Parser_clear(PyObject* op) {
  Parser_end(reinterpret_cast<tessarin_Parser*>(op));
  return 0;
}

void Parser_dealloc(PyObject* op) {
  PyObject_GC_UnTrack(op);
  Parser_end(reinterpret_cast<tessarin_Parser*>(op));
  Py_TYPE(op)->tp_free(op);
}

PyMethodDef tessarin_Parser_methods[] = {
    {"feed", Parser_feed, METH_O,
     "feed($self, data, /)\n--\n\n"
     "Add a piece of the document (str, or a bytes-like object holding UTF-8; the same kind on every call)\n"
     "and report the tokens it completes. Returns None."},
    {"close", Parser_close, METH_NOARGS,
     "close($self, /)\n--\n\n"
     "End the document: report the tokens still pending and OnEof. Returns True."},
    {"__enter__", Parser_enter, METH_NOARGS, "__enter__($self, /)\n--\n\nReturns the parser."},
    {"__exit__", Parser_exit, METH_VARARGS,
     "__exit__($self, exc_type, exc, traceback, /)\n--\n\n"
     "Close the parser; on an exception, end the parse without further callbacks."},
    {"__reduce__", Parser_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\nParsers cannot be pickled."},
    {nullptr, nullptr, 0, nullptr}};

PyTypeObject tessarin_ParserType;

bool ReadyParserType() {
  PyTypeObject& type = tessarin_ParserType;
  if (type.tp_flags & Py_TPFLAGS_READY) return true;
  Py_SET_REFCNT(&type, 1);
  type.tp_name = "htmltess.Parser";
  type.tp_basicsize = sizeof(tessarin_Parser);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
  type.tp_doc =
      "Parser(handler, /, *, content_model='none', scripting=True, initial_state=None, last_start_tag=None)\n"
      "--\n\n"
      "An HTML document fed in pieces: feed() each piece as it arrives, then close(). The handler's\n"
      "callbacks are called as in html_parse_string over the whole document, as soon as the pieces fed\n"
      "so far determine them; text may arrive in more OnText runs. A with-block closes the parser.";
  type.tp_methods = tessarin_Parser_methods;
  type.tp_new = Parser_new;
  type.tp_dealloc = Parser_dealloc;
  type.tp_traverse = Parser_traverse;
  type.tp_clear = Parser_clear;
  return PyType_Ready(&type) == 0;
}

// Default callbacks: each ignores its arguments and returns None.
PyObject* HtmlHandler_default(PyObject*, PyObject*) { Py_RETURN_NONE; }

// The tokenizer of the handler's parse under way, to the thread running it;
// null with RuntimeError set outside a parse and to other threads.
Tokenizer* RunningTokenizerOf(PyObject* self, const char* method) {
  Tokenizer* tokenizer = reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler->RunningHere();
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
  Py_RETURN_NONE;
}

// The handler's native side while one of its callbacks runs; null with
// RuntimeError set otherwise.
PythonHtmlHandler* InCallback(PyObject* self, const char* method) {
  PythonHtmlHandler* handler = reinterpret_cast<tessarin_HtmlHandler*>(self)->nativeHandler;
  if (handler->RunningHere() && handler->InCallback()) return handler;
  PyErr_Format(PyExc_RuntimeError, "%s() may only be called from a callback during a parse", method);
  return nullptr;
}

// The tuple (first, second) of two ints, as span() and position() return it.
// A tuple of ints can hold no cycle, so the collector is spared tracking it,
// as it would itself stop doing at its next pass.
PyObject* PairOfInts(uint64_t first, uint64_t second) {
  PyObject* pair = PyTuple_New(2);
  if (!pair) return nullptr;
  PyObject* items[2] = {IntFromCount(first), IntFromCount(second)};
  PyTuple_SET_ITEM(pair, 0, items[0]);
  PyTuple_SET_ITEM(pair, 1, items[1]);
  if (!items[0] || !items[1]) {
    Py_DECREF(pair);
    return nullptr;
  }
  PyObject_GC_UnTrack(pair);
  return pair;
}

// Counting positions keeps checkpoints, which may fail to grow.
PyObject* HtmlHandler_span(PyObject* self, PyObject*) {
  PythonHtmlHandler* handler = InCallback(self, "span");
  if (!handler) return nullptr;
  uint64_t start, end;
  try {
    handler->Span(start, end);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  return PairOfInts(start, end);
}

PyObject* HtmlHandler_position(PyObject* self, PyObject*) {
  PythonHtmlHandler* handler = InCallback(self, "position");
  if (!handler) return nullptr;
  source_point_t start;
  try {
    start = handler->Position();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  return PairOfInts(start.line, start.Column());
}

// Whether `attribute` is the method descriptor of span() or position().
bool IsPositionMethod(PyObject* attribute) {
  if (!Py_IS_TYPE(attribute, &PyMethodDescr_Type)) return false;
  const PyCFunction method = reinterpret_cast<PyMethodDescrObject*>(attribute)->d_method->ml_meth;
  return method == HtmlHandler_span || method == HtmlHandler_position;
}

// span() and position() may be asked for every token. The interpreter calls
// a method written in C straight away only on an instance of the very class
// that holds it, and through the generic call otherwise: each subclass is
// given its own span() and position(), unless it inherits another
// definition. Then __init_subclass__ goes on along the method resolution order.
PyObject* HtmlHandler_init_subclass(PyObject* cls, PyObject* args, PyObject* kwargs) {
  for (const char* name : {"span", "position"}) {
    PyObject* inherited = PyObject_GetAttrString(cls, name);
    if (!inherited) return nullptr;
    int set = 0;
    if (IsPositionMethod(inherited)) {
      PyObject* own = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls),
                                        reinterpret_cast<PyMethodDescrObject*>(inherited)->d_method);
      set = own ? PyObject_SetAttrString(cls, name, own) : -1;
      Py_XDECREF(own);
    }
    Py_DECREF(inherited);
    if (set < 0) return nullptr;
  }
  PyObject* super = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type),
                                                 reinterpret_cast<PyObject*>(HandlerType()), cls, nullptr);
  PyObject* next = super ? PyObject_GetAttrString(super, "__init_subclass__") : nullptr;
  PyObject* result = next ? PyObject_Call(next, args, kwargs) : nullptr;
  Py_XDECREF(next);
  Py_XDECREF(super);
  return result;
}

// Pickling keeps the instance's __dict__ (None when it has none or it is
// empty); the parse state belongs to the native handler and is never pickled.
PyObject* HtmlHandler_getstate(PyObject* self, PyObject*) {
  PyObject* dict = PyObject_GetAttrString(self, "__dict__");
  if (!dict) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  if (PyDict_Check(dict) && PyDict_GET_SIZE(dict) == 0) {
    Py_DECREF(dict);
    Py_RETURN_NONE;
  }
  return dict;
}

PyMethodDef tessarin_HtmlHandler_methods[] = {
    {"OnParseError", HtmlHandler_default, METH_VARARGS,
     "OnParseError($self, /)\n--\n\n"
     "Called when the parser encountered a parse error. Parse error does not stop the parser."},
    {"OnDoctype", HtmlHandler_default, METH_VARARGS,
     "OnDoctype($self, name, public_id, system_id, /)\n--\n\n"
     "Called when a DOCTYPE token is encountered. Each field is a str, or None when missing."},
    {"OnStartTag", HtmlHandler_default, METH_VARARGS,
     "OnStartTag($self, name, attributes, self_closing, /)\n--\n\n"
     "Called when a start tag token is encountered. The attributes dict is emptied when it returns."},
    {"OnEndTag", HtmlHandler_default, METH_VARARGS,
     "OnEndTag($self, name, /)\n--\n\nCalled when an end tag token is encountered."},
    {"OnComment", HtmlHandler_default, METH_VARARGS,
     "OnComment($self, text, /)\n--\n\nCalled when a comment token is encountered."},
    {"OnChar", HtmlHandler_default, METH_VARARGS,
     "OnChar($self, char, /)\n--\n\nCalled when a character token is encountered."},
    {"OnEof", HtmlHandler_default, METH_VARARGS,
     "OnEof($self, /)\n--\n\n"
     "Called when the end-of-file token is encountered. This token is returned when there is not more data to "
     "parse, even if the data does not come from an actual file. Parsing terminates after this token has been "
     "encountered."},
    {"OnText", HtmlHandler_default, METH_VARARGS,
     "OnText($self, text, /)\n--\n\n"
     "Called with a run of consecutive characters when the handler overrides it; OnChar is then not called. "
     "A run ends before any other callback; a long run may arrive in several calls."},
    {"OnError", HtmlHandler_default, METH_VARARGS,
     "OnError($self, code, line, column, /)\n--\n\n"
     "Called with the code, line and column of each parse error when the handler overrides it; OnParseError "
     "is then not called."},
    {"set_content_model", HtmlHandler_set_content_model, METH_O,
     "set_content_model($self, name, /)\n--\n\n"
     "From OnStartTag: tokenize the text after this start tag as \"rcdata\", \"rawtext\", \"script\",\n"
     "\"plaintext\" or \"data\". RCDATA, RAWTEXT and script data end at this tag's end tag."},
    {"allow_cdata", HtmlHandler_allow_cdata, METH_O,
     "allow_cdata($self, allow, /)\n--\n\n"
     "From any callback: whether \"<![CDATA[\" opens a CDATA section (in foreign content) from now on."},
    {"span", HtmlHandler_span, METH_NOARGS,
     "span($self, /)\n--\n\n"
     "From a callback: (start, end) of the current token's source, as byte offsets for bytes and files\n"
     "and as indexes into the str for a str, so that text[start:end] is the token's source."},
    {"position", HtmlHandler_position, METH_NOARGS,
     "position($self, /)\n--\n\n"
     "From a callback: (line, column) of the start of the current token's source, both from 1."},
    {"__init_subclass__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(HtmlHandler_init_subclass)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS,
     "__init_subclass__($cls, /, **kwargs)\n--\n\nGives each subclass its own span() and position(), for fast calls."},
    {"__getstate__", HtmlHandler_getstate, METH_NOARGS,
     "__getstate__($self, /)\n--\n\nThe instance's __dict__ for pickling, or None; the parse state is not kept."},
    {nullptr, nullptr, 0, nullptr}};

PyObject* HtmlHandler_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  // As object() does: arguments are refused unless a subclass defines __init__ to take them.
  if ((PyTuple_GET_SIZE(args) || (kwargs && PyDict_GET_SIZE(kwargs))) && type->tp_init == PyBaseObject_Type.tp_init) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments", type->tp_name);
    return nullptr;
  }
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

// Filled in and readied once, by the first initialisation of the module; a
// module initialised again (the same file loaded under another name) shares it.
PyTypeObject tessarin_HtmlParserType;

bool ReadyHandlerType() {
  PyTypeObject& type = tessarin_HtmlParserType;
  if (type.tp_flags & Py_TPFLAGS_READY) return true;
  Py_SET_REFCNT(&type, 1);
  type.tp_name = "htmltess.HtmlParser";
  type.tp_basicsize = sizeof(tessarin_HtmlHandler);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  type.tp_doc =
      "HtmlHandler()\n--\n\n"
      "HTML handler objects. Subclass and override the callbacks of interest; the others do nothing.";
  type.tp_methods = tessarin_HtmlHandler_methods;
  type.tp_new = HtmlHandler_new;
  type.tp_dealloc = HtmlHandler_dealloc;
  return PyType_Ready(&type) == 0;
}

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

PyModuleDef htmltessModule = {
    PyModuleDef_HEAD_INIT,
    "htmltess",
    "An exact, fast HTML tokenizer following the tokenization stage of the WHATWG HTML standard.\n\n"
    "Subclass HtmlHandler, override the callbacks you need (OnStartTag, OnEndTag, OnChar or OnText,\n"
    "OnComment, OnDoctype, OnParseError, OnEof) and pass an instance with a document to\n"
    "html_parse_string (str or UTF-8 bytes-like object) or html_parse_file (a path), or feed the\n"
    "document in pieces to a Parser. Every token reaches its callback the moment it is recognised,\n"
    "in document order.",
    -1,
    tessarin_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr};

}  // namespace

PyTypeObject* Tessarin::Bridge::HandlerType() { return &tessarin_HtmlParserType; }

void Tessarin::Bridge::SetCppHandler(PyObject* handler, CppHandler* cppHandler) {
  reinterpret_cast<tessarin_HtmlHandler*>(handler)->nativeHandler->SetCppHandler(cppHandler);
}

PyMODINIT_FUNC PyInit_htmltess(void) {
  if (!ReadyHandlerType() || !ReadyParserType()) return nullptr;
  PyTypeObject* writerType = Tessarin::Bridge::ReadyJsonLinesWriterType();
  if (!writerType) return nullptr;
  for (int i = 0; i < kMethodCount; ++i) {
    if (!methodNames[i] && !(methodNames[i] = PyUnicode_InternFromString(methodNameStrings[i]))) return nullptr;
  }
  for (unsigned i = 0; i < Tessarin::Html::kParseErrorCodeCount; ++i) {
    const char* name = Tessarin::Html::ParseErrorName(static_cast<ParseErrorCode>(i));
    if (!errorCodeNames[i] && !(errorCodeNames[i] = PyUnicode_InternFromString(name))) return nullptr;
  }
  if (!nameCacheKey && !(nameCacheKey = PyUnicode_InternFromString(kNameCacheCapsule))) return nullptr;
  PyObject* module = PyModule_Create(&htmltessModule);
  if (!module) return nullptr;
#if defined(Py_GIL_DISABLED) && PY_VERSION_HEX >= 0x030D0000
  // No state is shared between parses without an atomic or per-thread storage.
  if (PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
#endif
  // The handler type is published as HtmlHandler; HtmlParser, its own name, is where pickle finds it.
  const std::pair<const char*, PyTypeObject*> types[] = {{"HtmlHandler", &tessarin_HtmlParserType},
                                                         {"HtmlParser", &tessarin_HtmlParserType},
                                                         {"_JsonLinesWriter", writerType}};
  for (auto [name, typeObject] : types) {
    PyObject* type = reinterpret_cast<PyObject*>(typeObject);
    Py_INCREF(type);
    if (PyModule_AddObject(module, name, type) < 0) {
      Py_DECREF(type);
      Py_DECREF(module);
      return nullptr;
    }
  }
  PyObject* parserType = reinterpret_cast<PyObject*>(&tessarin_ParserType);
  Py_INCREF(parserType);
  if (PyModule_AddObject(module, "Parser", parserType) < 0) {
    Py_DECREF(parserType);
    Py_DECREF(module);
    return nullptr;
  }
  if (PyModule_AddStringConstant(module, "__version__", HTMLTESS_VERSION) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

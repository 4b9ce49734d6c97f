// The htmltess extension module: the HtmlHandler type and the bridge that turns
// tokenizer callbacks into Python method calls, and the two parse functions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cerrno>
#include <new>
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
using Tessarin::Html::Tokenizer;

namespace {

class PythonHtmlHandler;

}  // namespace

struct tessarin_HtmlHandler {
  PyObject_HEAD PythonHtmlHandler* nativeHandler;
};

namespace {

// Method names, interned once at module initialisation.
enum MethodName { kOnParseError, kOnDoctype, kOnStartTag, kOnEndTag, kOnComment, kOnChar, kOnEof, kMethodCount };
PyObject* methodNames[kMethodCount];
const char* const methodNameStrings[kMethodCount] = {"OnParseError", "OnDoctype", "OnStartTag", "OnEndTag",
                                                     "OnComment",    "OnChar",    "OnEof"};

constexpr unsigned int kMaxUnicode = 0x10FFFF;

// A code point as Python can hold it: values above U+10FFFF become U+FFFD.
inline unsigned int Representable(unsigned int cp) { return cp > kMaxUnicode ? 0xFFFD : cp; }

// A str holding exactly the given code points; None for a null pointer.
PyObject* CodePointsToStr(const unsigned int* text, unsigned long length) {
  if (!text) Py_RETURN_NONE;
  for (unsigned long i = 0; i < length; ++i) {
    if (text[i] > kMaxUnicode) {
      std::vector<unsigned int> copy(text, text + length);
      for (unsigned int& cp : copy) cp = Representable(cp);
      return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, copy.data(), static_cast<Py_ssize_t>(length));
    }
  }
  return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text, static_cast<Py_ssize_t>(length));
}

// Forwards each tokenizer callback to the method of the same name on the Python
// handler object. Once a callback raises, the exception stays pending, no
// further Python call is made, and the parse loop stops.
class PythonHtmlHandler final : public Handler {
 public:
  void SetObject(tessarin_HtmlHandler* o) { object = o; }

  bool Failed() const { return failed; }
  bool Busy() const { return busy; }
  void BeginParse() {
    busy = true;
    failed = false;
  }
  void EndParse() { busy = false; }

  void OnParseError() override { Call(kOnParseError, nullptr, 0); }

  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    if (failed) return;
    PyObject* args[3] = {CodePointsToStr(name, nameLength), CodePointsToStr(publicId, publicIdLength),
                         CodePointsToStr(systemId, systemIdLength)};
    if (args[0] && args[1] && args[2])
      Call(kOnDoctype, args, 3);
    else
      failed = true;
    for (PyObject* arg : args) Py_XDECREF(arg);
  }

  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    if (selfClosing) tokenizer->Acknowledge();
    if (failed) return;
    PyObject* dict = AttributeDict(attributes, attributeCount);
    if (!dict) {
      failed = true;
      return;
    }
    PyObject* tagName = CodePointsToStr(name, nameLength);
    if (tagName) {
      PyObject* args[3] = {tagName, dict, selfClosing ? Py_True : Py_False};
      Call(kOnStartTag, args, 3);
      Py_DECREF(tagName);
    } else {
      failed = true;
    }
    // A handler that kept the dict is left holding an empty one.
    PyDict_Clear(dict);
    Py_DECREF(dict);
  }

  void OnEndTag(const unsigned int* name, unsigned long nameLength) override { CallWithText(kOnEndTag, name, nameLength); }

  void OnComment(const unsigned int* text, unsigned long length) override { CallWithText(kOnComment, text, length); }

  void OnChar(unsigned int codePoint) override {
    if (failed) return;
    PyObject* ch = PyUnicode_FromOrdinal(static_cast<int>(Representable(codePoint)));
    if (!ch) {
      failed = true;
      return;
    }
    Call(kOnChar, &ch, 1);
    Py_DECREF(ch);
  }

  void OnEof() override { Call(kOnEof, nullptr, 0); }

 private:
  // Calls a method on the handler object with up to three arguments.
  void Call(MethodName method, PyObject* const* args, size_t count) {
    if (failed) return;
    PyObject* stack[4] = {reinterpret_cast<PyObject*>(object), nullptr, nullptr, nullptr};
    for (size_t i = 0; i < count; ++i) stack[i + 1] = args[i];
    PyObject* result =
        PyObject_VectorcallMethod(methodNames[method], stack, (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (result)
      Py_DECREF(result);
    else
      failed = true;
  }

  void CallWithText(MethodName method, const unsigned int* text, unsigned long length) {
    if (failed) return;
    PyObject* str = CodePointsToStr(text, length);
    if (!str) {
      failed = true;
      return;
    }
    Call(method, &str, 1);
    Py_DECREF(str);
  }

  static PyObject* AttributeDict(const attr_list_t& attributes, unsigned long count) {
    PyObject* dict = PyDict_New();
    if (!dict) return nullptr;
    for (unsigned long i = 0; i < count; ++i) {
      const Tessarin::Html::attr_t& attribute = attributes.data[i];
      PyObject* value = CodePointsToStr(attribute.value.data, attribute.value.size);
      PyObject* key = value ? CodePointsToStr(attribute.name.data, attribute.name.size) : nullptr;
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
  bool failed = false;
  bool busy = false;
};

// Ctrl-C and other signals are checked this often (in tokenizer steps).
constexpr unsigned kSignalCheckInterval = 4096;

// Runs the tokenizer to the end of input. False with a Python exception set
// when a callback raised, a signal handler raised, or memory ran out.
bool RunTokenizer(Tokenizer& tokenizer, PythonHtmlHandler& handler) {
  try {
    unsigned steps = 0;
    while (tokenizer.Tokenize() && !handler.Failed()) {
      if (++steps == kSignalCheckInterval) {
        steps = 0;
        if (PyErr_CheckSignals() < 0) return false;
      }
    }
  } catch (const std::bad_alloc&) {
    if (!handler.Failed()) PyErr_NoMemory();
    return false;
  }
  if (handler.Failed()) return false;
  if (tokenizer.OutOfMemory()) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

// Builds the pipeline over a byte stream, runs it with the handler and tears it
// down in reverse order.
bool Parse(RawInputStream& bytes, PythonHtmlHandler& handler) {
  Tessarin::Unicode::InputStream codePoints(bytes);
  InputConsumer consumer(codePoints);
  Tokenizer tokenizer(consumer);
  tokenizer.SetHandler(handler);
  return RunTokenizer(tokenizer, handler);
}

PyTypeObject* HandlerType();

// The native handler of a parse's handler argument, claimed for this parse;
// null with an exception set when the argument is unusable.
PythonHtmlHandler* ClaimHandler(PyObject* handler, const char* function) {
  if (!PyObject_TypeCheck(handler, HandlerType())) {
    PyErr_Format(PyExc_TypeError, "%s() argument 1 must be an HtmlHandler, not %.200s", function,
                 Py_TYPE(handler)->tp_name);
    return nullptr;
  }
  PythonHtmlHandler* native = reinterpret_cast<tessarin_HtmlHandler*>(handler)->nativeHandler;
  if (native->Busy()) {
    PyErr_Format(PyExc_RuntimeError, "%s(): this handler is already parsing a document", function);
    return nullptr;
  }
  return native;
}

// Runs one parse with a claimed handler, bounded by the recursion limit.
PyObject* RunParse(PythonHtmlHandler& handler, RawInputStream& bytes) {
  if (Py_EnterRecursiveCall(" while parsing an HTML document")) return nullptr;
  handler.BeginParse();
  bool ok = Parse(bytes, handler);
  handler.EndParse();
  Py_LeaveRecursiveCall();
  if (!ok) return nullptr;
  Py_RETURN_TRUE;
}

PyObject* html_parse_string(PyObject*, PyObject* args) {
  PyObject* handlerArg;
  PyObject* text;
  if (!PyArg_ParseTuple(args, "OO:html_parse_string", &handlerArg, &text)) return nullptr;
  PythonHtmlHandler* handler = ClaimHandler(handlerArg, "html_parse_string");
  if (!handler) return nullptr;

  if (PyUnicode_Check(text)) {
    // Lone surrogates are kept, so the handler receives exactly the str's code points.
    PyObject* encoded = PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass");
    if (!encoded) return nullptr;
    MemoryInputStream bytes(PyBytes_AS_STRING(encoded), static_cast<unsigned long>(PyBytes_GET_SIZE(encoded)));
    PyObject* result = RunParse(*handler, bytes);
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
  PyObject* result = RunParse(*handler, bytes);
  PyBuffer_Release(&view);
  return result;
}

// Raises the OSError for a file that could not be opened or read.
PyObject* RaiseFileError(int error, PyObject* path) {
  if (error == ESPIPE) {
    PyObject* exc = PyObject_CallFunction(PyExc_OSError, "isO", error, "Not a regular file", path);
    if (exc) {
      PyErr_SetObject(PyExc_OSError, exc);
      Py_DECREF(exc);
    }
    return nullptr;
  }
  if (error == ENOMEM) return PyErr_NoMemory();
  errno = error;
  return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
}

PyObject* html_parse_file(PyObject*, PyObject* args) {
  PyObject* handlerArg;
  PyObject* pathArg;
  if (!PyArg_ParseTuple(args, "OO:html_parse_file", &handlerArg, &pathArg)) return nullptr;
  PythonHtmlHandler* handler = ClaimHandler(handlerArg, "html_parse_file");
  if (!handler) return nullptr;
  PyObject* path = nullptr;  // bytes, from str, bytes or os.PathLike
  if (!PyUnicode_FSConverter(pathArg, &path)) return nullptr;

  PyObject* result = nullptr;
  {
    FileInputStream bytes(PyBytes_AS_STRING(path));
    if (bytes.OpenError()) {
      RaiseFileError(bytes.OpenError(), pathArg);
    } else {
      result = RunParse(*handler, bytes);
      if (result && bytes.ReadError()) {
        Py_CLEAR(result);
        RaiseFileError(EIO, pathArg);
      }
    }
  }
  Py_DECREF(path);
  return result;
}

// Default callbacks: each ignores its arguments and returns None.
PyObject* HtmlHandler_default(PyObject*, PyObject*) { Py_RETURN_NONE; }

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
    {"html_parse_string", html_parse_string, METH_VARARGS,
     "html_parse_string(handler, text, /)\n--\n\n"
     "Tokenize an HTML document given as str or bytes-like object (UTF-8), reporting every token\n"
     "to the handler's callbacks in document order. Returns True."},
    {"html_parse_file", html_parse_file, METH_VARARGS,
     "html_parse_file(handler, path, /)\n--\n\n"
     "Tokenize the HTML document (UTF-8) in the file at path (str, bytes or os.PathLike), reporting\n"
     "every token to the handler's callbacks in document order. Returns True."},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef tessarinwebmodule = {PyModuleDef_HEAD_INIT, "tessarin", "Module that provides tools for the web.", -1,
                                 tessarin_methods, nullptr, nullptr, nullptr, nullptr};

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

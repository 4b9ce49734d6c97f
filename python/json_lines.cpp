// htmltess._JsonLinesWriter: a handler object whose tokens never reach Python.
// Each token becomes one JSON array on a line of its own, written to a binary
// file object: the output of the htmltess command.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "html/tokenizer.h"
#include "python/cpp_handler.h"

namespace Tessarin {
namespace Bridge {
namespace {

using Html::attr_list_t;
using Html::attr_t;
using Html::error_place_t;
using Html::ParseErrorCode;

constexpr unsigned int kMaxUnicode = 0x10FFFF;
constexpr unsigned int kReplacementCharacter = 0xFFFD;

// A code point as a Python str holds it: values above U+10FFFF become U+FFFD.
inline unsigned int ToRepresentable(unsigned int cp) { return cp <= kMaxUnicode ? cp : kReplacementCharacter; }

// The escape of each ASCII character inside a JSON string, as Python's json
// module writes it: 0 where the character stands for itself, the letter after
// the backslash of a short escape, or 'u' for \u00XX.
struct ascii_escapes_t {
  char letter[0x80];
};

constexpr ascii_escapes_t AsciiEscapes() {
  ascii_escapes_t escapes{};
  for (unsigned int c = 0; c < 0x20; ++c) escapes.letter[c] = 'u';
  escapes.letter['\b'] = 'b';
  escapes.letter['\t'] = 't';
  escapes.letter['\n'] = 'n';
  escapes.letter['\f'] = 'f';
  escapes.letter['\r'] = 'r';
  escapes.letter['"'] = '"';
  escapes.letter['\\'] = '\\';
  return escapes;
}

constexpr ascii_escapes_t kAsciiEscapes = AsciiEscapes();

// Most bytes one code point takes inside a JSON string: "\u00XX" or "\udXXX".
constexpr size_t kMaxBytesPerCodePoint = 6;

char* PutHex4(char* out, unsigned int value) {
  static const char digits[] = "0123456789abcdef";
  for (int shift = 12; shift >= 0; shift -= 4) *out++ = digits[(value >> shift) & 0xF];
  return out;
}

// One code point inside a JSON string, in UTF-8. Python's json module escapes
// the ASCII controls, '"' and '\'; a lone surrogate, which UTF-8 cannot carry,
// becomes \uXXXX as the "backslashreplace" error handler writes it.
char* PutEscaped(char* out, unsigned int cp) {
  if (cp < 0x80) {
    char letter = kAsciiEscapes.letter[cp];
    if (!letter) {
      *out++ = static_cast<char>(cp);
      return out;
    }
    *out++ = '\\';
    *out++ = letter;
    return letter == 'u' ? PutHex4(out, cp) : out;
  }
  if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      *out++ = '\\';
      *out++ = 'u';
      return PutHex4(out, cp);
    }
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    cp = ToRepresentable(cp);
    if (cp < 0x10000) return PutEscaped(out, cp);
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

inline bool IsPlainAscii(unsigned int cp) { return cp < 0x80 && !kAsciiEscapes.letter[cp]; }

// Text is mostly ASCII that stands for itself in a JSON string: copies the
// leading code points of text that do, as bytes, to out (which has room for
// `length` bytes), and returns how many it copied. With SSE2, eight at a time.
size_t CopyPlainAscii(const unsigned int* text, size_t length, char* out) {
  size_t i = 0;
#ifdef __SSE2__
  const __m128i lastControl = _mm_set1_epi16(0x1F), pastAscii = _mm_set1_epi16(0x80);
  const __m128i quote = _mm_set1_epi16('"'), backslash = _mm_set1_epi16('\\');
  for (; i + 8 <= length; i += 8) {
    // Code points above 0x7FFF saturate to 0x7FFF, still not plain.
    __m128i codes = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 4)));
    __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(codes, lastControl), _mm_cmplt_epi16(codes, pastAscii));
    __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(codes, quote), _mm_cmpeq_epi16(codes, backslash));
    if (_mm_movemask_epi8(_mm_andnot_si128(escaped, printable)) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(codes, codes));
  }
#endif
  for (; i < length && IsPlainAscii(text[i]); ++i) out[i] = static_cast<char>(text[i]);
  return i;
}

// Whether two attribute names are the same dict key once mapped as a str holds them.
bool SameKey(const attr_t& a, const attr_t& b) {
  return a.name.size == b.name.size &&
         std::equal(a.name.data, a.name.data + a.name.size, b.name.data,
                    [](unsigned int x, unsigned int y) { return ToRepresentable(x) == ToRepresentable(y); });
}

// Writes each token as the htmltess command prints it: a JSON array per line,
// with the separators of json.dumps and non-ASCII characters as UTF-8, e.g.
//   ["StartTag", "a", {"href": "/"}, false]
// The characters between two other tokens form one ["Character", "..."] line.
// Output collects in a buffer that goes to out.write() whenever it holds
// kFlushSize bytes, and at the end of the document.
class JsonLinesHandler final : public CppHandler {
 public:
  JsonLinesHandler(PyObject* out, bool errorCodes) : out(out), errorCodes(errorCodes) { Py_INCREF(out); }
  ~JsonLinesHandler() override { Py_DECREF(out); }
  JsonLinesHandler(const JsonLinesHandler&) = delete;
  JsonLinesHandler& operator=(const JsonLinesHandler&) = delete;

  bool WantsErrorPositions() const override { return errorCodes; }
  void BeginParse() override { failed = false; }
  bool Failed() const override { return failed; }
  // An idle writer holds no buffer; what a parse that failed left unwritten is dropped.
  void EndParse() override {
    std::vector<char>().swap(buffer);
    used = 0;
    inRun = false;
  }

  void OnParseError() override {
    BeginToken("[\"ParseError\"");
    EndToken();
  }

  void OnCodedParseError(ParseErrorCode code, error_place_t where) override {
    if (!errorCodes) return OnParseError();
    source_point_t point;
    try {
      point = positions->Find(where.offset, where.after);
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
      return Fail();
    }
    BeginToken("[\"ParseError\", \"");
    const char* name = Html::ParseErrorName(code);
    Put(name, std::strlen(name));
    Put("\", ");
    PutNumber(point.line);
    Put(", ");
    PutNumber(point.Column());
    EndToken();
  }

  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    BeginToken("[\"DOCTYPE\", ");
    PutStringOrNull(name, nameLength);
    Put(", ");
    PutStringOrNull(publicId, publicIdLength);
    Put(", ");
    PutStringOrNull(systemId, systemIdLength);
    EndToken();
  }

  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    if (selfClosing) tokenizer->Acknowledge();
    BeginToken("[\"StartTag\", ");
    PutString(name, nameLength);
    Put(", {");
    PutAttributes(attributes, attributeCount);
    if (selfClosing)
      Put("}, true");
    else
      Put("}, false");
    EndToken();
  }

  void OnEndTag(const unsigned int* name, unsigned long nameLength) override {
    BeginToken("[\"EndTag\", ");
    PutString(name, nameLength);
    EndToken();
  }

  void OnComment(const unsigned int* text, unsigned long length) override {
    BeginToken("[\"Comment\", ");
    PutString(text, length);
    EndToken();
  }

  void OnChar(unsigned int codePoint) override { OnText(&codePoint, 1); }

  // The characters up to the next other token form one line, which EndRun ends.
  void OnText(const unsigned int* text, unsigned long length) override {
    if (!inRun) {
      BeginToken("[\"Character\", \"");
      inRun = true;
    }
    PutEscapedRun(text, length);
    FlushIfFull();
  }

  void OnEof() override {
    EndRun();
    Flush();
  }

 private:
  static constexpr size_t kFlushSize = 1 << 16;
  // Code points escaped at a time: a long string is written in slices of this
  // many, so that the buffer stays near kFlushSize.
  static constexpr size_t kSlice = 4096;

  // Room for `size` more bytes at the end of the buffer.
  char* Reserve(size_t size) {
    if (buffer.size() - used < size) buffer.resize(std::max(2 * buffer.size(), used + size));
    return buffer.data() + used;
  }
  void Commit(char* end) { used = static_cast<size_t>(end - buffer.data()); }

  void Put(const char* ascii, size_t size) { Commit(std::copy(ascii, ascii + size, Reserve(size))); }
  template <size_t N>
  void Put(const char (&ascii)[N]) {
    Put(ascii, N - 1);
  }

  void PutNumber(uint64_t value) {
    constexpr size_t kDigits = 20;
    char* begin = Reserve(kDigits);
    Commit(std::to_chars(begin, begin + kDigits, value).ptr);
  }

  void PutEscapedRun(const unsigned int* text, unsigned long length) {
    while (length) {
      size_t slice = std::min<size_t>(length, kSlice);
      char* out = Reserve(slice * kMaxBytesPerCodePoint);
      for (const unsigned int* end = text + slice; text != end;) {
        size_t plain = CopyPlainAscii(text, static_cast<size_t>(end - text), out);
        out += plain;
        text += plain;
        if (text != end) out = PutEscaped(out, *text++);
      }
      Commit(out);
      length -= slice;
      if (length) FlushIfFull();
    }
  }

  void PutString(const unsigned int* text, unsigned long length) {
    Put("\"");
    PutEscapedRun(text, length);
    Put("\"");
  }

  void PutStringOrNull(const unsigned int* text, unsigned long length) {
    if (text)
      PutString(text, length);
    else
      Put("null");
  }

  // The attributes as a dict: in order, each name keeping the first value it
  // was given, also where two names become one key (above U+10FFFF).
  void PutAttributes(const attr_list_t& attributes, unsigned long count) {
    const attr_t* begin = attributes.data;
    const attr_t* end = begin + count;
    bool keysMayCollide = std::any_of(begin, end, [](const attr_t& attribute) {
      return std::any_of(attribute.name.data, attribute.name.data + attribute.name.size,
                         [](unsigned int cp) { return cp > kMaxUnicode; });
    });
    for (const attr_t* attribute = begin; attribute != end; ++attribute) {
      if (keysMayCollide &&
          std::any_of(begin, attribute, [&](const attr_t& earlier) { return SameKey(earlier, *attribute); }))
        continue;
      if (attribute != begin) Put(", ");
      PutString(attribute->name.data, attribute->name.size);
      Put(": ");
      PutString(attribute->value.data, attribute->value.size);
    }
  }

  // Every token's line begins here, after the line of the characters before it.
  template <size_t N>
  void BeginToken(const char (&opening)[N]) {
    EndRun();
    Put(opening);
  }

  // Every token's line ends here.
  void EndToken() {
    Put("]\n");
    FlushIfFull();
  }

  // Ends the line of the characters written since the last other token.
  void EndRun() {
    if (!inRun) return;
    inRun = false;
    Put("\"");
    EndToken();
  }

  void FlushIfFull() {
    if (used >= kFlushSize) Flush();
  }

  // Hands the buffer to out.write(); a failure interrupts the parse.
  void Flush() {
    size_t size = used;
    used = 0;
    if (!size || failed) return;
    PyObject* bytes = PyBytes_FromStringAndSize(buffer.data(), static_cast<Py_ssize_t>(size));
    PyObject* result = bytes ? PyObject_CallMethod(out, "write", "O", bytes) : nullptr;
    Py_XDECREF(bytes);
    if (result)
      Py_DECREF(result);
    else
      Fail();
  }

  // Ends the parse after this callback; its Python exception is set.
  void Fail() {
    failed = true;
    tokenizer->Interrupt();
  }

  PyObject* out;
  bool errorCodes;
  bool failed = false;
  bool inRun = false;
  std::vector<char> buffer;
  size_t used = 0;  // bytes of the buffer written
};

PyObject* JsonLinesWriter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"", "errors", nullptr};
  PyObject* out;
  int errors = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$p:_JsonLinesWriter", const_cast<char**>(keywords), &out, &errors))
    return nullptr;
  PyObject* noArguments = PyTuple_New(0);
  PyObject* self = noArguments ? HandlerType()->tp_new(type, noArguments, nullptr) : nullptr;
  Py_XDECREF(noArguments);
  if (!self) return nullptr;
  JsonLinesHandler* native = new (std::nothrow) JsonLinesHandler(out, errors);
  if (!native) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  SetCppHandler(self, native);
  return self;
}

PyTypeObject jsonLinesWriterType;

}  // namespace

PyTypeObject* ReadyJsonLinesWriterType() {
  PyTypeObject& type = jsonLinesWriterType;
  if (type.tp_flags & Py_TPFLAGS_READY) return &type;
  Py_SET_REFCNT(&type, 1);
  type.tp_name = "htmltess._JsonLinesWriter";
  type.tp_basicsize = HandlerType()->tp_basicsize;
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_doc =
      "_JsonLinesWriter(out, /, *, errors=False)\n--\n\n"
      "A handler that writes each token as a JSON array on a line of its own to out.write() (bytes, UTF-8),\n"
      "as the htmltess command prints it; its callbacks are never called. errors=True writes parse errors\n"
      "with their codes, lines and columns.";
  type.tp_base = HandlerType();
  type.tp_new = JsonLinesWriter_new;
  return PyType_Ready(&type) == 0 ? &type : nullptr;
}

}  // namespace Bridge
}  // namespace Tessarin

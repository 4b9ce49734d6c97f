#pragma once

#include <algorithm>
#include <cstddef>

#include "html/code_points.h"
#include "html/parse_errors.h"
#include "stream/unicode_stream.h"

namespace Tessarin {
namespace Html {

class Tokenizer;

// The code-point stream through which the tokenizer reads: one code point at a
// time, with push-back and block look-ahead, plus the resolution of character
// references. Look-ahead that is not taken is always put back, so after a
// failed attempt the input reads exactly as before.
class InputConsumer : public Unicode::InputStream {
 public:
  // Reads from `source`'s byte stream with a copy of its pending code points.
  explicit InputConsumer(Unicode::InputStream& source) : Unicode::InputStream(source) {}

  using Unicode::InputStream::Peek;
  using Unicode::InputStream::Push;
  using Unicode::InputStream::Skip;
  // Skips n code points; ASCII in the window is skipped there.
  size_t Skip(unsigned long n) override {
    const ascii_window_t ahead = AsciiWindow();
    if (n <= ahead.size && std::all_of(ahead.bytes, ahead.bytes + n, [](unsigned char b) { return b < 0x80; })) {
      Advance(n);
      return n;
    }
    if (errorReporter) return SkipChecked(n);
    return Unicode::InputStream::Skip(n);
  }

  // The next code point, or kEof when the input is exhausted. ASCII in the
  // window is the hot case and is read there.
  unsigned int Consume() {
    const ascii_window_t ahead = AsciiWindow();
    if (ahead.size && ahead.bytes[0] < 0x80) {
      Advance(1);
      return ahead.bytes[0];
    }
    return ConsumeAny();
  }
  // The next code point, without consuming it; false at the end. ASCII in the
  // window is read there and stays there.
  bool Peek(unsigned int& cp) {
    const ascii_window_t ahead = AsciiWindow();
    if (ahead.size && ahead.bytes[0] < 0x80) {
      cp = ahead.bytes[0];
      return true;
    }
    return Unicode::InputStream::Peek(cp);
  }
  // The next Consume returns cp (kEof included).
  bool Unconsume(unsigned int cp) { return Unicode::InputStream::Push(&cp, 1) == 1; }

  // Consume for every case: pending code points, sequences, the end.
  unsigned int ConsumeAny();

  // From now on reports the input-stream errors (controls, noncharacters,
  // surrogates) to `reporter`, each when its code point is first read: the
  // ASCII window ends before each such code point, which is then read one at
  // a time, by ConsumeAny or Skip.
  void ReportInputErrors(Tokenizer& reporter);

  // The most code points resolving a reference looks at, besides the run of
  // letters and digits it reads to its end: a longest name, peeked at once,
  // and the code point after it.
  static constexpr size_t kNamedRefLookAhead = 33;

  // Resolves the reference after an already consumed "&". Writes one or two
  // code points to out and returns their number; 0 when there is none, with
  // the input as it was.
  size_t ConsumeCharRef(Tokenizer& tokenizer, unsigned int const* additionalAllowedChar, bool inAttribute,
                        unsigned int* out);
  bool ConsumeNumericCharRef(Tokenizer& tokenizer, unsigned int& cp);
  bool ConsumeDecCharRef(Tokenizer& tokenizer, unsigned long& value);
  bool ConsumeHexCharRef(Tokenizer& tokenizer, char x, unsigned long& value);
  static bool LookupRef(unsigned long number, unsigned int& cp);

  size_t ConsumeNamedCharRef(Tokenizer& tokenizer, bool inAttribute, unsigned int* out);
  // The run of letters and digits ahead, as far as a longest name: `length`
  // of them, and, when it `ended` there, whether ";" follows it.
  struct alphanumeric_run_t {
    size_t length;
    bool ended;
    bool semicolonAfter;
  };
  // Consumes the longest name ahead; reports its code points, their count,
  // whether the name ends with ";", the name itself, and the run it began.
  // Inlined into ConsumeNamedCharRef, its one caller.
  __attribute__((always_inline)) bool LookupNamedCharRef(unsigned int* out, size_t& count, bool& withSemicolon,
                                                         const char*& name, alphanumeric_run_t& run);
  // Whether the letters and digits ahead, `length` of them, are followed by ";".
  bool AlphanumericRunEndsWithSemicolon(size_t& length);

  // Reports the input-stream error of a code point just read, unless it was
  // read before.
  void CheckFirstRead(unsigned int cp);
  size_t SkipChecked(unsigned long n);

  Tokenizer* errorReporter = nullptr;
  uint64_t checkedEnd = 0;  // the code points before it have been checked

  struct num_ref_t {
    unsigned char number;
    unsigned int codePoint;
  };
  static const num_ref_t mappedCharsByRef[34];
};

inline size_t InputConsumer::ConsumeCharRef(Tokenizer& tokenizer, unsigned int const* additionalAllowedChar,
                                            bool inAttribute, unsigned int* out) {
  unsigned int c;
  if (!Peek(c)) return 0;
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
    case '<':
    case '&':
    case kEof:
      return 0;
    case '#':
      Skip(1);
      if (ConsumeNumericCharRef(tokenizer, out[0])) return 1;
      Unconsume('#');
      return 0;
    default:
      if (additionalAllowedChar && c == *additionalAllowedChar) return 0;
      return ConsumeNamedCharRef(tokenizer, inAttribute, out);
  }
}

}  // namespace Html
}  // namespace Tessarin

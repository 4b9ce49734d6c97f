#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>

#include "html/code_points.h"
#include "stream/unicode_stream.h"

namespace Tessarin {
namespace Html {

class Tokenizer;

// One row of the named character reference table.
struct named_ref_t {
  const char* name;  // without the leading "&"; with its ";" where it has one
  unsigned char count;
  unsigned int codePoints[3];
};

extern const named_ref_t mappedCharsByNamedRef[];
size_t CountNamedCharRef();

// The bytes at which a run in ConsumeRun leaves its ASCII loop: the ASCII code
// points that a state handles otherwise than the bulk of its input, which end
// the run, and every byte above ASCII, which begins a sequence to decode.
struct run_stops_t {
  bool byte[0x100];
};

constexpr run_stops_t RunStops(std::initializer_list<unsigned int> stops) {
  run_stops_t set{};
  for (unsigned int b = 0x80; b < 0x100; ++b) set.byte[b] = true;
  for (unsigned int c : stops) set.byte[c] = true;
  return set;
}

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
  bool Unconsume(unsigned int cp) {
    pending.push_front(cp);
    return true;
  }

  // Fast path for runs of code points that a state handles alike, with the
  // same results as consuming them one at a time: consumes up to `budget` code
  // points of the window that are not among `stops`, handing each to sink, and
  // returns how many it consumed. It stops early where sink returns false, at
  // the end of the window and before a sequence that the window does not hold
  // whole; whatever it stops at stays unread. The window is advanced once, when
  // the run ends: sink must not read input.
  template <typename Sink>
  unsigned long ConsumeRun(const run_stops_t& stops, unsigned long budget, Sink&& sink) {
    const ascii_window_t ahead = AsciiWindow();
    const unsigned char* bytes = ahead.bytes;
    const size_t limit = ahead.size;
    size_t at = 0;
    unsigned long taken = 0;
    bool more = true;
    while (more && taken < budget && at < limit) {
      // ASCII is a byte a code point, so a bound in bytes bounds the count.
      const size_t from = at;
      const size_t end = at + std::min<size_t>(budget - taken, limit - at);
      while (at < end && !stops.byte[bytes[at]]) {
        if (!sink(bytes[at++])) {
          more = false;
          break;
        }
      }
      taken += at - from;
      if (!more || at == end || bytes[at] < 0x80 || limit - at < 4) break;
      unsigned length = SequenceLength(bytes[at]);
      unsigned int cp = Decode(bytes + at, length);
      // An overlong form can decode to a stop ("<", "&", NUL, ...).
      if (cp < 0x80 && stops.byte[cp]) break;
      at += length;
      ++taken;
      more = sink(cp);
    }
    Advance(at);
    return taken;
  }

  // Consume for every case: pending code points, sequences, the end.
  unsigned int ConsumeAny();

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
  // Consumes the longest name ahead; reports its code points, their count,
  // the name's last character and the name itself.
  bool LookupNamedCharRef(unsigned int* out, size_t& count, unsigned int& last, const char*& name);
  bool LookupCharRecursive(const char* name, size_t index, unsigned int& last);
  bool CheckAlphaNumStart();

  struct num_ref_t {
    unsigned char number;
    unsigned int codePoint;
  };
  static const num_ref_t mappedCharsByRef[34];
};

}  // namespace Html
}  // namespace Tessarin

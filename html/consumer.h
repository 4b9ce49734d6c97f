#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "html/code_points.h"
#include "html/parse_errors.h"
#include "stream/unicode_stream.h"

namespace Tessarin {
namespace Html {

class Tokenizer;

// The read position of a consumer in code points, and where its lines begin,
// for a consumer that tracks positions (see InputConsumer::TrackPositions).
// Lines end at LF, at CR LF and at a lone CR.
class PositionTracker {
 public:
  // Line and column of the code point at `index`, counted from 0.
  source_position_t PositionOf(size_t index) const;
  // Code points read, net of those put back.
  size_t Read() const { return read; }

 private:
  friend class InputConsumer;

  // Only the starts of the last lines are kept, at least kKeptLines of them:
  // an error stands at most a few code points (those put back or peeked)
  // before the newest, so memory stays bounded however many lines there are.
  static constexpr size_t kKeptLines = 256;

  size_t read = 0;
  size_t seen = 0;  // code points ever read: those before it have been noted
  unsigned int previous = 0;
  std::vector<size_t> lineStarts{0};
  size_t firstKeptLine = 1;  // the line that begins at lineStarts[0]
};

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
    if (tracker) return SkipTracked(n);
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
    if (tracker && cp != kEof) --tracker->read;
    pending.push_front(cp);
    return true;
  }

  // Consume for every case: pending code points, sequences, the end.
  unsigned int ConsumeAny();

  // From now on counts the code points read in `positions` and reports the
  // input-stream errors (controls, noncharacters, surrogates) to `tokenizer`,
  // each when its code point is first read. The consumer's byte stream must
  // have no window (see BlockOnlyStream), so that every code point is read
  // one at a time.
  void TrackPositions(PositionTracker& positions, Tokenizer& reporter) {
    tracker = &positions;
    errorReporter = &reporter;
  }
  const PositionTracker* Positions() const { return tracker; }

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
  // Consumes the longest name ahead; reports its code points, their count,
  // the name's last character and the name itself.
  bool LookupNamedCharRef(unsigned int* out, size_t& count, unsigned int& last, const char*& name);
  bool LookupCharRecursive(const char* name, size_t index, unsigned int& last);
  // Whether the letters and digits ahead, `length` of them, are followed by ";".
  bool AlphanumericRunEndsWithSemicolon(size_t& length);

  // Counts a code point read while tracking positions.
  void Track(unsigned int cp);
  size_t SkipTracked(unsigned long n);

  PositionTracker* tracker = nullptr;
  Tokenizer* errorReporter = nullptr;

  struct num_ref_t {
    unsigned char number;
    unsigned int codePoint;
  };
  static const num_ref_t mappedCharsByRef[34];
};

}  // namespace Html
}  // namespace Tessarin

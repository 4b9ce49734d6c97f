#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>

#include "stream/input_stream.h"

namespace Tessarin {
namespace Unicode {

constexpr unsigned int kReplacementCharacter = 0xFFFD;
// No code point: a reader may put it back to stand for the end of the input;
// it takes no bytes.
constexpr unsigned int kNoCodePoint = 0xFFFFFFFF;

// Decodes UTF-8 from a byte stream, without validation and without newline
// normalisation, and keeps the code points that were pushed back or decoded
// ahead by Peek in `pending`, whose front is the next code point of the stream.
//
// Decoding rules: a lead byte below 0x80 is one code point; 110xxxxx, 1110xxxx
// and 11110xxx take one, two and three continuation bytes whose low six bits
// are used whatever their top bits are (so C3 3C is U+00FC, C0 80 is U+0000,
// surrogates and values up to 0x1FFFFF come through as they are). A byte that
// cannot lead a sequence (0x80-0xBF, 0xF8-0xFF), and a sequence cut short by the
// end of the input, are consumed and decode to U+FFFD.
//
// Offsets: the stream knows the byte offset of its read position (Offset)
// while code points are pending, since each pending code point keeps the
// number of bytes it was decoded from. A code point put back by Push takes the
// length it was read with: those read one at a time are remembered (the last
// kRemembered of them), and one that is not remembered was read in place
// through the ASCII window, one byte. Code points consumed by Advance other
// than ASCII ones are never put back.
class InputStream : public Tessarin::InputStream<unsigned int> {
 public:
  explicit InputStream(RawInputStream& raw) : raw(raw), windowLimit(raw.Window().limit) {}

  using Tessarin::InputStream<unsigned int>::Skip;
  using Tessarin::InputStream<unsigned int>::Peek;
  using Tessarin::InputStream<unsigned int>::Pop;
  using Tessarin::InputStream<unsigned int>::Push;
  size_t Skip(unsigned long n) override;
  size_t Peek(void* buf, unsigned long n) override;
  size_t Pop(void* buf, unsigned long n) override;
  // Puts n code points back in front of the stream, buf[0] first; never fails.
  // They are the last n code points read, in their order, or kNoCodePoint.
  size_t Push(void const* buf, unsigned long n) override;

  // The byte offset in the input of the next code point.
  uint64_t Offset() const { return raw.Offset() - pendingBytes; }
  // The number of bytes of the last code point read (0 when none was).
  unsigned LastLength() const;
  // The byte stream, whose bytes positions are counted from.
  RawInputStream& Bytes() const { return raw; }

  // The ASCII window: the bytes that follow the code points read so far, as far
  // as the byte stream holds them in memory; empty while code points are
  // pending, since those come first. An ASCII byte there is the code point of
  // the same value, any other byte leads a sequence (see Decode). Input is read
  // in place by looking at the window and then consuming n of its bytes with
  // Advance, which is the one way reading in place moves the read position.
  struct ascii_window_t {
    const unsigned char* bytes;
    size_t size;
  };
  ascii_window_t AsciiWindow() const {
    const RawInputStream::window_t& w = raw.Window();
    return pending.empty() ? ascii_window_t{w.bytes + *w.position, *windowLimit - *w.position} : ascii_window_t{};
  }

  // The code points a fence stands before: ASCII ones by table, the others
  // by a test; the table marks every byte above ASCII, to be decoded and
  // tested. Printable ASCII (0x20 to 0x7E), TAB, LF, FF and CR are never
  // among them, so that the fence passes blocks of such bytes at once.
  struct fence_rule_t {
    bool byte[0x100];
    bool (*other)(unsigned int cp);
  };
  // From now on the ASCII window ends before the first code point that
  // `rule` names (and before a sequence it does not hold whole), so that
  // each such code point is read one at a time, by Pop or Peek.
  void FenceBefore(const fence_rule_t& rule) {
    fence = &rule;
    windowLimit = &fenceIndex;
    MoveFence();
  }
  // Consumes the first n bytes of the window (or, for the decoder, of the bytes
  // held after the read position), whole sequences only.
  void Advance(size_t n) { *raw.Window().position += n; }

  // Looks past the run of code points ahead for which inRun holds, consuming
  // nothing: sets `length` to the length of the run and returns the code point
  // after it in `after`, or false when the input ends first. inRun holds for
  // ASCII code points only, so that a byte of the window can be asked as it
  // is. The run is not decoded into `pending`, so it may be as long as the
  // rest of the input.
  template <typename InRun>
  bool LookPast(InRun inRun, size_t& length, unsigned int& after);

  // Decodes one code point and consumes its bytes; returns their number, 0 at
  // the end of the bytes.
  size_t DecodePop(unsigned int& cp) {
    // Fast path: a whole sequence is held in memory.
    const ascii_window_t held = HeldBytes();
    if (held.size >= 4) {
      unsigned length = SequenceLength(held.bytes[0]);
      cp = Decode(held.bytes, length);
      Advance(length);
      return length;
    }
    return DecodePopCounted(cp);
  }
  // DecodePop through the block operations.
  size_t DecodePopCounted(unsigned int& cp);

  // The code points put back or decoded ahead, which come before the bytes.
  size_t PendingCount() const { return pending.size(); }
  unsigned int PendingAt(size_t i) const { return pending[i].cp; }

  // One code point through the same path as Pop(cp), without a virtual call.
  bool PopOne(unsigned int& cp) {
    unsigned length;
    if (pending.empty()) {
      length = static_cast<unsigned>(DecodePop(cp));
      if (fence) MoveFence();
      if (!length) return false;
    } else {
      cp = pending.front().cp;
      length = pending.front().length;
      pendingBytes -= length;
      pending.pop_front();
    }
    Remember(length);
    return true;
  }

  // Bytes of the sequence that begins with lead byte b0 (1 for a byte that
  // cannot lead a sequence).
  static unsigned SequenceLength(unsigned char b0) {
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) return 2;
    if ((b0 & 0xF0) == 0xE0) return 3;
    if ((b0 & 0xF8) == 0xF0) return 4;
    return 1;
  }
  // The code point of a complete sequence of `length` bytes.
  static unsigned int Decode(const unsigned char* b, unsigned length) {
    switch (length) {
      case 2:
        return ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
      case 3:
        return ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
      case 4:
        return ((b[0] & 0x07u) << 18) | ((b[1] & 0x3Fu) << 12) | ((b[2] & 0x3Fu) << 6) | (b[3] & 0x3Fu);
      default:
        return b[0] < 0x80 ? b[0] : kReplacementCharacter;
    }
  }

 protected:
  // A code point decoded ahead or put back, with the number of bytes it was
  // decoded from (0 for kNoCodePoint).
  struct pending_t {
    unsigned int cp;
    unsigned char length;
  };
  std::deque<pending_t> pending;
  uint64_t pendingBytes = 0;

 private:
  // Notes a code point just read one at a time: where it ends and its length.
  void Remember(unsigned length) {
    if (!length) return;
    remembered[rememberedTop] = {Offset(), static_cast<unsigned char>(length)};
    rememberedTop = (rememberedTop + 1) % kRemembered;
    rememberedCount = std::min(rememberedCount + 1, kRemembered);
  }
  bool LastRemembered() const;
  // Keeps the fence ahead of the read position once bytes were read past it
  // or the byte stream moved its bytes.
  void MoveFence();
  // The length of the last code point read, which is put back: forgotten.
  unsigned TakeBack();

  // Put-backs reach at most a few dozen code points back (the longest named
  // character reference).
  static constexpr unsigned kRemembered = 64;
  struct remembered_t {
    uint64_t end;
    unsigned char length;
  };
  remembered_t remembered[kRemembered];
  unsigned rememberedTop = 0;
  unsigned rememberedCount = 0;

  // The bytes the byte stream holds in memory from its read position on.
  ascii_window_t HeldBytes() const {
    const RawInputStream::window_t& w = raw.Window();
    return {w.bytes + *w.position, *w.limit - *w.position};
  }

  RawInputStream& raw;
  // Where the ASCII window ends: the byte stream's limit, or the fence. A
  // copy of a fenced stream is to be fenced again.
  const size_t* windowLimit;
  const fence_rule_t* fence = nullptr;
  uint64_t fenceOffset = 0;  // the code points before it are clear of the rule
  size_t fenceIndex = 0;     // the fence as an index into the held bytes
};

// Reads the code points ahead of a stream as far as they are held whole,
// consuming nothing: first the pending ones, then those decoded from `bytes`,
// which must be all the bytes that the byte stream holds after its read
// position, in its window or not. A sequence cut short by the end of the bytes
// is not decoded, since more bytes may complete it.
class HeldCodePoints {
 public:
  HeldCodePoints(const InputStream& stream, const unsigned char* bytes, size_t size)
      : stream(stream), bytes(bytes), size(size) {}

  // The next code point; false when no more is held whole.
  bool Next(unsigned int& cp) {
    if (pendingRead < stream.PendingCount()) {
      cp = stream.PendingAt(pendingRead++);
      return true;
    }
    if (used == size) return false;
    const unsigned length = InputStream::SequenceLength(bytes[used]);
    if (length > size - used) {
      cut = true;
      return false;
    }
    cp = InputStream::Decode(bytes + used, length);
    used += length;
    return true;
  }
  // Reads up to n code points and returns how many were held.
  size_t Skip(size_t n) {
    unsigned int cp;
    size_t done = 0;
    while (done < n && Next(cp)) ++done;
    return done;
  }
  // Whether the bytes end inside a sequence (known once Next returned false).
  bool Cut() const { return cut; }
  // The bytes decoded so far. Once the pending code points have been read,
  // a reader may move on to a point it reached before, at `used` bytes.
  size_t BytesUsed() const { return used; }
  bool InBytes() const { return pendingRead == stream.PendingCount(); }
  void SkipTo(size_t bytesUsed) { used = bytesUsed; }

 private:
  const InputStream& stream;
  size_t pendingRead = 0;
  const unsigned char* bytes;
  size_t size;
  size_t used = 0;
  bool cut = false;
};

// The code points already pending are looked at first, then the bytes after
// them where the byte stream holds them. Where the held bytes end or a
// sequence begins, one code point is decoded the ordinary way (an overlong
// form may stand for any ASCII code point), which also has a buffering stream
// fill its buffer again. The byte stream is then stepped back by every byte it
// advanced, so the input is exactly as before and no copy of the run is kept.
template <typename InRun>
bool InputStream::LookPast(InRun inRun, size_t& length, unsigned int& after) {
  length = 0;
  for (const pending_t& ahead : pending) {
    if (!inRun(ahead.cp)) {
      after = ahead.cp;
      return true;
    }
    ++length;
  }
  size_t advanced = 0;
  bool found = false;
  for (;;) {
    const ascii_window_t held = HeldBytes();
    size_t n = 0;
    while (n < held.size && inRun(held.bytes[n])) ++n;
    Advance(n);
    advanced += n;
    length += n;
    if (n < held.size && held.bytes[n] < 0x80) {
      after = held.bytes[n];
      found = true;
      break;
    }
    unsigned int cp;
    size_t used = DecodePopCounted(cp);
    if (!used) break;
    advanced += used;
    if (!inRun(cp)) {
      after = cp;
      found = true;
      break;
    }
    ++length;
  }
  raw.Push(nullptr, advanced);
  if (fence) MoveFence();
  return found;
}

}  // namespace Unicode
}  // namespace Tessarin

#pragma once

#include <deque>

#include "stream/input_stream.h"

namespace Tessarin {
namespace Unicode {

constexpr unsigned int kReplacementCharacter = 0xFFFD;

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
class InputStream : public Tessarin::InputStream<unsigned int> {
 public:
  explicit InputStream(RawInputStream& raw) : raw(raw) {}

  using Tessarin::InputStream<unsigned int>::Skip;
  using Tessarin::InputStream<unsigned int>::Peek;
  using Tessarin::InputStream<unsigned int>::Pop;
  using Tessarin::InputStream<unsigned int>::Push;
  size_t Skip(unsigned long n) override;
  size_t Peek(void* buf, unsigned long n) override;
  size_t Pop(void* buf, unsigned long n) override;
  // Puts n code points back in front of the stream, buf[0] first; never fails.
  size_t Push(void const* buf, unsigned long n) override;

  // Decodes one code point and consumes its bytes; 0 at the end of the bytes.
  size_t DecodePop(unsigned int& cp) {
    const RawInputStream::window_t& w = raw.Window();
    size_t at = *w.position;
    // Fast path: a whole sequence is in the byte stream's window.
    if (*w.limit - at >= 4) {
      const unsigned char* b = w.bytes + at;
      unsigned length = SequenceLength(b[0]);
      cp = Decode(b, length);
      *w.position = at + length;
      return 1;
    }
    return DecodePopSlow(cp);
  }
  // Consumes the bytes of one encoded code point; 0 at the end of the bytes.
  size_t DecodeSkip();
  // DecodePop through the block operations, returning the number of bytes
  // it consumed (0 at the end of the bytes).
  size_t DecodePopCounted(unsigned int& cp);

  // One code point through the same path as Pop(cp), without a virtual call.
  bool PopOne(unsigned int& cp) {
    if (pending.empty()) return DecodePop(cp) == 1;
    cp = pending.front();
    pending.pop_front();
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
  size_t DecodePopSlow(unsigned int& cp);

  std::deque<unsigned int> pending;
  RawInputStream& raw;
};

}  // namespace Unicode
}  // namespace Tessarin

#include "stream/unicode_stream.h"

#include <algorithm>

namespace Tessarin {
namespace Unicode {

size_t InputStream::DecodePopCounted(unsigned int& cp) {
  unsigned char b[4];
  if (!raw.Peek(b[0])) return 0;
  unsigned length = SequenceLength(b[0]);
  size_t got = raw.Peek(b, length);
  raw.Skip(got);
  cp = got == length ? Decode(b, length) : kReplacementCharacter;
  return got;
}

size_t InputStream::Pop(void* buf, unsigned long n) {
  unsigned int* out = static_cast<unsigned int*>(buf);
  size_t done = 0;
  while (done < n && PopOne(out[done])) ++done;
  return done;
}

size_t InputStream::Peek(void* buf, unsigned long n) {
  unsigned int* out = static_cast<unsigned int*>(buf);
  size_t done = std::min<size_t>(pending.size(), n);
  for (size_t i = 0; i < done; ++i) out[i] = pending[i].cp;
  unsigned int cp;
  while (done < n) {
    size_t length = DecodePop(cp);
    if (fence) MoveFence();
    if (!length) break;
    pending.push_back({cp, static_cast<unsigned char>(length)});
    pendingBytes += length;
    out[done++] = cp;
  }
  return done;
}

size_t InputStream::Skip(unsigned long n) {
  size_t done = 0;
  unsigned int cp;
  while (done < n && PopOne(cp)) ++done;
  return done;
}

size_t InputStream::Push(void const* buf, unsigned long n) {
  const unsigned int* in = static_cast<const unsigned int*>(buf);
  for (unsigned long i = n; i-- > 0;) {
    unsigned length = in[i] == kNoCodePoint ? 0 : TakeBack();
    pending.push_front({in[i], static_cast<unsigned char>(length)});
    pendingBytes += length;
  }
  return n;
}

// The code point that ends at the read position is the last one read: it is
// remembered there if it was read one at a time.
bool InputStream::LastRemembered() const {
  return rememberedCount && remembered[(rememberedTop + kRemembered - 1) % kRemembered].end == Offset();
}

unsigned InputStream::LastLength() const {
  if (LastRemembered()) return remembered[(rememberedTop + kRemembered - 1) % kRemembered].length;
  return Offset() ? 1 : 0;
}

unsigned InputStream::TakeBack() {
  unsigned length = LastLength();
  if (LastRemembered()) {
    rememberedTop = (rememberedTop + kRemembered - 1) % kRemembered;
    --rememberedCount;
  }
  return length;
}

// A fence that the read position has passed is moved on to the next code
// point of the rule, or to the end of the held bytes; one still ahead stays,
// and only its index follows the held bytes.
void InputStream::MoveFence() {
  const RawInputStream::window_t& w = raw.Window();
  const size_t limit = *w.limit;
  if (fenceOffset < raw.Offset()) {
    const bool* const stop = fence->byte;
    const unsigned char* const bytes = w.bytes;
    size_t i = *w.position;
    for (;;) {
      while (limit - i >= kPassBlock && PassableBlock(bytes + i)) i += kPassBlock;
      // A block with another byte among them is looked at one by one.
      const size_t end = std::min(limit, i + kPassBlock);
      while (i < end && !stop[bytes[i]]) ++i;
      if (i == limit) break;
      if (i == end) continue;
      if (bytes[i] < 0x80) break;
      const unsigned length = SequenceLength(bytes[i]);
      if (limit - i < length || fence->other(Decode(bytes + i, length))) break;
      i += length;
    }
    fenceOffset = *w.origin + i;
  }
  fenceIndex = static_cast<size_t>(std::min<uint64_t>(fenceOffset - *w.origin, limit));
}

}  // namespace Unicode
}  // namespace Tessarin

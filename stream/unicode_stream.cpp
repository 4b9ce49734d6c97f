#include "stream/unicode_stream.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tessarin {
namespace Unicode {

namespace {

// The bytes a fence passes in blocks (see fence_rule_t): how many of the
// `size` bytes at b are in whole blocks of them, from the start. A fence
// mostly passes long runs of them, which are tested 64 bytes at a time.
#if defined(__SSE2__)
__m128i Load(const unsigned char* b) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)); }

// All ones where a byte of x is printable ASCII, 0x20 to 0x7E: the bytes
// that become signed bytes above 0x20 when one is added.
__m128i Printable(__m128i x) { return _mm_cmpgt_epi8(_mm_add_epi8(x, _mm_set1_epi8(1)), _mm_set1_epi8(0x20)); }

// All ones where a byte of x is printable ASCII or LF: most blocks of 64
// bytes of a page hold no other byte, and they are told by this test alone.
__m128i PrintableOrLf(__m128i x) { return _mm_or_si128(Printable(x), _mm_cmpeq_epi8(x, _mm_set1_epi8('\n'))); }

// All ones where a byte of x is passed.
__m128i Passed(__m128i x) {
  // TAB, LF, VT, FF and CR are 9 to 13; VT is not passed.
  const __m128i fromTab = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
  const __m128i tabToCr = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8('\r' - '\t')), fromTab);
  const __m128i spaces = _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\v')), tabToCr);
  return _mm_or_si128(Printable(x), spaces);
}

// Whether `test` holds for all 64 bytes at b.
template <typename Test>
bool AllOf64(const unsigned char* b, Test test) {
  const __m128i all = _mm_and_si128(_mm_and_si128(test(Load(b)), test(Load(b + 16))),
                                    _mm_and_si128(test(Load(b + 32)), test(Load(b + 48))));
  return _mm_movemask_epi8(all) == 0xFFFF;
}

constexpr size_t kPassBlock = 16;

size_t PassableLength(const unsigned char* b, size_t size) {
  size_t n = 0;
  while (size - n >= 4 * kPassBlock && (AllOf64(b + n, PrintableOrLf) || AllOf64(b + n, Passed))) n += 4 * kPassBlock;
  while (size - n >= kPassBlock && _mm_movemask_epi8(Passed(Load(b + n))) == 0xFFFF) n += kPassBlock;
  return n;
}
#else
// Printable ASCII only, eight bytes at a time.
constexpr size_t kPassBlock = 8;

size_t PassableLength(const unsigned char* b, size_t size) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  size_t n = 0;
  for (; size - n >= kPassBlock; n += kPassBlock) {
    uint64_t x;
    std::memcpy(&x, b + n, sizeof x);
    const uint64_t below = (x - 0x20 * kOnes) & ~x;  // high bit where a byte is below 0x20
    const uint64_t above = (x + kOnes) | x;          // high bit where a byte is above 0x7E
    if ((below | above) & kHighs) break;
  }
  return n;
}
#endif

}  // namespace

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
      i += PassableLength(bytes + i, limit - i);
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

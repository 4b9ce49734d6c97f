#pragma once

#include <cstddef>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tessarin {
namespace Html {

// The bytes at which a fast path leaves its ASCII loop (see
// Tokenizer::ConsumeRun): the ASCII code points that a state handles otherwise
// than the bulk of its input, which end the run, and every byte above ASCII,
// which begins a sequence to decode.
//
// For the wide loop, which tests 16 bytes at once, a set also says which bytes
// may be stops: those below `below` as signed bytes (so every byte above ASCII
// too; with `below` 0, the top bit marks those) and the `count` bytes of
// `listed`. A set with three or more stops up to the space tests them with one
// comparison, against the byte after the highest of them; the other bytes it
// catches (CR and the other controls) are candidates that the table turns down.
struct run_stops_t {
  bool byte[0x100];
  // For names, whose sets all stop at NUL: the code point each byte stands
  // for, A to Z lowered, or 0 where the byte is a stop, so that a byte of a
  // name is tested and lowered by one look-up.
  unsigned char lowered[0x100];
  signed char below;
  unsigned char count;
  unsigned char listed[16];
};

constexpr run_stops_t RunStops(std::initializer_list<unsigned int> stops) {
  run_stops_t set{};
  for (unsigned int b = 0x80; b < 0x100; ++b) set.byte[b] = true;
  unsigned int upToSpace = 0, highestUpToSpace = 0;
  for (unsigned int c : stops) {
    set.byte[c] = true;
    if (c > ' ') continue;
    ++upToSpace;
    highestUpToSpace = c > highestUpToSpace ? c : highestUpToSpace;
  }
  for (unsigned int b = 0; b < 0x100; ++b) {
    set.lowered[b] = set.byte[b] ? 0 : static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
  }
  set.below = upToSpace >= 3 ? static_cast<signed char>(highestUpToSpace + 1) : 0;
  for (unsigned int c : stops) {
    if (c >= static_cast<unsigned int>(set.below)) set.listed[set.count++] = static_cast<unsigned char>(c);
  }
  return set;
}

#if defined(__SSE2__) && defined(HTMLTESS_SCAN_SWITCH)
// Test builds only: false runs the byte-at-a-time loops alone, so that a test
// can compare their results with the wide loops'.
extern bool wideScanning;
inline bool WideScanning() { return wideScanning; }
#elif defined(__SSE2__)
constexpr bool WideScanning() { return true; }
#endif

#if defined(__SSE2__)
// One bit per byte of `bytes`, set where the byte may be a stop.
inline unsigned StopCandidates(const run_stops_t& stops, __m128i bytes) {
  __m128i hits = stops.below ? _mm_cmplt_epi8(bytes, _mm_set1_epi8(stops.below)) : bytes;
  for (unsigned i = 0; i < stops.count; ++i) {
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(stops.listed[i]))));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// Stores 16 ASCII bytes as code points at out.
inline void StoreWidened(__m128i bytes, unsigned int* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_unpacklo_epi8(bytes, zero);
  const __m128i high = _mm_unpackhi_epi8(bytes, zero);
  __m128i* const to = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
  _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
  _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
  _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
}

// Stores the bytes from p on that are not stops, widened at out, 16 at a
// time while bound is 16 or more bytes away; returns where it stopped: at a
// stop, or fewer than 16 bytes before bound. A byte the comparisons take for a
// stop and the table does not is stored with its block, and the scan goes on
// after it.
inline const unsigned char* StoreOrdinaryBlocks(const run_stops_t& stops, const unsigned char* p,
                                                const unsigned char* const bound, unsigned int*& out) {
  while (WideScanning() && bound - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    StoreWidened(bytes, out);
    const unsigned candidates = StopCandidates(stops, bytes);
    const unsigned ordinary = candidates ? __builtin_ctz(candidates) : 16;
    p += ordinary;
    out += ordinary;
    if (ordinary == 16) continue;
    if (stops.byte[*p]) break;
    ++p;
    ++out;
  }
  return p;
}
#endif

}  // namespace Html
}  // namespace Tessarin

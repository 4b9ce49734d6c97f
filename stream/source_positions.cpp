#include "stream/source_positions.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "stream/unicode_stream.h"

namespace Tessarin {

namespace {

// Bytes that are a code point of their own and end no line.
struct plain_bytes_t {
  bool byte[0x100];
};

constexpr plain_bytes_t PlainBytes() {
  plain_bytes_t set{};
  for (unsigned b = 0; b < 0x80; ++b) set.byte[b] = b != '\n' && b != '\r';
  return set;
}

constexpr plain_bytes_t kPlain = PlainBytes();

// Whether the eight bytes at b are all plain, eight at a time.
bool PlainWord(const unsigned char* b) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  uint64_t x;
  std::memcpy(&x, b, sizeof x);
  auto zeroByte = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  return !((x & kHighs) | zeroByte(x ^ ('\n' * kOnes)) | zeroByte(x ^ ('\r' * kOnes)));
}

void BreakLine(source_point_t& point, uint64_t nextLineStart) {
  ++point.line;
  point.lineStart = nextLineStart;
}

// Counts the ASCII without CR at p, within `most` of the `held` bytes there,
// and the lines its LFs end; returns how many bytes it counted. The place
// must not follow a CR, whose line an LF would end. Blocks of 64 bytes are
// taken at once, their LFs summed per byte lane, then blocks of 16, the last
// of them up to its first CR or byte above ASCII, or to `most` if 16 bytes
// are held; only the last block with an LF is looked at again, for where the
// last line starts.
#if defined(__SSE2__)
size_t CountPlainBlocks(const unsigned char* p, size_t most, size_t held, source_point_t& point) {
  constexpr size_t kBlock = 16;
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  __m128i lines = zero;  // LFs counted, in the two 64-bit halves
  size_t lastLfEnd = 0;  // the end of the last block with an LF; 0 when none had one
  size_t n = 0;
  auto load = [p](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)); };
  // Each byte that is CR or not ASCII makes its lane's top bit set.
  auto stops = [cr](__m128i x) { return _mm_or_si128(x, _mm_cmpeq_epi8(x, cr)); };
  while (most - n >= 4 * kBlock) {
    const __m128i a = load(n), b = load(n + 16), c = load(n + 32), d = load(n + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(stops(a), stops(b)), _mm_or_si128(stops(c), stops(d))))) break;
    // Each LF is -1 in its lane; four blocks sum to at least -4.
    const __m128i sum = _mm_add_epi8(_mm_add_epi8(_mm_cmpeq_epi8(a, lf), _mm_cmpeq_epi8(b, lf)),
                                     _mm_add_epi8(_mm_cmpeq_epi8(c, lf), _mm_cmpeq_epi8(d, lf)));
    n += 4 * kBlock;
    if (_mm_movemask_epi8(sum)) lastLfEnd = n;
    lines = _mm_add_epi64(lines, _mm_sad_epu8(_mm_sub_epi8(zero, sum), zero));
  }
  uint64_t lastLines = 0;  // those of the block cut short by a stop
  while (n < most && held - n >= kBlock) {
    const __m128i x = load(n);
    const __m128i found = _mm_cmpeq_epi8(x, lf);
    unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(stops(x)));
    if (most - n < kBlock) stop |= ~0u << (most - n);
    if (stop) {
      const unsigned before = static_cast<unsigned>(__builtin_ctz(stop));
      const unsigned lfs = static_cast<unsigned>(_mm_movemask_epi8(found)) & ((1u << before) - 1);
      n += before;
      if (lfs) lastLfEnd = n;
      for (unsigned rest = lfs; rest; rest &= rest - 1) ++lastLines;  // LFs are few: no popcount call
      break;
    }
    n += kBlock;
    if (_mm_movemask_epi8(found)) lastLfEnd = n;
    lines = _mm_add_epi64(lines, _mm_sad_epu8(_mm_sub_epi8(zero, found), zero));
  }
  if (lastLfEnd) {
    point.line += static_cast<uint64_t>(_mm_cvtsi128_si64(lines)) +
                  static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(lines, lines))) + lastLines;
    size_t lastLf = lastLfEnd;
    while (p[--lastLf] != '\n') {
    }
    point.lineStart = point.index + lastLf + 1;
  }
  point.offset += n;
  point.index += n;
  return n;
}
#else
// Without SIMD, the plain bytes between line ends are counted by Walk alone.
size_t CountPlainBlocks(const unsigned char*, size_t, size_t, source_point_t&) { return 0; }
#endif

// Counts the sequences of more than one byte at p, within `most` bytes, up to
// the first that decodes to a line end; returns how many bytes it counted. The
// place must not follow a CR.
size_t CountSequences(const unsigned char* p, size_t most, source_point_t& point) {
  size_t n = 0;
  while (n < most && p[n] >= 0x80) {
    const unsigned length = Unicode::InputStream::SequenceLength(p[n]);
    if (length > most - n) break;
    const unsigned int cp = Unicode::InputStream::Decode(p + n, length);
    if (cp == '\n' || cp == '\r') break;
    n += length;
    ++point.index;
  }
  point.offset += n;
  return n;
}

}  // namespace

source_point_t SourcePositions::Reach(uint64_t offset, uint64_t after) {
  const source_point_t* from = floor.offset <= offset ? &floor : &checkpoints[0];
  for (const source_point_t& answer : answers) {
    if (answer.offset <= offset && answer.offset > from->offset) from = &answer;
  }
  const source_point_t& checkpoint = checkpoints[std::min<uint64_t>(offset / kStride, checkpoints.size() - 1)];
  if (checkpoint.offset <= offset && checkpoint.offset > from->offset) from = &checkpoint;
  source_point_t found = Walk(*from, offset, after);
  answers[nextAnswer] = found;
  nextAnswer = (nextAnswer + 1) % kAnswers;
  return found;
}

source_point_t SourcePositions::Find(uint64_t offset, uint64_t after) {
  source_point_t found = Reach(offset, after);
  // After a CR, the place is on the next line unless it is the LF of CR LF.
  if (found.afterCr) {
    unsigned char next[4];
    const size_t got = bytes.ReadAt(found.offset, next, sizeof next);
    const unsigned length = got ? Unicode::InputStream::SequenceLength(next[0]) : 0;
    if (!got || length > got || Unicode::InputStream::Decode(next, length) != '\n') BreakLine(found, found.index);
  }
  return found;
}

source_point_t SourcePositions::Walk(source_point_t point, uint64_t offset, uint64_t after) {
  constexpr size_t kChunk = 4096;  // on the stack of a callback: kept small
  // Enough for the walk up to the offset, a sequence past it and a few more code points.
  constexpr size_t kBeyond = 64;
  unsigned char scratch[kChunk];
  bool copy = false;
  for (;;) {
    if (point.offset >= offset && !after) return point;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(kChunk, offset - std::min(offset, point.offset) + kBeyond));
    // The bytes are read where the stream holds them, copied otherwise (and
    // where a sequence runs past the held bytes).
    size_t got = 0;
    const unsigned char* held = copy ? nullptr : bytes.HeldAt(point.offset, got);
    got = std::min(got, want);
    if (!held) got = bytes.ReadAt(point.offset, scratch, want);
    copy = false;
    const unsigned char* const chunk = held ? held : scratch;
    if (!got) return point;  // the end of the input, or bytes the stream no longer holds
    size_t i = 0;
    while (i < got) {
      const bool reached = point.offset >= offset;
      if (reached && !after) return point;
      const uint64_t nextCheckpoint = checkpoints.size() * kStride;
      // Up to the offset, runs of plain ASCII are counted at once.
      size_t plain = 0;
      if (!reached) {
        const size_t most =
            static_cast<size_t>(std::min<uint64_t>(got - i, std::min(offset, nextCheckpoint) - point.offset));
        const size_t counted = point.afterCr ? 0 : CountPlainBlocks(chunk + i, most, got - i, point);
        if (counted) {
          i += counted;
          if (point.offset >= nextCheckpoint) checkpoints.push_back(point);
          continue;
        }
        for (;;) {
          while (most - plain >= 8 && PlainWord(chunk + i + plain)) plain += 8;
          const size_t end = std::min(most, plain + 8);
          while (plain < end && kPlain.byte[chunk[i + plain]]) ++plain;
          if (plain != end || plain == most) break;
        }
        const size_t wide = plain || point.afterCr ? 0 : CountSequences(chunk + i, most, point);
        if (wide) {
          i += wide;
          if (point.offset >= nextCheckpoint) checkpoints.push_back(point);
          continue;
        }
      }
      if (plain) {
        if (point.afterCr) BreakLine(point, point.index);
        point.afterCr = false;
        i += plain;
        point.offset += plain;
        point.index += plain;
      } else {
        unsigned length = Unicode::InputStream::SequenceLength(chunk[i]);
        unsigned int cp;
        if (i + length <= got) {
          cp = Unicode::InputStream::Decode(chunk + i, length);
        } else if (got == want || held) {
          copy = held;
          break;  // the sequence is read again at the start of the next chunk
        } else {
          length = static_cast<unsigned>(got - i);  // cut short by the end of the input
          cp = Unicode::kReplacementCharacter;
        }
        // A CR ends its line once the next code point shows whether it is CR LF.
        if (point.afterCr)
          BreakLine(point, cp == '\n' ? point.index + 1 : point.index);
        else if (cp == '\n')
          BreakLine(point, point.index + 1);
        point.afterCr = cp == '\r';
        i += length;
        point.offset += length;
        ++point.index;
        if (reached) --after;
      }
      if (point.offset >= nextCheckpoint) checkpoints.push_back(point);
    }
  }
}

}  // namespace Tessarin

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "html/named_char_refs.h"
#include "html/run_scan.h"
#include "html/tokenizer.h"

// Named character references: finding the longest name ahead in
// mappedCharsByNamedRef, and the look-ahead that tells an unknown reference
// ("&foo;") from plain text.

namespace Tessarin {
namespace Html {

namespace {

// The longest name, "CounterClockwiseContourIntegral;", bounds the look-ahead.
constexpr size_t kLongestName = 32;
static_assert(InputConsumer::kNamedRefLookAhead == kLongestName + 1, "a name is peeked, then the code point after it");

// The ASCII letters and digits, by byte.
constexpr struct alphanumeric_t {
  constexpr alphanumeric_t() : byte() {
    for (unsigned int b = 0; b < 0x100; ++b) byte[b] = IsAsciiAlphanumeric(b);
  }
  constexpr bool operator[](unsigned char b) const { return byte[b]; }
  bool byte[0x100];
} kAlphanumeric;

// Two 64-bit words as one value: GCC and Clang compile the operations on it
// to SSE2 on x86-64 and to word operations elsewhere.
typedef uint64_t word_pair_t __attribute__((vector_size(16)));

// A name as it is looked up: its characters, zero-padded to kLongestName
// bytes, held as two pairs of words so that two names compare and hash in a
// few operations, without a loop over their characters.
struct alignas(32) name_key_t {
  word_pair_t low, high;

  bool empty() const { return low[0] == 0; }
  bool operator==(const name_key_t& other) const {
    const word_pair_t differ = (low ^ other.low) | (high ^ other.high);
    return (differ[0] | differ[1]) == 0;
  }

  // The first `length` characters, the rest zero.
  name_key_t First(size_t length) const {
    static constexpr struct first_bytes_t {
      constexpr first_bytes_t() : ones() {
        for (size_t i = 0; i < kLongestName; ++i) ones[i] = 0xFF;
      }
      unsigned char ones[2 * kLongestName];
    } kFirstBytes;
    name_key_t mask;
    std::memcpy(&mask, kFirstBytes.ones + kLongestName - length, kLongestName);
    return {low & mask.low, high & mask.high};
  }
};
static_assert(sizeof(name_key_t) == kLongestName, "a key holds the longest name");

// The first `length` of the kLongestName bytes at p, as a key.
name_key_t KeyOf(const unsigned char* p, size_t length) {
  name_key_t key;
  std::memcpy(&key, p, kLongestName);
  return key.First(length);
}

// How many of the kLongestName bytes at p, from the first, are ASCII letters
// and digits: with SSE2, by two comparisons of 16 bytes each for the digits
// and the letters (as unsigned ranges, moved to signed by flipping the top bit).
size_t AlphanumericPrefix(const unsigned char* p) {
#if defined(__SSE2__)
  if (WideScanning()) {
    const __m128i top = _mm_set1_epi8(static_cast<char>(0x80));
    const auto alphanumeric = [&](__m128i bytes) {
      const __m128i digit = _mm_xor_si128(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), top);
      const __m128i letter =
          _mm_xor_si128(_mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a')), top);
      return static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(digit, _mm_set1_epi8(static_cast<char>(0x80 + 10))),
                                         _mm_cmplt_epi8(letter, _mm_set1_epi8(static_cast<char>(0x80 + 26))))));
    };
    const uint32_t others = ~(alphanumeric(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) |
                              alphanumeric(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))) << 16);
    return others ? __builtin_ctz(others) : kLongestName;
  }
#endif
  size_t length = 0;
  while (length < kLongestName && kAlphanumeric[p[length]]) ++length;
  return length;
}

// Rows by name as written (";" included): an open-addressing hash table of
// keys, each within one cache line, beside their rows' indexes. An empty key
// marks an empty slot. 2^kSlotBits slots keep it at most about half full.
template <unsigned kSlotBits>
class name_table_t {
 public:
  void Insert(const name_key_t& key, size_t row) {
    size_t i = Slot(key);
    while (!keys[i].empty()) i = (i + 1) & kSlotMask;
    keys[i] = key;
    rows[i] = static_cast<uint16_t>(row);
  }

  const named_ref_t* Find(const name_key_t& key) const {
    for (size_t i = Slot(key); !keys[i].empty(); i = (i + 1) & kSlotMask) {
      if (keys[i] == key) return &mappedCharsByNamedRef[rows[i]];
    }
    return nullptr;
  }

 private:
  static constexpr size_t kSlotMask = (size_t{1} << kSlotBits) - 1;

  // Multiplicative hashing of the first 16 characters, which tell most names
  // apart: the top bits of the product depend on every bit of them.
  static size_t Slot(const name_key_t& key) {
    const uint64_t mixed = key.low[0] ^ (key.low[1] * 0x9E3779B97F4A7C15u);
    return static_cast<size_t>((mixed * 0xD6E8FEB86659FD93u) >> (64 - kSlotBits));
  }

  name_key_t keys[size_t{1} << kSlotBits] = {};
  uint16_t rows[size_t{1} << kSlotBits] = {};
};

// The names with ";" and the few without, apart, so that looking for the
// latter, which most references in a text lack, is short. Built once, on the
// first reference.
struct name_index_t {
  name_index_t() {
    for (size_t row = 0; row < CountNamedCharRef(); ++row) {
      const char* name = mappedCharsByNamedRef[row].name;
      const size_t length = std::strlen(name);
      unsigned char padded[kLongestName] = {};
      std::memcpy(padded, name, length);
      if (name[length - 1] == ';') {
        withSemicolon.Insert(KeyOf(padded, length), row);
      } else {
        withoutSemicolon.Insert(KeyOf(padded, length), row);
        longestWithoutSemicolon = std::max(longestWithoutSemicolon, length);
        for (unsigned int second = 0; second < 0x100; ++second) {
          if (length == 1 || second == static_cast<unsigned char>(name[1])) {
            lengthsWithout[LeadIndex(static_cast<unsigned char>(name[0]), second)] |= 1u << length;
          }
        }
      }
    }
  }

  // The lengths, up to `most`, of the names without ";" that begin with the
  // characters `lead` (after a run of one, the second is whatever follows it:
  // names of one character are entered under every second), one bit each:
  // most runs ahead begin none, and their prefixes need no look-up. Leads that
  // share an entry only add lengths to look up.
  uint32_t LengthsWithout(const unsigned char lead[2], size_t most) const {
    return lengthsWithout[LeadIndex(lead[0], lead[1])] & ((2u << most) - 1);
  }

  static size_t LeadIndex(unsigned char first, unsigned char second) { return (first & 0x3Fu) << 6 | (second & 0x3Fu); }

  name_table_t<12> withSemicolon;
  name_table_t<9> withoutSemicolon;
  size_t longestWithoutSemicolon = 0;
  uint32_t lengthsWithout[1 << 12] = {};  // by lead, bit n: such a name of n characters
};

const name_index_t& NameIndex() {
  static const name_index_t index;
  return index;
}

// Puts back the characters of a name that were consumed, newest first.
void UnconsumeName(InputConsumer& input, const char* name) {
  for (size_t i = std::strlen(name); i-- > 0;) input.Unconsume(static_cast<unsigned char>(name[i]));
}

}  // namespace

size_t InputConsumer::ConsumeNamedCharRef(Tokenizer& tokenizer, bool inAttribute, unsigned int* out) {
  size_t count = 0;
  bool withSemicolon = false;
  const char* name = nullptr;
  alphanumeric_run_t run;
  if (!LookupNamedCharRef(out, count, withSemicolon, name, run)) {
    if (run.ended ? run.semicolonAfter && run.length > 0 : AlphanumericRunEndsWithSemicolon(run.length))
      tokenizer.ParseError(ParseErrorCode::UnknownNamedCharacterReference, run.length);
    return 0;
  }
  if (!withSemicolon) {
    unsigned int next;
    if (inAttribute && Peek(next) && (next == '=' || IsAsciiAlphanumeric(next))) {
      UnconsumeName(*this, name);
      return 0;
    }
    tokenizer.ParseError(ParseErrorCode::MissingSemicolonAfterCharacterReference);
  }
  return count;
}

// Names are ASCII letters and digits with an optional ";" at the end, so the
// longest name ahead is either the whole run of letters and digits ahead with
// the ";" after it, or a name without ";" that begins the run, and those are
// short. The index finds the candidates among the rows; the one found is then
// consumed. The run is read in the ASCII window when the window holds it,
// ended by an ASCII byte (letters and digits are one byte each, and only ASCII
// ends a sequence's decoding as itself); otherwise it is peeked.
inline bool InputConsumer::LookupNamedCharRef(unsigned int* out, size_t& count, bool& withSemicolon, const char*& name,
                                              alphanumeric_run_t& run) {
  const name_index_t& index = NameIndex();
  const ascii_window_t ahead = AsciiWindow();
  // The run and the code point after it, as bytes: the window's own, or a
  // copy padded with zeros, which end the run as any other byte would.
  const unsigned char* bytes = ahead.bytes;
  unsigned char copy[kLongestName];
  if (ahead.size < kLongestName) {
    std::memset(copy, 0, sizeof copy);
    std::copy(ahead.bytes, ahead.bytes + ahead.size, copy);
    bytes = copy;
  }
  size_t length = AlphanumericPrefix(bytes);
  const bool inWindow = length == kLongestName || (length < ahead.size && bytes[length] < 0x80);
  const bool ended = inWindow && length < kLongestName;
  run = {length, ended, ended && bytes[length] == ';'};
  if (!inWindow) {
    // Code points above ASCII end the run: they stand in the copy as 0x80.
    unsigned int peeked[kLongestName];
    const size_t got = Peek(peeked, kLongestName);
    std::memset(copy, 0, sizeof copy);
    for (size_t i = 0; i < got; ++i) copy[i] = static_cast<unsigned char>(peeked[i] < 0x80 ? peeked[i] : 0x80);
    bytes = copy;
    length = AlphanumericPrefix(bytes);
    run = {length, length < got, length < got && bytes[length] == ';'};
  }
  const name_key_t key = KeyOf(bytes, length);
  // Consumes the name of `row`, the first `taken` characters ahead, which
  // end with ";" if `terminated`.
  const auto found = [&](const named_ref_t* row, size_t taken, bool terminated) {
    if (!row) return false;
    if (inWindow)
      Advance(taken);
    else
      Skip(taken);
    withSemicolon = terminated;
    // A row stands for one or two code points: both places are copied.
    out[0] = row->codePoints[0];
    out[1] = row->codePoints[1];
    count = row->count;
    name = row->name;
    return true;
  };
  if (run.semicolonAfter && found(index.withSemicolon.Find(KeyOf(bytes, length + 1)), length + 1, true)) {
    return true;
  }
  // Then the names without ";" that begin the run, longest first.
  uint32_t lengths = length ? index.LengthsWithout(bytes, std::min(length, index.longestWithoutSemicolon)) : 0;
  while (lengths) {
    const size_t taken = 31 - __builtin_clz(lengths);
    if (found(index.withoutSemicolon.Find(key.First(taken)), taken, false)) return true;
    lengths &= ~(1u << taken);
  }
  return false;
}

// Looks past the run of letters and digits ahead, which can be as long as the
// rest of the input, without consuming it.
bool InputConsumer::AlphanumericRunEndsWithSemicolon(size_t& length) {
  unsigned int after;
  return LookPast([](unsigned int c) { return IsAsciiAlphanumeric(c); }, length, after) && length > 0 && after == ';';
}

}  // namespace Html
}  // namespace Tessarin

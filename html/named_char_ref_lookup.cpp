#include <algorithm>
#include <cstdint>
#include <cstring>

#include "html/named_char_refs.h"
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

// FNV-1a over the characters of a name.
constexpr uint32_t kHashStart = 2166136261u;
uint32_t HashStep(uint32_t hash, char c) { return (hash ^ static_cast<unsigned char>(c)) * 16777619u; }

// Rows by name as written (";" included): an open-addressing hash table whose
// slots hold the high bits of a name's hash and its row's index plus one (0
// for an empty slot). kSlots, a power of two, keeps it under a third full.
template <size_t kSlots>
class name_table_t {
 public:
  void Insert(size_t row, uint32_t hash) {
    size_t i = hash & kSlotMask;
    while (slots[i]) i = (i + 1) & kSlotMask;
    slots[i] = (hash & kTagMask) | static_cast<uint32_t>(row + 1);
  }

  // The row whose name is exactly key[0, length), which hashes to `hash`.
  const named_ref_t* Find(const char* key, size_t length, uint32_t hash) const {
    for (size_t i = hash & kSlotMask; slots[i]; i = (i + 1) & kSlotMask) {
      if ((slots[i] & kTagMask) != (hash & kTagMask)) continue;
      const named_ref_t& row = mappedCharsByNamedRef[(slots[i] & ~kTagMask) - 1];
      if (std::strncmp(row.name, key, length) == 0 && row.name[length] == '\0') return &row;
    }
    return nullptr;
  }

 private:
  static constexpr size_t kSlotMask = kSlots - 1;
  static constexpr uint32_t kTagMask = 0xFFFF0000u;
  uint32_t slots[kSlots] = {};
};

// The names with ";" and the few without, apart, so that looking for the
// latter, which most references in a text lack, is short. Built once, on the
// first reference.
struct name_index_t {
  name_index_t() {
    for (size_t row = 0; row < CountNamedCharRef(); ++row) {
      const char* name = mappedCharsByNamedRef[row].name;
      size_t length = std::strlen(name);
      uint32_t hash = kHashStart;
      for (size_t i = 0; i < length; ++i) hash = HashStep(hash, name[i]);
      if (name[length - 1] == ';') {
        withSemicolon.Insert(row, hash);
      } else {
        withoutSemicolon.Insert(row, hash);
        longestWithoutSemicolon = std::max(longestWithoutSemicolon, length);
        lengthsWithout[static_cast<unsigned char>(name[0])] |= 1u << length;
      }
    }
  }

  // The lengths, up to `most`, of the names without ";" that begin with
  // `first`, one bit each: most runs ahead begin none, and their prefixes
  // need no look-up.
  uint32_t LengthsWithout(char first, size_t most) const {
    return lengthsWithout[static_cast<unsigned char>(first)] & ((2u << most) - 1);
  }

  name_table_t<8192> withSemicolon;
  name_table_t<512> withoutSemicolon;
  size_t longestWithoutSemicolon = 0;
  uint32_t lengthsWithout[0x100] = {};  // bit n: such a name of n characters
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
  unsigned int last = 0;
  const char* name = nullptr;
  alphanumeric_run_t run;
  if (!LookupNamedCharRef(out, count, last, name, run)) {
    if (run.ended ? run.semicolonAfter && run.length > 0 : AlphanumericRunEndsWithSemicolon(run.length))
      tokenizer.ParseError(ParseErrorCode::UnknownNamedCharacterReference, run.length);
    return 0;
  }
  if (last != ';') {
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
bool InputConsumer::LookupNamedCharRef(unsigned int* out, size_t& count, unsigned int& last, const char*& name,
                                       alphanumeric_run_t& run) {
  const name_index_t& index = NameIndex();
  char key[kLongestName + 1];
  uint32_t prefixHash[kLongestName + 1];
  prefixHash[0] = kHashStart;
  size_t length = 0;
  const ascii_window_t ahead = AsciiWindow();
  const size_t most = std::min(kLongestName, ahead.size);
  for (; length < most && kAlphanumeric[ahead.bytes[length]]; ++length) {
    key[length] = static_cast<char>(ahead.bytes[length]);
    prefixHash[length + 1] = HashStep(prefixHash[length], key[length]);
  }
  const bool inWindow = length == kLongestName || (length < ahead.size && ahead.bytes[length] < 0x80);
  const bool ended = inWindow && length < kLongestName;
  run = {length, ended, ended && ahead.bytes[length] == ';'};
  if (!inWindow) {
    unsigned int peeked[kLongestName];
    size_t got = Peek(peeked, kLongestName);
    for (length = 0; length < got && IsAsciiAlphanumeric(peeked[length]); ++length) {
      key[length] = static_cast<char>(peeked[length]);
      prefixHash[length + 1] = HashStep(prefixHash[length], key[length]);
    }
    run = {length, length < got, length < got && peeked[length] == ';'};
  }
  // Consumes the name of `row`, the first `taken` characters ahead.
  const auto found = [&](const named_ref_t* row, size_t taken) {
    if (!row) return false;
    if (inWindow)
      Advance(taken);
    else
      Skip(taken);
    last = static_cast<unsigned char>(row->name[taken - 1]);
    // A row stands for one or two code points: both places are copied.
    out[0] = row->codePoints[0];
    out[1] = row->codePoints[1];
    count = row->count;
    name = row->name;
    return true;
  };
  key[length] = ';';
  if (run.semicolonAfter &&
      found(index.withSemicolon.Find(key, length + 1, HashStep(prefixHash[length], ';')), length + 1)) {
    return true;
  }
  // Then the names without ";" that begin the run, longest first.
  uint32_t lengths = length ? index.LengthsWithout(key[0], std::min(length, index.longestWithoutSemicolon)) : 0;
  while (lengths) {
    const size_t taken = 31 - __builtin_clz(lengths);
    if (found(index.withoutSemicolon.Find(key, taken, prefixHash[taken]), taken)) return true;
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

#include <algorithm>
#include <cstring>

#include "html/tokenizer.h"

// Named character references: finding the longest name ahead in
// mappedCharsByNamedRef, and the look-ahead that tells an unknown reference
// ("&foo;") from plain text.

namespace Tessarin {
namespace Html {

namespace {

// The longest name, "CounterClockwiseContourIntegral;", bounds the look-ahead.
constexpr size_t kLongestName = 32;

// The character at k of a row's name folded to lower case, or 0 where the
// name without its ";" has ended. Rows are sorted by exactly this key, position
// by position, so the rows whose names begin with the same letters, case
// aside, lie together.
unsigned int FoldedAt(const named_ref_t& row, size_t k) {
  unsigned char c = static_cast<unsigned char>(row.name[k]);
  return c == ';' || c == '\0' ? 0 : ToAsciiLower(c);
}

struct row_span_t {
  const named_ref_t* begin;
  const named_ref_t* end;
};

// Puts back the characters of a name that were consumed, newest first.
void UnconsumeName(InputConsumer& input, const char* name) {
  for (size_t i = std::strlen(name); i-- > 0;) input.Unconsume(static_cast<unsigned char>(name[i]));
}

}  // namespace

size_t InputConsumer::ConsumeNamedCharRef(Tokenizer& tokenizer, bool inAttribute, unsigned int* out) {
  size_t count = 0;
  unsigned int last = 0;
  const char* name = nullptr;
  if (!LookupNamedCharRef(out, count, last, name)) {
    if (CheckAlphaNumStart()) tokenizer.ParseError();
    return 0;
  }
  if (last != ';') {
    unsigned int next;
    if (inAttribute && Peek(next) && (next == '=' || IsAsciiAlphanumeric(next))) {
      UnconsumeName(*this, name);
      return 0;
    }
    tokenizer.ParseError();
  }
  return count;
}

// Looks at most kLongestName code points ahead, once. The rows whose names
// without ";" equal a prefix of them, case aside, are found by narrowing a
// range of the table one code point at a time (two binary searches per code
// point); only those few rows are matched exactly, longest prefix first, and
// the first that matches is the longest name ahead.
bool InputConsumer::LookupNamedCharRef(unsigned int* out, size_t& count, unsigned int& last, const char*& name) {
  unsigned int ahead[kLongestName];
  size_t length = Peek(ahead, kLongestName);
  // sameStem[k]: the rows whose names without ";" are k + 1 long and equal the
  // first k + 1 code points ahead, case aside. Within one such span the name
  // with ";" comes before the same name without it.
  row_span_t sameStem[kLongestName];
  size_t depth = 0;
  const named_ref_t* lo = mappedCharsByNamedRef;
  const named_ref_t* hi = lo + CountNamedCharRef();
  for (size_t k = 0; k < length && IsAsciiAlphanumeric(ahead[k]); ++k) {
    unsigned int folded = ToAsciiLower(ahead[k]);
    lo = std::lower_bound(lo, hi, folded, [k](const named_ref_t& row, unsigned int c) { return FoldedAt(row, k) < c; });
    hi = std::upper_bound(lo, hi, folded, [k](unsigned int c, const named_ref_t& row) { return c < FoldedAt(row, k); });
    if (lo == hi) break;
    const named_ref_t* stemEnd = lo;
    while (stemEnd != hi && FoldedAt(*stemEnd, k + 1) == 0) ++stemEnd;
    sameStem[depth++] = {lo, stemEnd};
    lo = stemEnd;
  }
  while (depth-- > 0) {
    for (const named_ref_t* row = sameStem[depth].begin; row != sameStem[depth].end; ++row) {
      if (LookupCharRecursive(row->name, 0, last)) {
        std::copy_n(row->codePoints, row->count, out);
        count = row->count;
        name = row->name;
        return true;
      }
    }
  }
  return false;
}

bool InputConsumer::LookupCharRecursive(const char* name, size_t index, unsigned int& last) {
  unsigned int expected = static_cast<unsigned char>(name[index]);
  if (expected == '\0') return true;
  unsigned int c;
  if (!Peek(c) || c != expected) return false;
  Skip(1);
  last = c;
  if (LookupCharRecursive(name, index + 1, last)) return true;
  Unconsume(c);
  return false;
}

// The run of alphanumerics can be as long as the rest of the input, so it is
// not decoded into `pending`: the code points already there are looked at
// first, then the bytes after them. An ASCII alphanumeric and ";" are single
// bytes and the bytes are read from the start of a sequence, so the first byte
// that is no ASCII alphanumeric begins the code point that ends the run. The
// bytes are scanned where the byte stream holds them (its window), which it
// refills as they are read, and the stream is then stepped back by all it has
// advanced, so the input is exactly as before and no copy of the run is kept.
bool InputConsumer::CheckAlphaNumStart() {
  bool run = false;
  for (unsigned int c : pending) {
    if (!IsAsciiAlphanumeric(c)) return run && c == ';';
    run = true;
  }
  const RawInputStream::window_t& window = raw.Window();
  size_t advanced = 0;
  unsigned int end = kEof;
  while (end == kEof) {
    size_t at = *window.position;
    size_t limit = *window.limit;
    if (at == limit) {
      // Nothing in the window: read one byte the ordinary way, which also
      // has a buffering stream fill its window again.
      unsigned char b;
      if (!raw.Pop(b)) break;
      ++advanced;
      if (IsAsciiAlphanumeric(b)) {
        run = true;
      } else {
        end = b;
      }
      continue;
    }
    const unsigned char* bytes = window.bytes + at;
    size_t n = 0;
    while (at + n < limit && IsAsciiAlphanumeric(bytes[n])) ++n;
    run = run || n > 0;
    if (at + n < limit) end = bytes[n];
    *window.position = at + n;
    advanced += n;
  }
  raw.Push(nullptr, advanced);
  return run && end == ';';
}

}  // namespace Html
}  // namespace Tessarin

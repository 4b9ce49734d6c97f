#include <algorithm>

#include "html/tokenizer.h"

// Character references in text and numeric references; the dispatch after "&"
// is inline in consumer.h, so that a reference in text takes no call until the
// numeric or the named look-up.

namespace Tessarin {
namespace Html {

namespace {

constexpr unsigned long kMaxCodePoint = 0x10FFFF;
// Where a number is held once it has passed kMaxCodePoint: however many digits
// follow, it never comes back into the range of code points.
constexpr unsigned long kBeyondCodePoints = kMaxCodePoint + 1;
// DigitWorth of a code point that is no digit in base 10 or 16.
constexpr unsigned kNoDigit = 16;

unsigned DigitWorth(unsigned int c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return kNoDigit;
}

bool IsSurrogate(unsigned long value) { return value >= 0xD800 && value <= 0xDFFF; }

// Numbers delivered as themselves but reported: control characters other than
// whitespace and CR, the noncharacters U+FDD0 to U+FDEF and the last two code
// points of every plane.
bool IsReportedNumber(unsigned long value) {
  return (value >= 0x01 && value <= 0x08) || value == 0x0B || (value >= 0x0E && value <= 0x1F) ||
         (value >= 0x7F && value <= 0x9F) || (value >= 0xFDD0 && value <= 0xFDEF) || (value & 0xFFFE) == 0xFFFE;
}

// The loop shared by decimal and hexadecimal references: consumes a run of
// digits of `base` into value, then its ";". False, with a parse error and the
// code point after the run left in place, when there is no digit at all. A
// missing ";" is a parse error of its own, reported here, before anything
// is said about the number.
bool ConsumeDigits(InputConsumer& input, Tokenizer& tokenizer, unsigned base, unsigned long& value) {
  unsigned long digits = 0;
  unsigned int c = kEof;
  bool ahead;
  while ((ahead = input.Peek(c)) && DigitWorth(c) < base) {
    input.Skip(1);
    value = std::min(value * base + DigitWorth(c), kBeyondCodePoints);
    ++digits;
  }
  if (digits == 0) {
    tokenizer.ParseError(ParseErrorCode::AbsenceOfDigitsInNumericCharacterReference);
    return false;
  }
  if (ahead && c == ';') {
    input.Skip(1);
  } else {
    tokenizer.ParseError(ParseErrorCode::MissingSemicolonAfterCharacterReference);
  }
  return true;
}

}  // namespace

const InputConsumer::num_ref_t InputConsumer::mappedCharsByRef[34] = {
    {0x00, 0xFFFD}, {0x0D, 0x000D}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x83, 0x0192}, {0x84, 0x201E},
    {0x85, 0x2026}, {0x86, 0x2020}, {0x87, 0x2021}, {0x88, 0x02C6}, {0x89, 0x2030}, {0x8A, 0x0160}, {0x8B, 0x2039},
    {0x8C, 0x0152}, {0x8D, 0x008D}, {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018}, {0x92, 0x2019},
    {0x93, 0x201C}, {0x94, 0x201D}, {0x95, 0x2022}, {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x02DC}, {0x99, 0x2122},
    {0x9A, 0x0161}, {0x9B, 0x203A}, {0x9C, 0x0153}, {0x9D, 0x009D}, {0x9E, 0x017E}, {0x9F, 0x0178},
};

// Character reference state, entered from the data state.
void Tokenizer::CharacterReferenceInDataState() { EmitCharRefInText<&Tokenizer::DataState>(); }

// Character reference state, entered from the RCDATA state.
void Tokenizer::CharacterReferenceInRcdataState() { EmitCharRefInText<&Tokenizer::RcdataState>(); }

template <Tokenizer::State Text>
void Tokenizer::EmitCharRefInText() {
  SwitchTo<Text>();
  unsigned int out[2];
  size_t count = consumer.ConsumeCharRef(*this, nullptr, false, out);
  if (count == 0) {
    EmitCharToken('&');
    return;
  }
  for (size_t i = 0; i < count; ++i) EmitCharToken(out[i]);
}

bool InputConsumer::ConsumeNumericCharRef(Tokenizer& tokenizer, unsigned int& cp) {
  unsigned long value = 0;
  unsigned int c = kEof;
  bool hex = Peek(c) && (c == 'x' || c == 'X');
  if (hex) Skip(1);
  if (!(hex ? ConsumeHexCharRef(tokenizer, static_cast<char>(c), value) : ConsumeDecCharRef(tokenizer, value)))
    return false;
  if (LookupRef(value, cp)) {
    tokenizer.ParseError(value == 0 ? ParseErrorCode::NullCharacterReference
                                    : ParseErrorCode::ControlCharacterReference);
    return true;
  }
  if (IsSurrogate(value) || value > kMaxCodePoint) {
    tokenizer.ParseError(IsSurrogate(value) ? ParseErrorCode::SurrogateCharacterReference
                                            : ParseErrorCode::CharacterReferenceOutsideUnicodeRange);
    cp = kReplacement;
    return true;
  }
  cp = static_cast<unsigned int>(value);
  if (IsReportedNumber(value)) {
    tokenizer.ParseError(value >= 0xFDD0 ? ParseErrorCode::NoncharacterCharacterReference
                                         : ParseErrorCode::ControlCharacterReference);
  }
  return true;
}

bool InputConsumer::ConsumeDecCharRef(Tokenizer& tokenizer, unsigned long& value) {
  return ConsumeDigits(*this, tokenizer, 10, value);
}

bool InputConsumer::ConsumeHexCharRef(Tokenizer& tokenizer, char x, unsigned long& value) {
  if (ConsumeDigits(*this, tokenizer, 16, value)) return true;
  Unconsume(static_cast<unsigned char>(x));
  return false;
}

bool InputConsumer::LookupRef(unsigned long number, unsigned int& cp) {
  // Every row's number is below 0xA0: most references need no scan.
  if (number >= 0xA0) return false;
  for (const num_ref_t& row : mappedCharsByRef) {
    if (row.number == number) {
      cp = row.codePoint;
      return true;
    }
  }
  return false;
}

}  // namespace Html
}  // namespace Tessarin

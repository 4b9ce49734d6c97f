#include "html/tag_stops.h"
#include "html/tokenizer.h"

// The attribute states. The current attribute is the last one in the list.
// An attribute whose name repeats a kept one stays there, marked dropped, so
// that its value still runs through the value states (their parse errors and
// character references included); the next attribute reuses its place and
// EmitTagToken leaves it out. Upper-case letters are lowered in the default
// branch of the name states, which folds their A to Z row into the last row.

namespace Tessarin {
namespace Html {

// Every attribute before `position` is kept (a dropped one is always last),
// so their names are distinct and at most one of them can match.
bool Tokenizer::RepeatsKeptName(unsigned long position) {
  if (position >= kIndexedFrom) {
    // The index holds the first `count` positions: add the kept ones it lacks,
    // then this one. Only the last insertion can find its name already there.
    using Outcome = attr_name_index_t::Outcome;
    Outcome outcome = Outcome::Added;
    for (unsigned long i = attributeNames.count; outcome == Outcome::Added && i <= position; ++i) {
      outcome = attributeNames.Insert(attributes, i);
    }
    if (outcome != Outcome::OutOfMemory) return outcome == Outcome::Repeated;
    MemoryRanOut();
  }
  const attr_t& current = attributes.data[position];
  for (unsigned long i = 0; i < position; ++i) {
    if (SameName(attributes.data[i], current)) return true;
  }
  return false;
}

// Before attribute name state.
void Tokenizer::BeforeAttributeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '/':
      SwitchTo<&Tokenizer::SelfClosingStartTagState>();
      break;
    case '>':
      EmitCurrentTag();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      StartAttribute(kReplacement);
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
    case '=':
      ParseError(ParseErrorCode::UnexpectedEqualsSignBeforeAttributeName);
      StartAttribute(c);
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
    case '"':
    case '\'':
    case '<':
      ParseError(ParseErrorCode::UnexpectedCharacterInAttributeName);
      StartAttribute(c);
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      StartAttribute(ToAsciiLower(c));
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
  }
}

// Attribute name state.
void Tokenizer::AttributeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      LeaveAttributeName();
      SwitchTo<&Tokenizer::AfterAttributeNameState>();
      break;
    case '/':
      LeaveAttributeName();
      SwitchTo<&Tokenizer::SelfClosingStartTagState>();
      break;
    case '=':
      LeaveAttributeName();
      SwitchTo<&Tokenizer::BeforeAttributeValueState>();
      break;
    case '>':
      LeaveAttributeName();
      EmitCurrentTag();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      AppendToName(kReplacement);
      break;
    case '"':
    case '\'':
    case '<':
      ParseError(ParseErrorCode::UnexpectedCharacterInAttributeName);
      AppendToName(c);
      break;
    case kEof:
      // The end-of-input error comes before the repeated name's.
      ParseError(ParseErrorCode::EofInTag);
      LeaveAttributeName();
      DropTagAtEof();
      break;
    default:
      AppendToName(ToAsciiLower(c));
      break;
  }
}

// Its fast path: the code points without a row of their own
// (kAttributeNameStops) are appended, A to Z lowered.
unsigned long Tokenizer::AttributeNameRun(unsigned long budget) {
  return AppendRun<true>(attributes.Back().name, kAttributeNameStops, budget);
}

// After attribute name state.
void Tokenizer::AfterAttributeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '/':
      SwitchTo<&Tokenizer::SelfClosingStartTagState>();
      break;
    case '=':
      SwitchTo<&Tokenizer::BeforeAttributeValueState>();
      break;
    case '>':
      EmitCurrentTag();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      StartAttribute(kReplacement);
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
    case '"':
    case '\'':
    case '<':
      ParseError(ParseErrorCode::UnexpectedCharacterInAttributeName);
      StartAttribute(c);
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      StartAttribute(ToAsciiLower(c));
      SwitchTo<&Tokenizer::AttributeNameState>();
      break;
  }
}

// Before attribute value state.
void Tokenizer::BeforeAttributeValueState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '"':
      SwitchTo<&Tokenizer::AttributeValueDoubleQuotedState>();
      break;
    case '&':
      Reconsume<&Tokenizer::AttributeValueUnquotedState>(c);
      break;
    case '\'':
      SwitchTo<&Tokenizer::AttributeValueSingleQuotedState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      AppendToValue(kReplacement);
      SwitchTo<&Tokenizer::AttributeValueUnquotedState>();
      break;
    case '>':
      ParseError(ParseErrorCode::MissingAttributeValue);
      EmitCurrentTag();
      break;
    case '<':
    case '=':
    case '`':
      ParseError(ParseErrorCode::UnexpectedCharacterInUnquotedAttributeValue);
      AppendToValue(c);
      SwitchTo<&Tokenizer::AttributeValueUnquotedState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      AppendToValue(c);
      SwitchTo<&Tokenizer::AttributeValueUnquotedState>();
      break;
  }
}

// Attribute value (double-quoted) and attribute value (single-quoted) states.
// The two quoted value states differ only in their quote, which closes the
// value and is the additional allowed character of a reference in it.
template <unsigned int Quote>
void Tokenizer::QuotedAttributeValue(State self) {
  returnState = self;
  unsigned int c = consumer.Consume();
  switch (c) {
    case Quote:
      SwitchTo<&Tokenizer::AfterAttributeValueQuotedState>();
      break;
    case '&':
      additionalAllowedChar = Quote;
      SwitchTo<&Tokenizer::CharacterReferenceInAttributeValueState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      AppendToValue(kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      AppendToValue(c);
      break;
  }
}

// Their fast paths: the code points without a row of their own
// (kQuotedValueStops) are appended.

// Attribute value (double-quoted) state.
void Tokenizer::AttributeValueDoubleQuotedState() {
  QuotedAttributeValue<'"'>(&Tokenizer::AttributeValueDoubleQuotedState);
}

unsigned long Tokenizer::AttributeValueDoubleQuotedRun(unsigned long budget) {
  return AppendValueRun(kQuotedValueStops<'"'>, budget);
}

// Attribute value (single-quoted) state.
void Tokenizer::AttributeValueSingleQuotedState() {
  QuotedAttributeValue<'\''>(&Tokenizer::AttributeValueSingleQuotedState);
}

unsigned long Tokenizer::AttributeValueSingleQuotedRun(unsigned long budget) {
  return AppendValueRun(kQuotedValueStops<'\''>, budget);
}

// Attribute value (unquoted) state.
void Tokenizer::AttributeValueUnquotedState() {
  returnState = &Tokenizer::AttributeValueUnquotedState;
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo<&Tokenizer::BeforeAttributeNameState>();
      break;
    case '&':
      additionalAllowedChar = '>';
      SwitchTo<&Tokenizer::CharacterReferenceInAttributeValueState>();
      break;
    case '>':
      EmitCurrentTag();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      AppendToValue(kReplacement);
      break;
    case '"':
    case '\'':
    case '<':
    case '=':
    case '`':
      ParseError(ParseErrorCode::UnexpectedCharacterInUnquotedAttributeValue);
      AppendToValue(c);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      AppendToValue(c);
      break;
  }
}

// Its fast path: the code points without a row of their own
// (kUnquotedValueStops) are appended.
unsigned long Tokenizer::AttributeValueUnquotedRun(unsigned long budget) {
  return AppendValueRun(kUnquotedValueStops, budget);
}

// After attribute value (quoted) state.
void Tokenizer::AfterAttributeValueQuotedState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo<&Tokenizer::BeforeAttributeNameState>();
      break;
    case '/':
      SwitchTo<&Tokenizer::SelfClosingStartTagState>();
      break;
    case '>':
      EmitCurrentTag();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      ParseError(ParseErrorCode::MissingWhitespaceBetweenAttributes);
      Reconsume<&Tokenizer::BeforeAttributeNameState>(c);
      break;
  }
}

// Character reference state, entered from an attribute value state.
void Tokenizer::CharacterReferenceInAttributeValueState() {
  unsigned int out[2];
  size_t count = consumer.ConsumeCharRef(*this, &additionalAllowedChar, true, out);
  if (count == 0) AppendToValue('&');
  for (size_t i = 0; i < count; ++i) AppendToValue(out[i]);
  SwitchTo(returnState);
}

}  // namespace Html
}  // namespace Tessarin

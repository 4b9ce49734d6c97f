#pragma once

#include <cstdint>

namespace Tessarin {
namespace Html {

// The parse errors of the tokenizer, named after the codes of the WHATWG
// tokenizer, plus three of this tokenizer's own for the comment end state,
// which reports "--" followed by "-", "!" or any other code point.
enum class ParseErrorCode : unsigned char {
  AbruptClosingOfEmptyComment,
  AbruptDoctypePublicIdentifier,
  AbruptDoctypeSystemIdentifier,
  AbsenceOfDigitsInNumericCharacterReference,
  CdataInHtmlContent,
  CharacterReferenceOutsideUnicodeRange,
  ControlCharacterInInputStream,
  ControlCharacterReference,
  DuplicateAttribute,
  EndTagWithAttributes,
  EndTagWithTrailingSolidus,
  EofBeforeTagName,
  EofInCdata,
  EofInComment,
  EofInDoctype,
  EofInScriptHtmlCommentLikeText,
  EofInTag,
  IncorrectlyClosedComment,
  IncorrectlyOpenedComment,
  InvalidCharacterSequenceAfterDoctypeName,
  InvalidFirstCharacterOfTagName,
  MissingAttributeValue,
  MissingDoctypeName,
  MissingDoctypePublicIdentifier,
  MissingDoctypeSystemIdentifier,
  MissingEndTagName,
  MissingQuoteBeforeDoctypePublicIdentifier,
  MissingQuoteBeforeDoctypeSystemIdentifier,
  MissingSemicolonAfterCharacterReference,
  MissingWhitespaceAfterDoctypePublicKeyword,
  MissingWhitespaceAfterDoctypeSystemKeyword,
  MissingWhitespaceBeforeDoctypeName,
  MissingWhitespaceBetweenAttributes,
  MissingWhitespaceBetweenDoctypePublicAndSystemIdentifiers,
  NestedComment,
  NoncharacterCharacterReference,
  NoncharacterInInputStream,
  NonVoidHtmlElementStartTagWithTrailingSolidus,
  NullCharacterReference,
  SurrogateCharacterReference,
  SurrogateInInputStream,
  UnexpectedCharacterAfterDoctypeSystemIdentifier,
  UnexpectedCharacterInAttributeName,
  UnexpectedCharacterInUnquotedAttributeValue,
  UnexpectedEqualsSignBeforeAttributeName,
  UnexpectedNullCharacter,
  UnexpectedQuestionMarkInsteadOfTagName,
  UnexpectedSolidusInTag,
  UnknownNamedCharacterReference,
  // This tokenizer's own.
  UnexpectedDashAfterDoubleDashInComment,
  UnexpectedBangAfterDoubleDashInComment,
  UnexpectedCharacterAfterDoubleDashInComment,
};

constexpr unsigned kParseErrorCodeCount =
    static_cast<unsigned>(ParseErrorCode::UnexpectedCharacterAfterDoubleDashInComment) + 1;

// The code's name as the WHATWG tokenizer spells it, e.g. "eof-in-tag".
const char* ParseErrorName(ParseErrorCode code);

// Where an error stands: the code point `after` code points past the one that
// begins at byte `offset` of the input.
struct error_place_t {
  uint64_t offset;
  unsigned long after;
};

}  // namespace Html
}  // namespace Tessarin

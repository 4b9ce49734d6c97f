#include "html/tokenizer.h"

// DOCTYPE tokens: name, public identifier and system identifier. A DOCTYPE
// has no force-quirks flag; doctypeFlags records only the missing fields.

namespace Tessarin {
namespace Html {

const unsigned int Tokenizer::_public[6] = {'P', 'U', 'B', 'L', 'I', 'C'};
const unsigned int Tokenizer::_system[6] = {'S', 'Y', 'S', 'T', 'E', 'M'};

namespace {

// A field as OnDoctype receives it: null when the token does not have it.
template <typename Buffer>
const unsigned int* FieldData(const Buffer& field, bool missing) {
  return missing ? nullptr : field.data;
}
template <typename Buffer>
unsigned long FieldSize(const Buffer& field, bool missing) {
  return missing ? 0 : field.size;
}

}  // namespace

void Tokenizer::BeginDoctype(unsigned int first) {
  BeginNamelessDoctype();
  doctypeFlags &= ~kNameMissing;
  Append(doctypeName, first);
}

void Tokenizer::BeginNamelessDoctype() {
  // The storage may still hold an earlier token's fields; they are not ours.
  doctypeName.Init();
  publicId.Init();
  systemId.Init();
  doctypeFlags = kNameMissing | kPublicIdMissing | kSystemIdMissing;
  liveToken = TokenKind::Doctype;
}

void Tokenizer::SetPublicIdEmpty() {
  publicId.Init();
  doctypeFlags &= ~kPublicIdMissing;
}

void Tokenizer::SetSystemIdEmpty() {
  systemId.Init();
  doctypeFlags &= ~kSystemIdMissing;
}

void Tokenizer::EmitDoctype() {
  SwitchTo<&Tokenizer::DataState>();
  EmitDoctypeToken();
}

void Tokenizer::EmitDoctypeAtEof() {
  ReconsumeEofInData();
  EmitDoctypeToken();
}

void Tokenizer::EmitDoctypeToken() {
  bool noName = doctypeFlags & kNameMissing;
  bool noPublicId = doctypeFlags & kPublicIdMissing;
  bool noSystemId = doctypeFlags & kSystemIdMissing;
  handler->OnDoctype(FieldData(doctypeName, noName), FieldSize(doctypeName, noName), FieldData(publicId, noPublicId),
                     FieldSize(publicId, noPublicId), FieldData(systemId, noSystemId), FieldSize(systemId, noSystemId));
  TokenReported();
  ReleaseToken();
}

// DOCTYPE state.
void Tokenizer::DoctypeState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo<&Tokenizer::BeforeDoctypeNameState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      BeginNamelessDoctype();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(ParseErrorCode::MissingWhitespaceBeforeDoctypeName);
      Reconsume<&Tokenizer::BeforeDoctypeNameState>(c);
      break;
  }
}

// Before DOCTYPE name state.
void Tokenizer::BeforeDoctypeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      BeginDoctype(kReplacement);
      SwitchTo<&Tokenizer::DoctypeNameState>();
      break;
    case '>':
      ParseError(ParseErrorCode::MissingDoctypeName);
      BeginNamelessDoctype();
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      BeginNamelessDoctype();
      EmitDoctypeAtEof();
      break;
    default:  // A to Z are lowered, anything else is kept
      BeginDoctype(ToAsciiLower(c));
      SwitchTo<&Tokenizer::DoctypeNameState>();
      break;
  }
}

// DOCTYPE name state.
void Tokenizer::DoctypeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo<&Tokenizer::AfterDoctypeNameState>();
      break;
    case '>':
      EmitDoctype();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      Append(doctypeName, kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:  // A to Z are lowered, anything else is kept
      Append(doctypeName, ToAsciiLower(c));
      break;
  }
}

// After DOCTYPE name state.
void Tokenizer::AfterDoctypeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '>':
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      if (ContinuesKeyword(c, _public)) {
        SwitchTo<&Tokenizer::AfterDoctypePublicKeywordState>();
      } else if (ContinuesKeyword(c, _system)) {
        SwitchTo<&Tokenizer::AfterDoctypeSystemKeywordState>();
      } else {
        ParseError(ParseErrorCode::InvalidCharacterSequenceAfterDoctypeName);
        SwitchTo<&Tokenizer::BogusDoctypeState>();
      }
      break;
  }
}

// The public and system identifiers pass through states of the same shape
// that differ in the field they fill and in the states they lead to.
struct Tokenizer::doctype_identifier_t {
  void (Tokenizer::*setEmpty)();
  State before;  // skips whitespace ahead of the opening quote
  State doubleQuoted;
  State singleQuoted;
  ParseErrorCode missingWhitespace;  // after the keyword
  ParseErrorCode missing;            // no identifier before ">"
  ParseErrorCode missingQuote;
};

const Tokenizer::doctype_identifier_t Tokenizer::publicIdentifier = {
    &Tokenizer::SetPublicIdEmpty,
    &Tokenizer::BeforeDoctypePublicIdentifierState,
    &Tokenizer::DoctypePublicIdentifierDoubleQuotedState,
    &Tokenizer::DoctypePublicIdentifierSingleQuotedState,
    ParseErrorCode::MissingWhitespaceAfterDoctypePublicKeyword,
    ParseErrorCode::MissingDoctypePublicIdentifier,
    ParseErrorCode::MissingQuoteBeforeDoctypePublicIdentifier,
};

const Tokenizer::doctype_identifier_t Tokenizer::systemIdentifier = {
    &Tokenizer::SetSystemIdEmpty,
    &Tokenizer::BeforeDoctypeSystemIdentifierState,
    &Tokenizer::DoctypeSystemIdentifierDoubleQuotedState,
    &Tokenizer::DoctypeSystemIdentifierSingleQuotedState,
    ParseErrorCode::MissingWhitespaceAfterDoctypeSystemKeyword,
    ParseErrorCode::MissingDoctypeSystemIdentifier,
    ParseErrorCode::MissingQuoteBeforeDoctypeSystemIdentifier,
};

void Tokenizer::OpenIdentifier(const doctype_identifier_t& identifier, State quoted) {
  (this->*identifier.setEmpty)();
  SwitchTo(quoted);
}

// After DOCTYPE public keyword and after DOCTYPE system keyword states.
void Tokenizer::AfterDoctypeKeyword(const doctype_identifier_t& identifier) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(identifier.before);
      break;
    case '"':
      ParseError(identifier.missingWhitespace);
      OpenIdentifier(identifier, identifier.doubleQuoted);
      break;
    case '\'':
      ParseError(identifier.missingWhitespace);
      OpenIdentifier(identifier, identifier.singleQuoted);
      break;
    case '>':
      ParseError(identifier.missing);
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(identifier.missingQuote);
      SwitchTo<&Tokenizer::BogusDoctypeState>();
      break;
  }
}

// Before DOCTYPE public identifier and before DOCTYPE system identifier states.
void Tokenizer::BeforeDoctypeIdentifier(const doctype_identifier_t& identifier) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '"':
      OpenIdentifier(identifier, identifier.doubleQuoted);
      break;
    case '\'':
      OpenIdentifier(identifier, identifier.singleQuoted);
      break;
    case '>':
      ParseError(identifier.missing);
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(identifier.missingQuote);
      SwitchTo<&Tokenizer::BogusDoctypeState>();
      break;
  }
}

// DOCTYPE public and system identifier (double-quoted) and (single-quoted) states.
template <unsigned int Quote, typename Buffer>
void Tokenizer::QuotedDoctypeIdentifier(Buffer& identifier, State after, ParseErrorCode abrupt) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case Quote:
      SwitchTo(after);
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      Append(identifier, kReplacement);
      break;
    case '>':
      ParseError(abrupt);
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      Append(identifier, c);
      break;
  }
}

// After DOCTYPE public keyword state.
void Tokenizer::AfterDoctypePublicKeywordState() { AfterDoctypeKeyword(publicIdentifier); }

// Before DOCTYPE public identifier state.
void Tokenizer::BeforeDoctypePublicIdentifierState() { BeforeDoctypeIdentifier(publicIdentifier); }

// DOCTYPE public identifier (double-quoted) state.
void Tokenizer::DoctypePublicIdentifierDoubleQuotedState() {
  QuotedDoctypeIdentifier<'"'>(publicId, &Tokenizer::AfterDoctypePublicIdentifierState,
                               ParseErrorCode::AbruptDoctypePublicIdentifier);
}

// DOCTYPE public identifier (single-quoted) state.
void Tokenizer::DoctypePublicIdentifierSingleQuotedState() {
  QuotedDoctypeIdentifier<'\''>(publicId, &Tokenizer::AfterDoctypePublicIdentifierState,
                                ParseErrorCode::AbruptDoctypePublicIdentifier);
}

// After DOCTYPE public identifier state.
void Tokenizer::AfterDoctypePublicIdentifierState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo<&Tokenizer::BetweenDoctypePublicAndSystemIdentifiersState>();
      break;
    case '>':
      EmitDoctype();
      break;
    case '"':
      ParseError(ParseErrorCode::MissingWhitespaceBetweenDoctypePublicAndSystemIdentifiers);
      OpenIdentifier(systemIdentifier, systemIdentifier.doubleQuoted);
      break;
    case '\'':
      ParseError(ParseErrorCode::MissingWhitespaceBetweenDoctypePublicAndSystemIdentifiers);
      OpenIdentifier(systemIdentifier, systemIdentifier.singleQuoted);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(ParseErrorCode::MissingQuoteBeforeDoctypeSystemIdentifier);
      SwitchTo<&Tokenizer::BogusDoctypeState>();
      break;
  }
}

// Between DOCTYPE public and system identifiers state.
void Tokenizer::BetweenDoctypePublicAndSystemIdentifiersState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '>':
      EmitDoctype();
      break;
    case '"':
      OpenIdentifier(systemIdentifier, systemIdentifier.doubleQuoted);
      break;
    case '\'':
      OpenIdentifier(systemIdentifier, systemIdentifier.singleQuoted);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(ParseErrorCode::MissingQuoteBeforeDoctypeSystemIdentifier);
      SwitchTo<&Tokenizer::BogusDoctypeState>();
      break;
  }
}

// After DOCTYPE system keyword state.
void Tokenizer::AfterDoctypeSystemKeywordState() { AfterDoctypeKeyword(systemIdentifier); }

// Before DOCTYPE system identifier state.
void Tokenizer::BeforeDoctypeSystemIdentifierState() { BeforeDoctypeIdentifier(systemIdentifier); }

// DOCTYPE system identifier (double-quoted) state.
void Tokenizer::DoctypeSystemIdentifierDoubleQuotedState() {
  QuotedDoctypeIdentifier<'"'>(systemId, &Tokenizer::AfterDoctypeSystemIdentifierState,
                               ParseErrorCode::AbruptDoctypeSystemIdentifier);
}

// DOCTYPE system identifier (single-quoted) state.
void Tokenizer::DoctypeSystemIdentifierSingleQuotedState() {
  QuotedDoctypeIdentifier<'\''>(systemId, &Tokenizer::AfterDoctypeSystemIdentifierState,
                                ParseErrorCode::AbruptDoctypeSystemIdentifier);
}

// After DOCTYPE system identifier state.
void Tokenizer::AfterDoctypeSystemIdentifierState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '>':
      EmitDoctype();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInDoctype);
      EmitDoctypeAtEof();
      break;
    default:
      ParseError(ParseErrorCode::UnexpectedCharacterAfterDoctypeSystemIdentifier);
      SwitchTo<&Tokenizer::BogusDoctypeState>();
      break;
  }
}

// Bogus DOCTYPE state.
void Tokenizer::BogusDoctypeState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '>':
      EmitDoctype();
      break;
    case kEof:
      EmitDoctypeAtEof();
      break;
    default:
      break;
  }
}

}  // namespace Html
}  // namespace Tessarin

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
  SwitchTo(&Tokenizer::DataState);
  EmitDoctypeToken();
}

void Tokenizer::EmitDoctypeAtEof() {
  EmitDoctypeToken();
  ReconsumeEofInData();
}

void Tokenizer::EmitDoctypeToken() {
  bool noName = doctypeFlags & kNameMissing;
  bool noPublicId = doctypeFlags & kPublicIdMissing;
  bool noSystemId = doctypeFlags & kSystemIdMissing;
  handler->OnDoctype(FieldData(doctypeName, noName), FieldSize(doctypeName, noName), FieldData(publicId, noPublicId),
                     FieldSize(publicId, noPublicId), FieldData(systemId, noSystemId),
                     FieldSize(systemId, noSystemId));
  ReleaseToken();
}

void Tokenizer::DoctypeState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(&Tokenizer::BeforeDoctypeNameState);
      break;
    case kEof:
      ParseError();
      BeginNamelessDoctype();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      Reconsume(&Tokenizer::BeforeDoctypeNameState, c);
      break;
  }
}

void Tokenizer::BeforeDoctypeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case kNull:
      ParseError();
      BeginDoctype(kReplacement);
      SwitchTo(&Tokenizer::DoctypeNameState);
      break;
    case '>':
      ParseError();
      BeginNamelessDoctype();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      BeginNamelessDoctype();
      EmitDoctypeAtEof();
      break;
    default:  // A to Z are lowered, anything else is kept
      BeginDoctype(ToAsciiLower(c));
      SwitchTo(&Tokenizer::DoctypeNameState);
      break;
  }
}

void Tokenizer::DoctypeNameState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(&Tokenizer::AfterDoctypeNameState);
      break;
    case '>':
      EmitDoctype();
      break;
    case kNull:
      ParseError();
      Append(doctypeName, kReplacement);
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:  // A to Z are lowered, anything else is kept
      Append(doctypeName, ToAsciiLower(c));
      break;
  }
}

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
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      // The keyword starts with the code point just read: look ahead from it.
      consumer.Push(c);
      if (ConsumeKeyword(_public)) {
        SwitchTo(&Tokenizer::AfterDoctypePublicKeywordState);
      } else if (ConsumeKeyword(_system)) {
        SwitchTo(&Tokenizer::AfterDoctypeSystemKeywordState);
      } else {
        consumer.Skip(1);
        ParseError();
        SwitchTo(&Tokenizer::BogusDoctypeState);
      }
      break;
  }
}

void Tokenizer::AfterDoctypePublicKeywordState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(&Tokenizer::BeforeDoctypePublicIdentifierState);
      break;
    case '"':
      ParseError();
      SetPublicIdEmpty();
      SwitchTo(&Tokenizer::DoctypePublicIdentifierDoubleQuotedState);
      break;
    case '\'':
      ParseError();
      SetPublicIdEmpty();
      SwitchTo(&Tokenizer::DoctypePublicIdentifierSingleQuotedState);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

void Tokenizer::BeforeDoctypePublicIdentifierState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '"':
      SetPublicIdEmpty();
      SwitchTo(&Tokenizer::DoctypePublicIdentifierDoubleQuotedState);
      break;
    case '\'':
      SetPublicIdEmpty();
      SwitchTo(&Tokenizer::DoctypePublicIdentifierSingleQuotedState);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

void Tokenizer::DoctypePublicIdentifierDoubleQuotedState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '"':
      SwitchTo(&Tokenizer::AfterDoctypePublicIdentifierState);
      break;
    case kNull:
      ParseError();
      Append(publicId, kReplacement);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      Append(publicId, c);
      break;
  }
}

void Tokenizer::DoctypePublicIdentifierSingleQuotedState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\'':
      SwitchTo(&Tokenizer::AfterDoctypePublicIdentifierState);
      break;
    case kNull:
      ParseError();
      Append(publicId, kReplacement);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      Append(publicId, c);
      break;
  }
}

void Tokenizer::AfterDoctypePublicIdentifierState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(&Tokenizer::BetweenDoctypePublicAndSystemIdentifiersState);
      break;
    case '>':
      EmitDoctype();
      break;
    case '"':
      ParseError();
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierDoubleQuotedState);
      break;
    case '\'':
      ParseError();
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierSingleQuotedState);
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

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
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierDoubleQuotedState);
      break;
    case '\'':
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierSingleQuotedState);
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

void Tokenizer::AfterDoctypeSystemKeywordState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      SwitchTo(&Tokenizer::BeforeDoctypeSystemIdentifierState);
      break;
    case '"':
      ParseError();
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierDoubleQuotedState);
      break;
    case '\'':
      ParseError();
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierSingleQuotedState);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

void Tokenizer::BeforeDoctypeSystemIdentifierState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      break;
    case '"':
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierDoubleQuotedState);
      break;
    case '\'':
      SetSystemIdEmpty();
      SwitchTo(&Tokenizer::DoctypeSystemIdentifierSingleQuotedState);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

void Tokenizer::DoctypeSystemIdentifierDoubleQuotedState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '"':
      SwitchTo(&Tokenizer::AfterDoctypeSystemIdentifierState);
      break;
    case kNull:
      ParseError();
      Append(systemId, kReplacement);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      Append(systemId, c);
      break;
  }
}

void Tokenizer::DoctypeSystemIdentifierSingleQuotedState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\'':
      SwitchTo(&Tokenizer::AfterDoctypeSystemIdentifierState);
      break;
    case kNull:
      ParseError();
      Append(systemId, kReplacement);
      break;
    case '>':
      ParseError();
      EmitDoctype();
      break;
    case kEof:
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      Append(systemId, c);
      break;
  }
}

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
      ParseError();
      EmitDoctypeAtEof();
      break;
    default:
      ParseError();
      SwitchTo(&Tokenizer::BogusDoctypeState);
      break;
  }
}

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

#include "html/tokenizer.h"

// RCDATA, RAWTEXT and PLAINTEXT, and the less-than sign, end tag open and end
// tag name states that RCDATA, RAWTEXT and script data share: text that only
// the appropriate end tag (the last start tag's) ends.

namespace Tessarin {
namespace Html {

// RCDATA state.
void Tokenizer::RcdataState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '&':
      SwitchTo<&Tokenizer::CharacterReferenceInRcdataState>();
      break;
    case '<':
      SwitchTo<&Tokenizer::RcdataLessThanSignState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

// Its fast path: the text up to the next row of its own reaches the handler in blocks.
constexpr run_stops_t kRcdataStops = RunStops({'&', '<', kNull});
unsigned long Tokenizer::RcdataRun(unsigned long budget) { return EmitTextRun(kRcdataStops, budget); }

// RAWTEXT state.
void Tokenizer::RawtextState() { RawText(&Tokenizer::RawtextLessThanSignState); }

// Its fast path, and that of script data.
constexpr run_stops_t kRawTextStops = RunStops({'<', kNull});
unsigned long Tokenizer::RawtextRun(unsigned long budget) { return EmitTextRun(kRawTextStops, budget); }

// The RAWTEXT and script data states.
void Tokenizer::RawText(State lessThanSign) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '<':
      SwitchTo(lessThanSign);
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

// PLAINTEXT state.
void Tokenizer::PlaintextState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

// Its fast path.
constexpr run_stops_t kPlaintextStops = RunStops({kNull});
unsigned long Tokenizer::PlaintextRun(unsigned long budget) { return EmitTextRun(kPlaintextStops, budget); }

// RCDATA less-than sign state.
void Tokenizer::RcdataLessThanSignState() {
  TextLessThanSign(&Tokenizer::RcdataState, &Tokenizer::RcdataEndTagOpenState);
}

// RAWTEXT less-than sign state.
void Tokenizer::RawtextLessThanSignState() {
  TextLessThanSign(&Tokenizer::RawtextState, &Tokenizer::RawtextEndTagOpenState);
}

void Tokenizer::TextLessThanSign(State text, State endTagOpen) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '/':
      ClearTemporaryBuffer();
      SwitchTo(endTagOpen);
      break;
    default:
      Reconsume(text, c);
      EmitCharToken('<');
      break;
  }
}

// RCDATA end tag open state.
void Tokenizer::RcdataEndTagOpenState() { TextEndTagOpen(&Tokenizer::RcdataState, &Tokenizer::RcdataEndTagNameState); }

// RAWTEXT end tag open state.
void Tokenizer::RawtextEndTagOpenState() {
  TextEndTagOpen(&Tokenizer::RawtextState, &Tokenizer::RawtextEndTagNameState);
}

// The end tag token is begun only once its name is known to be appropriate
// (BeginAppropriateEndTag): until then the temporary buffer holds the name.
void Tokenizer::TextEndTagOpen(State text, State endTagName) {
  unsigned int c = consumer.Consume();
  if (IsAsciiAlpha(c)) {
    Reconsume(endTagName, c);
  } else {
    Reconsume(text, c);
    EmitCharToken('<');
    EmitCharToken('/');
  }
}

// RCDATA end tag name state.
void Tokenizer::RcdataEndTagNameState() { TextEndTagName(&Tokenizer::RcdataState); }

// RAWTEXT end tag name state.
void Tokenizer::RawtextEndTagNameState() { TextEndTagName(&Tokenizer::RawtextState); }

// The rows that find the end tag not appropriate fall through to the last.
void Tokenizer::TextEndTagName(State text) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
      if (BeginAppropriateEndTag()) {
        SwitchTo<&Tokenizer::BeforeAttributeNameState>();
        return;
      }
      break;
    case '/':
      if (BeginAppropriateEndTag()) {
        SwitchTo<&Tokenizer::SelfClosingStartTagState>();
        return;
      }
      break;
    case '>':
      if (BeginAppropriateEndTag()) {
        EmitCurrentTag();
        return;
      }
      break;
    default:
      if (IsAsciiAlpha(c)) {
        Append(temporaryBuffer, c);
        return;
      }
      break;
  }
  Reconsume(text, c);
  EmitEndTagAsText();
}

bool Tokenizer::BeginAppropriateEndTag() {
  const unsigned long length = temporaryBuffer.size;
  if (length == 0 || length != lastStartTag.size) return false;
  for (unsigned long i = 0; i < length; ++i) {
    if (ToAsciiLower(temporaryBuffer.data[i]) != lastStartTag.data[i]) return false;
  }
  BeginTag(ToAsciiLower(temporaryBuffer.data[0]), true);
  for (unsigned long i = 1; i < length; ++i) Append(tagName, ToAsciiLower(temporaryBuffer.data[i]));
  return true;
}

void Tokenizer::EmitEndTagAsText() {
  EmitCharToken('<');
  EmitCharToken('/');
  for (unsigned long i = 0; i < temporaryBuffer.size; ++i) EmitCharToken(temporaryBuffer.data[i]);
}

}  // namespace Html
}  // namespace Tessarin

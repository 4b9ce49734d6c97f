#include <algorithm>

#include "html/tokenizer.h"

// Script data and its escaped ("<!--" ... "-->") and double escaped
// ("<script>" inside that) forms.

namespace Tessarin {
namespace Html {

// What tells the escaped states from the double escaped ones: where they lead,
// and whether "<" is emitted at once.
struct Tokenizer::script_escape_t {
  State text;
  State dash;
  State dashDash;
  State lessThanSign;
  bool emitsLessThanSign;
};

const Tokenizer::script_escape_t Tokenizer::escaped = {
    &Tokenizer::ScriptDataEscapedState, &Tokenizer::ScriptDataEscapedDashState,
    &Tokenizer::ScriptDataEscapedDashDashState, &Tokenizer::ScriptDataEscapedLessThanSignState, false};
const Tokenizer::script_escape_t Tokenizer::doubleEscaped = {
    &Tokenizer::ScriptDataDoubleEscapedState, &Tokenizer::ScriptDataDoubleEscapedDashState,
    &Tokenizer::ScriptDataDoubleEscapedDashDashState, &Tokenizer::ScriptDataDoubleEscapedLessThanSignState, true};

// Script data state.
void Tokenizer::ScriptDataState() { RawText(&Tokenizer::ScriptDataLessThanSignState); }

unsigned long Tokenizer::ScriptDataRun(unsigned long budget) { return RawtextRun(budget); }

// Script data less-than sign state.
void Tokenizer::ScriptDataLessThanSignState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '/':
      ClearTemporaryBuffer();
      SwitchTo<&Tokenizer::ScriptDataEndTagOpenState>();
      break;
    case '!':
      SwitchTo<&Tokenizer::ScriptDataEscapeStartState>();
      EmitCharToken('<');
      EmitCharToken('!');
      break;
    default:
      Reconsume<&Tokenizer::ScriptDataState>(c);
      EmitCharToken('<');
      break;
  }
}

// Script data end tag open state.
void Tokenizer::ScriptDataEndTagOpenState() {
  TextEndTagOpen(&Tokenizer::ScriptDataState, &Tokenizer::ScriptDataEndTagNameState);
}

// Script data end tag name state.
void Tokenizer::ScriptDataEndTagNameState() { TextEndTagName(&Tokenizer::ScriptDataState); }

// Script data escape start state.
void Tokenizer::ScriptDataEscapeStartState() { ScriptEscapeStart(&Tokenizer::ScriptDataEscapeStartDashState); }

// Script data escape start dash state.
void Tokenizer::ScriptDataEscapeStartDashState() { ScriptEscapeStart(&Tokenizer::ScriptDataEscapedDashDashState); }

void Tokenizer::ScriptEscapeStart(State onDash) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo(onDash);
      EmitCharToken('-');
      break;
    default:
      Reconsume<&Tokenizer::ScriptDataState>(c);
      break;
  }
}

// Script data escaped state.
void Tokenizer::ScriptDataEscapedState() { ScriptEscaped(escaped); }

// Its fast path, and that of double escaped script data.
constexpr run_stops_t kEscapedStops = RunStops({'-', '<', kNull});
unsigned long Tokenizer::ScriptDataEscapedRun(unsigned long budget) { return EmitTextRun(kEscapedStops, budget); }

// Script data escaped dash state.
void Tokenizer::ScriptDataEscapedDashState() { ScriptEscapedDash(escaped); }

// Script data escaped dash dash state.
void Tokenizer::ScriptDataEscapedDashDashState() { ScriptEscapedDashDash(escaped); }

// Script data double escaped state.
void Tokenizer::ScriptDataDoubleEscapedState() { ScriptEscaped(doubleEscaped); }

unsigned long Tokenizer::ScriptDataDoubleEscapedRun(unsigned long budget) { return ScriptDataEscapedRun(budget); }

// Script data double escaped dash state.
void Tokenizer::ScriptDataDoubleEscapedDashState() { ScriptEscapedDash(doubleEscaped); }

// Script data double escaped dash dash state.
void Tokenizer::ScriptDataDoubleEscapedDashDashState() { ScriptEscapedDashDash(doubleEscaped); }

void Tokenizer::ScriptEscaped(const script_escape_t& escape) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo(escape.dash);
      EmitCharToken('-');
      break;
    case '<':
      SwitchTo(escape.lessThanSign);
      if (escape.emitsLessThanSign) EmitCharToken('<');
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInScriptHtmlCommentLikeText);
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

void Tokenizer::ScriptEscapedDash(const script_escape_t& escape) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo(escape.dashDash);
      EmitCharToken('-');
      break;
    case '<':
      SwitchTo(escape.lessThanSign);
      if (escape.emitsLessThanSign) EmitCharToken('<');
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      SwitchTo(escape.text);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInScriptHtmlCommentLikeText);
      EmitEofToken();
      break;
    default:
      SwitchTo(escape.text);
      EmitCharToken(c);
      break;
  }
}

void Tokenizer::ScriptEscapedDashDash(const script_escape_t& escape) {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      EmitCharToken('-');
      break;
    case '<':
      SwitchTo(escape.lessThanSign);
      if (escape.emitsLessThanSign) EmitCharToken('<');
      break;
    case '>':
      SwitchTo<&Tokenizer::ScriptDataState>();
      EmitCharToken('>');
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      SwitchTo(escape.text);
      EmitCharToken(kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInScriptHtmlCommentLikeText);
      EmitEofToken();
      break;
    default:
      SwitchTo(escape.text);
      EmitCharToken(c);
      break;
  }
}

// Script data escaped less-than sign state.
void Tokenizer::ScriptDataEscapedLessThanSignState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '/':
      ClearTemporaryBuffer();
      SwitchTo<&Tokenizer::ScriptDataEscapedEndTagOpenState>();
      break;
    default:
      if (IsAsciiAlpha(c)) {
        ClearTemporaryBuffer();
        Reconsume<&Tokenizer::ScriptDataDoubleEscapeStartState>(c);
        EmitCharToken('<');
        break;
      }
      Reconsume<&Tokenizer::ScriptDataEscapedState>(c);
      EmitCharToken('<');
      break;
  }
}

// Script data escaped end tag open state.
void Tokenizer::ScriptDataEscapedEndTagOpenState() {
  TextEndTagOpen(&Tokenizer::ScriptDataEscapedState, &Tokenizer::ScriptDataEscapedEndTagNameState);
}

// Script data escaped end tag name state.
void Tokenizer::ScriptDataEscapedEndTagNameState() { TextEndTagName(&Tokenizer::ScriptDataEscapedState); }

// Script data double escape start state.
void Tokenizer::ScriptDataDoubleEscapeStartState() {
  DoubleEscapeBoundary(&Tokenizer::ScriptDataDoubleEscapedState, &Tokenizer::ScriptDataEscapedState);
}

// Script data double escaped less-than sign state.
void Tokenizer::ScriptDataDoubleEscapedLessThanSignState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '/':
      ClearTemporaryBuffer();
      SwitchTo<&Tokenizer::ScriptDataDoubleEscapeEndState>();
      EmitCharToken('/');
      break;
    default:
      Reconsume<&Tokenizer::ScriptDataDoubleEscapedState>(c);
      break;
  }
}

// Script data double escape end state.
void Tokenizer::ScriptDataDoubleEscapeEndState() {
  DoubleEscapeBoundary(&Tokenizer::ScriptDataEscapedState, &Tokenizer::ScriptDataDoubleEscapedState);
}

void Tokenizer::DoubleEscapeBoundary(State onScript, State otherwise) {
  static const unsigned int kScript[] = {'s', 'c', 'r', 'i', 'p', 't'};
  unsigned int c = consumer.Consume();
  switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case ' ':
    case '/':
    case '>': {
      bool script = temporaryBuffer.size == 6 && std::equal(kScript, kScript + 6, temporaryBuffer.data);
      SwitchTo(script ? onScript : otherwise);
      EmitCharToken(c);
      break;
    }
    default:
      if (IsAsciiAlpha(c)) {
        // Seven letters already tell that the word is not "script": no more are kept.
        if (temporaryBuffer.size <= 6) Append(temporaryBuffer, ToAsciiLower(c));
        EmitCharToken(c);
        break;
      }
      Reconsume(otherwise, c);
      break;
  }
}

}  // namespace Html
}  // namespace Tessarin

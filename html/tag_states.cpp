#include "html/tokenizer.h"

// The tag open, end tag open, tag name and self-closing start tag states, and
// the emission of tag tokens. Standard C++ has no case label for a range, so
// the rows for the letters A to Z and a to z are tested at the top of the
// default branch, ahead of the table's last row.

namespace Tessarin {
namespace Html {

void Tokenizer::BeginTag(unsigned int first, bool endTag) {
  liveToken = TokenKind::Tag;
  attributes.Init();
  tagName.Init();
  attributeNames.Init();
  currentAttributeDropped = false;
  Append(tagName, first);
  isEndTag = endTag;
  selfClosing = false;
}

void Tokenizer::DropTagAtEof() {
  ReleaseToken();
  ReconsumeEofInData();
}

// Tag open state.
void Tokenizer::TagOpenState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '!':
      SwitchTo<&Tokenizer::MarkupDeclarationOpenState>();
      break;
    case '/':
      SwitchTo<&Tokenizer::EndTagOpenState>();
      break;
    case '?':
      ParseError(ParseErrorCode::UnexpectedQuestionMarkInsteadOfTagName);
      bogusCommentChar = c;
      SwitchTo<&Tokenizer::BogusCommentState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofBeforeTagName);
      ReconsumeEofInData();
      EmitCharToken('<');
      break;
    default:
      if (IsAsciiAlpha(c)) {
        BeginTag(ToAsciiLower(c), false);
        SwitchTo<&Tokenizer::TagNameState>();
        break;
      }
      ParseError(ParseErrorCode::InvalidFirstCharacterOfTagName);
      Reconsume<&Tokenizer::DataState>(c);
      EmitCharToken('<');
      break;
  }
}

// End tag open state.
void Tokenizer::EndTagOpenState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '>':
      ParseError(ParseErrorCode::MissingEndTagName);
      SwitchTo<&Tokenizer::DataState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofBeforeTagName);
      ReconsumeEofInData();
      EmitCharToken('<');
      EmitCharToken('/');
      break;
    default:
      if (IsAsciiAlpha(c)) {
        BeginTag(ToAsciiLower(c), true);
        SwitchTo<&Tokenizer::TagNameState>();
        break;
      }
      ParseError(ParseErrorCode::InvalidFirstCharacterOfTagName);
      bogusCommentChar = c;
      SwitchTo<&Tokenizer::BogusCommentState>();
      break;
  }
}

// Tag name state.
void Tokenizer::TagNameState() {
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
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      Append(tagName, kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:  // A to Z are lowered; every other code point, CR included, is kept
      Append(tagName, ToAsciiLower(c));
      break;
  }
}

// Its fast path: the code points without a row of their own are appended, A to Z lowered.
constexpr run_stops_t kTagNameStops = RunStops({'\t', '\n', '\f', ' ', '/', '>', kNull});
static_assert(kTagNameStops.byte[kNull], "names are read through run_stops_t::lowered");
unsigned long Tokenizer::TagNameRun(unsigned long budget) { return AppendRun<true>(tagName, kTagNameStops, budget); }

// Self-closing start tag state.
void Tokenizer::SelfClosingStartTagState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '>':
      selfClosing = true;
      EmitCurrentTag();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInTag);
      DropTagAtEof();
      break;
    default:
      ParseError(ParseErrorCode::UnexpectedSolidusInTag);
      Reconsume<&Tokenizer::BeforeAttributeNameState>(c);
      break;
  }
}

void Tokenizer::EmitTagToken() {
  if (currentAttributeDropped) {
    // A repeated name's attribute is last in the list and never reported.
    attributes.Back().Free();
    --attributes.size;
    currentAttributeDropped = false;
  }
  if (browserMode) ApplyBrowserRules();
  if (isEndTag) {
    if (attributes.size) ParseError(ParseErrorCode::EndTagWithAttributes);
    if (selfClosing) ParseError(ParseErrorCode::EndTagWithTrailingSolidus);
    handler->OnEndTag(tagName.data, tagName.size);
    TokenReported();
  } else if (selfClosing) {
    acknowledged = false;
    handler->OnStartTag(tagName.data, tagName.size, attributes, attributes.size, true);
    TokenReported();
    if (!acknowledged) ParseError(ParseErrorCode::NonVoidHtmlElementStartTagWithTrailingSolidus);
  } else {
    handler->OnStartTag(tagName.data, tagName.size, attributes, attributes.size, false);
    TokenReported();
  }
  ReleaseToken();
}

}  // namespace Html
}  // namespace Tessarin

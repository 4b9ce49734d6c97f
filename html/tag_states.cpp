#include <type_traits>

#include "html/tag_stops.h"
#include "html/tokenizer.h"

// The tag open, end tag open, tag name and self-closing start tag states, and
// the emission of tag tokens. Standard C++ has no case label for a range, so
// the rows for the letters A to Z and a to z are tested at the top of the
// default branch, ahead of the table's last row.

namespace Tessarin {
namespace Html {

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

// Its fast path: the common tags, a name and attributes with a value or none,
// separated by whitespace, in one pass. Each code point takes the row
// its state would take, and each run is appended as the state's own fast path
// would append it; at the first code point that a row left out here would
// read (and at the end of the window or of the budget), the path stops in the
// state that reads it.
unsigned long Tokenizer::TagOpenRun(unsigned long budget) {
  // The bytes are read from the window, and handed over to the consumer
  // before each call that reads input or reports a token.
  unsigned long taken = 0;
  const unsigned char *read, *p, *limit;
  const auto look = [&] {
    const InputConsumer::ascii_window_t window = consumer.AsciiWindow();
    read = p = window.bytes;
    limit = p + std::min<size_t>(window.size, budget - taken);
    return !interrupted;
  };
  const auto handOver = [&] {
    consumer.Advance(p - read);
    taken += p - read;
    read = p;
    return taken;
  };
  // The code point `at` places ahead when it is ASCII and within the window
  // and the budget, else 0 (as for NUL, which takes none of these rows).
  const auto ahead = [&](size_t at = 0) -> unsigned int {
    return static_cast<size_t>(limit - p) > at && p[at] < 0x80 ? p[at] : 0;
  };
  // Appends the ASCII code points ahead that are not stops to `buffer`, as
  // far as its room goes, lowered for a name; where the run goes on past
  // them, the state's fast path `run` appends the rest. False once memory
  // ran out.
  const auto append = [&](auto& buffer, const run_stops_t& stops, auto lower, FastPath run) {
    p = AppendOrdinaryBytes<decltype(lower)::value>(buffer, stops, p, limit);
    if (AtAsciiStop(stops, p, limit)) return true;
    handOver();
    taken += (this->*run)(budget - taken);
    return look();
  };
  const std::true_type lowered;
  const std::false_type kept;
  look();
  const bool endTag = ahead() == '/';
  const unsigned int first = ahead(endTag);
  if (!IsAsciiAlpha(first)) return 0;
  p += endTag + 1;
  BeginTag(ToAsciiLower(first), endTag);
  SwitchTo<&Tokenizer::TagNameState>();
  if (!append(tagName, kTagNameStops, lowered, &Tokenizer::TagNameRun)) return taken;
  for (;;) {
    // The tag name state and the states after a value go before the
    // attribute name on whitespace, which that state skips.
    unsigned int c = ahead();
    if (IsWhitespace(c)) {
      SwitchTo<&Tokenizer::BeforeAttributeNameState>();
      do ++p;
      while (IsWhitespace(c = ahead()));
    }
    // Each closes the tag at ">", and at "/>" (which cannot follow an
    // unquoted value, whose run takes "/").
    if (c == '>' || (c == '/' && ahead(1) == '>')) {
      p += c == '>' ? 1 : 2;
      handOver();
      selfClosing = c == '/';
      EmitCurrentTag();
      return taken;
    }
    const bool startsName = c && c != '/' && c != '=' && c != '"' && c != '\'' && c != '<';
    if (state != &Tokenizer::BeforeAttributeNameState || !startsName) return handOver();
    ++p;
    StartAttribute(ToAsciiLower(c));
    SwitchTo<&Tokenizer::AttributeNameState>();
    if (interrupted || !append(attributes.Back().name, kAttributeNameStops, lowered, &Tokenizer::AttributeNameRun)) {
      return handOver();
    }
    if (ahead() != '=') return handOver();
    ++p;
    handOver();
    LeaveAttributeName();
    SwitchTo<&Tokenizer::BeforeAttributeValueState>();
    const unsigned int quote = ahead();
    if (interrupted || !quote) return taken;
    if (quote != '"' && quote != '\'') {
      // An unquoted value: its first code point takes the before attribute
      // value state's last row, the others the unquoted value state's.
      if (kUnquotedValueStops.byte[quote]) return taken;
      SwitchTo<&Tokenizer::AttributeValueUnquotedState>();
      if (!append(attributes.Back().value, kUnquotedValueStops, kept, &Tokenizer::AttributeValueUnquotedRun)) {
        return handOver();
      }
      continue;
    }
    ++p;
    bool held;
    if (quote == '"') {
      SwitchTo<&Tokenizer::AttributeValueDoubleQuotedState>();
      held = append(attributes.Back().value, kQuotedValueStops<'"'>, kept, &Tokenizer::AttributeValueDoubleQuotedRun);
    } else {
      SwitchTo<&Tokenizer::AttributeValueSingleQuotedState>();
      held = append(attributes.Back().value, kQuotedValueStops<'\''>, kept, &Tokenizer::AttributeValueSingleQuotedRun);
    }
    if (!held || ahead() != quote) return handOver();
    ++p;
    SwitchTo<&Tokenizer::AfterAttributeValueQuotedState>();
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

// Its fast path: the code points without a row of their own (kTagNameStops)
// are appended, A to Z lowered.
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
  ReleaseTag();
}

}  // namespace Html
}  // namespace Tessarin

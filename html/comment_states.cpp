#include <climits>

#include "html/tokenizer.h"

// Markup declarations after "<!", comments, bogus comments and CDATA sections.

namespace Tessarin {
namespace Html {

const unsigned int Tokenizer::_hmhm[2] = {'-', '-'};
const unsigned int Tokenizer::_doctype[7] = {'D', 'O', 'C', 'T', 'Y', 'P', 'E'};
const unsigned int Tokenizer::_cdata[7] = {'[', 'C', 'D', 'A', 'T', 'A', '['};

void Tokenizer::BeginComment() {
  commentData.Init();
  liveToken = TokenKind::Comment;
}

void Tokenizer::EmitComment() {
  SwitchTo<&Tokenizer::DataState>();
  EmitCommentToken();
}

void Tokenizer::EmitCommentAtEof() {
  ReconsumeEofInData();
  EmitCommentToken();
}

void Tokenizer::AppendToComment(const char* text) {
  for (; *text; ++text) Append(commentData, static_cast<unsigned char>(*text));
}

void Tokenizer::ContinueComment(const char* held, unsigned int cp) {
  AppendToComment(held);
  Append(commentData, cp);
  SwitchTo<&Tokenizer::CommentState>();
}

void Tokenizer::EmitCommentToken() {
  handler->OnComment(commentData.data, commentData.size);
  TokenReported();
  ReleaseToken();
}

// Markup declaration open state.
void Tokenizer::MarkupDeclarationOpenState() {
  // Case folding never yields "-", so the keyword look-ahead matches "--" exactly.
  if (ConsumeKeyword(_hmhm)) {
    BeginComment();
    SwitchTo<&Tokenizer::CommentStartState>();
  } else if (ConsumeKeyword(_doctype)) {
    SwitchTo<&Tokenizer::DoctypeState>();
  } else if (cdataAllowed && ConsumeKeyword<true>(_cdata)) {
    SwitchTo<&Tokenizer::CdataSectionState>();
  } else {
    // The error stands at the code point after "<!", once it has been read
    // (the end of input stands just after the last code point).
    bogusCommentChar = consumer.Consume();
    ParseError(ParseErrorCode::IncorrectlyOpenedComment, bogusCommentChar == kEof ? 1 : 0);
    SwitchTo<&Tokenizer::BogusCommentState>();
  }
}

// Comment start state.
void Tokenizer::CommentStartState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo<&Tokenizer::CommentStartDashState>();
      break;
    case '>':
      ParseError(ParseErrorCode::AbruptClosingOfEmptyComment);
      EmitComment();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      ContinueComment("", kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      ContinueComment("", c);
      break;
  }
}

// Comment start dash state.
void Tokenizer::CommentStartDashState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo<&Tokenizer::CommentEndState>();
      break;
    case '>':
      ParseError(ParseErrorCode::AbruptClosingOfEmptyComment);
      EmitComment();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      ContinueComment("-", kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      ContinueComment("-", c);
      break;
  }
}

// Comment state.
void Tokenizer::CommentState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo<&Tokenizer::CommentEndDashState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      Append(commentData, kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      Append(commentData, c);
      break;
  }
}

// Its fast path: the code points without a row of their own are appended.
constexpr run_stops_t kCommentStops = RunStops({'-', kNull});
unsigned long Tokenizer::CommentRun(unsigned long budget) {
  return AppendRun<false>(commentData, kCommentStops, budget);
}

// Comment end dash state.
void Tokenizer::CommentEndDashState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      SwitchTo<&Tokenizer::CommentEndState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      ContinueComment("-", kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      ContinueComment("-", c);
      break;
  }
}

// Comment end state.
void Tokenizer::CommentEndState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '>':
      EmitComment();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      ContinueComment("--", kReplacement);
      break;
    case '!':
      ParseError(ParseErrorCode::UnexpectedBangAfterDoubleDashInComment);
      SwitchTo<&Tokenizer::CommentEndBangState>();
      break;
    case '-':
      ParseError(ParseErrorCode::UnexpectedDashAfterDoubleDashInComment);
      Append(commentData, '-');
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      ParseError(ParseErrorCode::UnexpectedCharacterAfterDoubleDashInComment);
      ContinueComment("--", c);
      break;
  }
}

// Comment end bang state.
void Tokenizer::CommentEndBangState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '-':
      AppendToComment("--!");
      SwitchTo<&Tokenizer::CommentEndDashState>();
      break;
    case '>':
      EmitComment();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      ContinueComment("--!", kReplacement);
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInComment);
      EmitCommentAtEof();
      break;
    default:
      ContinueComment("--!", c);
      break;
  }
}

// Bogus comment state.
// The whole bogus comment in one step: the loop saves a dispatch per code
// point, and the code points without a row of their own are appended in runs.
// The state that switched here already reported the parse error, and
// bogusCommentChar (even ">") opens the text unless it is the end of input.
constexpr run_stops_t kBogusCommentStops = RunStops({'>', kNull});
void Tokenizer::BogusCommentState() {
  BeginComment();
  if (bogusCommentChar != kEof) Append(commentData, bogusCommentChar == kNull ? kReplacement : bogusCommentChar);
  // A comment that could not grow is not reported truncated: tokenizing ends.
  while (!outOfMemory) {
    AppendRun<false>(commentData, kBogusCommentStops, ULONG_MAX);
    if (outOfMemory) break;
    unsigned int c = consumer.Consume();
    switch (c) {
      case '>':
        EmitComment();
        return;
      case kNull:
        Append(commentData, kReplacement);
        break;
      case kEof:
        EmitCommentAtEof();
        return;
      default:
        Append(commentData, c);
        break;
    }
  }
}

// CDATA section state.
void Tokenizer::CdataSectionState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case ']':
      SwitchTo<&Tokenizer::CdataSectionBracketState>();
      break;
    case kEof:
      ParseError(ParseErrorCode::EofInCdata);
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

// Its fast path.
constexpr run_stops_t kCdataSectionStops = RunStops({']'});
unsigned long Tokenizer::CdataSectionRun(unsigned long budget) { return EmitTextRun(kCdataSectionStops, budget); }

// CDATA section bracket state.
void Tokenizer::CdataSectionBracketState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case ']':
      SwitchTo<&Tokenizer::CdataSectionEndState>();
      break;
    default:
      Reconsume<&Tokenizer::CdataSectionState>(c);
      EmitCharToken(']');
      break;
  }
}

// CDATA section end state.
void Tokenizer::CdataSectionEndState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case ']':
      EmitCharToken(']');
      break;
    case '>':
      SwitchTo<&Tokenizer::DataState>();
      break;
    default:
      Reconsume<&Tokenizer::CdataSectionState>(c);
      EmitCharToken(']');
      EmitCharToken(']');
      break;
  }
}

}  // namespace Html
}  // namespace Tessarin

#include "html/tokenizer.h"

#include <cstring>

namespace Tessarin {
namespace Html {

#if defined(__SSE2__) && defined(HTMLTESS_SCAN_SWITCH)
bool wideScanning = true;
#endif

namespace {

// The errors placed just after the code point in hand: those of the end of
// input and those found once a character reference has been read.
bool PlacedAfter(ParseErrorCode code) {
  switch (code) {
    case ParseErrorCode::AbsenceOfDigitsInNumericCharacterReference:
    case ParseErrorCode::CharacterReferenceOutsideUnicodeRange:
    case ParseErrorCode::ControlCharacterReference:
    case ParseErrorCode::MissingSemicolonAfterCharacterReference:
    case ParseErrorCode::NoncharacterCharacterReference:
    case ParseErrorCode::NullCharacterReference:
    case ParseErrorCode::SurrogateCharacterReference:
    case ParseErrorCode::UnknownNamedCharacterReference:
    case ParseErrorCode::EofBeforeTagName:
    case ParseErrorCode::EofInCdata:
    case ParseErrorCode::EofInComment:
    case ParseErrorCode::EofInDoctype:
    case ParseErrorCode::EofInScriptHtmlCommentLikeText:
    case ParseErrorCode::EofInTag:
      return true;
    default:
      return false;
  }
}

}  // namespace

Tokenizer::Tokenizer(InputConsumer& consumer)
    : consumer(consumer), state(&Tokenizer::DataState), fastPath(FastPathOf(&Tokenizer::DataState)) {
  // No token under construction: the shared token storage starts zero-filled.
  std::memset(static_cast<void*>(&attributes), 0, sizeof(attributes));
  std::memset(static_cast<void*>(&tagName), 0, sizeof(tagName));
  std::memset(static_cast<void*>(&commentData), 0, sizeof(commentData));
  std::memset(static_cast<void*>(&doctypeName), 0, sizeof(doctypeName));
  std::memset(static_cast<void*>(&publicId), 0, sizeof(publicId));
  std::memset(static_cast<void*>(&systemId), 0, sizeof(systemId));
  lastStartTag.Init();
  temporaryBuffer.Init();
}

Tokenizer::~Tokenizer() {
  ReleaseToken();
  lastStartTag.Free();
  temporaryBuffer.Free();
}

void Tokenizer::SetHandler(Handler& h) {
  handler = &h;
  h.SetTokenizer(*this);
}

// Once a buffer could not grow, the token under construction may lack what
// its state expects (an attribute that could not be appended): tokenizing
// stops for good.
bool Tokenizer::Tokenize() {
  if (!outOfMemory) (this->*state)();
  return !eofEmitted && !outOfMemory;
}

void Tokenizer::SetContentModel(TextState text) {
  static constexpr State kStates[] = {&Tokenizer::DataState,      &Tokenizer::RcdataState,
                                      &Tokenizer::RawtextState,   &Tokenizer::ScriptDataState,
                                      &Tokenizer::PlaintextState, &Tokenizer::CdataSectionState};
  bool endedByEndTag = text == TextState::Rcdata || text == TextState::Rawtext || text == TextState::ScriptData;
  if (endedByEndTag && liveToken == TokenKind::Tag && !isEndTag) SetLastStartTag(tagName.data, tagName.size);
  SwitchTo(kStates[static_cast<int>(text)]);
}

void Tokenizer::SetLastStartTag(const unsigned int* name, unsigned long length) {
  lastStartTag.size = 0;
  for (unsigned long i = 0; i < length && Append(lastStartTag, name[i]); ++i) {
  }
}

void Tokenizer::FollowBrowserRules(bool scripting) {
  browserMode = true;
  browser.Reset(scripting);
}

void Tokenizer::ApplyBrowserRules() {
  if (isEndTag) {
    browser.AfterEndTag(tagName.data, tagName.size);
  } else {
    SetContentModel(browser.AfterStartTag(tagName.data, tagName.size, attributes, attributes.size, selfClosing));
  }
  cdataAllowed = browser.InForeignContent();
}

bool Tokenizer::Run(unsigned long steps) {
  interrupted = false;
  return RunSteps<false>(steps);
}

bool Tokenizer::RunFed(unsigned long steps, const FeedInputStream& input) {
  interrupted = false;
  fedInput = &input;
  const bool more = RunSteps<true>(steps);
  fedInput = nullptr;
  return more;
}

// The fast paths need no care when feeding: they read only the window, and
// stop before a sequence it does not hold whole. Memory runs out only within
// a step or a fast path, and tokenizing ends only there: each then sets
// `interrupted` as well, so that the loop tests that alone. Only on entry can
// memory have run out before (see Tokenize).
template <bool Feeding>
bool Tokenizer::RunSteps(unsigned long steps) {
  if (!steps) return true;
  if (outOfMemory) return false;
  for (;;) {
    if (fastPath) {
      steps -= (this->*fastPath)(steps);
      if (!steps || interrupted) break;
    }
    if (Feeding && !NextStepHeld()) return false;
    --steps;
    (this->*state)();
    if (!steps || interrupted) break;
  }
  return !eofEmitted && !outOfMemory;
}

error_place_t Tokenizer::ErrorPlace(ParseErrorCode code, size_t ahead) const {
  const uint64_t read = consumer.Offset();
  return {PlacedAfter(code) ? read : read - consumer.LastLength(), ahead};
}

// The end of file has no source: its span is empty, at the end of the input,
// and an unfinished tag that the end of input drops belongs to no token.
void Tokenizer::EmitEofToken() {
  TokenReported();
  handler->OnEof();
  eofEmitted = true;
  interrupted = true;
}

void Tokenizer::ReleaseToken() {
  switch (liveToken) {
    case TokenKind::Tag:
      ReleaseTag();
      break;
    case TokenKind::Comment:
      commentData.Free();
      break;
    case TokenKind::Doctype:
      doctypeName.Free();
      publicId.Free();
      systemId.Free();
      break;
    case TokenKind::None:
      break;
  }
  liveToken = TokenKind::None;
}

// Data state.
void Tokenizer::DataState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '&':
      SwitchTo<&Tokenizer::CharacterReferenceInDataState>();
      break;
    case '<':
      SwitchTo<&Tokenizer::TagOpenState>();
      break;
    case kNull:
      ParseError(ParseErrorCode::UnexpectedNullCharacter);
      EmitCharToken(c);
      break;
    case kEof:
      EmitEofToken();
      break;
    default:
      EmitCharToken(c);
      break;
  }
}

// Its fast path: the text up to the next row of its own reaches the handler in
// blocks. The rows of "<" and "&", which end most runs, are taken there too,
// and after "<" the tag open state's fast path, after "&" the step of the
// character reference state; when that leaves the tokenizer in this state
// again, the tag or the reference was emitted and the text after it is read
// on.
constexpr run_stops_t kDataStops = RunStops({'&', '<', kNull});
unsigned long Tokenizer::DataRun(unsigned long budget) {
  unsigned long taken = 0;
  for (;;) {
    taken += EmitTextRun(kDataStops, budget - taken);
    const InputConsumer::ascii_window_t ahead = consumer.AsciiWindow();
    if (interrupted || taken == budget || !ahead.size) return taken;
    switch (ahead.bytes[0]) {
      case '<':
        consumer.Advance(1);
        SwitchTo<&Tokenizer::TagOpenState>();
        taken += 1 + TagOpenRun(budget - taken - 1);
        if (interrupted || taken == budget || state != &Tokenizer::DataState) return taken;
        break;
      case '&':
        consumer.Advance(1);
        SwitchTo<&Tokenizer::CharacterReferenceInDataState>();
        ++taken;
        // The reference is one step of its state. When feeding, Run first
        // checks that the input holds the whole reference.
        if (fedInput || taken == budget) return taken;
        CharacterReferenceInDataState();
        ++taken;
        if (interrupted || taken == budget || state != &Tokenizer::DataState) return taken;
        break;
      default:
        return taken;
    }
  }
}

}  // namespace Html
}  // namespace Tessarin

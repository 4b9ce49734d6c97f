#include "html/tokenizer.h"

#include <cstring>

namespace Tessarin {
namespace Html {

unsigned int InputConsumer::ConsumeAny() {
  unsigned int cp;
  return PopOne(cp) ? cp : kEof;
}

Tokenizer::Tokenizer(InputConsumer& consumer) : consumer(consumer), state(&Tokenizer::DataState) {
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

bool Tokenizer::Tokenize() { return Step(); }

void Tokenizer::SetContentModel(TextState text) {
  static constexpr State kStates[] = {&Tokenizer::DataState,      &Tokenizer::RcdataState,
                                      &Tokenizer::RawtextState,   &Tokenizer::ScriptDataState,
                                      &Tokenizer::PlaintextState, &Tokenizer::CdataSectionState};
  bool endedByEndTag = text == TextState::Rcdata || text == TextState::Rawtext || text == TextState::ScriptData;
  if (endedByEndTag && liveToken == TokenKind::Tag && !isEndTag) SetLastStartTag(tagName.data, tagName.size);
  UseTextStates();
  SwitchTo(kStates[static_cast<int>(text)]);
}

void Tokenizer::SetLastStartTag(const unsigned int* name, unsigned long length) {
  lastStartTag.size = 0;
  for (unsigned long i = 0; i < length && Append(lastStartTag, name[i]); ++i) {
  }
}

void Tokenizer::FollowBrowserRules(bool scripting) {
  browserMode = true;
  UseTextStates();
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

namespace {

// For each state with a fast path, the code points with a row of their own in
// its table (upper-case letters aside, which the name states lower on the way).
constexpr run_stops_t kTextStops = RunStops({'&', '<', kNull});
constexpr run_stops_t kTagNameStops = RunStops({'\t', '\n', '\f', ' ', '/', '>', kNull});
constexpr run_stops_t kAttributeNameStops = RunStops({'\t', '\n', '\f', ' ', '/', '=', '>', kNull, '"', '\'', '<'});
constexpr run_stops_t kDoubleQuotedValueStops = RunStops({'"', '&', kNull});
constexpr run_stops_t kSingleQuotedValueStops = RunStops({'\'', '&', kNull});
constexpr run_stops_t kUnquotedValueStops =
    RunStops({'\t', '\n', '\f', ' ', '&', '>', kNull, '"', '\'', '<', '=', '`'});
constexpr run_stops_t kCommentStops = RunStops({'-', kNull});

}  // namespace

// Fast paths for the states that spend most of their steps on code points
// their table sends to its last row, "anything else": a run of such code
// points is consumed at once, each counted as one step, with the effects that
// row has (append, lowered in names; emit in the data state; the value states
// store themselves as returnState). The state stays as it is.
template <bool TextStates>
inline unsigned long Tokenizer::RunOrdinaryCodePoints(unsigned long budget) {
  if (state == &Tokenizer::DataState) return EmitTextRun(kTextStops, budget);
  if (state == &Tokenizer::AttributeValueDoubleQuotedState) {
    return AppendValueRun(kDoubleQuotedValueStops, budget);
  }
  if (state == &Tokenizer::AttributeNameState) {
    return AppendRun<true>(attributes.Back().name, kAttributeNameStops, budget);
  }
  if (state == &Tokenizer::TagNameState) return AppendRun<true>(tagName, kTagNameStops, budget);
  if (state == &Tokenizer::AttributeValueSingleQuotedState) {
    return AppendValueRun(kSingleQuotedValueStops, budget);
  }
  if (state == &Tokenizer::AttributeValueUnquotedState) return AppendValueRun(kUnquotedValueStops, budget);
  if (state == &Tokenizer::CommentState) return AppendRun<false>(commentData, kCommentStops, budget);
  if (TextStates) return RunTextStates(budget);
  return 0;
}

// The fast paths of the text states, each beside its state: the code points
// that its table emits as they are reach the handler in blocks.
unsigned long Tokenizer::RunTextStates(unsigned long budget) {
  if (state == &Tokenizer::ScriptDataState) return ScriptDataRun(budget);
  if (state == &Tokenizer::RawtextState) return RawtextRun(budget);
  if (state == &Tokenizer::RcdataState) return RcdataRun(budget);
  if (state == &Tokenizer::ScriptDataEscapedState) return ScriptDataEscapedRun(budget);
  if (state == &Tokenizer::ScriptDataDoubleEscapedState) return ScriptDataDoubleEscapedRun(budget);
  if (state == &Tokenizer::PlaintextState) return PlaintextRun(budget);
  if (state == &Tokenizer::CdataSectionState) return CdataSectionRun(budget);
  return 0;
}

// The fast paths of the text states are left out of the loop until a text
// state may run, so that the default path does not test for them.
bool Tokenizer::Run(unsigned long steps) {
  interrupted = false;
  return textStatesUsed ? RunSteps<true>(steps) : RunSteps<false>(steps);
}

template <bool TextStates>
bool Tokenizer::RunSteps(unsigned long steps) {
  while (steps && !interrupted) {
    if (!outOfMemory) steps -= RunOrdinaryCodePoints<TextStates>(steps);
    if (outOfMemory) return false;
    if (!steps || interrupted) break;
    --steps;
    if (!Step()) return false;
  }
  return true;
}

// The characters of a run reach the handler in blocks, through OnText.
unsigned long Tokenizer::EmitTextRun(const run_stops_t& stops, unsigned long budget) {
  constexpr unsigned long kBlock = 256;
  unsigned int block[kBlock];
  unsigned long filled = 0;
  unsigned long taken = consumer.ConsumeRun(stops, budget, [&](unsigned int cp) {
    block[filled++] = cp;
    if (filled < kBlock) return true;
    handler->OnText(block, filled);
    filled = 0;
    return !interrupted;
  });
  if (filled) handler->OnText(block, filled);
  return taken;
}

// Code points go straight into the room the buffer has; only the one that
// finds it full goes through Append, which grows it.
template <bool Lower, typename Buffer>
unsigned long Tokenizer::AppendRun(Buffer& buffer, const run_stops_t& stops, unsigned long budget) {
  unsigned int* out = buffer.data + buffer.size;
  unsigned int* end = out + buffer.Room();
  unsigned long taken = consumer.ConsumeRun(stops, budget, [&](unsigned int cp) {
    if (Lower) cp = ToAsciiLower(cp);
    if (out != end) {
      *out++ = cp;
      return true;
    }
    buffer.size = out - buffer.data;
    if (!Append(buffer, cp)) return false;
    out = buffer.data + buffer.size;
    end = out + buffer.Room();
    return true;
  });
  buffer.size = out - buffer.data;
  return taken;
}

unsigned long Tokenizer::AppendValueRun(const run_stops_t& stops, unsigned long budget) {
  unsigned long taken = AppendRun<false>(attributes.Back().value, stops, budget);
  if (taken) returnState = state;
  return taken;
}

void Tokenizer::EmitEofToken() {
  handler->OnEof();
  eofEmitted = true;
}

void Tokenizer::ReleaseToken() {
  switch (liveToken) {
    case TokenKind::Tag:
      for (unsigned long i = 0; i < attributes.size; ++i) attributes.data[i].Free();
      attributes.Free();
      tagName.Free();
      attributeNames.Free();
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

void Tokenizer::DataState() {
  unsigned int c = consumer.Consume();
  switch (c) {
    case '&':
      SwitchTo(&Tokenizer::CharacterReferenceInDataState);
      break;
    case '<':
      SwitchTo(&Tokenizer::TagOpenState);
      break;
    case kNull:
      ParseError();
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

}  // namespace Html
}  // namespace Tessarin

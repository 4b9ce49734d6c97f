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
}

Tokenizer::~Tokenizer() { ReleaseToken(); }

void Tokenizer::SetHandler(Handler& h) {
  handler = &h;
  h.SetTokenizer(*this);
}

bool Tokenizer::Tokenize() {
  // Once a buffer could not grow, the token under construction may lack what
  // its state expects (an attribute that could not be appended): stop for good.
  if (!outOfMemory) (this->*state)();
  return !eofEmitted && !outOfMemory;
}

bool Tokenizer::Run(unsigned long steps) {
  interrupted = false;
  while (steps && !interrupted) {
    if (state == &Tokenizer::DataState) {
      // Each plain character is one data state step that only emits it.
      consumer.ConsumeTextRun([this, &steps](unsigned int cp) {
        EmitCharToken(cp);
        return --steps && !interrupted;
      });
      if (!steps || interrupted) break;
    }
    --steps;
    if (!Tokenize()) return false;
  }
  return true;
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

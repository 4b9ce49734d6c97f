#include "html/tokenizer.h"

// Placeholder until character references are resolved: no reference is ever
// recognised, so "&" is read as text.

namespace Tessarin {
namespace Html {

void Tokenizer::CharacterReferenceInDataState() {
  SwitchTo(&Tokenizer::DataState);
  EmitCharToken('&');
}

size_t InputConsumer::ConsumeCharRef(Tokenizer&, unsigned int const*, bool, unsigned int*) { return 0; }

}  // namespace Html
}  // namespace Tessarin

#include "html/tokenizer.h"

// Placeholder until this family of states is built: markup is read as text.

namespace Tessarin {
namespace Html {

void Tokenizer::CharacterReferenceInDataState() {
  SwitchTo(&Tokenizer::DataState);
  EmitCharToken('&');
}

}  // namespace Html
}  // namespace Tessarin

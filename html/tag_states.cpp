#include "html/tokenizer.h"

// Placeholder until this family of states is built: markup is read as text.

namespace Tessarin {
namespace Html {

void Tokenizer::TagOpenState() {
  SwitchTo(&Tokenizer::DataState);
  EmitCharToken('<');
}
void Tokenizer::EmitTagToken() {}
void Tokenizer::EndTagOpenState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::TagNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::SelfClosingStartTagState() { SwitchTo(&Tokenizer::DataState); }

}  // namespace Html
}  // namespace Tessarin

#include "html/tokenizer.h"

// Placeholder until this family of states is built: markup is read as text.

namespace Tessarin {
namespace Html {

void Tokenizer::BeforeAttributeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AttributeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterAttributeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BeforeAttributeValueState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AttributeValueDoubleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AttributeValueSingleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AttributeValueUnquotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterAttributeValueQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CharacterReferenceInAttributeValueState() { SwitchTo(&Tokenizer::DataState); }

}  // namespace Html
}  // namespace Tessarin

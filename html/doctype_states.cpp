#include "html/tokenizer.h"

// Placeholder until this family of states is built: markup is read as text.

namespace Tessarin {
namespace Html {

const unsigned int Tokenizer::_public[6] = {'P', 'U', 'B', 'L', 'I', 'C'};
const unsigned int Tokenizer::_system[6] = {'S', 'Y', 'S', 'T', 'E', 'M'};
void Tokenizer::EmitDoctypeToken() {}
void Tokenizer::DoctypeState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BeforeDoctypeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::DoctypeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterDoctypeNameState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterDoctypePublicKeywordState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BeforeDoctypePublicIdentifierState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::DoctypePublicIdentifierDoubleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::DoctypePublicIdentifierSingleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterDoctypePublicIdentifierState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BetweenDoctypePublicAndSystemIdentifiersState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterDoctypeSystemKeywordState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BeforeDoctypeSystemIdentifierState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::DoctypeSystemIdentifierDoubleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::DoctypeSystemIdentifierSingleQuotedState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::AfterDoctypeSystemIdentifierState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BogusDoctypeState() { SwitchTo(&Tokenizer::DataState); }

}  // namespace Html
}  // namespace Tessarin

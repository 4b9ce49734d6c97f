#include "html/tokenizer.h"

// Placeholder until this family of states is built: markup is read as text.

namespace Tessarin {
namespace Html {

const unsigned int Tokenizer::_hmhm[2] = {'-', '-'};
const unsigned int Tokenizer::_doctype[7] = {'D', 'O', 'C', 'T', 'Y', 'P', 'E'};
void Tokenizer::EmitCommentToken() {}
void Tokenizer::MarkupDeclarationOpenState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentStartState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentStartDashState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentEndDashState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentEndState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::CommentEndBangState() { SwitchTo(&Tokenizer::DataState); }
void Tokenizer::BogusCommentState() { SwitchTo(&Tokenizer::DataState); }

}  // namespace Html
}  // namespace Tessarin

#include <iterator>

#include "html/tokenizer.h"
#include "stream/feed_stream.h"

// Incremental input: what the next step may read, state by state, so that
// RunFed runs a step only once the bytes appended so far hold all of it.
//
// Every state step consumes one code point, except for these, which look
// further ahead: the markup declaration open state peeks at "DOCTYPE" and
// "[CDATA[" (seven code points), the after DOCTYPE name state consumes one
// and peeks at the rest of "PUBLIC" or "SYSTEM" (six in all), the character
// reference states read the run of letters and digits of a reference to its
// end and peek at a longest name and the code point after it
// (kNamedRefLookAhead), and the bogus comment state reads its comment up to
// its ">" in one step.

namespace Tessarin {
namespace Html {

bool Tokenizer::NextStepHeld() {
  const FeedInputStream& input = *fedInput;
  Unicode::HeldCodePoints ahead(consumer, input.Unread(), input.UnreadSize());
  if (state == &Tokenizer::CharacterReferenceInDataState || state == &Tokenizer::CharacterReferenceInRcdataState ||
      state == &Tokenizer::CharacterReferenceInAttributeValueState)
    return CharRefHeld(ahead);
  if (state == &Tokenizer::BogusCommentState) return RunEndHeld(ahead, [](unsigned int c) { return c == '>'; });
  size_t reads = 1;
  if (state == &Tokenizer::MarkupDeclarationOpenState) reads = std::size(_doctype);
  if (state == &Tokenizer::AfterDoctypeNameState) reads = std::size(_public);
  // A code point takes at most four bytes.
  return input.UnreadSize() >= 4 * reads || ahead.Skip(reads) == reads;
}

// The peek at a longest name may go past the end of the reference: what it
// reads there is not used, but a sequence cut short there would be decoded
// wrongly for good, so it must be held whole too.
bool Tokenizer::CharRefHeld(Unicode::HeldCodePoints& ahead) {
  unsigned int first;
  if (!ahead.Next(first)) return false;
  if (first == '#' || IsAsciiAlphanumeric(first)) {
    if (!RunEndHeld(ahead, [](unsigned int c) { return !IsAsciiAlphanumeric(c); })) return false;
  }
  Unicode::HeldCodePoints peek(consumer, fedInput->Unread(), fedInput->UnreadSize());
  return peek.Skip(kLongestLookAhead) == kLongestLookAhead || !peek.Cut();
}

template <typename Ends>
bool Tokenizer::RunEndHeld(Unicode::HeldCodePoints& ahead, Ends ends) {
  const uint64_t offset = fedInput->Offset();
  const size_t pending = consumer.PendingCount();
  const bool resume = runLook.state == state && runLook.offset == offset && runLook.pending == pending;
  unsigned int c;
  for (;;) {
    if (resume && ahead.InBytes() && ahead.BytesUsed() < runLook.bytes) ahead.SkipTo(runLook.bytes);
    if (!ahead.Next(c)) break;
    if (ends(c)) return true;
  }
  runLook = {state, offset, pending, ahead.BytesUsed()};
  return false;
}

}  // namespace Html
}  // namespace Tessarin

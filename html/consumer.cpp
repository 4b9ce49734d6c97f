#include "html/consumer.h"

#include <algorithm>

#include "html/tokenizer.h"

namespace Tessarin {
namespace Html {

namespace {

// The input-stream error of a code point, if it has one: surrogates,
// noncharacters, and controls other than NUL and ASCII whitespace (CR counts
// as whitespace here).
bool InputStreamError(unsigned int cp, ParseErrorCode& code) {
  if (cp >= 0xD800 && cp <= 0xDFFF) {
    code = ParseErrorCode::SurrogateInInputStream;
  } else if ((cp >= 0xFDD0 && cp <= 0xFDEF) || ((cp & 0xFFFE) == 0xFFFE && cp <= 0x10FFFF)) {
    code = ParseErrorCode::NoncharacterInInputStream;
  } else if ((cp >= 0x01 && cp < 0x20 && !IsWhitespace(cp) && cp != '\r') || (cp >= 0x7F && cp <= 0x9F)) {
    code = ParseErrorCode::ControlCharacterInInputStream;
  } else {
    return false;
  }
  return true;
}

bool IsInputStreamError(unsigned int cp) {
  ParseErrorCode code;
  return InputStreamError(cp, code);
}

constexpr Unicode::InputStream::fence_rule_t InputErrorFence() {
  Unicode::InputStream::fence_rule_t rule{};
  for (unsigned int b = 0x01; b < 0x20; ++b) rule.byte[b] = b != '\t' && b != '\n' && b != '\f' && b != '\r';
  for (unsigned int b = 0x7F; b < 0x100; ++b) rule.byte[b] = true;
  rule.other = IsInputStreamError;
  return rule;
}

constexpr Unicode::InputStream::fence_rule_t kInputErrorFence = InputErrorFence();

}  // namespace

void InputConsumer::ReportInputErrors(Tokenizer& reporter) {
  errorReporter = &reporter;
  FenceBefore(kInputErrorFence);
}

unsigned int InputConsumer::ConsumeAny() {
  unsigned int cp;
  if (!PopOne(cp)) return kEof;
  if (errorReporter && cp != kEof) CheckFirstRead(cp);
  return cp;
}

void InputConsumer::CheckFirstRead(unsigned int cp) {
  const uint64_t end = Offset();
  if (end <= checkedEnd) return;
  checkedEnd = end;
  ParseErrorCode code;
  if (InputStreamError(cp, code)) errorReporter->ParseError(code);
}

size_t InputConsumer::SkipChecked(unsigned long n) {
  size_t done = 0;
  unsigned int cp;
  while (done < n && PopOne(cp)) {
    if (cp != kEof) CheckFirstRead(cp);
    ++done;
  }
  return done;
}

}  // namespace Html
}  // namespace Tessarin

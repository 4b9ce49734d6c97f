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

}  // namespace

unsigned int InputConsumer::ConsumeAny() {
  unsigned int cp;
  if (!PopOne(cp)) return kEof;
  if (tracker && cp != kEof) Track(cp);
  return cp;
}

void InputConsumer::Track(unsigned int cp) {
  PositionTracker& t = *tracker;
  if (++t.read <= t.seen) return;
  const size_t index = t.seen++;
  if (cp == '\n' && t.previous == '\r') {
    t.lineStarts.back() = index + 1;
  } else if (cp == '\n' || cp == '\r') {
    if (t.lineStarts.size() == 2 * PositionTracker::kKeptLines) {
      t.lineStarts.erase(t.lineStarts.begin(), t.lineStarts.begin() + PositionTracker::kKeptLines);
      t.firstKeptLine += PositionTracker::kKeptLines;
    }
    t.lineStarts.push_back(index + 1);
  }
  t.previous = cp;
  ParseErrorCode code;
  if (InputStreamError(cp, code)) errorReporter->ParseError(code);
}

size_t InputConsumer::SkipTracked(unsigned long n) {
  size_t done = 0;
  unsigned int cp;
  while (done < n && PopOne(cp)) {
    Track(cp);
    ++done;
  }
  return done;
}

source_position_t PositionTracker::PositionOf(size_t index) const {
  const size_t kept =
      std::max<size_t>(std::upper_bound(lineStarts.begin(), lineStarts.end(), index) - lineStarts.begin(), 1);
  return {firstKeptLine + kept - 1, index - lineStarts[kept - 1] + 1};
}

}  // namespace Html
}  // namespace Tessarin

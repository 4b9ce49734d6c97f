// libFuzzer target over the C++ core. Each input is tokenized three times: from
// memory one Tokenize step at a time, from a file, and from memory driven by
// Run with a small step budget. Every token is read whole as it is delivered,
// the end of file must be reported exactly once and last, and the three event
// streams must agree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/cpp/recording_handler.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// The shared recording handler, which reads every code point it is given (so
// that the sanitizers see each access), with a start tag's list checked first.
struct CheckingHandler final : TessarinTest::RecordingHandler {
  using RecordingHandler::RecordingHandler;
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const Tessarin::Html::attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    Check(nameLength > 0 && attributeCount == attributes.size, "start tag without a name or with a wrong count");
    RecordingHandler::OnStartTag(name, nameLength, attributes, attributeCount, selfClosing);
  }
};

// Tokenizes to the end of file and returns the events. With runSteps > 0 the
// tokenizer is driven by Run(runSteps), otherwise by Tokenize.
std::string Tokenize(const std::string& input, TessarinTest::Source source, unsigned long runSteps) {
  TessarinTest::Pipeline<CheckingHandler> p(input, source, input.size() % 2 == 0);
  // A state step consumes a code point or hands one to a state that does: a
  // parse that takes many more steps than that is stuck.
  const unsigned long maxCalls = 8 * input.size() + 16;
  unsigned long calls = 0;
  bool more;
  do {
    Check(++calls <= maxCalls, "tokenizer does not progress");
    more = runSteps ? p.tokenizer.Run(runSteps) : p.tokenizer.Tokenize();
    Check(more == (p.handler.eofCount == 0), "Tokenize/Run result disagrees with the end of file");
  } while (more);
  Check(!p.tokenizer.OutOfMemory(), "out of memory");
  const std::string& events = p.handler.events;
  Check(p.handler.eofCount == 1 && events.compare(events.size() - 3, 3, "EOF") == 0,
        "a callback after the end of file");
  return events;
}

void CheckSame(const std::string& expected, const std::string& actual, const char* what) {
  if (expected == actual) return;
  std::fprintf(stderr, "Tokenize from memory:\n");
  std::fwrite(expected.data(), 1, std::min<size_t>(expected.size(), 2000), stderr);
  std::fprintf(stderr, "\n%s:\n", what);
  std::fwrite(actual.data(), 1, std::min<size_t>(actual.size(), 2000), stderr);
  std::fprintf(stderr, "\n");
  Check(false, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string expected = Tokenize(input, TessarinTest::Source::Memory, 0);
  CheckSame(expected, Tokenize(input, TessarinTest::Source::File, 0), "Tokenize from a file");
  CheckSame(expected, Tokenize(input, TessarinTest::Source::Memory, 1 + size % 5), "Run from memory");
  return 0;
}

// libFuzzer target over the C++ core. The first byte of an input chooses the
// content model and the state tokenizing starts in (see Options); the rest is
// tokenized from memory one Tokenize step at a time, from a file, from memory
// driven by Run with a small step budget and with a larger one, once with the
// fast paths testing 16 bytes at a time and once with their byte-at-a-time
// loops alone, and fed in pieces whose sizes its first bytes pick. Every token
// is read whole as it is delivered, the end of file must be reported exactly
// once and last, and all the event streams must agree.
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

using Tessarin::Html::TextState;

// What the first byte of an input chooses: bits 0 to 2 the initial state
// (TextState, 6 and 7 the data state), bit 3 browser mode, bit 4 scripting,
// bit 5 a handler that switches after each start tag to the content model its
// name length picks, bit 6 CDATA sections allowed, bit 7 "script" as the last
// start tag.
struct Options {
  explicit Options(uint8_t bits) : bits(bits) {}
  bool Has(int bit) const { return bits & (1u << bit); }
  void Apply(Tessarin::Html::Tokenizer& tokenizer) const {
    if (Has(3)) tokenizer.FollowBrowserRules(Has(4));
    if (Has(6)) tokenizer.AllowCdata(true);
    if (Has(7)) tokenizer.SetLastStartTag(kScript, 6);
    if ((bits & 7) < 6) tokenizer.SetContentModel(static_cast<TextState>(bits & 7));
  }
  static constexpr unsigned int kScript[6] = {'s', 'c', 'r', 'i', 'p', 't'};
  uint8_t bits;
};

// The shared recording handler, which reads every code point it is given (so
// that the sanitizers see each access), with a start tag's list checked first.
struct CheckingHandler final : TessarinTest::RecordingHandler {
  CheckingHandler(bool acknowledge, bool switches) : RecordingHandler(acknowledge), switches(switches) {}
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const Tessarin::Html::attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    Check(nameLength > 0 && attributeCount == attributes.size, "start tag without a name or with a wrong count");
    RecordingHandler::OnStartTag(name, nameLength, attributes, attributeCount, selfClosing);
    if (switches) GetTokenizer()->SetContentModel(static_cast<TextState>(nameLength % 5));
  }
  bool switches;
};

// The events of a handler at the end of the input, which must be reported once and last.
const std::string& CheckedEvents(const CheckingHandler& handler, const Tessarin::Html::Tokenizer& tokenizer) {
  Check(!tokenizer.OutOfMemory(), "out of memory");
  const std::string& events = handler.events;
  Check(handler.eofCount == 1 && events.compare(events.size() - 3, 3, "EOF") == 0, "a callback after the end of file");
  return events;
}

// Tokenizes to the end of file and returns the events. With runSteps > 0 the
// tokenizer is driven by Run(runSteps), otherwise by Tokenize.
std::string Tokenize(const std::string& input, TessarinTest::Source source, unsigned long runSteps,
                     const Options& options) {
  TessarinTest::Pipeline<CheckingHandler> p(input, source, input.size() % 2 == 0, options.Has(5));
  options.Apply(p.tokenizer);
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
  return CheckedEvents(p.handler, p.tokenizer);
}

// Feeds the input in pieces of 1 to 16 bytes, their sizes cycling through the
// input's first four bytes, and then ends it; returns the events.
std::string TokenizeFed(const std::string& input, const Options& options) {
  TessarinTest::Pipeline<CheckingHandler> p("", TessarinTest::Source::Fed, input.size() % 2 == 0, options.Has(5));
  Tessarin::FeedInputStream& bytes = p.Fed();
  options.Apply(p.tokenizer);
  const unsigned long maxCalls = 8 * input.size() + 16;
  unsigned long calls = 0;
  for (size_t start = 0, piece = 0; start < input.size(); ++piece) {
    const size_t size =
        std::min<size_t>(1 + static_cast<uint8_t>(input[piece % 4 % input.size()]) % 16, input.size() - start);
    Check(bytes.Append(input.data() + start, size), "append");
    start += size;
    while (p.tokenizer.RunFed(8, bytes)) Check(++calls <= maxCalls, "feeding does not progress");
    Check(p.handler.eofCount == 0, "the end of file before the end of the input");
  }
  while (p.tokenizer.Run(8)) Check(++calls <= maxCalls, "tokenizer does not progress");
  return CheckedEvents(p.handler, p.tokenizer);
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
  if (size == 0) return 0;
  const Options options(data[0]);
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string expected = Tokenize(input, TessarinTest::Source::Memory, 0, options);
  CheckSame(expected, Tokenize(input, TessarinTest::Source::File, 0, options), "Tokenize from a file");
  CheckSame(expected, Tokenize(input, TessarinTest::Source::Memory, 1 + size % 5, options), "Run from memory");
  CheckSame(expected, TokenizeFed(input, options), "fed in pieces");
  const unsigned long wideSteps = 16 + size % 48;
  CheckSame(expected, Tokenize(input, TessarinTest::Source::Memory, wideSteps, options), "Run, 16 bytes at a time");
#if defined(__SSE2__)
  Tessarin::Html::wideScanning = false;
  CheckSame(expected, Tokenize(input, TessarinTest::Source::Memory, wideSteps, options), "Run, a byte at a time");
  Tessarin::Html::wideScanning = true;
#endif
  return 0;
}

// libFuzzer target over the C++ core. The first byte of an input chooses the
// content model and the state tokenizing starts in (see Options); the rest is
// tokenized three times: from memory one Tokenize step at a time, from a file,
// and from memory driven by Run with a small step budget. Every token is checked as it is delivered (its
// buffers consistent, every code point read and in range), the end of file must
// be reported exactly once and last, and the three event streams must agree.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "stream/file_stream.h"
#include "tests/cpp/recording_handler.h"

namespace {

using Tessarin::fast_stack_t;
using Tessarin::Html::attr_list_t;
using Tessarin::Html::attr_t;
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

constexpr unsigned int kMaxCodePoint = 0x1FFFFF;  // the largest value the decoder yields

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Reads every code point of a text, so that the sanitizers see each access.
void CheckText(const unsigned int* text, unsigned long length, unsigned long inputSize) {
  Check(text != nullptr, "text pointer is null");
  Check(length <= inputSize, "text longer than the input");
  for (unsigned long i = 0; i < length; ++i) Check(text[i] <= kMaxCodePoint, "code point out of range");
}

template <typename T, unsigned long N>
void CheckBuffer(const fast_stack_t<T, N>& buffer, unsigned long inputSize) {
  Check(buffer.data == (buffer.heap ? buffer.heap : buffer.local), "buffer data is neither inline nor its block");
  Check(buffer.size <= (buffer.heap ? buffer.capacity : N), "buffer holds more than its capacity");
  Check(buffer.size <= inputSize, "buffer longer than the input");
}

// The shared recording handler with every delivery checked first.
class CheckingHandler final : public TessarinTest::RecordingHandler {
 public:
  CheckingHandler(bool acknowledge, unsigned long inputSize, bool switches)
      : RecordingHandler(acknowledge), inputSize(inputSize), switches(switches) {}

  void OnParseError() override {
    Live();
    RecordingHandler::OnParseError();
  }
  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    Live();
    if (name) CheckText(name, nameLength, inputSize);
    if (publicId) CheckText(publicId, publicIdLength, inputSize);
    if (systemId) CheckText(systemId, systemIdLength, inputSize);
    RecordingHandler::OnDoctype(name, nameLength, publicId, publicIdLength, systemId, systemIdLength);
  }
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    Live();
    CheckText(name, nameLength, inputSize);
    Check(nameLength > 0, "start tag without a name");
    CheckBuffer(attributes, inputSize);
    Check(attributeCount == attributes.size, "attribute count differs from the list");
    for (unsigned long i = 0; i < attributeCount; ++i) {
      const attr_t& attribute = attributes.data[i];
      CheckBuffer(attribute.name, inputSize);
      CheckBuffer(attribute.value, inputSize);
      CheckText(attribute.name.data, attribute.name.size, inputSize);
      CheckText(attribute.value.data, attribute.value.size, inputSize);
    }
    RecordingHandler::OnStartTag(name, nameLength, attributes, attributeCount, selfClosing);
    if (switches) GetTokenizer()->SetContentModel(static_cast<TextState>(nameLength % 5));
  }
  void OnEndTag(const unsigned int* name, unsigned long nameLength) override {
    Live();
    CheckText(name, nameLength, inputSize);
    Check(nameLength > 0, "end tag without a name");
    RecordingHandler::OnEndTag(name, nameLength);
  }
  void OnComment(const unsigned int* text, unsigned long length) override {
    Live();
    CheckText(text, length, inputSize);
    RecordingHandler::OnComment(text, length);
  }
  void OnChar(unsigned int cp) override {
    Live();
    Check(cp <= kMaxCodePoint, "character out of range");
    RecordingHandler::OnChar(cp);
  }
  void OnEof() override {
    Live();
    RecordingHandler::OnEof();
  }

 private:
  void Live() const {
    Check(GetTokenizer() != nullptr, "callback before SetHandler");
    Check(eofCount == 0, "callback after the end of file");
  }

  unsigned long inputSize;
  bool switches;
};

// Tokenizes to the end of file and returns the events. With runSteps > 0 the
// tokenizer is driven by Run(runSteps), otherwise by Tokenize.
std::string Tokenize(Tessarin::RawInputStream& bytes, unsigned long inputSize, unsigned long runSteps,
                     const Options& options) {
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  CheckingHandler handler(inputSize % 2 == 0, inputSize, options.Has(5));
  tokenizer.SetHandler(handler);
  options.Apply(tokenizer);
  // A state step consumes a code point or hands one to a state that does: a
  // parse that takes many more steps than that is stuck.
  const unsigned long maxCalls = 8 * inputSize + 16;
  unsigned long calls = 0;
  bool more;
  do {
    Check(++calls <= maxCalls, "tokenizer does not progress");
    more = runSteps ? tokenizer.Run(runSteps) : tokenizer.Tokenize();
    Check(more == (handler.eofCount == 0), "Tokenize/Run result disagrees with the end of file");
  } while (more);
  Check(!tokenizer.OutOfMemory(), "out of memory");
  return handler.events;
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

// A scratch file rewritten with each input, removed when the fuzzer exits.
class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/htmltess-fuzz-XXXXXX";
    fd = mkstemp(&path[0]);
    Check(fd >= 0, "cannot create the scratch file");
  }
  ~ScratchFile() {
    close(fd);
    unlink(path.c_str());
  }
  void Write(const uint8_t* data, size_t size) {
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
          "cannot write the scratch file");
  }
  const char* Path() const { return path.c_str(); }

 private:
  std::string path;
  int fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile scratch;
  if (size == 0) return 0;
  const Options options(data[0]);
  ++data;
  --size;
  Tessarin::MemoryInputStream memory(data, size);
  const std::string expected = Tokenize(memory, size, 0, options);

  scratch.Write(data, size);
  Tessarin::FileInputStream file(scratch.Path());
  Check(file.OpenError() == 0, "cannot open the scratch file");
  CheckSame(expected, Tokenize(file, size, 0, options), "Tokenize from a file");

  Tessarin::MemoryInputStream again(data, size);
  CheckSame(expected, Tokenize(again, size, 1 + size % 5, options), "Run from memory");
  return 0;
}

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "recording_handler.h"
#include "stream/file_stream.h"

using Tessarin::Html::kEof;
using TessarinTest::AppendCodePoint;

namespace {

// A file of its own in the test's temporary directory, removed again at the end.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    std::string name = testing::TempDir() + "char_refs_XXXXXX";
    int fd = mkstemp(name.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(fd);
    path = name;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

// The input layers and a tokenizer over one byte stream, with a recording
// handler, so that the consumer's operations can be called directly.
struct Pipeline {
  explicit Pipeline(Tessarin::RawInputStream& bytes) : codePoints(bytes), consumer(codePoints), tokenizer(consumer) {
    tokenizer.SetHandler(handler);
  }
  // The code points still to come, as UTF-8.
  std::string Rest() {
    std::string rest;
    for (unsigned int cp; (cp = consumer.Consume()) != kEof;) AppendCodePoint(rest, cp);
    return rest;
  }
  std::string Tokenize() {
    while (tokenizer.Tokenize()) {
    }
    return handler.events;
  }

  Tessarin::Unicode::InputStream codePoints;
  Tessarin::Html::InputConsumer consumer;
  Tessarin::Html::Tokenizer tokenizer;
  TessarinTest::RecordingHandler handler;
};

// The same text over memory and over a file.
enum class Source { Memory, File };

void PrintTo(Source source, std::ostream* os) { *os << (source == Source::Memory ? "memory" : "file"); }

// A text as a test parameter: short ones as they are, long ones by their ends.
std::string Shown(const std::string& text) {
  if (text.size() <= 24) return testing::PrintToString(text);
  return testing::PrintToString(text.substr(0, 8)) + "..." + testing::PrintToString(text.substr(text.size() - 8)) +
         " (" + std::to_string(text.size()) + " bytes)";
}

struct Document {
  Document(Source source, const std::string& text) : text(text) {
    if (source == Source::Memory) {
      bytes = std::make_unique<Tessarin::MemoryInputStream>(this->text.data(), this->text.size());
    } else {
      file = std::make_unique<TempFile>(text);
      bytes = std::make_unique<Tessarin::FileInputStream>(file->path.c_str());
    }
  }
  const std::string text;
  std::unique_ptr<TempFile> file;
  std::unique_ptr<Tessarin::RawInputStream> bytes;
};

// What follows an "&" that a state has consumed, and what ConsumeCharRef makes
// of it: the code points written, the events (parse errors) it reports and the
// input left after it.
struct DispatchCase {
  std::string input;
  unsigned int additionalAllowedChar;  // 0 for none
  bool inAttribute;
  std::string out;
  std::string events;
  std::string rest;
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << Shown(c.input); }

class ConsumeCharRef : public testing::TestWithParam<DispatchCase> {};

TEST_P(ConsumeCharRef, ResolvesOrLeavesTheInputAsItWas) {
  const DispatchCase& c = GetParam();
  Tessarin::MemoryInputStream bytes(c.input.data(), c.input.size());
  Pipeline p(bytes);
  unsigned int out[2] = {0, 0};
  size_t count = p.consumer.ConsumeCharRef(p.tokenizer, c.additionalAllowedChar ? &c.additionalAllowedChar : nullptr,
                                           c.inAttribute, out);
  std::string written;
  for (size_t i = 0; i < count; ++i) AppendCodePoint(written, out[i]);
  EXPECT_EQ(written, c.out);
  EXPECT_EQ(p.handler.events, c.events);
  EXPECT_EQ(p.Rest(), c.rest);
}

const std::string E = "ParseError";

const DispatchCase kDispatchCases[] = {
    {"", 0, false, "", "", ""},
    {"\tx", 0, false, "", "", "\tx"},
    {"\nx", 0, false, "", "", "\nx"},
    {"\fx", 0, false, "", "", "\fx"},
    {" x", 0, false, "", "", " x"},
    {"<x", 0, false, "", "", "<x"},
    {"&amp;", 0, false, "", "", "&amp;"},
    {"#65;x", 0, false, "A", "", "x"},
    {"#x;", 0, false, "", E, "#x;"},
    {"#X", 0, false, "", E, "#X"},
    {"#128 x", 0, false, "\u20AC", E + " | " + E, " x"},
    // The additional allowed character: nothing, no parse error.
    {"\"x", '"', true, "", "", "\"x"},
    {"'x", '\'', true, "", "", "'x"},
    {">x", '>', true, "", "", ">x"},
    // It is tested after "#" and before the names.
    {"#65;", '#', true, "A", "", ""},
    {"amp;x", 'a', true, "", "", "amp;x"},
    // A name without ";" in an attribute value, before "=" or an
    // alphanumeric, stays as written; elsewhere it is resolved.
    {"copy=2", '"', true, "", "", "copy=2"},
    {"copyx", '"', true, "", "", "copyx"},
    {"notin=", '"', true, "", "", "notin="},
    {"copy=2", 0, false, "\u00A9", E, "=2"},
    {"copy 2", '"', true, "\u00A9", E, " 2"},
    {"copy", '"', true, "\u00A9", E, ""},
    {"copy;=2", '"', true, "\u00A9", "", "=2"},
    {"NotEqualTilde;x", 0, false, "\u2242\u0338", "", "x"},
    {"notit;", 0, false, "\u00AC", E, "it;"},
    {"foo;", 0, false, "", E, "foo;"},
    {"foo", 0, false, "", "", "foo"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ConsumeCharRef, testing::ValuesIn(kDispatchCases));

// A state may have put the end of input back; "&" before it is no reference.
TEST(ConsumeCharRefAtEnd, UnconsumedEndOfInputStaysInPlace) {
  Tessarin::MemoryInputStream bytes("", 0);
  Pipeline p(bytes);
  p.consumer.Unconsume(kEof);
  unsigned int out[2];
  EXPECT_EQ(p.consumer.ConsumeCharRef(p.tokenizer, nullptr, false, out), 0u);
  EXPECT_EQ(p.consumer.Consume(), kEof);
  unsigned int next;
  EXPECT_FALSE(p.consumer.Peek(next));
  EXPECT_EQ(p.handler.events, "");
}

// CheckAlphaNumStart on a text after `consumed` code points were read and
// `peeked` more were decoded ahead into the pending queue.
struct AlphaNumCase {
  std::string text;
  size_t consumed;
  size_t peeked;
  bool expected;
};

void PrintTo(const AlphaNumCase& c, std::ostream* os) {
  *os << Shown(c.text) << " consumed " << c.consumed << " peeked " << c.peeked;
}

std::string Letters(size_t n) {
  std::string s(n, 'a');
  for (size_t i = 0; i < n; ++i) s[i] = "aZ0q9Qz"[i % 7];
  return s;
}

constexpr size_t kBuffer = Tessarin::FileInputStream::kBufferSize;

std::vector<AlphaNumCase> AlphaNumCases() {
  std::vector<AlphaNumCase> cases = {
      {"", 0, 0, false},      {";", 0, 0, false},        {"a;", 0, 0, true},         {"a1B2;x", 0, 0, true},
      {"abc", 0, 0, false},   {"ab c;", 0, 0, false},    {"ab\u00E9;", 0, 0, false}, {"ab&c;", 0, 0, false},
      {"x&abc;", 2, 0, true}, {"abc;", 0, 2, true},      {"abc;", 0, 4, true},       {"abc;", 0, 9, true},
      {"ab.;", 0, 3, false},  {"\u00E9a;", 0, 0, false},
  };
  // Runs longer than the file stream's buffer, starting at and across its
  // boundaries, with the run's end at and around a boundary.
  for (size_t consumed : {size_t{0}, size_t{1}, kBuffer - 3, kBuffer + 5}) {
    std::string before(consumed, '.');
    for (size_t run : {size_t{40}, kBuffer - consumed % kBuffer - 1, kBuffer - consumed % kBuffer, 3 * kBuffer + 7}) {
      for (size_t peeked : {size_t{0}, size_t{32}}) {
        cases.push_back({before + Letters(run) + ";", consumed, peeked, true});
        cases.push_back({before + Letters(run), consumed, peeked, false});
        cases.push_back({before + Letters(run) + "\u00E9;", consumed, peeked, false});
      }
    }
  }
  return cases;
}

class CheckAlphaNumStart : public testing::TestWithParam<std::tuple<Source, AlphaNumCase>> {};

TEST_P(CheckAlphaNumStart, LooksPastTheRunAndLeavesTheInputAsItWas) {
  const AlphaNumCase& c = std::get<1>(GetParam());
  Document document(std::get<0>(GetParam()), c.text);
  Pipeline p(*document.bytes);
  std::string expectedRest;
  {
    // The same text decoded on its own, for the code points after the consumed ones.
    Tessarin::MemoryInputStream copy(c.text.data(), c.text.size());
    Pipeline reference(copy);
    for (size_t i = 0; i < c.consumed; ++i) reference.consumer.Consume();
    expectedRest = reference.Rest();
  }
  for (size_t i = 0; i < c.consumed; ++i) p.consumer.Consume();
  std::vector<unsigned int> ahead(c.peeked + 1);
  p.consumer.Peek(ahead.data(), c.peeked);
  EXPECT_EQ(p.consumer.CheckAlphaNumStart(), c.expected);
  EXPECT_TRUE(p.Rest() == expectedRest);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckAlphaNumStart,
                         testing::Combine(testing::Values(Source::Memory, Source::File),
                                          testing::ValuesIn(AlphaNumCases())));

// References in text read from memory and from a file, the run after "&"
// longer than the file stream's buffer.
struct TextCase {
  std::string input;
  std::string events;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << Shown(c.input); }

std::vector<TextCase> TextCases() {
  std::string run = Letters(kBuffer + 100);
  std::vector<TextCase> cases = {
      {"&" + run + ";", "ParseError | Character \"&" + run + ";\" | EOF"},
      {"&" + run, "Character \"&" + run + "\" | EOF"},
      {std::string(kBuffer - 2, '.') + "&" + run + ";&amp;",
       "Character \"" + std::string(kBuffer - 2, '.') + "\" | ParseError | Character \"&" + run + ";&\" | EOF"},
      {"&notin;&notit;&#x41;&#128 &#",
       "Character \"\u2209\" | ParseError | Character \"\u00ACit;A\" | "
       "ParseError | ParseError | Character \"\u20AC \" | ParseError | "
       "Character \"&#\" | EOF"},
  };
  // A name read from the file stream's window, cut by its end at each place.
  for (size_t k = 1; k <= 8; ++k) {
    std::string text(kBuffer - k, '.');
    cases.push_back({text + "&notin;&amp", "Character \"" + text + "\u2209\" | ParseError | Character \"&\" | EOF"});
  }
  return cases;
}

class ReferencesInText : public testing::TestWithParam<std::tuple<Source, TextCase>> {};

TEST_P(ReferencesInText, GiveTheSameEventsFromEitherStream) {
  const TextCase& c = std::get<1>(GetParam());
  Document document(std::get<0>(GetParam()), c.input);
  Pipeline p(*document.bytes);
  EXPECT_TRUE(p.Tokenize() == c.events);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferencesInText,
                         testing::Combine(testing::Values(Source::Memory, Source::File),
                                          testing::ValuesIn(TextCases())));

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "recording_handler.h"

using Tessarin::Html::kEof;
using TessarinTest::AppendCodePoint;
using TessarinTest::Pipeline;
using TessarinTest::Source;

namespace {

// The order of the tests after "&": "#" comes before the additional allowed
// character, which comes before the names. (input, allowed, written, rest)
TEST(ConsumeCharRef, TestsTheAdditionalAllowedCharacterAfterNumbersAndBeforeNames) {
  for (auto [input, allowed, written, rest] :
       {std::tuple{"#65;", '#', "A", ""}, std::tuple{"amp;x", 'a', "", "amp;x"}}) {
    Pipeline p(input);
    unsigned int cp = allowed, out[2];
    size_t count = p.consumer.ConsumeCharRef(p.tokenizer, &cp, true, out);
    std::string got;
    for (size_t i = 0; i < count; ++i) AppendCodePoint(got, out[i]);
    EXPECT_EQ(got, written);
    EXPECT_EQ(p.Rest(), rest);
    EXPECT_EQ(p.handler.events, "");
  }
}

// A state may have put the end of input back; "&" before it is no reference.
TEST(ConsumeCharRef, UnconsumedEndOfInputStaysInPlace) {
  Pipeline p("");
  p.consumer.Unconsume(kEof);
  unsigned int out[2], next;
  EXPECT_EQ(p.consumer.ConsumeCharRef(p.tokenizer, nullptr, false, out), 0u);
  EXPECT_EQ(p.consumer.Consume(), kEof);
  EXPECT_FALSE(p.consumer.Peek(next));
  EXPECT_EQ(p.handler.events, "");
}

// AlphanumericRunEndsWithSemicolon on a text after `consumed` code points were read and
// `peeked` more were decoded ahead into the pending queue.
struct AlphaNumCase {
  std::string text;
  size_t consumed;
  size_t peeked;
  bool expected;
};

void PrintTo(const AlphaNumCase& c, std::ostream* os) {
  *os << c.text.size() << " bytes, " << c.consumed << " consumed, " << c.peeked << " peeked";
}

std::string Letters(size_t n) {
  std::string s(n, 'a');
  for (size_t i = 0; i < n; ++i) s[i] = "aZ0q9Qz"[i % 7];
  return s;
}

constexpr size_t kBuffer = Tessarin::FileInputStream::kBufferSize;

std::vector<AlphaNumCase> AlphaNumCases() {
  std::vector<AlphaNumCase> cases = {
      {"x&abc;", 2, 0, true}, {"abc;", 0, 2, true}, {"abc;", 0, 4, true}, {"abc;", 0, 9, true}, {"ab.;", 0, 3, false},
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

class AlphanumericRunEndsWithSemicolon : public testing::TestWithParam<std::tuple<Source, AlphaNumCase>> {};

TEST_P(AlphanumericRunEndsWithSemicolon, LooksPastTheRunAndLeavesTheInputAsItWas) {
  const AlphaNumCase& c = std::get<1>(GetParam());
  Pipeline p(c.text, std::get<0>(GetParam()));
  for (size_t i = 0; i < c.consumed; ++i) p.consumer.Consume();
  std::vector<unsigned int> ahead(c.peeked + 1);
  p.consumer.Peek(ahead.data(), c.peeked);
  size_t run;
  EXPECT_EQ(p.consumer.AlphanumericRunEndsWithSemicolon(run), c.expected);
  EXPECT_TRUE(p.Rest() == c.text.substr(c.consumed));  // the consumed code points are ASCII
}

INSTANTIATE_TEST_SUITE_P(Cases, AlphanumericRunEndsWithSemicolon,
                         testing::Combine(testing::Values(Source::Memory, Source::File),
                                          testing::ValuesIn(AlphaNumCases())));

// References in text whose run after "&" crosses the file stream's buffer, and
// names cut by the end of the buffer at each place.
TEST(ReferencesInText, GiveTheSameEventsFromAFile) {
  std::string run = Letters(kBuffer + 100), dots(kBuffer - 2, '.');
  std::vector<std::pair<std::string, std::string>> cases = {
      {"&" + run, "Character \"&" + run + "\" | EOF"},
      {dots + "&" + run + ";&amp;", "Character \"" + dots + "\" | ParseError | Character \"&" + run + ";&\" | EOF"},
  };
  for (size_t k = 1; k <= 8; ++k) {
    std::string text(kBuffer - k, '.');
    cases.push_back({text + "&notin;&amp", "Character \"" + text + "\u2209\" | ParseError | Character \"&\" | EOF"});
  }
  for (const auto& [input, events] : cases) EXPECT_TRUE(Pipeline(input, Source::File).Events() == events);
}

}  // namespace

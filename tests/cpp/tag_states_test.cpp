#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <tuple>

#include "recording_handler.h"

using Tessarin::Html::attr_list_t;
using TessarinTest::Pipeline;
using TessarinTest::RecordingHandler;
using TessarinTest::Tokenize;

namespace {

// A self-closing start tag is followed by a parse error unless the handler acknowledges it.
TEST(TagStates, ParseErrorFollowsAnUnacknowledgedSelfClosingStartTag) {
  for (auto [input, acknowledge, events] :
       {std::tuple{"<br/>", false, "StartTag \"br\" {} true | ParseError | EOF"},
        std::tuple{"<br/>", true, "StartTag \"br\" {} true | EOF"},
        std::tuple{"<a b=c/>", false, "StartTag \"a\" {\"b\":\"c/\"} false | EOF"},
        std::tuple{"<a b='c'/>x", false, "StartTag \"a\" {\"b\":\"c\"} true | ParseError | Character \"x\" | EOF"},
        std::tuple{"</a/>", true, "ParseError | EndTag \"a\" | EOF"}}) {
    EXPECT_EQ(Tokenize(input, acknowledge), events) << input;
  }
}

// Acknowledges only the start tags that are not self-closing, and checks that
// the count passed matches the list.
class EagerHandler : public RecordingHandler {
 public:
  EagerHandler() : RecordingHandler(false) {}
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    RecordingHandler::OnStartTag(name, nameLength, attributes, attributeCount, selfClosing);
    if (!selfClosing) GetTokenizer()->Acknowledge();
    EXPECT_EQ(attributeCount, attributes.size);
  }
};

// An acknowledgement given to an earlier tag does not carry over; a dropped
// repeat is neither in the list nor in the count.
TEST(TagStates, AcknowledgementIsPerTagAndCountsMatchTheList) {
  for (auto [input, events] :
       {std::pair{"<a><b/>", "StartTag \"a\" {} false | StartTag \"b\" {} true | ParseError"},
        std::pair{"<a x=1 y x=2>", "ParseError | StartTag \"a\" {\"x\":\"1\",\"y\":\"\"} false"}}) {
    Pipeline p(input);
    EagerHandler eager;
    p.tokenizer.SetHandler(eager);
    while (p.tokenizer.Tokenize()) {
    }
    EXPECT_EQ(eager.events, std::string(events) + " | EOF");
  }
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A tag whose buffers have all gone to the heap: long name, more than 8
// attributes, long attribute names and values, a name index, and a dropped
// repeat with a long value.
std::string BigTag() {
  std::string tag = "<" + Repeat("n", 40);
  for (int i = 0; i < 40; ++i) tag += " a" + std::to_string(i) + Repeat("n", 20) + "=" + Repeat("v", 300);
  return tag + " a0" + Repeat("n", 20) + "='" + Repeat("w", 300) + "'";
}

// "@" stands for BigTag(), "#" for a text long enough to be on the heap.
std::string Expand(const std::string& pattern) {
  std::string out;
  for (char c : pattern) out += c == '@' ? BigTag() : c == '#' ? std::string(3000, 'x') : std::string(1, c);
  return out;
}

// Heap in use, as the C library counts it. Its caches make the figure move by
// a few kilobytes; a leaked token moves it by tens of kilobytes per run.
size_t BytesInUse() { return mallinfo2().uordblks; }
constexpr size_t kSlack = 64 * 1024;

// Each input emits a token whose buffers are on the heap, then begins another
// of the same kind; the heap in use must come back to where it was.
class HeapBlocks : public testing::TestWithParam<std::string> {};

TEST_P(HeapBlocks, AreReleasedWhenTheTokenIsEmitted) {
  const std::string input = Expand(GetParam());
  Tokenize(input);
  size_t before = BytesInUse();
  for (int i = 0; i < 100; ++i) Tokenize(input);
  EXPECT_LE(BytesInUse(), before + kSlack);
}

INSTANTIATE_TEST_SUITE_P(Tokens, HeapBlocks,
                         testing::Values("@>@>", "@ a1nnnnnnnnnnnnnnnnnnnn='x'>@", "<!--#--><!--#", "<!#><!#",
                                         "<!DOCTYPE # PUBLIC '#' '#'><!DOCTYPE #", "<!DOCTYPE # x><!DOCTYPE #"));

TEST(TagStates, AbandonedTagIsReleasedWithTheTokenizer) {
  const std::string input = BigTag();
  size_t before = BytesInUse();
  for (int i = 0; i < 100; ++i) {
    Pipeline p(input);
    for (size_t step = 0; step + 10 < input.size(); ++step) ASSERT_TRUE(p.tokenizer.Tokenize());
  }
  EXPECT_LE(BytesInUse(), before + kSlack);
}

}  // namespace

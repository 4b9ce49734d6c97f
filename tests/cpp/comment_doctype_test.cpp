#include <gtest/gtest.h>
#include <malloc.h>

#include <string>

#include "recording_handler.h"
#include "token_block_failures.h"

using TessarinTest::RefuseTokenBlocks;
using TessarinTest::Tokenize;
using namespace std::string_literals;

namespace {

// The bogus comment state collects the whole comment in one Tokenize step.
TEST(BogusComment, IsCollectedAndEmittedInOneStep) {
  const std::string input = "<!x\0y-->z"s;
  Tessarin::MemoryInputStream bytes(input.data(), input.size());
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  TessarinTest::RecordingHandler handler;
  tokenizer.SetHandler(handler);
  for (int step = 0; step < 3; ++step) ASSERT_TRUE(tokenizer.Tokenize());  // "<", "!", look-ahead
  EXPECT_EQ(handler.events, "ParseError");
  ASSERT_TRUE(tokenizer.Tokenize());
  EXPECT_EQ(handler.events, "ParseError | Comment \"x\xEF\xBF\xBDy--\"");
  ASSERT_TRUE(tokenizer.Tokenize());
  EXPECT_EQ(handler.events, "ParseError | Comment \"x\xEF\xBF\xBDy--\" | Character \"z\"");
}

// Ordinary comments and DOCTYPEs fit the inline storage: they need no heap block.
TEST(TokenStorage, InlineRoomHoldsUsualTokensWithoutTheHeap) {
  RefuseTokenBlocks refused;
  const std::string comment(1024, 'c');
  EXPECT_EQ(Tokenize("<!--" + comment + "-->"), "Comment \"" + comment + "\" | EOF");
  EXPECT_EQ(Tokenize("<?" + comment.substr(1) + ">"), "ParseError | Comment \"?" + comment.substr(1) + "\" | EOF");
  const std::string publicId(128, 'p');
  EXPECT_EQ(Tokenize("<!DOCTYPE abcd PUBLIC '" + publicId + "' 'efgh'>"),
            "DOCTYPE \"abcd\" \"" + publicId + "\" \"efgh\" | EOF");
}

// A token that cannot grow ends tokenizing: it is never reported cut short.
TEST(TokenStorage, TokenThatCannotGrowIsNotReported) {
  RefuseTokenBlocks refused;
  const std::string text(1025, 'c');
  const struct {
    std::string input;
    std::string events;
  } cases[] = {
      {"a<!--" + text + "-->", "Character \"a\""},
      {"a<!" + text + ">", "Character \"a\" | ParseError"},
      {"<!DOCTYPE abcde>", ""},
      {"<!DOCTYPE a PUBLIC '" + text + "'>", ""},
      {"<!DOCTYPE a SYSTEM 'bcdef'>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokenize(c.input), c.events) << c.input.substr(0, 24);
}

// Heap in use, as the C library counts it; its caches move the figure by a
// few kilobytes, a token left unreleased by tens of kilobytes per run.
size_t BytesInUse() { return mallinfo2().uordblks; }
constexpr size_t kSlack = 64 * 1024;

struct LongToken {
  const char* name;
  std::string input;
};

// Each input puts every buffer of its token on the heap; emission, also at the
// end of input, must release them.
class CommentAndDoctypeHeapBlocks : public testing::TestWithParam<LongToken> {};

TEST_P(CommentAndDoctypeHeapBlocks, AreReleasedWhenTheTokenIsEmitted) {
  const std::string& input = GetParam().input;
  Tokenize(input);
  size_t before = BytesInUse();
  for (int i = 0; i < 100; ++i) Tokenize(input);
  EXPECT_LE(BytesInUse(), before + kSlack);
}

const std::string kLong(3000, 'x');
const std::string kLongDoctype = "<!DOCTYPE " + kLong + " PUBLIC '" + kLong + "' '" + kLong;

INSTANTIATE_TEST_SUITE_P(
    Tokens, CommentAndDoctypeHeapBlocks,
    testing::Values(LongToken{"Comment", "<!--" + kLong + "-->"}, LongToken{"CommentAtEof", "<!--" + kLong},
                    LongToken{"BogusComment", "<!" + kLong + ">"}, LongToken{"BogusCommentAtEof", "<!" + kLong},
                    LongToken{"Doctype", kLongDoctype + "'>"}, LongToken{"DoctypeAtEof", kLongDoctype},
                    LongToken{"BogusDoctypeAtEof", kLongDoctype + "' x"}),
    [](const testing::TestParamInfo<LongToken>& info) { return std::string(info.param.name); });

}  // namespace

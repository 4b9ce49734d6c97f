#include <gtest/gtest.h>

#include <string>

#include "recording_handler.h"
#include "token_block_failures.h"

using TessarinTest::RefuseTokenBlocks;
using TessarinTest::Tokenize;
using namespace std::string_literals;

namespace {

// The bogus comment state collects the whole comment in one Tokenize step.
TEST(BogusComment, IsCollectedAndEmittedInOneStep) {
  TessarinTest::Pipeline p("<!x\0y-->z"s);
  for (int step = 0; step < 3; ++step) ASSERT_TRUE(p.tokenizer.Tokenize());  // "<", "!", look-ahead
  EXPECT_EQ(p.handler.events, "ParseError");
  ASSERT_TRUE(p.tokenizer.Tokenize());
  EXPECT_EQ(p.handler.events, "ParseError | Comment \"x\xEF\xBF\xBDy--\"");
}

// Ordinary comments and DOCTYPEs fit the inline storage: they need no heap block.
TEST(TokenStorage, InlineRoomHoldsUsualTokensWithoutTheHeap) {
  RefuseTokenBlocks refused;
  const std::string comment(1024, 'c'), publicId(128, 'p');
  EXPECT_EQ(Tokenize("<!--" + comment + "-->"), "Comment \"" + comment + "\" | EOF");
  EXPECT_EQ(Tokenize("<?" + comment.substr(1) + ">"), "ParseError | Comment \"?" + comment.substr(1) + "\" | EOF");
  EXPECT_EQ(Tokenize("<!DOCTYPE abcd PUBLIC '" + publicId + "' 'efgh'>"),
            "DOCTYPE \"abcd\" \"" + publicId + "\" \"efgh\" | EOF");
}

// A token that cannot grow ends tokenizing: it is never reported cut short.
TEST(TokenStorage, TokenThatCannotGrowIsNotReported) {
  RefuseTokenBlocks refused;
  const std::string text(1025, 'c');
  const std::pair<std::string, std::string> cases[] = {{"a<!--" + text + "-->", "Character \"a\""},
                                                       {"a<!" + text + ">", "Character \"a\" | ParseError"},
                                                       {"<!DOCTYPE abcde>", ""},
                                                       {"<!DOCTYPE a PUBLIC '" + text + "'>", ""},
                                                       {"<!DOCTYPE a SYSTEM 'bcdef'>", ""}};
  for (const auto& [input, events] : cases) EXPECT_EQ(Tokenize(input), events) << input.substr(0, 24);
}

}  // namespace

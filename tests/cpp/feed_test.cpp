// Feeding: a document appended in pieces gives the events of the whole, and
// between pieces the tokenizer holds back no more bytes than a step may look
// at, besides the run that the token under construction reads to its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_handler.h"

using Tessarin::Html::Tokenizer;
using TessarinTest::Repeat;
using TessarinTest::Tokenize;

namespace {

// A code point takes up to four bytes; a step waits for all it may look at.
constexpr size_t kHeldBytes = 4 * Tokenizer::kLongestLookAhead - 1;

// Feeds the document in pieces of `piece` bytes, checks after each that at
// most kHeldBytes + `longestRun` bytes are held, then ends it and returns the
// events.
std::string FedInPieces(const std::string& document, size_t piece, size_t longestRun) {
  TessarinTest::Pipeline<> p("", TessarinTest::Source::Fed);
  size_t mostHeld = 0;
  for (size_t start = 0; start < document.size(); start += piece) {
    EXPECT_TRUE(p.Fed().Append(document.data() + start, std::min(piece, document.size() - start)));
    while (p.tokenizer.RunFed(1000, p.Fed())) {
    }
    mostHeld = std::max(mostHeld, p.Fed().UnreadSize());
  }
  EXPECT_LE(mostHeld, kHeldBytes + longestRun);
  while (p.tokenizer.Run(1000)) {
  }
  return p.handler.events;
}

// (document, the longest run of a reference's letters and digits or of a bogus comment).
const std::pair<std::string, size_t> kDocuments[] = {
    {Repeat("<!DOCTYPE html PUBLIC \"-//W3C//DTD\"><p a='&amp;b&notin;c'>x&#x1F600;y&nota \xC3\xA9\xE2\x82\xAC", 50),
     0},
    {"<![CDATA[x]]><!-- a -- b --!><!--->\r\n" + Repeat("\xF0\x9F\x98\x80&#", 40), 0},
    {"&" + std::string(5000, 'a') + ";z", 5001},
    {"<p title='&#" + std::string(5000, '1') + "'>", 5002},
    {"<?" + std::string(5000, '?') + ">", 5001},
};

class Feed : public testing::TestWithParam<size_t> {};

INSTANTIATE_TEST_SUITE_P(PieceSizes, Feed, testing::Values(1, 2, 3, 5, 64));

TEST_P(Feed, HoldsBackOnlyWhatAStepMayLookAt) {
  for (const auto& [document, longestRun] : kDocuments) {
    EXPECT_EQ(FedInPieces(document, GetParam(), longestRun), Tokenize(document)) << document.substr(0, 80);
  }
}

}  // namespace

// Feeding: a document appended in pieces gives the events of the whole, and
// between pieces the tokenizer holds back no more bytes than a step may look
// at, besides the run that the token under construction reads to its end.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recording_handler.h"
#include "stream/feed_stream.h"

using Tessarin::FeedInputStream;
using Tessarin::Html::Tokenizer;
using TessarinTest::Tokenize;

namespace {

// A code point takes up to four bytes; a step waits for all it may look at.
constexpr size_t kHeldBytes = 4 * Tokenizer::kLongestLookAhead - 1;

struct FedPipeline {
  FedPipeline() { tokenizer.SetHandler(handler); }

  FeedInputStream input;
  Tessarin::Unicode::InputStream codePoints{input};
  Tessarin::Html::InputConsumer consumer{codePoints};
  Tokenizer tokenizer{consumer};
  TessarinTest::RecordingHandler handler;
};

// Feeds the document in pieces of `piece` bytes, checks after each that at
// most kHeldBytes + `longestRun` bytes are held, then ends it and returns the
// events.
std::string FedInPieces(const std::string& document, size_t piece, size_t longestRun) {
  FedPipeline p;
  size_t mostHeld = 0;
  for (size_t start = 0; start < document.size(); start += piece) {
    EXPECT_TRUE(p.input.Append(document.data() + start, std::min(piece, document.size() - start)));
    while (p.tokenizer.RunFed(1000, p.input)) {
    }
    mostHeld = std::max(mostHeld, p.input.UnreadSize());
  }
  EXPECT_LE(mostHeld, kHeldBytes + longestRun);
  while (p.tokenizer.Run(1000)) {
  }
  return p.handler.events;
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
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

TEST_P(Feed, HoldsBackOnlyWhatAStepMayLookAtInWebPages) {
  for (const char* page :
       {"die-partei.net.luebeck.html", "hundeverein-kreisunna.de.html", "rs-ingenieure.de.tragwerksplanung.html"}) {
    std::ifstream file(std::string(HTMLTESS_SOURCE_DIR "/tests/corpus/") + page, std::ios::binary);
    const std::string document{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(document.empty()) << page;
    EXPECT_EQ(FedInPieces(document, GetParam(), 0), Tokenize(document)) << page;
  }
}

}  // namespace

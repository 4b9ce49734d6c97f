// Every request for a token block is made to fail in turn, for documents that
// grow each kind of token buffer past its inline storage and then on the heap.
// A failed request must end the parse with OutOfMemory() set, after events
// that the complete parse also reports, with no end of file, no token made
// from a buffer that could not grow, and every heap block released (checked
// in the sanitizer build).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cpp/recording_handler.h"
#include "tests/fault/failing_token_blocks.h"

namespace {

struct Outcome {
  std::string events;
  int eofCount = 0;
  bool outOfMemory = false;
  unsigned long requests = 0;
};

// Tokenizes with the n-th token block request failing (none for 0), by
// Tokenize steps or by Run(runSteps), in browser mode if asked.
Outcome Parse(const std::string& input, unsigned long failAt, unsigned long runSteps, bool browser) {
  TessarinTest::RecordingHandler handler;
  Outcome outcome;
  {
    TessarinTest::FailTokenBlock(failAt);
    Tessarin::MemoryInputStream bytes(input.data(), input.size());
    Tessarin::Unicode::InputStream codePoints(bytes);
    Tessarin::Html::InputConsumer consumer(codePoints);
    Tessarin::Html::Tokenizer tokenizer(consumer);
    tokenizer.SetHandler(handler);
    if (browser) tokenizer.FollowBrowserRules(true);
    while (runSteps ? tokenizer.Run(runSteps) : tokenizer.Tokenize()) {
    }
    outcome.outOfMemory = tokenizer.OutOfMemory();
    outcome.requests = TessarinTest::TokenBlockRequests();
  }
  outcome.eofCount = handler.eofCount;
  outcome.events = std::move(handler.events);
  return outcome;
}

// Defined only in builds with LeakSanitizer (the sanitizer test build): reports
// the heap blocks that nothing points to any more, nonzero when there are any.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

bool Leaked() { return __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() != 0; }

std::vector<std::string> Split(const std::string& events) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t end = events.find(" | ", start);
    parts.push_back(events.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 3;
  }
}

// The events of an interrupted parse are those of the complete one up to some
// point; only a run of characters may be cut short.
void ExpectPrefix(const std::string& partial, const std::string& complete) {
  if (partial.empty()) return;
  const std::vector<std::string> got = Split(partial), all = Split(complete);
  ASSERT_LE(got.size(), all.size()) << partial;
  for (size_t i = 0; i + 1 < got.size(); ++i) ASSERT_EQ(got[i], all[i]);
  const std::string& last = got.back();
  if (last == all[got.size() - 1]) return;
  EXPECT_EQ(last.rfind("Character \"", 0), 0u) << "a token was reported incomplete: " << last;
  EXPECT_EQ(all[got.size() - 1].rfind(last.substr(0, last.size() - 1), 0), 0u) << last;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::string ManyAttributes(int count, const std::string& value) {
  std::string out = "<t";
  for (int i = 0; i < count; ++i) out += " a" + std::to_string(i) + "='" + value + "'";
  return out + ">";
}

struct Document {
  const char* name;
  std::string text;
  bool browser = false;
};

void PrintTo(const Document& document, std::ostream* out) { *out << document.name; }

class TokenBlockFailure : public testing::TestWithParam<Document> {};

TEST_P(TokenBlockFailure, EachFailingRequestEndsTheParseCleanly) {
  const std::string& document = GetParam().text;
  const bool browser = GetParam().browser;
  for (unsigned long runSteps : {0ul, 3ul}) {
    SCOPED_TRACE(runSteps ? "Run" : "Tokenize");
    const Outcome complete = Parse(document, 0, runSteps, browser);
    ASSERT_FALSE(complete.outOfMemory);
    ASSERT_EQ(complete.eofCount, 1);
    ASSERT_GE(complete.requests, 2u) << "the document must grow a buffer on the heap";
    EXPECT_FALSE(Leaked());
    for (unsigned long n = 1; n <= complete.requests; ++n) {
      SCOPED_TRACE("request " + std::to_string(n) + " fails");
      const Outcome failed = Parse(document, n, runSteps, browser);
      EXPECT_TRUE(failed.outOfMemory);
      EXPECT_EQ(failed.eofCount, 0);
      EXPECT_FALSE(Leaked());
      ExpectPrefix(failed.events, complete.events);
    }
  }
}

const std::string kLong(3000, 'x');
const std::string kValue(200, 'v');

const Document kDocuments[] = {
    {"TagName", "x<" + std::string(100, 'a') + ">y"},
    {"EndTagName", "x</" + std::string(100, 'a') + ">y"},
    {"TagNameAtEnd", "x<" + std::string(100, 'a')},
    {"AttributeList", ManyAttributes(40, "v") + "y"},
    {"AttributeName", "<t " + std::string(100, 'n') + "=v>y"},
    {"AttributeValue", "<t a='" + std::string(600, 'v') + "'>y"},
    {"UnquotedValueAndReferences", "<t a=" + std::string(600, 'v') + " b=\"" + Repeat("&amp;", 300) + "\">"},
    {"AttributesMovedWithTheirBlocks", ManyAttributes(20, kValue) + "y"},
    {"AttributesAtEnd", ManyAttributes(20, kValue)},
    {"Comment", "<!--" + kLong + "-->y"},
    {"CommentEndStates", "<!--" + Repeat("-!", 2000) + "--!>y"},
    {"CommentAtEnd", "<!--" + kLong},
    {"BogusComment", "<?" + kLong + ">y"},
    {"DoctypeName", "<!DOCTYPE " + std::string(40, 'n') + ">y"},
    {"PublicIdentifier", "<!DOCTYPE html PUBLIC \"" + std::string(600, 'p') + "\">y"},
    {"SystemIdentifier", "<!DOCTYPE html SYSTEM '" + std::string(40, 's') + "'>y"},
    {"DoctypeAtEnd",
     "<!DOCTYPE " + std::string(40, 'n') + " PUBLIC '" + std::string(600, 'p') + "' '" + std::string(40, 's')},
    {"KindsInTurn", ManyAttributes(10, kValue) + "<!--" + kLong + "--><!DOCTYPE " + std::string(40, 'n') + "><" +
                        std::string(30, 'b') + " c=d>"},
    {"TextEndTagName", "<title>x</" + std::string(100, 'a') + ">y</title>", true},
    {"ScriptEscapedEndTagName", "<script><!--</" + std::string(100, 'a') + "><script>" + kLong, true},
    {"AppropriateEndTagAttributes", "<textarea>x</textarea" + ManyAttributes(20, kValue).substr(2), true},
};

INSTANTIATE_TEST_SUITE_P(Documents, TokenBlockFailure, testing::ValuesIn(kDocuments),
                         [](const testing::TestParamInfo<Document>& info) { return std::string(info.param.name); });

}  // namespace

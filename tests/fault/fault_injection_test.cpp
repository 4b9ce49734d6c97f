// Every request for a token block is made to fail in turn, for documents that
// grow each kind of token buffer past its inline storage and then on the heap.
// A failed request must end the parse with OutOfMemory() set, after events
// that the complete parse also reports, with no end of file, no token made
// from a buffer that could not grow, and every heap block released (checked
// in the sanitizer build).
#include <gtest/gtest.h>

#include <string>

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
  TessarinTest::Pipeline<> p(input);
  if (browser) p.tokenizer.FollowBrowserRules(true);
  TessarinTest::FailTokenBlock(failAt);
  std::string events = p.Events(runSteps);
  return {events, p.handler.eofCount, p.tokenizer.OutOfMemory(), TessarinTest::TokenBlockRequests()};
}

// Defined only in builds with LeakSanitizer (the sanitizer test build): reports
// the heap blocks that nothing points to any more, nonzero when there are any.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

using TessarinTest::Repeat;

bool Leaked() { return __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() != 0; }

// The events of an interrupted parse are those of the complete one up to some
// point: no token is reported cut short.
void ExpectPrefix(const std::string& partial, const std::string& complete) {
  const size_t end = partial.size();
  EXPECT_TRUE(complete.compare(0, end, partial) == 0 && (end == 0 || end == complete.size() || complete[end] == ' '))
      << partial;
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
const std::string kName(100, 'n');
const std::string kValue(600, 'v');

const Document kDocuments[] = {
    {"TagNames", "x<" + kName + ">y</" + kName + ">z"},
    {"TagNameAtEnd", "x<" + kName},
    {"AttributeParts", "<t " + kName + "='" + kValue + "' a=" + kValue + " b=\"" + Repeat("&amp;", 300) + "\">y"},
    {"ManyAttributes", ManyAttributes(40, kValue) + "y"},
    {"AttributesAtEnd", ManyAttributes(20, kValue)},
    {"Comment", "<!--" + kLong + "-->y"},
    {"CommentEndStates", "<!--" + Repeat("-!", 2000) + "--!>y"},
    {"CommentAtEnd", "<!--" + kLong},
    {"BogusComment", "<?" + kLong + ">y"},
    {"Doctype", "<!DOCTYPE " + kName + " PUBLIC \"" + kValue + "\" '" + kName + "'>y"},
    {"DoctypeAtEnd", "<!DOCTYPE " + kName + " PUBLIC '" + kValue + "' '" + kName},
    {"KindsInTurn", ManyAttributes(10, kValue) + "<!--" + kLong + "--><!DOCTYPE " + kName + "><" + kName + " c=d>"},
    {"TextEndTagName", "<title>x</" + kName + ">y</title>", true},
    {"ScriptEscapedEndTagName", "<script><!--</" + kName + "><script>" + kLong, true},
    {"AppropriateEndTagAttributes", "<textarea>x</textarea" + ManyAttributes(20, kValue).substr(2), true},
};

INSTANTIATE_TEST_SUITE_P(Documents, TokenBlockFailure, testing::ValuesIn(kDocuments),
                         [](const testing::TestParamInfo<Document>& info) { return std::string(info.param.name); });

}  // namespace

// The decoder: each byte sequence, from memory and from a file, is one code point.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_handler.h"

using TessarinTest::AppendCodePoint;
using TessarinTest::Pipeline;
using TessarinTest::Source;
using namespace std::string_literals;

namespace {

class StreamTest : public testing::TestWithParam<Source> {};

INSTANTIATE_TEST_SUITE_P(MemoryAndFile, StreamTest, testing::Values(Source::Memory, Source::File));

// (bytes, code points as UTF-8).
const std::pair<std::string, std::string> kDecodeCases[] = {
    {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "A\u00E9\u20AC\U0001F600"},
    // Not validated: continuation bytes give their low six bits whatever they are.
    {"\xC3<z", "\u00FCz"},
    {"\xC0\x80", "\0"s},
    {"\xC0\xBC\xC1\xA6#x\xE0\x80\xBC\xC3\xA9", "<f#x<\u00E9"},  // overlong forms
    {"\xED\xA0\x80", "\xED\xA0\x80"},                           // U+D800
    {"\xF7\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"},                   // U+1FFFFF
    // No newline normalisation, no special byte order mark or NUL.
    {"\xEF\xBB\xBFz\r\n\0"s, "\uFEFFz\r\n\0"s},
    // A byte that cannot lead a sequence.
    {"\x80z\xBF\xF8z\xFF", "\uFFFDz\uFFFD\uFFFDz\uFFFD"},
    // A sequence cut short by the end of the input.
    {"a\xC3", "a\uFFFD"},
    {"\xE2\x82", "\uFFFD"},
    {"\xF0\x9F\x98", "\uFFFD"},
};

TEST_P(StreamTest, DecodesEachSequenceToOneCodePoint) {
  for (const auto& [bytes, codePoints] : kDecodeCases) {
    Pipeline<> p(bytes, GetParam());
    std::string decoded;
    for (unsigned int cp; (cp = p.consumer.Consume()) != Tessarin::Html::kEof;) AppendCodePoint(decoded, cp);
    EXPECT_EQ(decoded, codePoints) << testing::PrintToString(bytes);
  }
}

// Byte offsets stay right however code points are read: peeked, put back
// after being read one at a time or in the window, overlong forms included.
TEST_P(StreamTest, KnowsTheByteOffsetOfEveryCodePoint) {
  for (const auto& [bytes, unused] : kDecodeCases) {
    std::vector<uint64_t> starts;  // of each code point, then the end
    for (size_t at = 0; at < bytes.size(); at += Tessarin::Unicode::InputStream::SequenceLength(bytes[at]))
      starts.push_back(at);
    starts.push_back(bytes.size());
    Pipeline<> p(bytes, GetParam());
    Tessarin::Html::InputConsumer& in = p.consumer;
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
      unsigned int ahead[3];
      in.Peek(ahead, 3);
      EXPECT_EQ(in.Offset(), starts[k]);
      const unsigned int first = in.Consume(), second = in.Consume();
      in.Unconsume(second);
      in.Unconsume(first);
      EXPECT_EQ(in.Offset(), starts[k]) << testing::PrintToString(bytes) << " at " << k;
      in.Consume();
      EXPECT_EQ(in.Offset() - in.LastLength(), starts[k]);
      EXPECT_EQ(in.Offset(), starts[k + 1]);
    }
  }
}

}  // namespace

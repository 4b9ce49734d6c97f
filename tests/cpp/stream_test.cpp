// The decoder: each byte sequence, from memory and from a file, is one code point.
#include <gtest/gtest.h>

#include <string>

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
    {"\xED\xA0\x80", "\xED\xA0\x80"},          // U+D800
    {"\xF7\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"},  // U+1FFFFF
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

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_handler.h"

using Tessarin::FileInputStream;
using Tessarin::Html::kEof;
using TessarinTest::AppendCodePoint;
using TessarinTest::Pipeline;
using TessarinTest::Source;
using namespace std::string_literals;

namespace {

class StreamTest : public testing::TestWithParam<Source> {};

INSTANTIATE_TEST_SUITE_P(MemoryAndFile, StreamTest, testing::Values(Source::Memory, Source::File));

// (bytes, code points as UTF-8): each sequence is one code point.
const std::pair<std::string, std::string> kDecodeCases[] = {
    {"", ""},
    {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "A\u00E9\u20AC\U0001F600"},
    // Not validated: continuation bytes give their low six bits whatever they are.
    {"\xC3<z", "\u00FCz"},
    {"\xC0\x80", "\0"s},
    {"\xED\xA0\x80", "\xED\xA0\x80"},          // U+D800
    {"\xF7\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"},  // U+1FFFFF
    // No newline normalisation, no special byte order mark or NUL.
    {"\xEF\xBB\xBFz\r\n\0"s, "\uFEFFz\r\n\0"s},
    // A byte that cannot lead a sequence.
    {"\x80z", "\uFFFDz"},
    {"\xBF", "\uFFFD"},
    {"\xF8z", "\uFFFDz"},
    {"a\xFFz", "a\uFFFDz"},
    // A sequence cut short by the end of the input.
    {"a\xC3", "a\uFFFD"},
    {"\xE2\x82", "\uFFFD"},
    {"\xF0\x9F\x98", "\uFFFD"},
};

TEST_P(StreamTest, DecodesEachSequenceToOneCodePoint) {
  for (const auto& [bytes, codePoints] : kDecodeCases) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    Pipeline decoded(bytes, GetParam()), skipped(bytes, GetParam()), consumed(bytes, GetParam());
    EXPECT_EQ(decoded.Rest(), codePoints);
    EXPECT_EQ(decoded.consumer.Consume(), kEof);
    // Skip passes over the same bytes as Consume.
    EXPECT_EQ(skipped.consumer.Skip(1), codePoints.empty() ? 0u : 1u);
    consumed.consumer.Consume();
    EXPECT_EQ(skipped.Rest(), consumed.Rest());
  }
}

TEST_P(StreamTest, PeekDeliversWhatConsumeThenReturns) {
  for (const std::string text : {"ab\xC3\xA9ghijk\xF0\x9F\x98\x80", "a\xE2\x82\xACz"}) {  // 9 and 3 code points
    Pipeline p(text, GetParam());
    unsigned int buf[7];
    size_t delivered = p.consumer.Peek(buf, 7);
    EXPECT_EQ(delivered, text.size() > 10 ? 7u : 3u);
    std::string peeked;
    for (size_t i = 0; i < delivered; ++i) AppendCodePoint(peeked, buf[i]);
    EXPECT_EQ(text.substr(0, peeked.size()), peeked);
    EXPECT_EQ(p.Rest(), text);
  }
}

TEST_P(StreamTest, UnconsumedCodePointsComeBackLastInFirstOut) {
  Pipeline p("xy", GetParam());
  EXPECT_EQ(p.consumer.Consume(), 'x');
  p.consumer.Unconsume('a');
  p.consumer.Unconsume('b');
  EXPECT_EQ(p.Rest(), "bay");
  // The end of input can be unconsumed too, and the input stays at its end.
  p.consumer.Unconsume(kEof);
  EXPECT_EQ(p.consumer.Consume(), kEof);
  EXPECT_EQ(p.consumer.Consume(), kEof);
  unsigned int buf[2];
  EXPECT_EQ(p.consumer.Peek(buf, 2), 0u);
}

TEST_P(StreamTest, SkipStopsAtTheEnd) {
  Pipeline p("a\xC3\xA9\xE2\x82\xACz", GetParam());
  EXPECT_EQ(p.consumer.Skip(10), 4u);
  EXPECT_EQ(p.consumer.Consume(), kEof);
}

TEST_P(StreamTest, ByteStreamPushStepsBackAtMostToTheStart) {
  Pipeline p("abcd", GetParam());
  Tessarin::RawInputStream& raw = *p.bytes.stream;
  unsigned char buf[2];
  ASSERT_EQ(raw.Pop(buf, 2), 2u);
  EXPECT_EQ(raw.Push(buf, 5), 2u);
  ASSERT_TRUE(raw.Pop(buf[0]));
  EXPECT_EQ(buf[0], 'a');
  EXPECT_EQ(raw.Push(buf, 1), 1u);
  EXPECT_EQ(raw.Push(buf, 1), 0u);
  EXPECT_EQ(raw.Skip(10), 4u);
  EXPECT_EQ(raw.Pop(buf, 2), 0u);
}

// Documents larger than the file stream's buffer, read across its boundary.
constexpr size_t kBoundary = FileInputStream::kBufferSize;

// Sequences of one to four bytes in turn.
std::string MixedText(size_t bytes) {
  const std::string pieces[] = {"", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  std::string out;
  for (unsigned i = 0; out.size() < bytes; ++i) out += i % 4 ? pieces[i % 4] : std::string(1, 'a' + i % 26);
  return out;
}

TEST_P(StreamTest, LongInputDecodesAcrossTheBufferBoundary) {
  // The four-byte sequence straddles the boundary.
  std::string bytes = std::string(kBoundary - 2, 'a') + "\xF0\x9F\x98\x80" + MixedText(3 * kBoundary);
  EXPECT_TRUE(Pipeline(bytes, GetParam()).Rest() == bytes);
}

TEST_P(StreamTest, PeekAndPushAcrossTheBufferBoundary) {
  std::string bytes = MixedText(4 * kBoundary);
  Pipeline p(bytes, GetParam());
  Tessarin::RawInputStream& raw = *p.bytes.stream;
  std::vector<unsigned char> buf(2 * kBoundary);
  auto got = [&](size_t count) { return std::string(buf.begin(), buf.begin() + static_cast<long>(count)); };

  ASSERT_EQ(raw.Pop(buf.data(), kBoundary - 6), kBoundary - 6);
  ASSERT_EQ(raw.Peek(buf.data(), 20), 20u);  // straddles the boundary
  EXPECT_EQ(got(20), bytes.substr(kBoundary - 6, 20));
  ASSERT_EQ(raw.Pop(buf.data(), 20), 20u);
  EXPECT_EQ(got(20), bytes.substr(kBoundary - 6, 20));
  EXPECT_EQ(raw.Push(buf.data(), 30), 30u);  // back before the boundary
  ASSERT_EQ(raw.Pop(buf.data(), 40), 40u);
  EXPECT_EQ(got(40), bytes.substr(kBoundary - 16, 40));

  // A look-ahead longer than the buffer leaves the position where it was.
  size_t at = kBoundary + 24;
  ASSERT_EQ(raw.Peek(buf.data(), buf.size()), buf.size());
  EXPECT_TRUE(got(buf.size()) == bytes.substr(at, buf.size()));
  ASSERT_EQ(raw.Pop(buf.data(), 8), 8u);
  EXPECT_EQ(got(8), bytes.substr(at, 8));

  // Skipping beyond the buffer, then stepping back over the skipped bytes.
  EXPECT_EQ(raw.Skip(kBoundary + 100), kBoundary + 100);
  EXPECT_EQ(raw.Push(buf.data(), 200), 200u);
  ASSERT_EQ(raw.Pop(buf.data(), 300), 300u);
  EXPECT_TRUE(got(300) == bytes.substr(at + 8 + kBoundary - 100, 300));
}

}  // namespace

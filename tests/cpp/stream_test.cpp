#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "html/code_points.h"
#include "html/consumer.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/unicode_stream.h"

using Tessarin::FileInputStream;
using Tessarin::MemoryInputStream;
using Tessarin::RawInputStream;
using Tessarin::Html::InputConsumer;
using Tessarin::Html::kEof;
using namespace std::string_literals;

namespace {

using CodePoints = std::vector<unsigned int>;

enum class Source { Memory, File };

// A unique path in the temporary directory; the file is removed with the object.
class TempPath {
 public:
  TempPath() {
    char name[] = "/tmp/htmltess-stream-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    path = name;
  }
  ~TempPath() { std::remove(path.c_str()); }
  void Write(const std::string& bytes) const {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }

  std::string path;
};

// The full input stack over given bytes, read from memory or from a file.
class Input {
 public:
  Input(Source source, std::string bytes) : content(std::move(bytes)) {
    if (source == Source::Memory) {
      raw = std::make_unique<MemoryInputStream>(content.data(), content.size());
    } else {
      file.Write(content);
      auto stream = std::make_unique<FileInputStream>(file.path.c_str());
      EXPECT_EQ(stream->OpenError(), 0);
      raw = std::move(stream);
    }
    codePoints = std::make_unique<Tessarin::Unicode::InputStream>(*raw);
    consumer = std::make_unique<InputConsumer>(*codePoints);
  }

  // Consumes to the end of input.
  CodePoints Rest() {
    CodePoints out;
    for (unsigned int cp = consumer->Consume(); cp != kEof; cp = consumer->Consume()) out.push_back(cp);
    return out;
  }

  std::string content;
  TempPath file;
  std::unique_ptr<RawInputStream> raw;
  std::unique_ptr<Tessarin::Unicode::InputStream> codePoints;
  std::unique_ptr<InputConsumer> consumer;
};

// Bytes whose code points are all distinct and need one to four bytes each.
std::string MixedText(size_t bytes) {
  std::string out;
  for (unsigned i = 0; out.size() < bytes; ++i) {
    switch (i % 4) {
      case 0:
        out += static_cast<char>('a' + i % 26);
        break;
      case 1:
        out += "\xC3\xA9"s;
        break;
      case 2:
        out += "\xE2\x82\xAC"s;
        break;
      default:
        out += "\xF0\x9F\x98\x80"s;
        break;
    }
  }
  return out;
}

class StreamTest : public ::testing::TestWithParam<Source> {};

INSTANTIATE_TEST_SUITE_P(MemoryAndFile, StreamTest, ::testing::Values(Source::Memory, Source::File),
                         [](const ::testing::TestParamInfo<Source>& info) {
                           return info.param == Source::Memory ? "Memory" : "File";
                         });

struct decode_case_t {
  std::string bytes;
  CodePoints codePoints;
};

const decode_case_t decodeCases[] = {
    {"", {}},
    {"A", {0x41}},
    {"\xC3\xA9", {0xE9}},
    {"\xE2\x82\xAC", {0x20AC}},
    {"\xF0\x9F\x98\x80", {0x1F600}},
    {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {0x41, 0xE9, 0x20AC, 0x1F600}},
    // Not validated: continuation bytes give their low six bits whatever they are.
    {"\xC3<z", {0xFC, 'z'}},
    {"\xC0\x80", {0x0000}},
    {"\xED\xA0\x80", {0xD800}},
    {"\xF7\xBF\xBF\xBF", {0x1FFFFF}},
    // No newline normalisation, no special byte order mark or NUL.
    {"\xEF\xBB\xBFz", {0xFEFF, 'z'}},
    {"\r\n", {'\r', '\n'}},
    {"\0"s, {0x0000}},
    // A byte that cannot lead a sequence.
    {"\x80z", {0xFFFD, 'z'}},
    {"\xBF", {0xFFFD}},
    {"\xF8z", {0xFFFD, 'z'}},
    {"a\xFFz", {'a', 0xFFFD, 'z'}},
    // A sequence cut short by the end of the input.
    {"a\xC3", {'a', 0xFFFD}},
    {"\xE2\x82", {0xFFFD}},
    {"\xF0\x9F\x98", {0xFFFD}},
};

TEST_P(StreamTest, DecodesEachSequenceToOneCodePoint) {
  for (const decode_case_t& c : decodeCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    Input input(GetParam(), c.bytes);
    EXPECT_EQ(input.Rest(), c.codePoints);
    EXPECT_EQ(input.consumer->Consume(), kEof);
  }
}

TEST_P(StreamTest, SkipConsumesTheSameBytesAsDecoding) {
  for (const decode_case_t& c : decodeCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    Input input(GetParam(), c.bytes);
    size_t skipped = c.codePoints.empty() ? 0 : 1;
    EXPECT_EQ(input.consumer->Skip(1), skipped);
    EXPECT_EQ(input.Rest(), CodePoints(c.codePoints.begin() + skipped, c.codePoints.end()));
  }
}

TEST_P(StreamTest, EmptyInputStaysAtTheEnd) {
  Input input(GetParam(), "");
  unsigned int buf[2];
  EXPECT_EQ(input.consumer->Consume(), kEof);
  EXPECT_EQ(input.consumer->Consume(), kEof);
  EXPECT_EQ(input.consumer->Peek(buf, 2), 0u);
}

TEST_P(StreamTest, PeekDeliversWhatConsumeThenReturns) {
  struct {
    std::string bytes;
    unsigned long asked;
    size_t delivered;
  } const cases[] = {
      {"ab\xC3\xA9ghijk\xF0\x9F\x98\x80", 7, 7},  // nine code points left
      {"a\xE2\x82\xACz", 7, 3},                   // three left
  };
  for (const auto& c : cases) {
    Input input(GetParam(), c.bytes);
    CodePoints all = Input(GetParam(), c.bytes).Rest();
    unsigned int buf[8] = {};
    ASSERT_EQ(input.consumer->Peek(buf, c.asked), c.delivered);
    EXPECT_EQ(CodePoints(buf, buf + c.delivered), CodePoints(all.begin(), all.begin() + c.delivered));
    EXPECT_EQ(input.Rest(), all);
  }
}

TEST_P(StreamTest, UnconsumedCodePointsComeBackLastInFirstOut) {
  Input input(GetParam(), "xyz");
  EXPECT_EQ(input.consumer->Consume(), 'x');
  input.consumer->Unconsume('a');
  input.consumer->Unconsume('b');
  EXPECT_EQ(input.Rest(), (CodePoints{'b', 'a', 'y', 'z'}));
}

TEST_P(StreamTest, TheEndOfInputCanBeUnconsumed) {
  Input input(GetParam(), "x");
  EXPECT_EQ(input.consumer->Consume(), 'x');
  EXPECT_EQ(input.consumer->Consume(), kEof);
  input.consumer->Unconsume(kEof);
  EXPECT_EQ(input.consumer->Consume(), kEof);
  EXPECT_EQ(input.consumer->Consume(), kEof);
  unsigned int cp;
  EXPECT_FALSE(input.consumer->Peek(cp));
}

TEST_P(StreamTest, SkipStopsAtTheEnd) {
  Input input(GetParam(), "a\xC3\xA9\xE2\x82\xACz");
  EXPECT_EQ(input.consumer->Skip(10), 4u);
  EXPECT_EQ(input.consumer->Consume(), kEof);
}

TEST_P(StreamTest, ByteStreamPushStepsBackAtMostToTheStart) {
  Input input(GetParam(), "abcd");
  RawInputStream& raw = *input.raw;
  unsigned char buf[2];
  ASSERT_EQ(raw.Pop(buf, 2), 2u);
  EXPECT_EQ(raw.Push(buf, 5), 2u);
  unsigned char b;
  ASSERT_TRUE(raw.Pop(b));
  EXPECT_EQ(b, 'a');
  EXPECT_EQ(raw.Push(buf, 1), 1u);
  EXPECT_EQ(raw.Push(buf, 1), 0u);
  EXPECT_EQ(raw.Skip(10), 4u);
  EXPECT_EQ(raw.Pop(buf, 2), 0u);
}

// Documents larger than the file stream's buffer, read across its boundary.
constexpr size_t kBoundary = FileInputStream::kBufferSize;

TEST_P(StreamTest, LongInputDecodesAcrossTheBufferBoundary) {
  // The four-byte sequence straddles the boundary.
  std::string bytes = std::string(kBoundary - 2, 'a') + "\xF0\x9F\x98\x80" + MixedText(3 * kBoundary);
  Input input(GetParam(), bytes);
  MemoryInputStream reference(bytes.data(), bytes.size());
  Tessarin::Unicode::InputStream expected(reference);
  CodePoints want;
  for (unsigned int cp; expected.Pop(cp);) want.push_back(cp);
  EXPECT_EQ(input.Rest(), want);
  EXPECT_EQ(want[kBoundary - 2], 0x1F600u);
}

TEST_P(StreamTest, PeekAndPushAcrossTheBufferBoundary) {
  std::string bytes = MixedText(4 * kBoundary);
  Input input(GetParam(), bytes);
  RawInputStream& raw = *input.raw;
  std::vector<unsigned char> buf(2 * kBoundary);
  auto text = [&](size_t from, size_t count) { return bytes.substr(from, count); };
  auto got = [&](size_t count) { return std::string(buf.begin(), buf.begin() + static_cast<long>(count)); };

  ASSERT_EQ(raw.Pop(buf.data(), kBoundary - 6), kBoundary - 6);
  ASSERT_EQ(raw.Peek(buf.data(), 20), 20u);  // straddles the boundary
  EXPECT_EQ(got(20), text(kBoundary - 6, 20));
  ASSERT_EQ(raw.Pop(buf.data(), 20), 20u);
  EXPECT_EQ(got(20), text(kBoundary - 6, 20));
  EXPECT_EQ(raw.Push(buf.data(), 30), 30u);  // back before the boundary
  ASSERT_EQ(raw.Pop(buf.data(), 40), 40u);
  EXPECT_EQ(got(40), text(kBoundary - 16, 40));

  // A look-ahead longer than the buffer leaves the position where it was.
  size_t at = kBoundary + 24;
  ASSERT_EQ(raw.Peek(buf.data(), buf.size()), buf.size());
  EXPECT_EQ(got(buf.size()), text(at, buf.size()));
  ASSERT_EQ(raw.Pop(buf.data(), 8), 8u);
  EXPECT_EQ(got(8), text(at, 8));

  // Skipping beyond the buffer, then stepping back over the skipped bytes.
  EXPECT_EQ(raw.Skip(kBoundary + 100), kBoundary + 100);
  EXPECT_EQ(raw.Push(buf.data(), 200), 200u);
  ASSERT_EQ(raw.Pop(buf.data(), 300), 300u);
  EXPECT_EQ(got(300), text(at + 8 + kBoundary - 100, 300));
}

struct open_case_t {
  const char* what;
  std::string (*make)(const std::string& scratch);
  int error;
};

const open_case_t openCases[] = {
    {"missing file", [](const std::string& scratch) { return scratch + "/missing"; }, ENOENT},
    {"directory", [](const std::string& scratch) { return scratch; }, EISDIR},
    {"path through a regular file",
     [](const std::string& scratch) {
       std::fclose(std::fopen((scratch + "/file").c_str(), "w"));
       return scratch + "/file/x";
     },
     ENOTDIR},
    // A FIFO without a writer is refused at once instead of waiting for one.
    {"FIFO",
     [](const std::string& scratch) {
       std::string path = scratch + "/fifo";
       EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
       return path;
     },
     ESPIPE},
    {"character device", [](const std::string&) { return "/dev/null"s; }, ESPIPE},
};

TEST(FileInputStream, ReportsWhyAFileCannotBeRead) {
  for (const open_case_t& c : openCases) {
    SCOPED_TRACE(c.what);
    char scratch[] = "/tmp/htmltess-open-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    std::string path = c.make(scratch);
    {
      FileInputStream stream(path.c_str());
      EXPECT_EQ(stream.OpenError(), c.error);
      unsigned char b;
      EXPECT_FALSE(stream.Pop(b));
      EXPECT_FALSE(stream.Peek(b));
      EXPECT_EQ(stream.Skip(1), 0u);
    }
    std::remove((std::string(scratch) + "/fifo").c_str());
    std::remove((std::string(scratch) + "/file").c_str());
    rmdir(scratch);
  }
}

TEST(FileInputStream, AFileThatShrinksWhileReadEndsEarly) {
  TempPath file;
  file.Write(std::string(4 * kBoundary, 'x'));
  FileInputStream stream(file.path.c_str());
  ASSERT_EQ(stream.OpenError(), 0);
  unsigned char b;
  ASSERT_TRUE(stream.Pop(b));
  ASSERT_EQ(truncate(file.path.c_str(), 2 * kBoundary), 0);
  EXPECT_EQ(stream.Skip(4 * kBoundary), 2 * kBoundary - 1);
  std::vector<unsigned char> rest(kBoundary);
  EXPECT_EQ(stream.Pop(rest.data(), rest.size()), 0u);
  EXPECT_EQ(stream.ReadError(), 0);
}

}  // namespace

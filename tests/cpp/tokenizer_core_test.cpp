#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "html/handler.h"
#include "recording_handler.h"
#include "stream/file_stream.h"

using Tessarin::fast_stack_t;
using Tessarin::Html::attr_list_t;
using Tessarin::Html::attr_t;
using TessarinTest::Tokenize;
using namespace std::string_literals;

TEST(DataState, TextIsReportedPerCodePointThenEof) {
  EXPECT_EQ(Tokenize(""), "EOF");
  EXPECT_EQ(Tokenize("a\r\n\xC3\xA9"), "Character \"a\r\n\xC3\xA9\" | EOF");
  EXPECT_EQ(Tokenize("a\0b"s), "Character \"a\" | ParseError | Character \"\0b\" | EOF"s);
}

TEST(DataState, TokenizeAfterEndOfFileReportsItAgain) {
  Tessarin::MemoryInputStream bytes("x", 1);
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  TessarinTest::RecordingHandler handler;
  tokenizer.SetHandler(handler);
  EXPECT_TRUE(tokenizer.Tokenize());
  EXPECT_FALSE(tokenizer.Tokenize());
  EXPECT_EQ(handler.eofCount, 1);
  EXPECT_FALSE(tokenizer.Tokenize());
  EXPECT_EQ(handler.eofCount, 2);
  EXPECT_EQ(handler.GetTokenizer(), &tokenizer);
}

// Run's fast paths must give exactly the events of one Tokenize call per step,
// whatever the step budget, including sequences at the end of the byte window.
TEST(Run, GivesTheSameEventsAsTokenize) {
  std::vector<std::string> inputs = {
      "",
      "plain",
      "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b<a href=x>t&amp;u</a><!--c--><!DOCTYPE html>",
      "\0\0x<"s,
      "text ending in a cut sequence \xE2\x82",
      "\xFF\xC3<p>",
      "<p>" + std::string(5000, 'x') + "&" + std::string(3, '\0') + "\xF4\x90\x80\x80",
      "<a x=1 x=\"repeated \xC3\xA9\" X='again' y=2></A\tB><!--a-b--c-->",
      // Runs that end at the end of the input, before a sequence cut by it or
      // before the last whole sequence, which the window holds with under four bytes.
      "<abc", "<a b='c", "<a b=\"c", "<a b=c", "<a bc", "<!--abc",
      "<abc\xC3", "<a b='c\xE2\x82", "<a b=c\xF0\x9F\x98", "<!--ab\xC3\xA9", "<a b\xE2\x82\xAC", "x\xF0\x9F\x98\x80",
  };
  // Every ASCII code point after ordinary ones, upper case among them, in each
  // state that has a fast path.
  for (const char* start : {"", "<a", "<a b", "<a b=\"", "<a b='", "<a b=", "<!--"}) {
    for (int c = 0; c < 0x80; ++c) inputs.push_back(start + "xY"s + static_cast<char>(c) + "zW\xC3\xA9");
  }
  for (const std::string& input : inputs) {
    std::string expected = Tokenize(input);
    for (unsigned long steps : {1ul, 2ul, 3ul, 4ul, 5ul, 6ul, 7ul, 4096ul}) {
      EXPECT_EQ(Tokenize(input, true, steps), expected) << steps;
    }
  }
}

// The file stream's window ends at its buffer's end: runs in every state with a
// fast path cross it with each length of sequence cut there at every offset.
TEST(Run, OverAFileGivesTheSameEventsAsTokenizeOverMemory) {
  const std::string path = testing::TempDir() + "run_over_file.html";
  const std::string unit = "x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  for (const char* start : {"", "<a", "<a b", "<a b=\"", "<a b='", "<a b=", "<!--"}) {
    for (size_t shift = 0; shift < unit.size(); ++shift) {
      std::string input = start + std::string(shift, 'x');
      while (input.size() < Tessarin::FileInputStream::kBufferSize + unit.size()) input += unit;
      std::ofstream(path, std::ios::binary) << input;
      Tessarin::FileInputStream bytes(path.c_str());
      Tessarin::Unicode::InputStream codePoints(bytes);
      Tessarin::Html::InputConsumer consumer(codePoints);
      Tessarin::Html::Tokenizer tokenizer(consumer);
      TessarinTest::RecordingHandler handler;
      tokenizer.SetHandler(handler);
      while (tokenizer.Run(1 << 20)) {
      }
      EXPECT_EQ(handler.events, Tokenize(input)) << start << " shifted by " << shift;
    }
  }
  std::remove(path.c_str());
}

TEST(FastStack, GrowsInlineThenDoublesOnTheHeap) {
  fast_stack_t<unsigned int, 10> s;
  s.Init();
  for (unsigned int i = 0; i < 10; ++i) ASSERT_TRUE(s.Push(i));
  EXPECT_EQ(s.heap, nullptr);
  EXPECT_EQ(s.data, s.local);
  ASSERT_TRUE(s.Push(10));
  EXPECT_NE(s.heap, nullptr);
  EXPECT_EQ(s.data, s.heap);
  EXPECT_EQ(s.capacity, 20u);
  for (unsigned int i = 11; i < 21; ++i) ASSERT_TRUE(s.Push(i));
  EXPECT_EQ(s.capacity, 40u);
  for (unsigned int i = 0; i < 21; ++i) EXPECT_EQ(s.data[i], i);
  s.Free();
}

TEST(FastStack, AttributesMovedToTheHeapKeepTheirNestedBuffers) {
  attr_list_t list;
  list.Init();
  for (unsigned int i = 0; i < 17; ++i) {
    attr_t* a = list.Emplace();
    ASSERT_NE(a, nullptr);
    a->Init();
    // Every fourth attribute has a name and value long enough to be on the heap.
    unsigned int nameLength = i % 4 == 0 ? 20 : 3;
    unsigned int valueLength = i % 4 == 0 ? 200 : 5;
    for (unsigned int k = 0; k < nameLength; ++k) ASSERT_TRUE(a->name.Push('a' + i));
    for (unsigned int k = 0; k < valueLength; ++k) ASSERT_TRUE(a->value.Push(1000 + i));
  }
  EXPECT_EQ(list.capacity, 32u);
  for (unsigned int i = 0; i < 17; ++i) {
    const attr_t& a = list.data[i];
    bool onHeap = i % 4 == 0;
    EXPECT_EQ(a.name.size, onHeap ? 20u : 3u);
    EXPECT_EQ(a.name.data, onHeap ? a.name.heap : a.name.local);
    EXPECT_EQ(a.value.data, onHeap ? a.value.heap : a.value.local);
    for (unsigned long k = 0; k < a.name.size; ++k) EXPECT_EQ(a.name.data[k], 'a' + i);
    for (unsigned long k = 0; k < a.value.size; ++k) EXPECT_EQ(a.value.data[k], 1000 + i);
  }
  for (unsigned long i = 0; i < list.size; ++i) list.data[i].Free();
  list.Free();
}

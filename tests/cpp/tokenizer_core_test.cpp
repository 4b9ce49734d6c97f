#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "html/handler.h"
#include "recording_handler.h"
#include "stream/file_stream.h"

using Tessarin::fast_stack_t;
using Tessarin::Html::attr_list_t;
using TessarinTest::Pipeline;
using TessarinTest::Tokenize;
using namespace std::string_literals;

TEST(DataState, TokenizeAfterEndOfFileReportsItAgain) {
  Pipeline p("x");
  EXPECT_TRUE(p.tokenizer.Tokenize());
  EXPECT_FALSE(p.tokenizer.Tokenize());
  EXPECT_EQ(p.handler.eofCount, 1);
  EXPECT_FALSE(p.tokenizer.Tokenize());
  EXPECT_EQ(p.handler.eofCount, 2);
}

// Run's fast paths must give exactly the events of one Tokenize call per step,
// whatever the step budget, including sequences at the end of the byte window.
TEST(Run, GivesTheSameEventsAsTokenize) {
  std::vector<std::string> inputs = {
      "",
      "plain",
      "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
      "b<a href=x>t&amp;u</a><!--c--><!DOCTYPE html>",
      "\0\0x<"s,
      "text ending in a cut sequence \xE2\x82",
      "\xFF\xC3<p>",
      "<p>" + std::string(5000, 'x') + "&" + std::string(3, '\0') + "\xF4\x90\x80\x80",
      "<a x=1 x=\"repeated \xC3\xA9\" X='again' y=2></A\tB><!--a-b--c-->",
      // Runs that end at the end of the input, before a sequence cut by it or
      // before the last whole sequence, which the window holds with under four bytes.
      "<abc",
      "<a b='c",
      "<a b=\"c",
      "<a b=c",
      "<a bc",
      "<!--abc",
      "<abc\xC3",
      "<a b='c\xE2\x82",
      "<a b=c\xF0\x9F\x98",
      "<!--ab\xC3\xA9",
      "<a b\xE2\x82\xAC",
      "x\xF0\x9F\x98\x80",
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
  const std::string unit = "x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  for (const char* start : {"", "<a", "<a b", "<a b=\"", "<a b='", "<a b=", "<!--"}) {
    for (size_t shift = 0; shift < unit.size(); ++shift) {
      std::string input = start + std::string(shift, 'x');
      while (input.size() < Tessarin::FileInputStream::kBufferSize + unit.size()) input += unit;
      EXPECT_EQ(Pipeline(input, TessarinTest::Source::File).Events(1 << 20), Tokenize(input))
          << start << " shifted by " << shift;
    }
  }
}

TEST(FastStack, GrowsInlineThenDoublesOnTheHeap) {
  fast_stack_t<unsigned int, 10> s;
  s.Init();
  for (unsigned int i = 0; i < 21; ++i) {
    ASSERT_TRUE(s.Push(i));
    EXPECT_EQ(s.data, i < 10 ? s.local : s.heap);
  }
  EXPECT_EQ(s.capacity, 40u);
  for (unsigned int i = 0; i < 21; ++i) EXPECT_EQ(s.data[i], i);
  s.Free();
}

// Every fourth attribute's name and value are on the heap, the others inline;
// moving the list to the heap must keep both kinds intact.
TEST(FastStack, AttributesMovedToTheHeapKeepTheirNestedBuffers) {
  attr_list_t list;
  list.Init();
  for (unsigned int i = 0; i < 17; ++i) {
    Tessarin::Html::attr_t* a = list.Emplace();
    ASSERT_NE(a, nullptr);
    a->Init();
    for (unsigned int k = 0; k < (i % 4 ? 3 : 20); ++k) ASSERT_TRUE(a->name.Push('a' + i));
    for (unsigned int k = 0; k < (i % 4 ? 5 : 200); ++k) ASSERT_TRUE(a->value.Push(1000 + i));
  }
  EXPECT_EQ(list.data, list.heap);
  for (unsigned int i = 0; i < 17; ++i) {
    const Tessarin::Html::attr_t& a = list.data[i];
    EXPECT_EQ(a.name.size, i % 4 ? 3u : 20u);
    EXPECT_EQ(a.name.data, i % 4 ? a.name.local : a.name.heap);
    EXPECT_EQ(a.value.data, i % 4 ? a.value.local : a.value.heap);
    for (unsigned long k = 0; k < a.name.size; ++k) EXPECT_EQ(a.name.data[k], 'a' + i);
    for (unsigned long k = 0; k < a.value.size; ++k) EXPECT_EQ(a.value.data[k], 1000 + i);
  }
  for (unsigned long i = 0; i < list.size; ++i) list.data[i].Free();
  list.Free();
}

// A handler that takes runs of text as blocks sees, joined, exactly the
// characters a handler taking them one by one sees, in the same places.
TEST(Run, HandsTextToOnTextInBlocks) {
  struct BlockRecorder : TessarinTest::RecordingHandler {
    int blocks = 0;
    void OnText(const unsigned int* text, unsigned long length) override {
      ++blocks;
      for (unsigned long i = 0; i < length; ++i) OnChar(text[i]);
    }
  };
  const std::string input = "a&amp;b<p>" + std::string(1000, 'x') + "\xC3\xA9<!--c-->\0z"s;
  Tessarin::MemoryInputStream bytes(input.data(), input.size());
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  BlockRecorder handler;
  tokenizer.SetHandler(handler);
  while (tokenizer.Run(1 << 20)) {
  }
  EXPECT_EQ(handler.events, Tokenize(input));
  EXPECT_GT(handler.blocks, 4);
}

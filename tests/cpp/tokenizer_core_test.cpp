// The drivers: Run's fast paths and the file stream's window must change
// nothing in the events; the acknowledgement of self-closing tags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_handler.h"

using Tessarin::FileInputStream;
using TessarinTest::Pipeline;
using TessarinTest::RecordingHandler;
using TessarinTest::Source;
using TessarinTest::Tokenize;
using namespace std::string_literals;

namespace {

// Run must give exactly the events of one Tokenize call per step, whatever the
// step budget, including sequences at the end of the byte window.
TEST(Run, GivesTheSameEventsAsTokenize) {
  std::vector<std::string> inputs = {
      "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
      "b<a href=x>t&amp;u</a><!--c--><!DOCTYPE html>",
      "\0\0x<"s,
      "text ending in a cut sequence \xE2\x82",
      "\xFF\xC3<p>",
      "<p>" + std::string(5000, 'x') + "&" + std::string(3, '\0') + "\xF4\x90\x80\x80",
      "<a x=1 x=\"repeated \xC3\xA9\" X='again' y=2></A\tB><!--a-b--c-->",
      // Overlong forms of NUL, "<" and "&" inside runs, found by the fuzzer.
      "\xF0\0\0\0\0\x0C"s,
      "ab\xC0\xBCp>text",
      "ab\xE0\x80\xA6lt;xyz",
      "abcd\xC0\x80xyzw"s,
      // Runs longer than the room their buffers start with.
      "<a" + std::string(100, 'N') + " b=\"" + std::string(300, 'v') + "\" C=" + std::string(200, 'U') + "><!--" +
          std::string(3000, 'c') + "-->",
  };
  // Every ASCII code point after ordinary ones, upper case among them, in each
  // state that has a fast path, at three places in a block of 16 bytes, and
  // runs that end at the end of the input, before a sequence cut by it or
  // before its last whole sequence.
  for (const char* start : {"", "<a", "<a b", "<a b=\"", "<a b='", "<a b=", "<!--"}) {
    for (const std::string before : {"xY", "xYzWvUtSrQpOnMlKj", "xYzWvUtSrQpOnMlKjIhGfEdCbAxYzWvUtSrQ"}) {
      for (int c = 0; c < 0x80; ++c) inputs.push_back(start + before + static_cast<char>(c) + before + "zW\xC3\xA9");
    }
    for (const char* end : {"", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
      inputs.push_back(start + "abc"s + end);
    }
  }
  for (const std::string& input : inputs) {
    std::string expected = Tokenize(input);
    for (unsigned long steps : {1ul, 2ul, 3ul, 4ul, 5ul, 6ul, 7ul, 17ul, 35ul, 4096ul}) {
      EXPECT_EQ(Tokenize(input, true, steps), expected) << steps;
    }
  }
}

// The file stream's window ends at its buffer's end: each tail crosses it, cut
// at many offsets, in every state with a fast path, and the events must be
// those from memory. The tails hold sequences of every length, references cut
// by the boundary, and runs after "&" longer than the window or the look-ahead.
TEST(Run, OverAFileGivesTheSameEventsAsTokenizeOverMemory) {
  const std::string unit = "x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", run(FileInputStream::kBufferSize + 100, 'z');
  for (const std::string& tail : {unit + unit, "&notin;&amp"s, "&zzzzzzzzzz;"s, "&;&" + std::string(40, 'z') + ";&amp;",
                                  "&" + run + ";&amp;", "&" + run + "\xC3\xA9;"}) {
    for (const std::string start : {"", "<a", "<a b", "<a b=\"", "<a b='", "<a b=", "<!--"}) {
      for (size_t cut : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 41, 42, 43}) {
        const std::string input = start + std::string(FileInputStream::kBufferSize - start.size() - cut, 'x') + tail;
        EXPECT_EQ(Pipeline<>(input, Source::File).Events(1 << 20), Tokenize(input))
            << start << tail.substr(0, 9) << cut;
      }
    }
  }
}

// Interrupts the run at every block of text.
struct TextInterruptingHandler : RecordingHandler {
  void OnText(const unsigned int* text, unsigned long length) override {
    RecordingHandler::OnText(text, length);
    GetTokenizer()->Interrupt();
  }
};

// A run ends after the callback that interrupts it, even where the text's fast
// path would go on into the tag or the reference that ends the text.
TEST(Run, EndsAfterTheCallbackThatInterrupts) {
  for (const char* next : {"<a b='c'>", "</a>", "&amp;"}) {
    Pipeline<TextInterruptingHandler> pipeline("text"s + next + "more");
    ASSERT_TRUE(pipeline.tokenizer.Run(1 << 20));
    EXPECT_EQ(pipeline.handler.events, R"(Character "t" | Character "e" | Character "x" | Character "t")") << next;
    EXPECT_EQ(pipeline.Events(1 << 20), Tokenize("text"s + next + "more")) << next;
  }
}

// Acknowledges only the start tags that are not self-closing.
struct EagerHandler : RecordingHandler {
  EagerHandler() : RecordingHandler(false) {}
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const Tessarin::Html::attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    RecordingHandler::OnStartTag(name, nameLength, attributes, attributeCount, selfClosing);
    if (!selfClosing) GetTokenizer()->Acknowledge();
  }
};

// A self-closing start tag is followed by a parse error unless the handler
// acknowledges it; an acknowledgement given to an earlier tag does not carry over.
TEST(TagStates, ParseErrorFollowsAnUnacknowledgedSelfClosingStartTag) {
  EXPECT_EQ(Tokenize("<br/>", false), "StartTag \"br\" {} true | ParseError | EOF");
  EXPECT_EQ(Tokenize("<a b='c'/>x", true), "StartTag \"a\" {\"b\":\"c\"} true | Character \"x\" | EOF");
  EXPECT_EQ(Tokenize("<a b=c/>", false), "StartTag \"a\" {\"b\":\"c/\"} false | EOF");
  // A dropped repeat never reaches a C++ handler (a Python dict would hide it).
  EXPECT_EQ(Tokenize("<a x=1 y x=2>"), "ParseError | StartTag \"a\" {\"x\":\"1\",\"y\":\"\"} false | EOF");
  EXPECT_EQ(Pipeline<EagerHandler>("<a><b/>").Events(),
            "StartTag \"a\" {} false | StartTag \"b\" {} true | ParseError | EOF");
}

}  // namespace

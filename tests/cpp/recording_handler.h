#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "html/consumer.h"
#include "html/handler.h"
#include "html/tokenizer.h"
#include "stream/memory_stream.h"
#include "stream/unicode_stream.h"

namespace TessarinTest {

// Appends a code point as UTF-8; values above U+10FFFF are written as \x{...}.
inline void AppendCodePoint(std::string& out, unsigned int cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp <= 0x10FFFF) {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\x{%X}", cp);
    out += buf;
  }
}

inline std::string Quoted(const unsigned int* text, unsigned long length) {
  if (!text) return "null";
  std::string out = "\"";
  for (unsigned long i = 0; i < length; ++i) AppendCodePoint(out, text[i]);
  return out + "\"";
}

// Records every token as one line of a compact html5lib-like text, adjacent
// characters merged:
//   ParseError | Character "a<" | StartTag "a" {"b":"c"} true | EndTag "a" |
//   Comment "x" | DOCTYPE "html" null null | EOF
// Events are joined with " | ".
class RecordingHandler : public Tessarin::Html::Handler {
 public:
  explicit RecordingHandler(bool acknowledge = true) : acknowledge(acknowledge) {}

  std::string events;
  int eofCount = 0;

  void OnParseError() override { Add("ParseError"); }
  void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                 unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) override {
    Add("DOCTYPE " + Quoted(name, nameLength) + " " + Quoted(publicId, publicIdLength) + " " +
        Quoted(systemId, systemIdLength));
  }
  void OnStartTag(const unsigned int* name, unsigned long nameLength, const Tessarin::Html::attr_list_t& attributes,
                  unsigned long attributeCount, bool selfClosing) override {
    std::string event = "StartTag " + Quoted(name, nameLength) + " {";
    for (unsigned long i = 0; i < attributeCount; ++i) {
      const Tessarin::Html::attr_t& a = attributes.data[i];
      if (i) event += ",";
      event += Quoted(a.name.data, a.name.size) + ":" + Quoted(a.value.data, a.value.size);
    }
    event += selfClosing ? "} true" : "} false";
    Add(event);
    if (selfClosing && acknowledge) GetTokenizer()->Acknowledge();
  }
  void OnEndTag(const unsigned int* name, unsigned long nameLength) override { Add("EndTag " + Quoted(name, nameLength)); }
  void OnComment(const unsigned int* text, unsigned long length) override { Add("Comment " + Quoted(text, length)); }
  void OnChar(unsigned int cp) override {
    if (lastWasChar) {
      events.pop_back();  // the closing quote
    } else {
      Add("Character \"");
    }
    AppendCodePoint(events, cp);
    events += '"';
    lastWasChar = true;
  }
  void OnEof() override {
    ++eofCount;
    Add("EOF");
  }

 private:
  void Add(const std::string& event) {
    if (!events.empty()) events += " | ";
    events += event;
    lastWasChar = false;
  }

  bool acknowledge;
  bool lastWasChar = false;
};

// Tokenizes UTF-8 input from memory to the end and returns the recorded events.
// With runSteps > 0 the tokenizer is driven by Run(runSteps) instead of Tokenize.
inline std::string Tokenize(std::string_view input, bool acknowledge = true, unsigned long runSteps = 0) {
  Tessarin::MemoryInputStream bytes(input.data(), input.size());
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  RecordingHandler handler(acknowledge);
  tokenizer.SetHandler(handler);
  if (runSteps) {
    while (tokenizer.Run(runSteps)) {
    }
  } else {
    while (tokenizer.Tokenize()) {
    }
  }
  return handler.events;
}

}  // namespace TessarinTest

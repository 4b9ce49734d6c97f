#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "html/consumer.h"
#include "html/handler.h"
#include "html/tokenizer.h"
#include "stream/feed_stream.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/unicode_stream.h"

namespace TessarinTest {

// Appends a code point as UTF-8, in up to four bytes as the decoder reads them
// (so values above U+10FFFF too).
inline void AppendCodePoint(std::string& out, unsigned int cp) {
  int tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;  // continuation bytes
  out += static_cast<char>(tail ? (0xFF << (7 - tail)) | (cp >> (6 * tail)) : cp);
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) out += static_cast<char>(0x80 | ((cp >> shift) & 0x3F));
}

inline std::string Quoted(const unsigned int* text, unsigned long length) {
  if (!text) return "null";
  std::string out = "\"";
  for (unsigned long i = 0; i < length; ++i) AppendCodePoint(out, text[i]);
  return out + "\"";
}

// Records every callback as one event of a compact html5lib-like text, events
// joined with " | ":
//   ParseError | Character "a" | StartTag "a" {"b":"c"} true | EndTag "a" |
//   Comment "x" | DOCTYPE "html" null null | EOF
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
      event += (i ? "," : "") + Quoted(a.name.data, a.name.size) + ":" + Quoted(a.value.data, a.value.size);
    }
    Add(event + (selfClosing ? "} true" : "} false"));
    if (selfClosing && acknowledge) GetTokenizer()->Acknowledge();
  }
  void OnEndTag(const unsigned int* name, unsigned long nameLength) override {
    Add("EndTag " + Quoted(name, nameLength));
  }
  void OnComment(const unsigned int* text, unsigned long length) override { Add("Comment " + Quoted(text, length)); }
  void OnChar(unsigned int cp) override { Add("Character " + Quoted(&cp, 1)); }
  void OnEof() override {
    ++eofCount;
    Add("EOF");
  }

 private:
  void Add(const std::string& event) { events += (events.empty() ? "" : " | ") + event; }

  bool acknowledge;
};

enum class Source { Memory, File, Fed };

inline void PrintTo(Source source, std::ostream* os) { *os << (source == Source::Memory ? "memory" : "file"); }

// A byte stream over `text`, in memory or read from a file, or an empty stream
// to feed. The file is removed at once: the stream keeps it open.
inline std::unique_ptr<Tessarin::RawInputStream> Bytes(Source source, const std::string& text) {
  if (source == Source::Memory) return std::make_unique<Tessarin::MemoryInputStream>(text.data(), text.size());
  if (source == Source::Fed) return std::make_unique<Tessarin::FeedInputStream>();
  char path[] = "/tmp/htmltess-test-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::perror(path);
  close(fd);
  auto stream = std::make_unique<Tessarin::FileInputStream>(path);
  std::remove(path);
  return stream;
}

// The input layers and a tokenizer over one document, reporting to a handler of
// type H made from `handlerArgs`.
template <typename H = RecordingHandler>
struct Pipeline {
  template <typename... Args>
  explicit Pipeline(std::string document, Source source = Source::Memory, Args&&... handlerArgs)
      : text(std::move(document)),
        bytes(Bytes(source, text)),
        codePoints(*bytes),
        consumer(codePoints),
        tokenizer(consumer),
        handler(std::forward<Args>(handlerArgs)...) {
    tokenizer.SetHandler(handler);
  }

  // Tokenizes to the end, by Run(runSteps) if runSteps > 0, and returns the events.
  std::string Events(unsigned long runSteps = 0) {
    while (runSteps ? tokenizer.Run(runSteps) : tokenizer.Tokenize()) {
    }
    return handler.events;
  }

  Tessarin::FeedInputStream& Fed() { return static_cast<Tessarin::FeedInputStream&>(*bytes); }

  const std::string text;
  std::unique_ptr<Tessarin::RawInputStream> bytes;
  Tessarin::Unicode::InputStream codePoints;
  Tessarin::Html::InputConsumer consumer;
  Tessarin::Html::Tokenizer tokenizer;
  H handler;
};

inline std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Tokenizes UTF-8 input from memory to the end and returns the recorded events.
inline std::string Tokenize(std::string_view input, bool acknowledge = true, unsigned long runSteps = 0) {
  return Pipeline<>(std::string(input), Source::Memory, acknowledge).Events(runSteps);
}

}  // namespace TessarinTest

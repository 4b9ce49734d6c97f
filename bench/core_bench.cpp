// Native floor of the tokenizer: the C++ core over a set of documents with a
// handler that does nothing, from memory (in the default mode and in browser
// mode) and from files, beside the decode floor (a bare loop decoding the same
// bytes with the same UTF-8 rules).
//
// Usage: htmltess_core_bench [--only PASS] REPEATS FILE...
// Prints one JSON object: total bytes and the best and median seconds per pass
// (memory, browser, file, decode), or of the one pass named, which an
// instruction count can then take alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "html/consumer.h"
#include "html/tokenizer.h"
#include "null_handler.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/unicode_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

void Tokenize(Tessarin::RawInputStream& bytes, bool browser = false) {
  Tessarin::Unicode::InputStream codePoints(bytes);
  Tessarin::Html::InputConsumer consumer(codePoints);
  Tessarin::Html::Tokenizer tokenizer(consumer);
  NullHandler handler;
  tokenizer.SetHandler(handler);
  if (browser) tokenizer.FollowBrowserRules(true);
  while (tokenizer.Run(1 << 20)) {
  }
}

// Sums the code points of a document decoded by the same rules as the stream;
// out of line, so that an instruction count can take it alone.
__attribute__((noinline)) unsigned long DecodeSum(const std::string& page) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(page.data());
  const unsigned char* end = p + page.size();
  unsigned long sum = 0;
  while (p < end) {
    unsigned length = Tessarin::Unicode::InputStream::SequenceLength(*p);
    if (static_cast<size_t>(end - p) < length) {
      sum += Tessarin::Unicode::kReplacementCharacter;
      break;
    }
    sum += Tessarin::Unicode::InputStream::Decode(p, length);
    p += length;
  }
  return sum;
}

double Time(const std::function<void()>& pass) {
  auto start = Clock::now();
  pass();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Report(const char* name, std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  std::printf("\"%s\": {\"best\": %.6f, \"median\": %.6f}", name, seconds.front(), seconds[seconds.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  if (argc > 2 && std::string(argv[1]) == "--only") {
    only = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s [--only memory|browser|file|decode] REPEATS FILE...\n", argv[0]);
    return 2;
  }
  int repeats = std::max(1, std::atoi(argv[1]));
  std::vector<std::string> paths(argv + 2, argv + argc);
  std::vector<std::string> pages;
  unsigned long long bytes = 0;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    pages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    bytes += pages.back().size();
  }
  volatile unsigned long sink = 0;
  const std::vector<std::pair<const char*, std::function<void()>>> passes = {
      {"memory",
       [&] {
         for (const std::string& page : pages) {
           Tessarin::MemoryInputStream stream(page.data(), page.size());
           Tokenize(stream);
         }
       }},
      {"browser",
       [&] {
         for (const std::string& page : pages) {
           Tessarin::MemoryInputStream stream(page.data(), page.size());
           Tokenize(stream, true);
         }
       }},
      {"file",
       [&] {
         for (const std::string& path : paths) {
           Tessarin::FileInputStream stream(path.c_str());
           Tokenize(stream);
         }
       }},
      {"decode",
       [&] {
         for (const std::string& page : pages) sink = sink + DecodeSum(page);
       }},
  };
  const bool known =
      only.empty() || std::any_of(passes.begin(), passes.end(), [&](const auto& pass) { return only == pass.first; });
  if (!known) {
    std::fprintf(stderr, "unknown pass %s\n", only.c_str());
    return 2;
  }
  // The passes take turns, so that a machine whose speed drifts over the run
  // slows them alike and the ratios between them hold.
  std::vector<std::vector<double>> seconds(passes.size());
  for (int r = 0; r < repeats; ++r) {
    for (size_t i = 0; i < passes.size(); ++i) {
      if (only.empty() || only == passes[i].first) seconds[i].push_back(Time(passes[i].second));
    }
  }
  std::printf("{\"bytes\": %llu", bytes);
  for (size_t i = 0; i < passes.size(); ++i) {
    if (seconds[i].empty()) continue;
    std::printf(", ");
    Report(passes[i].first, seconds[i]);
  }
  std::printf("}\n");
  return 0;
}

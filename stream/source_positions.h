#pragma once

#include <cstdint>
#include <vector>

#include "stream/input_stream.h"

namespace Tessarin {

// A place in the input: a byte offset at the start of a code point, with the
// number of code points before it and its line and column, both from 1.
struct source_point_t {
  uint64_t offset = 0;
  uint64_t index = 0;
  uint64_t line = 1;
  uint64_t lineStart = 0;  // the index of the first code point of the line
  // The code point before it is CR, whose line ends there or, for CR LF, after
  // the LF; line and lineStart are those of the CR until the walk goes on.
  bool afterCr = false;
  uint64_t Column() const { return index - lineStart + 1; }
};

// Finds the places of byte offsets in a byte stream's input, by counting
// its code points (decoded by the rules of Unicode::InputStream) and lines
// only when asked. Lines end at LF, at CR LF (once) and at a lone CR.
//
// Questions come mostly in the order of the input and near each other (the
// tokens and errors of a parse): each is counted on from the nearest of the
// last few answers before it, or from the nearest checkpoint, one kept every
// kStride bytes, so that any order is answered right and cheaply.
class SourcePositions {
 public:
  explicit SourcePositions(RawInputStream& bytes) : bytes(bytes) { checkpoints.push_back({}); }

  // The place `after` code points past the code point that begins at byte `offset`.
  source_point_t Find(uint64_t offset, uint64_t after = 0);
  // The stream is about to drop the bytes before `offset`, which is the start
  // of a code point: they are counted now, and places from there on are
  // counted from there. Places before it can no longer be found.
  void Forget(uint64_t offset) { floor = Reach(offset, 0); }

 private:
  static constexpr uint64_t kStride = 64 * 1024;
  static constexpr unsigned kAnswers = 4;

  // Find before a place after a CR is put on its line: the walk's own state.
  source_point_t Reach(uint64_t offset, uint64_t after);
  // Counts on from `point` to `offset`, then `after` code points further.
  source_point_t Walk(source_point_t point, uint64_t offset, uint64_t after);

  RawInputStream& bytes;
  source_point_t answers[kAnswers];
  unsigned nextAnswer = 0;
  source_point_t floor;                     // where the bytes the stream still holds begin
  std::vector<source_point_t> checkpoints;  // the first place at or past each multiple of kStride reached
};

}  // namespace Tessarin

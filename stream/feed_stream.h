#pragma once

#include <algorithm>
#include <cstdint>

#include "stream/input_stream.h"

namespace Tessarin {

// A byte stream over input that arrives in pieces: Append adds bytes at its
// end, and reading ends, for now, where the bytes appended so far end. The
// bytes are copied into a buffer of the stream's own, which is also its
// window. The bytes before the read position are dropped when the buffer
// must make room for new ones, so a reader may step back (Push) only while no
// bytes are appended, and the buffer holds little more than the bytes not yet
// read.
class FeedInputStream final : public RawInputStream {
 public:
  FeedInputStream();
  ~FeedInputStream() override;
  FeedInputStream(const FeedInputStream&) = delete;
  FeedInputStream& operator=(const FeedInputStream&) = delete;

  // Copies n bytes to the end of the input; false, with nothing appended, when
  // the buffer could not grow. Bytes before the read position may be dropped
  // to make room, except those from offset `keepFrom` on; forget(offset) is
  // called first, with the offset before which bytes go.
  template <typename Forget>
  bool Append(const void* data, unsigned long n, uint64_t keepFrom, Forget forget) {
    if (n > capacity - fill) {
      const size_t drop = DroppableBefore(keepFrom);
      if (drop) {
        forget(dropped + drop);
        Drop(drop);
      }
    }
    return AppendHeld(data, n);
  }
  // Append, with every byte before the read position free to drop.
  bool Append(const void* data, unsigned long n) {
    return Append(data, n, UINT64_MAX, [](uint64_t) {});
  }

  // The bytes appended and not yet read.
  const unsigned char* Unread() const { return buffer + position; }
  size_t UnreadSize() const { return fill - position; }

  using RawInputStream::Peek;
  using RawInputStream::Pop;
  using RawInputStream::Push;
  using RawInputStream::Skip;
  size_t Skip(unsigned long n) override;
  size_t Peek(void* buf, unsigned long n) override;
  size_t Pop(void* buf, unsigned long n) override;
  // Steps the position back by up to n bytes (clamped at the first byte still
  // held); buf is not read.
  size_t Push(void const* buf, unsigned long n) override;
  // Only the bytes still held can be read.
  size_t ReadAt(uint64_t at, void* buf, size_t n) override;

 private:
  // How many bytes from the front of the buffer may be dropped: those before
  // the read position and before offset keepFrom.
  size_t DroppableBefore(uint64_t keepFrom) const {
    return keepFrom <= dropped ? 0 : static_cast<size_t>(std::min<uint64_t>(position, keepFrom - dropped));
  }
  void Drop(size_t n);
  bool AppendHeld(const void* data, unsigned long n);

  static constexpr size_t kInitialCapacity = 4096;

  unsigned char* buffer = nullptr;
  size_t capacity = 0;
  size_t position = 0;
  size_t fill = 0;
  uint64_t dropped = 0;  // bytes dropped from the front of the buffer
};

}  // namespace Tessarin

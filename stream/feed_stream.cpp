#include "stream/feed_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Tessarin {

FeedInputStream::FeedInputStream() {
  window.position = &position;
  window.limit = &fill;
  window.origin = &dropped;
}

FeedInputStream::~FeedInputStream() { std::free(buffer); }

// Room is made first by dropping bytes already read (Append), then by
// doubling the buffer: a byte is moved at most once per time the buffer
// fills, so appending costs amortised constant time per byte however small
// the pieces are.
void FeedInputStream::Drop(size_t n) {
  std::memmove(buffer, buffer + n, fill - n);
  dropped += n;
  fill -= n;
  position -= n;
}

bool FeedInputStream::AppendHeld(const void* data, unsigned long n) {
  if (n > capacity - fill) {
    if (n > SIZE_MAX / 2 - fill) return false;
    size_t wanted = std::max({kInitialCapacity, 2 * capacity, fill + n});
    unsigned char* grown = static_cast<unsigned char*>(std::realloc(buffer, wanted));
    if (!grown) return false;
    buffer = grown;
    capacity = wanted;
    window.bytes = buffer;
  }
  if (n) std::memcpy(buffer + fill, data, n);
  fill += n;
  return true;
}

size_t FeedInputStream::Skip(unsigned long n) {
  size_t k = std::min<size_t>(n, fill - position);
  position += k;
  return k;
}

size_t FeedInputStream::Peek(void* buf, unsigned long n) {
  size_t k = std::min<size_t>(n, fill - position);
  if (k) std::memcpy(buf, buffer + position, k);
  return k;
}

size_t FeedInputStream::Pop(void* buf, unsigned long n) {
  size_t k = Peek(buf, n);
  position += k;
  return k;
}

size_t FeedInputStream::Push(void const*, unsigned long n) {
  size_t back = std::min<size_t>(n, position);
  position -= back;
  return back;
}

size_t FeedInputStream::ReadAt(uint64_t at, void* buf, size_t n) {
  if (at < dropped || at - dropped >= fill) return 0;
  const size_t k = std::min<size_t>(n, fill - static_cast<size_t>(at - dropped));
  std::memcpy(buf, buffer + (at - dropped), k);
  return k;
}

}  // namespace Tessarin

#include "stream/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace Tessarin {

MemoryInputStream::MemoryInputStream(void const* data, unsigned long size) : data(data), size(size) {
  window.bytes = static_cast<const unsigned char*>(data);
  window.position = &position;
  window.limit = &this->size;
  window.origin = &origin;
}

size_t MemoryInputStream::Skip(unsigned long n) {
  size_t k = std::min<size_t>(n, size - position);
  position += k;
  return k;
}

size_t MemoryInputStream::Peek(void* buf, unsigned long n) {
  size_t k = std::min<size_t>(n, size - position);
  if (k) std::memcpy(buf, static_cast<const unsigned char*>(data) + position, k);
  return k;
}

size_t MemoryInputStream::Pop(void* buf, unsigned long n) {
  size_t k = Peek(buf, n);
  position += k;
  return k;
}

size_t MemoryInputStream::Push(void const*, unsigned long n) {
  size_t back = std::min<size_t>(n, position);
  position -= back;
  return back;
}

size_t MemoryInputStream::ReadAt(uint64_t at, void* buf, size_t n) {
  if (at >= size) return 0;
  size_t k = std::min<size_t>(n, size - at);
  std::memcpy(buf, static_cast<const unsigned char*>(data) + at, k);
  return k;
}

}  // namespace Tessarin

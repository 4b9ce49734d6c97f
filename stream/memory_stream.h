#pragma once

#include "stream/input_stream.h"

namespace Tessarin {

// A byte stream over a caller's block of memory, read in place (never copied).
// The block must stay valid and unchanged while the stream is read.
class MemoryInputStream final : public RawInputStream {
 public:
  MemoryInputStream(void const* data, unsigned long size);

  using RawInputStream::Peek;
  using RawInputStream::Pop;
  using RawInputStream::Push;
  using RawInputStream::Skip;
  size_t Skip(unsigned long n) override;
  size_t Peek(void* buf, unsigned long n) override;
  size_t Pop(void* buf, unsigned long n) override;
  // Steps the position back by up to n bytes (clamped at 0); buf is not read.
  size_t Push(void const* buf, unsigned long n) override;
  size_t ReadAt(uint64_t at, void* buf, size_t n) override;

 private:
  const void* data;
  size_t size;
  size_t position = 0;
  uint64_t origin = 0;
};

}  // namespace Tessarin

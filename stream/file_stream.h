#pragma once

#include <cstdint>
#include <cstdio>

#include "stream/input_stream.h"

namespace Tessarin {

// A byte stream over a regular file. The file is read through a buffer of the
// stream's own, so that a byte costs no stdio call; only the buffered block and
// never the whole file is held in memory. Sizes and positions are 64-bit.
class FileInputStream final : public RawInputStream {
 public:
  explicit FileInputStream(char const* path);
  ~FileInputStream() override;
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  // 0 when the file is open and readable as a regular file; otherwise the errno
  // value of the failure (EISDIR for a directory, ESPIPE for a pipe, terminal
  // or device, ENOMEM when the buffer could not be allocated). A stream that
  // failed to open reads as empty.
  int OpenError() const { return openError; }
  // 0 unless a read failed (rather than meeting the end of the file); then the
  // errno value of the failure. The stream ends where the failure happened.
  int ReadError() const { return readError; }

  using RawInputStream::Peek;
  using RawInputStream::Pop;
  using RawInputStream::Push;
  using RawInputStream::Skip;
  size_t Skip(unsigned long n) override;
  size_t Peek(void* buf, unsigned long n) override;
  size_t Pop(void* buf, unsigned long n) override;
  // Steps the position back by up to n bytes (clamped at 0); buf is not read.
  size_t Push(void const* buf, unsigned long n) override;
  // Reads the file itself, leaving the buffer and the read position alone.
  size_t ReadAt(uint64_t at, void* buf, size_t n) override;

  static constexpr size_t kBufferSize = 64 * 1024;

 private:
  // Moves the unread bytes to the front of the buffer and reads more after them.
  // Returns false when nothing more could be read.
  bool Refill();
  // Copies up to n bytes to out (or drops them when out is null) and consumes
  // them; reads stop where the file ends when they reach it.
  size_t Take(unsigned char* out, unsigned long n);
  // Drops the buffer and continues reading at an absolute position.
  void SeekTo(uint64_t position);

  FILE* file = nullptr;
  unsigned char* buffer = nullptr;
  uint64_t bufferStart = 0;  // file offset of buffer[0]; the FILE is at bufferStart + bufferFill
  size_t bufferPos = 0;
  size_t bufferFill = 0;
  int openError = 0;
  int readError = 0;
};

}  // namespace Tessarin

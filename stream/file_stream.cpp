#include "stream/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Tessarin {
namespace {

// errno after a failed call, never 0.
int LastError() { return errno ? errno : EIO; }

// fread that resumes a read interrupted by a signal instead of failing.
size_t Read(FILE* file, unsigned char* out, size_t n) {
  size_t got = std::fread(out, 1, n, file);
  while (got < n && std::ferror(file) && errno == EINTR) {
    std::clearerr(file);
    got += std::fread(out + got, 1, n - got, file);
  }
  return got;
}

}  // namespace

FileInputStream::FileInputStream(char const* path) {
  window.position = &bufferPos;
  window.limit = &bufferFill;
  window.origin = &bufferStart;
  // Opened without blocking, so that a FIFO without a writer is refused below
  // instead of waiting for one; a regular file then reads as usual.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    openError = LastError();
    return;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    openError = LastError();
  } else if (S_ISDIR(info.st_mode)) {
    openError = EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    openError = ESPIPE;
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || !(file = fdopen(fd, "rb"))) {
    openError = LastError();
  } else if (!(buffer = static_cast<unsigned char*>(std::malloc(kBufferSize)))) {
    openError = ENOMEM;
  }
  if (openError) {
    if (file)
      std::fclose(file);
    else
      close(fd);
    file = nullptr;
  }
  window.bytes = buffer;
}

FileInputStream::~FileInputStream() {
  if (file) std::fclose(file);
  std::free(buffer);
}

// Reads until the file ends, whatever size it reports: files such as those
// of /proc report 0 and have content.
bool FileInputStream::Refill() {
  if (!file || readError) return false;
  size_t unread = bufferFill - bufferPos;
  if (bufferPos) {
    std::memmove(buffer, buffer + bufferPos, unread);
    bufferStart += bufferPos;
    bufferPos = 0;
    bufferFill = unread;
  }
  size_t want = kBufferSize - bufferFill;
  if (want == 0) return false;
  size_t got = Read(file, buffer + bufferFill, want);
  bufferFill += got;
  // A read error ends the stream where it happened.
  if (got < want && std::ferror(file)) readError = LastError();
  return got > 0;
}

void FileInputStream::SeekTo(uint64_t position) {
  bufferStart = position;
  bufferPos = bufferFill = 0;
  if (file && fseeko(file, static_cast<off_t>(position), SEEK_SET) != 0) readError = LastError();
}

size_t FileInputStream::Take(unsigned char* out, unsigned long n) {
  size_t done = 0;
  while (done < n) {
    if (bufferPos == bufferFill && !Refill()) break;
    size_t k = std::min<size_t>(n - done, bufferFill - bufferPos);
    if (out) std::memcpy(out + done, buffer + bufferPos, k);
    bufferPos += k;
    done += k;
  }
  return done;
}

size_t FileInputStream::Skip(unsigned long n) { return Take(nullptr, n); }

size_t FileInputStream::Pop(void* buf, unsigned long n) { return Take(static_cast<unsigned char*>(buf), n); }

size_t FileInputStream::Peek(void* buf, unsigned long n) {
  if (n == 0) return 0;
  if (n > bufferFill - bufferPos && n <= kBufferSize) Refill();
  if (n <= bufferFill - bufferPos) {
    std::memcpy(buf, buffer + bufferPos, n);
    return n;
  }
  size_t k = Pop(buf, n);
  Push(buf, k);
  return k;
}

size_t FileInputStream::Push(void const*, unsigned long n) {
  uint64_t position = Offset();
  size_t back = static_cast<size_t>(std::min<uint64_t>(n, position));
  if (back <= bufferPos)
    bufferPos -= back;
  else
    SeekTo(position - back);
  return back;
}

size_t FileInputStream::ReadAt(uint64_t at, void* buf, size_t n) {
  if (!file) return 0;
  unsigned char* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(fileno(file), out + done, n - done, static_cast<off_t>(at + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

}  // namespace Tessarin

#include "stream/file_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Tessarin {

FileInputStream::FileInputStream(char const* path) {
  window.bytes = nullptr;
  window.position = &bufferPos;
  window.limit = &bufferFill;
  file = std::fopen(path, "rb");
  if (!file) {
    openError = errno ? errno : EIO;
    return;
  }
  struct stat info;
  if (fstat(fileno(file), &info) != 0) {
    openError = errno;
  } else if (S_ISDIR(info.st_mode)) {
    openError = EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    openError = ESPIPE;
  } else if (!(buffer = static_cast<unsigned char*>(std::malloc(kBufferSize)))) {
    openError = ENOMEM;
  } else if (fseeko(file, 0, SEEK_END) != 0 || (size = ftello(file)) < 0 || fseeko(file, 0, SEEK_SET) != 0) {
    openError = errno ? errno : EIO;
  }
  if (openError) {
    std::fclose(file);
    file = nullptr;
    size = 0;
  }
  window.bytes = buffer;
}

FileInputStream::~FileInputStream() {
  if (file) std::fclose(file);
  std::free(buffer);
}

bool FileInputStream::Refill() {
  if (!file) return false;
  size_t unread = bufferFill - bufferPos;
  if (bufferPos) {
    std::memmove(buffer, buffer + bufferPos, unread);
    bufferStart += static_cast<int64_t>(bufferPos);
    bufferPos = 0;
    bufferFill = unread;
  }
  uint64_t left = static_cast<uint64_t>(size - (bufferStart + static_cast<int64_t>(bufferFill)));
  size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize - bufferFill, left));
  if (want == 0) return false;
  size_t got = std::fread(buffer + bufferFill, 1, want, file);
  bufferFill += got;
  if (got < want) {
    // The file ended early (it shrank) or a read failed: either way it ends here.
    if (std::ferror(file)) readError = true;
    size = bufferStart + static_cast<int64_t>(bufferFill);
  }
  return got > 0;
}

void FileInputStream::SeekTo(int64_t position) {
  bufferStart = position;
  bufferPos = bufferFill = 0;
  if (file && fseeko(file, position, SEEK_SET) != 0) {
    readError = true;
    size = position;
  }
}

size_t FileInputStream::Skip(unsigned long n) {
  size_t k = static_cast<size_t>(std::min<uint64_t>(n, Remaining()));
  if (k <= bufferFill - bufferPos)
    bufferPos += k;
  else
    SeekTo(Position() + static_cast<int64_t>(k));
  return k;
}

size_t FileInputStream::Pop(void* buf, unsigned long n) {
  unsigned char* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  while (done < n) {
    if (bufferPos == bufferFill && !Refill()) break;
    size_t k = std::min<size_t>(n - done, bufferFill - bufferPos);
    std::memcpy(out + done, buffer + bufferPos, k);
    bufferPos += k;
    done += k;
  }
  return done;
}

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
  int64_t position = Position();
  size_t back = static_cast<size_t>(std::min<uint64_t>(n, static_cast<uint64_t>(position)));
  if (back <= bufferPos)
    bufferPos -= back;
  else
    SeekTo(position - static_cast<int64_t>(back));
  return back;
}

}  // namespace Tessarin

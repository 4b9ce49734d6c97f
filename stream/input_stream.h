#pragma once

#include <cstddef>
#include <cstdint>

namespace Tessarin {

// The one stream interface of the input layer, over bytes or code points. Block
// operations return the number of elements handled; fewer than asked means the
// end of the input was reached.
template <typename T>
class InputStream {
 public:
  virtual ~InputStream() = default;

  virtual size_t Skip(unsigned long n) = 0;
  virtual size_t Peek(void* buf, unsigned long n) = 0;
  virtual size_t Pop(void* buf, unsigned long n) = 0;
  virtual size_t Push(void const* buf, unsigned long n) = 0;

  bool Skip() { return Skip(1) == 1; }
  bool Peek(T& e) { return Peek(&e, 1) == 1; }
  bool Pop(T& e) { return Pop(&e, 1) == 1; }
  bool Push(T e) { return Push(&e, 1) == 1; }
};

// Abstract base of byte streams.
class RawInputStream : public InputStream<unsigned char> {
 public:
  using InputStream<unsigned char>::Skip;
  using InputStream<unsigned char>::Peek;
  using InputStream<unsigned char>::Pop;
  using InputStream<unsigned char>::Push;

  // The bytes a stream already holds in memory from its read position on:
  // bytes[*position] up to bytes[*limit]. The decoder reads whole sequences
  // from here without a virtual call per byte and advances *position; when the
  // window runs short it falls back to the block operations, which keep it valid.
  // `origin` is the offset in the input of bytes[0], so that offsets stay
  // absolute however often the stream moves or drops its bytes.
  struct window_t {
    const unsigned char* bytes = nullptr;
    size_t* position = nullptr;
    const size_t* limit = nullptr;
    const uint64_t* origin = nullptr;
  };

  const window_t& Window() const { return window; }

  // The offset of the read position: bytes from the start of the input.
  uint64_t Offset() const { return *window.origin + *window.position; }

  // Copies up to n bytes of the input from offset `at` on, wherever the read
  // position stands, and returns how many: fewer at the end of the input, and
  // none where the stream no longer holds them. Positions in the source
  // (lines, columns) are counted from these bytes when they are asked for.
  virtual size_t ReadAt(uint64_t at, void* buf, size_t n) {
    (void)at;
    (void)buf;
    (void)n;
    return 0;
  }
  // The bytes the stream holds in memory from offset `at` on, and in n how
  // many; null when it holds none there. Valid until the stream is read again.
  const unsigned char* HeldAt(uint64_t at, size_t& n) const {
    const uint64_t origin = *window.origin;
    if (at < origin || at >= origin + *window.limit) return nullptr;
    n = static_cast<size_t>(origin + *window.limit - at);
    return window.bytes + (at - origin);
  }

 protected:
  RawInputStream() {
    window.position = &noBytes;
    window.limit = &noBytes;
    window.origin = &noOffset;
  }

  window_t window;  // empty unless a stream sets it up

 private:
  size_t noBytes = 0;
  uint64_t noOffset = 0;
};

}  // namespace Tessarin

#include "stream/unicode_stream.h"

#include <algorithm>

namespace Tessarin {
namespace Unicode {

size_t InputStream::DecodePopSlow(unsigned int& cp) { return DecodePopCounted(cp) ? 1 : 0; }

size_t InputStream::DecodePopCounted(unsigned int& cp) {
  unsigned char b[4];
  if (!raw.Peek(b[0])) return 0;
  unsigned length = SequenceLength(b[0]);
  size_t got = raw.Peek(b, length);
  raw.Skip(got);
  cp = got == length ? Decode(b, length) : kReplacementCharacter;
  return got;
}

size_t InputStream::DecodeSkip() {
  unsigned char b0;
  if (!raw.Peek(b0)) return 0;
  raw.Skip(SequenceLength(b0));
  return 1;
}

size_t InputStream::Pop(void* buf, unsigned long n) {
  unsigned int* out = static_cast<unsigned int*>(buf);
  size_t done = 0;
  while (done < n && !pending.empty()) {
    out[done++] = pending.front();
    pending.pop_front();
  }
  while (done < n && DecodePop(out[done])) ++done;
  return done;
}

size_t InputStream::Peek(void* buf, unsigned long n) {
  unsigned int* out = static_cast<unsigned int*>(buf);
  size_t done = std::min<size_t>(pending.size(), n);
  std::copy_n(pending.begin(), done, out);
  unsigned int cp;
  while (done < n && DecodePop(cp)) {
    pending.push_back(cp);
    out[done++] = cp;
  }
  return done;
}

size_t InputStream::Skip(unsigned long n) {
  size_t done = std::min<size_t>(pending.size(), n);
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
  while (done < n && DecodeSkip()) ++done;
  return done;
}

size_t InputStream::Push(void const* buf, unsigned long n) {
  const unsigned int* in = static_cast<const unsigned int*>(buf);
  pending.insert(pending.begin(), in, in + n);
  return n;
}

}  // namespace Unicode
}  // namespace Tessarin

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Tessarin {

// Heap blocks of token buffers. Every allocation of a token buffer goes through
// these two functions, so a test build can make a chosen one fail.
void* AllocateTokenBlock(size_t bytes);
void* ReallocateTokenBlock(void* block, size_t bytes);

// Called on each element after elements moved to another address. Plain values
// need nothing; records holding buffers re-point them (see attr_t).
template <typename T>
inline void RebaseElement(T&) {}

// A growable array with room for N elements inside the object, then a heap
// block of 2N elements that doubles whenever it is full. It has no constructor
// (it lives in a union) and must be Init()ed before use; Free() releases the
// heap block. Push reports a block that could not grow by returning false, and
// the buffer is then left as it was.
template <typename T, unsigned long N>
struct fast_stack_t {
  T local[N];
  T* heap;
  T* data;
  unsigned long size;
  unsigned long capacity;

  void Init() {
    heap = nullptr;
    data = local;
    size = 0;
  }

  // Most buffers never leave their inline room: nothing to call free for.
  void Free() {
    if (heap) std::free(heap);
  }

  // Points `data` at the storage in use again after the buffer itself moved.
  void Rebase() { data = heap ? heap : local; }

  bool Full() const { return size == (heap ? capacity : N); }
  // Elements that fit before the buffer has to grow.
  unsigned long Room() const { return (heap ? capacity : N) - size; }

  bool Push(const T& element) {
    if (Full() && !Grow()) return false;
    data[size++] = element;
    return true;
  }

  // Appends one element left for the caller to fill; null when it cannot grow.
  T* Emplace() {
    if (Full() && !Grow()) return nullptr;
    return &data[size++];
  }

  T& Back() { return data[size - 1]; }

  // Doubles the room (or moves to the heap); false, with the buffer as it
  // was, when it cannot.
  bool Grow() {
    if (heap) {
      if (capacity > SIZE_MAX / 2 / sizeof(T)) return false;
      T* block = static_cast<T*>(ReallocateTokenBlock(heap, 2 * capacity * sizeof(T)));
      if (!block) return false;
      heap = block;
      capacity *= 2;
    } else {
      T* block = static_cast<T*>(AllocateTokenBlock(2 * N * sizeof(T)));
      if (!block) return false;
      std::memcpy(static_cast<void*>(block), static_cast<const void*>(local), N * sizeof(T));
      heap = block;
      capacity = 2 * N;
    }
    data = heap;
    for (unsigned long i = 0; i < size; ++i) RebaseElement(data[i]);
    return true;
  }
};

}  // namespace Tessarin

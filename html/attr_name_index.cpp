#include "html/attr_name_index.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Tessarin {
namespace Html {

namespace {

constexpr unsigned long kFirstCapacity = 64;

// FNV-1a over whole code points, with the high half folded into the low bits
// that pick the slot.
unsigned long HashName(const attr_t& attribute) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned long i = 0; i < attribute.name.size; ++i) hash = (hash ^ attribute.name.data[i]) * 1099511628211ull;
  return static_cast<unsigned long>(hash ^ (hash >> 32));
}

}  // namespace

bool SameName(const attr_t& a, const attr_t& b) {
  return a.name.size == b.name.size && std::memcmp(a.name.data, b.name.data, a.name.size * sizeof(unsigned int)) == 0;
}

attr_name_index_t::Outcome attr_name_index_t::Insert(const attr_list_t& attributes, unsigned long position) {
  if (2 * (count + 1) > capacity && !Grow(attributes)) return Outcome::OutOfMemory;
  const attr_t& attribute = attributes.data[position];
  unsigned long mask = capacity - 1;
  unsigned long slot = HashName(attribute) & mask;
  for (; slots[slot]; slot = (slot + 1) & mask) {
    if (SameName(attributes.data[slots[slot] - 1], attribute)) return Outcome::Repeated;
  }
  slots[slot] = position + 1;
  ++count;
  return Outcome::Added;
}

bool attr_name_index_t::Grow(const attr_list_t& attributes) {
  unsigned long newCapacity = capacity ? 2 * capacity : kFirstCapacity;
  if (newCapacity > SIZE_MAX / sizeof(unsigned long)) return false;
  auto* newSlots = static_cast<unsigned long*>(AllocateTokenBlock(newCapacity * sizeof(unsigned long)));
  if (!newSlots) return false;
  std::memset(newSlots, 0, newCapacity * sizeof(unsigned long));
  unsigned long mask = newCapacity - 1;
  for (unsigned long i = 0; i < capacity; ++i) {
    if (!slots[i]) continue;
    unsigned long slot = HashName(attributes.data[slots[i] - 1]) & mask;
    while (newSlots[slot]) slot = (slot + 1) & mask;
    newSlots[slot] = slots[i];
  }
  std::free(slots);
  slots = newSlots;
  capacity = newCapacity;
  return true;
}

}  // namespace Html
}  // namespace Tessarin

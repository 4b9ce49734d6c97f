#pragma once

#include <cstdint>
#include <cstdlib>

#include "html/handler.h"

namespace Tessarin {
namespace Html {

// A hash set over the names of a tag's kept attributes, so that a tag with many
// attributes checks each new name for a repeat in constant expected time. It
// stores positions in the attribute list (plus one, 0 marking a free slot) and
// reads the names there, because the names move whenever the list grows.
// Open addressing with linear probing; at most half the slots are in use. The
// slots are token blocks: Init() before use, Free() when the tag ends.
struct attr_name_index_t {
  unsigned long* slots;
  unsigned long capacity;  // a power of two; 0 while there is no table
  unsigned long count;

  enum class Outcome { Added, Repeated, OutOfMemory };

  void Init() {
    slots = nullptr;
    capacity = 0;
    count = 0;
  }
  // Most tags never have a table: nothing to call free for.
  void Free() {
    if (slots) std::free(slots);
  }

  // Looks up the name of attributes.data[position]: Repeated when an indexed
  // attribute has the same name, otherwise Added with the position indexed.
  // OutOfMemory when the table could not grow; it is then left as it was.
  Outcome Insert(const attr_list_t& attributes, unsigned long position);

 private:
  bool Grow(const attr_list_t& attributes);
};

// Two names are the same when they hold the same code points in the same order.
bool SameName(const attr_t& a, const attr_t& b);

// One of 64 bits, picked by a name's length and its first and last code
// points: two names with different bits are different names.
inline uint64_t NameBit(const attr_t& attribute) {
  const unsigned long size = attribute.name.size;
  const unsigned int* const name = attribute.name.data;
  const unsigned long ends = size ? name[0] * 3 + name[size - 1] : 0;
  return uint64_t{1} << ((size * 7 + ends) & 63);
}

}  // namespace Html
}  // namespace Tessarin

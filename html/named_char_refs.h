#pragma once

#include <cstddef>

namespace Tessarin {
namespace Html {

// One row of the named character reference table.
struct named_ref_t {
  const char* name;  // without the leading "&"; with its ";" where it has one
  unsigned char count;
  unsigned int codePoints[3];
};

// The table, generated into named_char_refs.cpp, and its number of rows.
extern const named_ref_t mappedCharsByNamedRef[];
size_t CountNamedCharRef();

}  // namespace Html
}  // namespace Tessarin

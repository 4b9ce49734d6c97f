#include <cstdlib>

#include "html/fast_stack.h"

namespace Tessarin {

void* AllocateTokenBlock(size_t bytes) { return std::malloc(bytes); }

void* ReallocateTokenBlock(void* block, size_t bytes) { return std::realloc(block, bytes); }

}  // namespace Tessarin

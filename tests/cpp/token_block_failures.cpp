#include "token_block_failures.h"

#include <cstdlib>

#include "html/fast_stack.h"

// These definitions take the place of the library's own, so the linker never
// pulls in its allocation functions.

namespace {

bool refuse = false;

}  // namespace

namespace TessarinTest {

RefuseTokenBlocks::RefuseTokenBlocks() { refuse = true; }
RefuseTokenBlocks::~RefuseTokenBlocks() { refuse = false; }

}  // namespace TessarinTest

namespace Tessarin {

void* AllocateTokenBlock(size_t bytes) { return refuse ? nullptr : std::malloc(bytes); }

void* ReallocateTokenBlock(void* block, size_t bytes) { return refuse ? nullptr : std::realloc(block, bytes); }

}  // namespace Tessarin

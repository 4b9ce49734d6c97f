// Replaces html/token_blocks.cpp in the fault-injection tests: the same
// allocator, except that a chosen request fails as if memory were exhausted.
#include "tests/fault/failing_token_blocks.h"

#include <cstdlib>

#include "html/fast_stack.h"

namespace {

unsigned long requests = 0;
unsigned long failingRequest = 0;

// Counts a request; false when it is the one that must fail.
bool Grant() { return ++requests != failingRequest; }

}  // namespace

namespace TessarinTest {

void FailTokenBlock(unsigned long n) {
  requests = 0;
  failingRequest = n;
}

unsigned long TokenBlockRequests() { return requests; }

}  // namespace TessarinTest

namespace Tessarin {

void* AllocateTokenBlock(size_t bytes) { return Grant() ? std::malloc(bytes) : nullptr; }

void* ReallocateTokenBlock(void* block, size_t bytes) { return Grant() ? std::realloc(block, bytes) : nullptr; }

}  // namespace Tessarin

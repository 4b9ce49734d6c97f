#pragma once

namespace TessarinTest {

// While an instance exists, every heap block a token buffer asks for is refused,
// as when memory is exhausted. The test build replaces the tokenizer's
// allocation functions to make this possible.
class RefuseTokenBlocks {
 public:
  RefuseTokenBlocks();
  ~RefuseTokenBlocks();
  RefuseTokenBlocks(const RefuseTokenBlocks&) = delete;
  RefuseTokenBlocks& operator=(const RefuseTokenBlocks&) = delete;
};

}  // namespace TessarinTest

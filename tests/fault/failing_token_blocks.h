#pragma once

namespace TessarinTest {

// Makes the n-th request for a token block from now on fail (none when n is 0)
// and restarts the count of requests.
void FailTokenBlock(unsigned long n);
// Requests for token blocks (allocations and reallocations) since the last
// FailTokenBlock, the failed one included.
unsigned long TokenBlockRequests();

}  // namespace TessarinTest

// Inputs on which the fuzzer found the drivers or streams disagreeing. Each must
// give the same events through Tokenize and through Run with any step budget.
#include <gtest/gtest.h>

#include <string>

#include "recording_handler.h"

using TessarinTest::Tokenize;
using namespace std::string_literals;

class FuzzRegression : public testing::TestWithParam<std::string> {};

TEST_P(FuzzRegression, RunAgreesWithTokenize) {
  const std::string expected = Tokenize(GetParam());
  for (unsigned long steps : {1ul, 2ul, 5ul, 4096ul}) EXPECT_EQ(Tokenize(GetParam(), true, steps), expected) << steps;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression,
                         testing::Values("\xF0\0\0\0\0\x0C"s,      // overlong NUL: a parse error in text
                                         "ab\xC0\xBCp>text"s,      // overlong "<" opens a tag
                                         "ab\xE0\x80\xA6lt;xyz"s,  // overlong "&" begins a reference
                                         "abcd\xC0\x80xyzw"s));    // overlong NUL inside text

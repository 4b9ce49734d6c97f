#pragma once

namespace Tessarin {
namespace Html {

// The end-of-input value: Consume returns it when the input is exhausted.
constexpr unsigned int kEof = 0xFFFFFFFF;
constexpr unsigned int kNull = 0x0000;
constexpr unsigned int kReplacement = 0xFFFD;

// Whitespace inside the tokenizer: TAB, LF, FF and SPACE. CR is an ordinary
// code point, since nothing normalises newlines.
constexpr bool IsWhitespace(unsigned int c) { return c == '\t' || c == '\n' || c == '\f' || c == ' '; }
constexpr bool IsAsciiUpper(unsigned int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiLower(unsigned int c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiDigit(unsigned int c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlpha(unsigned int c) { return IsAsciiUpper(c) || IsAsciiLower(c); }
constexpr bool IsAsciiAlphanumeric(unsigned int c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
// ASCII-only case folding: A-Z become a-z, nothing else changes.
constexpr unsigned int ToAsciiLower(unsigned int c) { return IsAsciiUpper(c) ? c + 0x20 : c; }
constexpr unsigned int ToAsciiUpper(unsigned int c) { return IsAsciiLower(c) ? c - 0x20 : c; }

}  // namespace Html
}  // namespace Tessarin

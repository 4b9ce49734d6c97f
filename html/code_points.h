#pragma once

namespace Tessarin {
namespace Html {

// The end-of-input value: Consume returns it when the input is exhausted.
constexpr unsigned int kEof = 0xFFFFFFFF;
constexpr unsigned int kNull = 0x0000;
constexpr unsigned int kReplacement = 0xFFFD;

// Whitespace inside the tokenizer: TAB, LF, FF and SPACE. CR is an ordinary
// code point, since nothing normalises newlines.
inline bool IsWhitespace(unsigned int c) { return c == '\t' || c == '\n' || c == '\f' || c == ' '; }
inline bool IsAsciiUpper(unsigned int c) { return c >= 'A' && c <= 'Z'; }
inline bool IsAsciiLower(unsigned int c) { return c >= 'a' && c <= 'z'; }
inline bool IsAsciiDigit(unsigned int c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiAlpha(unsigned int c) { return IsAsciiUpper(c) || IsAsciiLower(c); }
inline bool IsAsciiAlphanumeric(unsigned int c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
// ASCII-only case folding: A-Z become a-z, nothing else changes.
inline unsigned int ToAsciiLower(unsigned int c) { return IsAsciiUpper(c) ? c + 0x20 : c; }
inline unsigned int ToAsciiUpper(unsigned int c) { return IsAsciiLower(c) ? c - 0x20 : c; }

}  // namespace Html
}  // namespace Tessarin

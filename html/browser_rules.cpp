#include "html/browser_rules.h"

namespace Tessarin {
namespace Html {

namespace {

bool NameIs(const unsigned int* name, unsigned long length, const char* ascii) {
  for (unsigned long i = 0; i < length; ++i) {
    if (!ascii[i] || name[i] != static_cast<unsigned char>(ascii[i])) return false;
  }
  return ascii[length] == '\0';
}

template <size_t N>
bool NameIsOneOf(const unsigned int* name, unsigned long length, const char* const (&names)[N]) {
  for (const char* candidate : names) {
    if (NameIs(name, length, candidate)) return true;
  }
  return false;
}

struct text_element_t {
  const char* name;
  TextState text;
};

constexpr text_element_t kTextElements[] = {
    {"title", TextState::Rcdata},     {"textarea", TextState::Rcdata},   {"style", TextState::Rawtext},
    {"xmp", TextState::Rawtext},      {"iframe", TextState::Rawtext},    {"noembed", TextState::Rawtext},
    {"noframes", TextState::Rawtext}, {"script", TextState::ScriptData}, {"plaintext", TextState::Plaintext},
};

// Start tags that end foreign content in a browser (font only with one of
// the attributes color, face or size).
constexpr const char* kBreakOut[] = {
    "b",     "big",   "blockquote", "body",   "br",   "center", "code",  "dd", "div",  "dl",   "dt",
    "em",    "embed", "h1",         "h2",     "h3",   "h4",     "h5",    "h6", "head", "hr",   "i",
    "img",   "li",    "listing",    "menu",   "meta", "nobr",   "ol",    "p",  "pre",  "ruby", "s",
    "small", "span",  "strong",     "strike", "sub",  "sup",    "table", "tt", "u",    "ul",   "var",
};
constexpr const char* kFontBreakOutAttributes[] = {"color", "face", "size"};
constexpr const char* kForeignRoots[] = {"svg", "math"};

bool BreaksOut(const unsigned int* name, unsigned long length, const attr_list_t& attributes, unsigned long count) {
  if (NameIsOneOf(name, length, kBreakOut)) return true;
  if (!NameIs(name, length, "font")) return false;
  for (unsigned long i = 0; i < count; ++i) {
    const attr_t& attribute = attributes.data[i];
    if (NameIsOneOf(attribute.name.data, attribute.name.size, kFontBreakOutAttributes)) return true;
  }
  return false;
}

// Whether a name can be one of kTextElements, noscript or kForeignRoots: every
// start tag passes here, and most are ruled out by their first letter.
bool MayChangeTheText(const unsigned int* name, unsigned long length) {
  if (length < 3 || length > 9) return false;
  switch (name[0]) {
    case 'i':
    case 'm':
    case 'n':
    case 'p':
    case 's':
    case 't':
    case 'x':
      return true;
    default:
      return false;
  }
}

}  // namespace

TextState BrowserRules::AfterStartTag(const unsigned int* name, unsigned long length, const attr_list_t& attributes,
                                      unsigned long attributeCount, bool selfClosing) {
  if (foreignDepth && BreaksOut(name, length, attributes, attributeCount)) foreignDepth = 0;
  if (!MayChangeTheText(name, length)) return TextState::Data;
  if (NameIsOneOf(name, length, kForeignRoots)) {
    if (!selfClosing) ++foreignDepth;
    return TextState::Data;
  }
  if (foreignDepth) return TextState::Data;
  for (const text_element_t& element : kTextElements) {
    if (NameIs(name, length, element.name)) return element.text;
  }
  if (scripting && NameIs(name, length, "noscript")) return TextState::Rawtext;
  return TextState::Data;
}

void BrowserRules::AfterEndTag(const unsigned int* name, unsigned long length) {
  if (!foreignDepth) return;
  if (NameIsOneOf(name, length, kForeignRoots)) {
    --foreignDepth;
  } else if (NameIs(name, length, "p") || NameIs(name, length, "br")) {
    foreignDepth = 0;
  }
}

}  // namespace Html
}  // namespace Tessarin

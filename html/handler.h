#pragma once

#include "html/fast_stack.h"
#include "html/parse_errors.h"

namespace Tessarin {
namespace Html {

class Tokenizer;

// One attribute of a tag: name and value, code points, never terminated.
struct attr_t {
  fast_stack_t<unsigned int, 32> name;  // room for all but the longest names
  fast_stack_t<unsigned int, 128> value;

  void Init() {
    name.Init();
    value.Init();
  }
  void Free() {
    name.Free();
    value.Free();
  }
};

// An attribute moved to another address uses the inline storage of its new
// place, or keeps its heap blocks.
inline void RebaseElement(attr_t& attribute) {
  attribute.name.Rebase();
  attribute.value.Rebase();
}

using attr_list_t = fast_stack_t<attr_t, 8>;

// The receiver of tokens. Every pointer handed to a callback points into the
// tokenizer's buffers and is valid only until the callback returns. A null
// pointer in OnDoctype stands for a missing field.
class Handler {
 public:
  virtual ~Handler() = 0;
  virtual void OnParseError() = 0;
  virtual void OnDoctype(const unsigned int* name, unsigned long nameLength, const unsigned int* publicId,
                         unsigned long publicIdLength, const unsigned int* systemId, unsigned long systemIdLength) = 0;
  virtual void OnStartTag(const unsigned int* name, unsigned long nameLength, const attr_list_t& attributes,
                          unsigned long attributeCount, bool selfClosing) = 0;
  virtual void OnEndTag(const unsigned int* name, unsigned long nameLength) = 0;
  virtual void OnComment(const unsigned int* text, unsigned long length) = 0;
  virtual void OnChar(unsigned int codePoint) = 0;
  virtual void OnEof() = 0;
  // A parse error with its code and place; by default reported by
  // OnParseError, without either.
  virtual void OnCodedParseError(ParseErrorCode, error_place_t) { OnParseError(); }
  // A run of consecutive characters, reported together by the tokenizer's
  // fast path; by default each is reported by OnChar, in order. A handler may
  // take the run at once instead.
  virtual void OnText(const unsigned int* text, unsigned long length) {
    for (unsigned long i = 0; i < length; ++i) OnChar(text[i]);
  }

  void SetTokenizer(Tokenizer& t) { tokenizer = &t; }
  Tokenizer* GetTokenizer() const { return tokenizer; }

 protected:
  Tokenizer* tokenizer = nullptr;
};

inline Handler::~Handler() = default;

}  // namespace Html
}  // namespace Tessarin

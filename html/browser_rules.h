#pragma once

#include "html/handler.h"

namespace Tessarin {
namespace Html {

// The states a text can be tokenized from: the data state, the states a tree
// builder switches to after certain start tags, and the CDATA section.
enum class TextState : unsigned char { Data, Rcdata, Rawtext, ScriptData, Plaintext, CdataSection };

// The content models a browser's tree builder sets, without the tree. After a
// start tag title or textarea the text is RCDATA; after style, xmp, iframe,
// noembed, noframes and (with scripting) noscript RAWTEXT; after script
// script data; after plaintext PLAINTEXT, self-closing or not. None of them
// switches in foreign content, where "<![CDATA[" opens a CDATA section.
//
// Foreign content is tracked by nesting alone: an svg or math start tag that
// is not self-closing opens a level, an svg or math end tag closes one, and a
// tag that leaves foreign content in a browser (b, div, p, table, </p>, ...)
// closes them all. Integration points (SVG foreignObject, desc and title,
// MathML mi, mo, mn, ms, mtext and annotation-xml) are not told apart: what
// they hold counts as foreign content.
class BrowserRules {
 public:
  void Reset(bool scriptingOn) {
    scripting = scriptingOn;
    foreignDepth = 0;
  }
  // The state that tokenizes what follows a start tag.
  TextState AfterStartTag(const unsigned int* name, unsigned long length, const attr_list_t& attributes,
                          unsigned long attributeCount, bool selfClosing);
  void AfterEndTag(const unsigned int* name, unsigned long length);
  bool InForeignContent() const { return foreignDepth != 0; }

 private:
  unsigned long foreignDepth = 0;
  bool scripting = true;
};

}  // namespace Html
}  // namespace Tessarin

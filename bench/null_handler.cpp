#include "null_handler.h"

#include "html/tokenizer.h"

void NullHandler::OnParseError() {}
void NullHandler::OnDoctype(const unsigned int*, unsigned long, const unsigned int*, unsigned long, const unsigned int*,
                            unsigned long) {}
void NullHandler::OnStartTag(const unsigned int*, unsigned long, const Tessarin::Html::attr_list_t&, unsigned long,
                             bool selfClosing) {
  if (selfClosing) GetTokenizer()->Acknowledge();
}
void NullHandler::OnEndTag(const unsigned int*, unsigned long) {}
void NullHandler::OnComment(const unsigned int*, unsigned long) {}
void NullHandler::OnChar(unsigned int) {}
void NullHandler::OnEof() {}
void NullHandler::OnText(const unsigned int*, unsigned long) {}

#pragma once

#include "html/handler.h"

// A handler whose callbacks do nothing. Defined in its own translation unit so
// the compiler cannot see through the virtual calls.
class NullHandler final : public Tessarin::Html::Handler {
 public:
  void OnParseError() override;
  void OnDoctype(const unsigned int*, unsigned long, const unsigned int*, unsigned long, const unsigned int*,
                 unsigned long) override;
  void OnStartTag(const unsigned int*, unsigned long, const Tessarin::Html::attr_list_t&, unsigned long, bool) override;
  void OnEndTag(const unsigned int*, unsigned long) override;
  void OnComment(const unsigned int*, unsigned long) override;
  void OnChar(unsigned int) override;
  void OnEof() override;
  void OnText(const unsigned int*, unsigned long) override;
};

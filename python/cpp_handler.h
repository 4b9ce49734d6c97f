// What the module's handler objects and the handlers written in C++ that some
// of them carry know of each other.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "html/handler.h"
#include "stream/source_positions.h"

namespace Tessarin {
namespace Bridge {

// A handler written in C++ that a handler object carries in place of its
// Python methods: a parse with that object reports every token here, and no
// method of the object is called. Its callbacks may call the Python API (the
// parsing thread holds the interpreter lock, where there is one); one that
// fails sets a Python exception and interrupts the tokenizer.
class CppHandler : public Html::Handler {
 public:
  // Whether parse errors are wanted with their codes and places
  // (OnCodedParseError), which positions() turns into lines and columns.
  virtual bool WantsErrorPositions() const = 0;
  // Called before the first token of a parse.
  virtual void BeginParse() = 0;
  // Whether a callback failed: its Python exception is set.
  virtual bool Failed() const = 0;
  // Called when a parse ends, completed or not.
  virtual void EndParse() = 0;

  // Where the places in the input of the parse under way are found.
  void SetPositions(SourcePositions* finder) { positions = finder; }

 protected:
  SourcePositions* positions = nullptr;
};

// The HtmlHandler type, readied by the module's initialisation.
PyTypeObject* HandlerType();

// Makes `cppHandler` take the tokens of every parse with `handler`, an
// instance of HandlerType() or a subtype, which owns it from then on.
void SetCppHandler(PyObject* handler, CppHandler* cppHandler);

// Readies the type of htmltess._JsonLinesWriter, a subtype of HandlerType();
// null with an exception set if that fails.
PyTypeObject* ReadyJsonLinesWriterType();

}  // namespace Bridge
}  // namespace Tessarin

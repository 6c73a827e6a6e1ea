// Helpers for tests of the virtual machine: values that release themselves, p-code procedures
// assembled from text and registered as modules, calls, and a native error handler that
// records the run-time errors raised while it is installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vm/errapi.h"
#include "vm/item.h"
#include "vm/symbols.h"

// An item owned by the test.
struct Val {
  VlItem it;
  Val() { it.type = VL_IT_NIL; }
  Val(const Val& o);
  Val& operator=(const Val& o);
  ~Val();
  static Val nil() { return Val(); }
  static Val i(int32_t v);
  static Val l(int64_t v);  // a long item whatever the value
  static Val d(double v, int decimals);
  static Val s(const std::string& text);
  static Val memo(const std::string& text);
  static Val date(int y, int m, int d);
  static Val b(bool v);
  static Val arr(const std::vector<Val>& elements);
  static Val from(const VlItem* item);

  const VlItem* ptr() const { return &it; }
  int32_t ni() const;
  std::string text() const;  // a string's text, "" for anything else
  bool lg() const;
};

// "int:5:w10", "long:2147483648:w20", "dbl:3.5:w10:d2", "str:\"AB\"", "memo:\"AB\"",
// "date:20000102", ".T.", "NIL", "array[2]", "object:ERROR", "block", ...
std::string describe(const VlItem* v);
inline std::string describe(const Val& v) { return describe(&v.it); }

// Assembles the text into a p-code procedure with a name of its own and registers it (with the
// given extra symbols after it in its module's symbol table); the module lives as long as the
// process. Symbol 0 is the procedure itself.
VlSymbol* vlProc(const std::string& text, const std::vector<std::string>& symbols = {});
// Several procedures of one module: the names come first in the symbol table, then `symbols`.
std::vector<VlSymbol*> vlModule(const std::vector<std::pair<std::string, std::string>>& procs,
                                const std::vector<std::string>& symbols = {});
// Calls the procedure (or the function named) with the arguments; the result.
Val vlCall(VlSymbol* proc, const std::vector<Val>& args = {});
Val vlCallName(const char* name, const std::vector<Val>& args = {});

// While it lives, run-time errors go to it: each is recorded as
// "BASE 1/1081 + [int:1:w10,str:\"AB\"]"; a substitutable error gets `substitute`, any other
// is turned into a break (so code that raises one must run inside BEGIN SEQUENCE or TRY).
class ErrorCatcher {
 public:
  ErrorCatcher();
  ~ErrorCatcher();
  ErrorCatcher(const ErrorCatcher&) = delete;
  ErrorCatcher& operator=(const ErrorCatcher&) = delete;

  std::vector<std::string> errors;
  Val substitute;
  Val lastError;  // the last Error object seen

 private:
  struct Record {
    VlErrorHandler handler;
    ErrorCatcher* owner;
  } record_;
  VlErrorHandler* previous_;
  static VlItem* handle(VlErrorHandler* h);
};

// Sends a message without arguments to an object and returns the answer.
Val vlSend(const Val& object, const char* message);

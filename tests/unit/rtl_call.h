// Calls language-level functions by name through the VM, as compiled code would (symbol, NIL
// self, arguments, vl_vmDo), for the tests of the run-time library.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/langapi.h"
#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"
#include "vmtest.h"

class Call {
 public:
  explicit Call(const char* name) : name_(name) { result_.type = VL_IT_NIL; }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    for (VlItem& a : args_) vl_itemClear(&a);
    vl_itemClear(&result_);
  }

  Call& s(std::string_view text) { return add([&](VlItem* i) { vl_itemPutCL(i, text.data(), text.size()); }); }
  Call& memo(std::string_view text) {
    return add([&](VlItem* i) { vl_itemSetCMemo(vl_itemPutCL(i, text.data(), text.size())); });
  }
  Call& n(int64_t v) { return add([&](VlItem* i) { vl_itemPutNInt(i, v); }); }
  Call& d(double v, int decimals = -1, int width = 0) {
    return add([&](VlItem* i) { vl_itemPutNDLen(i, v, width, decimals); });
  }
  Call& l(bool v) { return add([&](VlItem* i) { vl_itemPutL(i, v); }); }
  Call& nil() { return add([](VlItem*) {}); }
  Call& date(int y, int m, int d) { return add([&](VlItem* i) { vl_itemPutD(i, y, m, d); }); }
  Call& julian(int32_t j) { return add([&](VlItem* i) { vl_itemPutDL(i, j); }); }
  Call& item(const VlItem* v) { return add([&](VlItem* i) { vl_itemCopy(i, v); }); }

  // Runs the call; the result stays valid until the Call is destroyed.
  const VlItem& run() {
    VlDynSym* d = vl_dynsymFind(name_);
    EXPECT_TRUE(d && vl_dynsymHasFunction(d)) << name_ << " is not a function";
    if (!d) return result_;
    vl_vmPushSymbol(d->symbol);
    vl_vmPushNil();
    for (const VlItem& a : args_) vl_vmPush(&a);
    vl_vmDo(static_cast<uint16_t>(args_.size()));
    vl_itemCopy(&result_, &vl_stack.ret);
    return result_;
  }
  const VlItem& result() const { return result_; }  // of the last run
  std::string str() {
    const VlItem& r = run();
    EXPECT_TRUE(VL_IS_STRING(&r)) << name_ << " did not return a string";
    return std::string(vl_itemGetCPtr(&r), vl_itemGetCLen(&r));
  }
  double num() {
    const VlItem& r = run();
    EXPECT_TRUE(VL_IS_NUMERIC(&r)) << name_ << " did not return a number";
    return vl_itemGetND(&r);
  }
  int64_t integer() {
    const VlItem& r = run();
    EXPECT_TRUE(VL_IS_NUMINT(&r)) << name_ << " did not return an integer";
    return vl_itemGetNLL(&r);
  }
  bool logical() {
    const VlItem& r = run();
    EXPECT_TRUE(VL_IS_LOGICAL(&r)) << name_ << " did not return a logical";
    return vl_itemGetL(&r);
  }
  int32_t day() {
    const VlItem& r = run();
    EXPECT_TRUE(VL_IS_DATE(&r)) << name_ << " did not return a date";
    return vl_itemGetDL(&r);
  }
  std::string type() { return vl_itemTypeStr(&run()); }

 private:
  template <typename F>
  Call& add(F put) {
    args_.emplace_back();
    args_.back().type = VL_IT_NIL;
    put(&args_.back());
    return *this;
  }
  const char* name_;
  std::vector<VlItem> args_;
  VlItem result_;
};

// Restores a setting a test changes (SET(id) before, SET(id, saved) after).
struct SetGuard {
  explicit SetGuard(int id) : id_(id) {
    saved_.type = VL_IT_NIL;
    Call get("SET");
    vl_itemCopy(&saved_, &get.n(id).run());
  }
  SetGuard(const SetGuard&) = delete;
  SetGuard& operator=(const SetGuard&) = delete;
  ~SetGuard() {
    Call("SET").n(id_).item(&saved_).run();
    vl_itemClear(&saved_);
  }

 private:
  int id_;
  VlItem saved_;
};

// The text a number is shown with (console output): its display width and decimals.
inline std::string shown(const VlItem& v) {
  size_t len;
  bool freeable;
  char* s = vl_itemString(&v, &len, &freeable);
  std::string out(s, len);
  if (freeable) vl_xfree(s);
  return out;
}

// While it lives, run-time errors go to it and are recorded as
// "BASE 1/1110 SUBSTR [str:\"hello\",int:2:w10,NIL]", followed by "(description)" when the
// description is not the generic code's own and by " nosub" when the error cannot substitute. A
// substitutable error is answered with the string "subst"; any other with a break request, so
// that the function returns at once (errorOf clears the request again).
class CatchErrors {
 public:
  CatchErrors() {
    record_.handler = VlErrorHandler{handle, nullptr, nullptr, nullptr, nullptr};
    record_.owner = this;
    previous_ = vl_errorHandler(&record_.handler);
  }
  ~CatchErrors() { vl_errorHandler(previous_); }
  CatchErrors(const CatchErrors&) = delete;
  CatchErrors& operator=(const CatchErrors&) = delete;

  std::vector<std::string> errors;
  bool substituted = false;

 private:
  struct Record {
    VlErrorHandler handler;
    CatchErrors* owner;
  } record_;
  VlErrorHandler* previous_;

  static VlItem* handle(VlErrorHandler* h) {
    CatchErrors* self = reinterpret_cast<Record*>(h)->owner;
    Val error = Val::from(h->error);
    int genCode = vlSend(error, "GENCODE").ni();
    std::string text = vlSend(error, "SUBSYSTEM").text() + " " + std::to_string(genCode) + "/" +
                       std::to_string(vlSend(error, "SUBCODE").ni()) + " " + vlSend(error, "OPERATION").text() + " [";
    Val args = vlSend(error, "ARGS");
    for (uint32_t k = 1; k <= vl_arrayLen(&args.it); ++k) {
      if (k > 1) text += ",";
      text += describe(vl_arrayGetItemPtr(&args.it, k));
    }
    text += "]";
    std::string description = vlSend(error, "DESCRIPTION").text();
    if (description != vl_langDGetErrorDesc(genCode)) text += " (" + description + ")";
    bool canSubstitute = vlSend(error, "CANSUBSTITUTE").lg();
    if (!canSubstitute) text += " nosub";
    self->errors.push_back(text);
    if (canSubstitute) {
      self->substituted = true;
      return vl_itemPutC(nullptr, "subst");
    }
    vl_vmRequestRestore(VL_REQ_BREAK);
    return vl_itemNew(nullptr);
  }
};

// The run-time errors the call raises, one per line ("" when none). A substituted answer must
// become the call's result.
inline std::string errorOf(Call& call) {
  CatchErrors catcher;
  const VlItem& r = call.run();
  EXPECT_NE(vl_vmRequestQuery(), VL_REQ_QUIT);
  vl_vmRequestReset();
  std::string out;
  for (const std::string& e : catcher.errors) out += (out.empty() ? "" : "\n") + e;
  if (catcher.substituted) {
    EXPECT_STREQ(vl_itemGetCPtr(&r), "subst") << out;
  }
  return out;
}
inline std::string errorOf(Call&& call) { return errorOf(call); }

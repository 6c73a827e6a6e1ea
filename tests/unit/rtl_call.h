// Calls language-level functions by name through the VM, as compiled code would (symbol, NIL
// self, arguments, vl_vmDo), for the tests of the run-time library.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "vm/extend.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"

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

// Until the Error class exists, a raised run-time error ends the process with internal error 9000
// (the Error object cannot be built); the call trace then names the function that raised it.
#define EXPECT_RUNTIME_ERROR(statement, function)                                    \
  do {                                                                               \
    GTEST_FLAG_SET(death_test_style, "threadsafe");                                  \
    EXPECT_EXIT(statement, ::testing::ExitedWithCode(1),                             \
                "Couldn't create Error object.*Called from " function "\\(");        \
  } while (0)

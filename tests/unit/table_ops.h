// Short calls of the language-level database functions for the tests of locking, whole-table
// operations, memo files and record transfer; builds on rdd_util.h.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "rdd_util.h"
#include "vmtest.h"

namespace tableops {

using rddtest::call;
using rddtest::Item;

inline Item fieldValue(int n) {
  Item index(n);
  return call("FIELDVALUE", {&index});
}

inline std::string text(int n) { return fieldValue(n).str(); }

inline void assign(int n, const Item& value) {
  Item index(n);
  call("FIELDASSIGN", {&index, &value});
}
inline void assign(int n, const std::string& value) {
  Item v;
  vl_itemPutCL(&v.v, value.data(), value.size());
  assign(n, v);
}

inline void goTo(int n) {
  Item rec(n);
  call("DBGOTO", {&rec});
}

inline int lastRec() { return static_cast<int>(call("LASTREC").num()); }
inline int recNo() { return static_cast<int>(call("RECNO").num()); }
inline bool deleted() { return call("DELETED").log(); }

// DBCREATE with the driver (null: the default one); false when it failed.
inline bool createTable(const std::string& path, const Item& rows, const char* driver = nullptr) {
  Item file(path.c_str()), drv(driver ? driver : "");
  call("DBCREATE", {&file, &rows, driver ? &drv : nullptr});
  return !call("NETERR").log();
}

inline bool rlock(int rec) {
  Item r(rec);
  return call("DBRLOCK", {&r}).log();
}

// Runs body in a child process; its exit code (the child never returns into the test).
template <typename F>
pid_t forkChild(F body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int code = body();
    _exit(code);
  }
  return pid;
}

inline int waitChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Blocks that run C++ code: block(n) is a codeblock whose evaluation calls hooks[n] and yields
// what it returns. Two hooks, so that a FOR and a WHILE block can be given together.
inline std::function<void(VlItem*)> hooks[2];

inline void runHook0() {
  Item result;
  if (hooks[0]) hooks[0](&result.v);
  vl_itemReturn(&result.v);
}
inline void runHook1() {
  Item result;
  if (hooks[1]) hooks[1](&result.v);
  vl_itemReturn(&result.v);
}

inline Item block(int n) {
  static VlSymbol natives[] = {{"VLT_TABLEOPS_HOOK0", VL_FS_PUBLIC, {runHook0}, VL_SYM_DEFINED},
                               {"VLT_TABLEOPS_HOOK1", VL_FS_PUBLIC, {runHook1}, VL_SYM_DEFINED}};
  static bool registered = (vl_vmProcessSymbols(natives, 2, "table_ops.h", VL_PCODE_VERSION), true);
  (void)registered;
  static VlSymbol* makers[2] = {
      vlProc("ENTER 0 0\nMAKEBLOCK1 {\nPUTSYM1 VLT_TABLEOPS_HOOK0\nPUTNIL\nCALLF1 0\nBLOCKEXIT\n}\nSETRESULT\nPROCEXIT",
             {"VLT_TABLEOPS_HOOK0"}),
      vlProc("ENTER 0 0\nMAKEBLOCK1 {\nPUTSYM1 VLT_TABLEOPS_HOOK1\nPUTNIL\nCALLF1 0\nBLOCKEXIT\n}\nSETRESULT\nPROCEXIT",
             {"VLT_TABLEOPS_HOOK1"})};
  Val made = vlCall(makers[n]);
  Item out;
  vl_itemCopy(&out.v, made.ptr());
  return out;
}

// A block yielding the logical the predicate gives (hooks[n]).
inline Item predicate(int n, std::function<bool()> test) {
  hooks[n] = [test](VlItem* out) { vl_itemPutL(out, test()); };
  return block(n);
}

}  // namespace tableops

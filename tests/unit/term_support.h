// Test support for the terminal: a fake system console that records what the driver asks of
// it and serves queued input records, a fixture that puts the terminal on it, and a helper
// that calls language functions.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/syscon.h"
#include "rtl/gt.h"
#include "rtl/set.h"
#include "vm/extend.h"
#include "vm/vmcall.h"

class FakeConsole : public VlSysCon {
 public:
  int16_t rows = 25, cols = 80;
  std::vector<VlConCell> cells = std::vector<VlConCell>(25 * 80, VlConCell{' ', 0x07});
  int16_t curRow = 0, curCol = 0;
  std::vector<VlConRect> writes;           // every writeOutput region
  std::vector<std::pair<bool, int>> cursorInfos;  // every setCursorInfo
  int cursorMoves = 0;
  std::vector<std::string> scrolledRows;   // text of the rows given to scrolledOff
  std::deque<VlConInput> input;
  bool ended = false;
  uint32_t mode = 0;

  bool info(VlConInfo* out) override {
    *out = VlConInfo{cols, rows, curRow, curCol, VlConRect{0, 0, static_cast<int16_t>(rows - 1), static_cast<int16_t>(cols - 1)}, rows, cols};
    return true;
  }
  bool setBufferSize(int16_t r, int16_t c) override {
    if (r != rows || c != cols) {
      rows = r;
      cols = c;
      cells.assign(static_cast<size_t>(r) * c, VlConCell{' ', 0x07});
    }
    return true;
  }
  bool setWindow(const VlConRect&) override { return true; }
  bool readOutput(VlConCell* out, int16_t bufRows, int16_t bufCols, VlConRect* region) override {
    for (int r = region->top; r <= region->bottom && r < bufRows; ++r)
      for (int c = region->left; c <= region->right && c < bufCols; ++c) out[r * bufCols + c] = cells[r * cols + c];
    return true;
  }
  bool writeOutput(const VlConCell* in, int16_t bufRows, int16_t bufCols, VlConRect* region) override {
    writes.push_back(*region);
    for (int r = region->top; r <= region->bottom; ++r)
      for (int c = region->left; c <= region->right; ++c) {
        EXPECT_LT(r, bufRows);
        EXPECT_LT(c, bufCols);
        cells[r * cols + c] = in[r * bufCols + c];
      }
    return true;
  }
  void setCursorInfo(bool visible, int size) override { cursorInfos.emplace_back(visible, size); }
  void setCursorPos(int16_t r, int16_t c) override {
    curRow = r;
    curCol = c;
    ++cursorMoves;
  }
  uint32_t getMode() override { return mode; }
  void setMode(uint32_t m) override { mode = m; }
  int pendingInput() override { return static_cast<int>(input.size()); }
  int readInput(VlConInput* out, int max) override {
    int n = 0;
    while (n < max && !input.empty()) {
      out[n++] = input.front();
      input.pop_front();
    }
    return n;
  }
  bool inputEnded() override { return ended && input.empty(); }
  void scrolledOff(const VlConCell* r, int16_t count, int16_t c) override {
    for (int i = 0; i < count; ++i) {
      std::string line;
      for (int x = 0; x < c; ++x) line += static_cast<char>(r[i * c + x].ch);
      scrolledRows.push_back(line);
    }
  }
  void close() override {}

  // Text of a row of the console (what the driver last wrote), trailing blanks kept.
  std::string row(int r) const {
    std::string s;
    for (int c = 0; c < cols; ++c) s += static_cast<char>(cells[r * cols + c].ch);
    return s;
  }
  uint16_t attrAt(int r, int c) const { return cells[r * cols + c].attr; }

  void key(uint16_t vk, uint8_t ch, uint32_t state = 0, uint16_t repeat = 1, uint16_t scan = 0, bool down = true) {
    VlConInput rec{};
    rec.type = VL_CON_KEY_EVENT;
    rec.key = VlConKey{down, repeat, vk, scan, ch, state};
    input.push_back(rec);
  }
  void mouse(int16_t row, int16_t col, uint32_t buttons, uint32_t flags) {
    VlConInput rec{};
    rec.type = VL_CON_MOUSE_EVENT;
    rec.mouse = VlConMouse{col, row, buttons, 0, flags};
    input.push_back(rec);
  }
};

// Puts the terminal layer on a fresh fake console for the test, and back on the process's own
// console afterwards.
class TermTest : public ::testing::Test {
 protected:
  FakeConsole con;
  void SetUp() override {
    vl_gtExit();
    std::strcpy(vl_set.color, "W/N,N/W,N/N,N/N,N/W");  // each test starts from the defaults
    vl_sysconUseNext(&con);
    vl_gtInit(0, 1, 2);
    con.writes.clear();
    con.cursorInfos.clear();
    con.cursorMoves = 0;
  }
  void TearDown() override {
    vl_gtExit();
    std::strcpy(vl_set.color, "W/N,N/W,N/N,N/N,N/W");
    vl_gtInit(0, 1, 2);
  }
};

// The result of a call, held until the end of its scope.
struct VlResult {
  VlItem item;
  VlResult() { item.type = VL_IT_NIL; }
  ~VlResult() { vl_itemClear(&item); }
  VlResult(const VlResult&) = delete;
  VlResult(VlResult&& o) noexcept : item(o.item) { o.item.type = VL_IT_NIL; }
  const VlItem* operator->() const { return &item; }
};

// Calls a language function by name with the given arguments (null: NIL).
inline VlResult vlCall(const char* name, std::initializer_list<const VlItem*> args) {
  vl_itemClear(&vl_stack.ret);  // a function that returns nothing leaves NIL
  vl_vmPushSymbol(vl_dynsymFindName(name)->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) {
    if (a) vl_vmPush(a);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
  VlResult out;
  vl_itemCopy(&out.item, &vl_stack.ret);
  return out;
}

// Values for arguments; they live until the end of the full expression that made them.
struct Arg {
  VlItem item;
  Arg() { item.type = VL_IT_NIL; }
  Arg(int n) : Arg() { vl_itemPutNI(&item, n); }
  Arg(double d) : Arg() { vl_itemPutND(&item, d); }
  Arg(const char* s) : Arg() { vl_itemPutC(&item, s); }
  Arg(const std::string& s) : Arg() { vl_itemPutCL(&item, s.data(), s.size()); }
  static Arg logical(bool b) {
    Arg a;
    vl_itemPutL(&a.item, b);
    return a;
  }
  ~Arg() { vl_itemClear(&item); }
  Arg(const Arg&) = delete;
  Arg(Arg&& o) noexcept : item(o.item) { o.item.type = VL_IT_NIL; }
  const VlItem* operator&() const { return &item; }
};

inline std::string vlCallC(const char* name, std::initializer_list<const VlItem*> args) {
  VlResult r = vlCall(name, args);
  return VL_IS_STRING(&r.item) ? std::string(vl_itemGetCPtr(&r.item), vl_itemGetCLen(&r.item)) : "<not a string>";
}

inline long vlCallN(const char* name, std::initializer_list<const VlItem*> args) {
  VlResult r = vlCall(name, args);
  return VL_IS_NUMERIC(&r.item) ? vl_itemGetNL(&r.item) : -999999;
}

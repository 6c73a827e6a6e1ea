// A whole program for the terminal tests: its MAIN (a native module) draws, writes and reads
// keys through the language's functions, as an xBase program would, as its first argument asks.
// The tests run it headless through pipes and, when tmux is there, in a real terminal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "vm/errint.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

struct Arg {
  VlItem item;
  Arg() { item.type = VL_IT_NIL; }
  Arg(int n) : Arg() { vl_itemPutNI(&item, n); }
  Arg(const char* s) : Arg() { vl_itemPutC(&item, s); }
  ~Arg() { vl_itemClear(&item); }
};

// Calls a language function; the result stays in the return value.
VlItem* call(const char* name, std::initializer_list<const Arg*> args = {}) {
  vl_vmPushSymbol(vl_dynsymFindName(name)->symbol);
  vl_vmPushNil();
  for (const Arg* a : args) vl_vmPush(&a->item);
  vl_vmDo(static_cast<uint16_t>(args.size()));
  return &vl_stack.ret;
}

void qout(const std::string& s) {
  Arg a(s.c_str());
  call("QOUT", {&a});
}

int inkey(int seconds) {
  Arg a(seconds);
  return vl_itemGetNI(call("INKEY", {&a}));
}

const char* keyName(int k) {
  switch (k) {
    case 5: return "Up";
    case 24: return "Down";
    case 19: return "Left";
    case 4: return "Right";
    case 28: return "F1";
    case -1: return "F2";
    case -10: return "Shift+F1";
    case 271: return "Shift+Tab";
    case 286: return "Alt+A";
    case 26: return "Ctrl+Left";
    case 1: return "Home";
    case 6: return "End";
    case 18: return "PgUp";
    case 3: return "PgDn";
    case 13: return "Enter";
    case 8: return "Backspace";
    case 7: return "Del";
    case 22: return "Ins";
    default: return "";
  }
}

// Boxes in colour, text at positions, a scrolled region, then keys until Esc (or the end of
// the input), each shown on a row of its own below the boxes.
void demo() {
  Arg clr(""), blue("W+/B"), red("GR+/R"), green("N/G");
  call("SETCOLOR", {&clr});
  call("SCROLL");
  Arg zero(0), one(1), two(2), five(5), ten(10), twenty(20), thirty(30), forty(40), sixty(60);
  call("SETPOS", {&zero, &zero});
  call("DISPBOX", {&one, &one, &five, &twenty, &one, &blue});
  call("DISPBOX", {&one, &thirty, &five, &sixty, &two, &red});
  Arg r3(3), c5(5), c35(35), boxText("single box"), dblText("double box");
  call("DISPOUTAT", {&r3, &c5, &boxText, &blue});
  call("DISPOUTAT", {&r3, &c35, &dblText, &red});
  // A region filled with numbered lines, then scrolled up by two.
  for (int i = 0; i < 5; ++i) {
    Arg row(7 + i), col(40), text(("line " + std::to_string(i)).c_str());
    call("DEVPOS", {&row, &col});
    call("DEVOUT", {&text, &green});
  }
  Arg top(7), left(40), bottom(11), right(50), by(2);
  call("SCROLL", {&top, &left, &bottom, &right, &by});
  Arg r13(13);
  call("SETPOS", {&r13, &zero});
  qout("READY");
  // Keys are listed from row 15 down, each on its own row.
  for (int n = 0;; ++n) {
    int k = inkey(0);
    if (k == 0 || k == 27) break;
    char line[64];
    std::snprintf(line, sizeof line, "%-30s", ("key " + std::to_string(k) + " " + keyName(k)).c_str());
    Arg row(15 + n % 9), col(0), text(line);
    call("DEVPOS", {&row, &col});
    call("DEVOUT", {&text});
  }
  qout("BYE");
}

void lines(int n) {
  for (int i = 1; i <= n; ++i) qout("line " + std::to_string(i));
}

}  // namespace

static void probeMain() {
  const char* what = vl_pcount() >= 1 ? vl_parc(1) : "";
  if (!std::strcmp(what, "demo")) {
    demo();
  } else if (!std::strcmp(what, "lines")) {
    lines(vl_pcount() >= 2 ? std::atoi(vl_parc(2)) : 30);
  } else if (!std::strcmp(what, "keys")) {
    // Key codes until the input ends: INKEY(0) then answers 0 at once.
    for (int k; (k = inkey(0)) != 0;) qout("key " + std::to_string(k));
    qout("end of input");
  } else if (!std::strcmp(what, "mixed")) {
    qout("on the screen");
    Arg text("to standard output\n");
    call("OUTSTD", {&text});
    qout("screen again");
  } else if (!std::strcmp(what, "size")) {
    // The screen's size and the visible window's, again after every key, until Esc.
    for (;;) {
      Arg two(2), three(3);
      int rows = vl_itemGetNI(call("MAXROW")), cols = vl_itemGetNI(call("MAXCOL"));
      int wrows = vl_itemGetNI(call("MAXROW", {&two})), wcols = vl_itemGetNI(call("MAXCOL", {&two}));
      int lrows = vl_itemGetNI(call("MAXROW", {&three})), lcols = vl_itemGetNI(call("MAXCOL", {&three}));
      qout("size " + std::to_string(rows) + " " + std::to_string(cols) + " window " + std::to_string(wrows) + " " +
           std::to_string(wcols) + " largest " + std::to_string(lrows) + " " + std::to_string(lcols));
      int k = inkey(0);
      if (k == 0 || k == 27) break;
    }
  } else if (!std::strcmp(what, "internal")) {
    lines(3);
    vl_errInternal(9000, "probe stops here", nullptr, nullptr);
  } else if (!std::strcmp(what, "boxchars")) {
    Arg one(1), three(3), ten(10);
    call("DISPBOX", {&one, &one, &three, &ten});
    Arg r5(5), c0(0);
    call("SETPOS", {&r5, &c0});
  } else if (!std::strcmp(what, "sleep")) {
    // Waits for keys until the cancel key or a close event ends the program.
    qout("READY");
    while (vl_vmRequestQuery() == VL_REQ_NONE) inkey(1);
  } else if (!std::strcmp(what, "crash")) {
    qout("READY");
    std::abort();
  }
}

static VlSymbol s_symbols[] = {
    {"MAIN", VL_FS_PUBLIC | VL_FS_FIRST, {probeMain}, VL_SYM_DEFINED},
};

// Registered before every other module: this object comes first on the link line.
static struct Register {
  Register() { vl_vmProcessSymbols(s_symbols, 1, "tests/term/termprobe.cpp", VL_PCODE_VERSION); }
} s_register;

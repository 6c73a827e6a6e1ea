// Console output and devices: value texts, the console and device routes, the alternate and
// extra files, the printer as a file, and printer positioning.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "rtl/console.h"
#include "rtl/inkey.h"
#include "rtl/set.h"
#include "platform/filesys.h"
#include "vm/arrays.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"
#include "term_support.h"

namespace {

class Console : public TermTest {
 protected:
  std::string dir, savedCwd;
  void SetUp() override {
    TermTest::SetUp();
    static int s_count;
    dir = "/tmp/vlcon_" + std::to_string(getpid()) + "_" + std::to_string(++s_count);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    char cwd[4096];
    savedCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
    ASSERT_EQ(chdir(dir.c_str()), 0);
    vl_gtSetPos(0, 0);
  }
  void TearDown() override {
    for (VlSetFile f : {VL_SETFILE_ALTERNATE, VL_SETFILE_EXTRA, VL_SETFILE_PRINTER}) vl_conCloseSetFile(f);
    vl_set.console = true;
    vl_set.alternate = false;
    vl_set.printer = false;
    vl_set.margin = 0;
    setDevice("SCREEN");
    if (chdir(savedCwd.c_str()) != 0) ADD_FAILURE();
    std::filesystem::remove_all(dir);
    TermTest::TearDown();
  }
  static void setDevice(const char* name) {
    if (vl_set.device) vl_xfree(vl_set.device);
    vl_set.device = vl_strdup(name);
  }
  std::string file(const std::string& name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(Console, ValueTexts) {
  VlItem arr;
  arr.type = VL_IT_NIL;
  vl_arrayNew(&arr, 0);
  vlCall("QQOUT", {&Arg(1), &Arg("a")});
  EXPECT_EQ(con.row(0).substr(0, 13), "         1 a ");
  vl_gtSetPos(1, 0);
  vlCall("QQOUT", {&Arg::logical(true), &Arg()});
  EXPECT_EQ(con.row(1).substr(0, 8), ".T. NIL ");
  vl_gtSetPos(2, 0);
  vlCall("QQOUT", {&arr});
  vlCall("QQOUT", {&arr, &Arg("x")});
  EXPECT_EQ(con.row(2).substr(0, 3), " x ") << "no text for an array, the separator stays";
  vl_gtSetPos(3, 0);
  vlCall("DEVOUT", {&Arg::logical(true)});
  vlCall("DEVOUT", {&Arg(25)});
  EXPECT_EQ(con.row(3).substr(0, 12), "T        25 ") << "numbers in their default width";
  vl_itemClear(&arr);
}

TEST_F(Console, QoutStartsANewLine) {
  vlCall("QOUT", {});
  EXPECT_EQ(vlCallN("ROW", {}), 1);
  EXPECT_EQ(vlCallN("COL", {}), 0);
  vlCall("QOUT", {&Arg("ab"), &Arg("cd")});
  EXPECT_EQ(con.row(2).substr(0, 6), "ab cd ");
}

TEST_F(Console, DevoutPositionsAndItsColourDoesNotStay) {
  vlCall("DEVOUT", {&Arg("abc"), &Arg("W+/B"), &Arg(3), &Arg(4)});
  EXPECT_EQ(con.row(3).substr(4, 3), "abc");
  EXPECT_EQ(con.attrAt(3, 4), 0x1F);
  vlCall("DEVOUT", {&Arg("d")});
  EXPECT_EQ(con.attrAt(3, 7), 0x07);
  vlCall("DISPOUTAT", {&Arg(5), &Arg(6), &Arg::logical(false), &Arg("R/W")});
  EXPECT_EQ(con.row(5).substr(6, 1), "F");
  EXPECT_EQ(con.attrAt(5, 6), 0x74);
  EXPECT_EQ(vlCallC("SETCOLOR", {}).substr(0, 3), "W/N");
}

TEST_F(Console, AlternateFileOnlyWhenTheConsoleIsOff) {
  vl_set.altHandle = vl_conOpenSetFile("log", false, ".txt", VL_SETFILE_ALTERNATE);
  ASSERT_GE(vl_set.altHandle, 0);
  vl_set.console = false;
  vl_set.alternate = true;
  vlCall("QOUT", {&Arg("x")});
  EXPECT_EQ(con.row(0), std::string(80, ' ')) << "nothing on the screen";
  vl_set.alternate = false;
  vlCall("QQOUT", {&Arg("not in the file")});
  vl_conCloseSetFile(VL_SETFILE_ALTERNATE);
  EXPECT_EQ(vl_set.altHandle, -1);
  EXPECT_EQ(file("log.txt"), "\nx\x1A");

  // Reopened additively, the writing goes on over the end-of-file mark.
  vl_set.altHandle = vl_conOpenSetFile("log", true, ".txt", VL_SETFILE_ALTERNATE);
  vl_set.alternate = true;
  vlCall("QQOUT", {&Arg("y")});
  vl_conCloseSetFile(VL_SETFILE_ALTERNATE);
  EXPECT_EQ(file("log.txt"), "\nxy\x1A");

  // Not additive: the file starts again (the file layer finds it whatever the case).
  vl_set.altHandle = vl_conOpenSetFile("LOG.TXT", false, ".txt", VL_SETFILE_ALTERNATE);
  vl_conCloseSetFile(VL_SETFILE_ALTERNATE);
  EXPECT_EQ(file("log.txt"), "\x1A");
}

TEST_F(Console, ExtraFileIsWrittenWheneverItIsOpen) {
  vl_set.extraHandle = vl_conOpenSetFile("extra", false, ".prn", VL_SETFILE_EXTRA);
  ASSERT_GE(vl_set.extraHandle, 0);
  vl_set.extra = false;
  vlCall("QQOUT", {&Arg("both")});
  EXPECT_EQ(con.row(0).substr(0, 4), "both");
  vl_conCloseSetFile(VL_SETFILE_EXTRA);
  EXPECT_EQ(file("extra.prn"), "both\x1A");
}

TEST_F(Console, DefaultDirectoryAndExtensionFillTheName) {
  std::filesystem::create_directory(dir + "/sub");
  char* saved = vl_set.defaultDir;
  vl_set.defaultDir = vl_strdup((dir + "/sub/").c_str());
  int h = vl_conOpenSetFile("report", false, ".txt", VL_SETFILE_ALTERNATE);
  vl_xfree(vl_set.defaultDir);
  vl_set.defaultDir = saved;
  ASSERT_GE(h, 0);
  vl_set.altHandle = h;
  vl_conCloseSetFile(VL_SETFILE_ALTERNATE);
  EXPECT_TRUE(std::filesystem::exists(dir + "/sub/report.txt"));
}

TEST_F(Console, PrinterAsAFile) {
  vl_set.printerHandle = vl_conOpenSetFile("out", false, ".prn", VL_SETFILE_PRINTER);
  ASSERT_GE(vl_set.printerHandle, 0);
  setDevice("printer");
  vlCall("DEVPOS", {&Arg(2), &Arg(5)});
  EXPECT_EQ(vlCallN("PROW", {}), 2);
  EXPECT_EQ(vlCallN("PCOL", {}), 5);
  vlCall("DEVOUT", {&Arg("abc")});
  EXPECT_EQ(vlCallN("PCOL", {}), 8);
  vlCall("DEVPOS", {&Arg(1), &Arg(0)});
  EXPECT_EQ(vlCallN("PROW", {}), 1);
  EXPECT_EQ(vlCallN("PCOL", {}), 0);
  vlCall("DEVPOS", {&Arg(1), &Arg(2)});
  vlCall("DEVPOS", {&Arg(1), &Arg(1)});  // back within the line: a carriage return
  EXPECT_EQ(con.row(0), std::string(80, ' ')) << "nothing reached the screen";

  // QOUT with the printer on: the margin after every new line.
  vl_set.printer = true;
  vl_set.margin = 3;
  vlCall("QOUT", {&Arg("q")});
  EXPECT_EQ(vlCallN("PROW", {}), 2);
  EXPECT_EQ(vlCallN("PCOL", {}), 4);
  vl_conCloseSetFile(VL_SETFILE_PRINTER);
  EXPECT_EQ(file("out.prn"), "\r\n\r\n     abc\x0C\r\n  \r \n   q") << "no end-of-file mark for the printer";
  EXPECT_EQ(con.row(1).substr(0, 1), "q") << "QOUT still shows on the screen";
}

TEST_F(Console, PrnWithoutADefaultQueueIsTheFileLpt1) {
  std::string out;
  if (system("lpstat -d 2>/dev/null | grep -q 'system default destination:'") == 0)
    GTEST_SKIP() << "this machine has a default print queue";
  vl_set.printerHandle = vl_conOpenSetFile("prn", false, ".prn", VL_SETFILE_PRINTER);
  ASSERT_GE(vl_set.printerHandle, 0);
  EXPECT_STREQ(vl_conPrinterName(), "lpt1");
  vl_set.printer = true;
  vlCall("QQOUT", {&Arg("to lpt1")});
  vl_conCloseSetFile(VL_SETFILE_PRINTER);
  EXPECT_EQ(file("lpt1"), "to lpt1");
}

TEST_F(Console, SetReachesTheFilesAndTheImplicitPrinter) {
  // SET(19, "log") creates log.txt; SET(18, .T.) routes console output there.
  vlCall("SET", {&Arg(19), &Arg("log")});
  EXPECT_GE(vl_set.altHandle, 0);
  vlCall("SET", {&Arg(18), &Arg::logical(true)});
  vlCall("QQOUT", {&Arg("via SET")});
  vlCall("SET", {&Arg(19), &Arg()});
  EXPECT_EQ(vl_set.altHandle, -1);
  EXPECT_EQ(file("log.txt"), "via SET\x1A");

  // SET(24, "out") opens out.prn; the printer is no longer implicit.
  vlCall("SET", {&Arg(24), &Arg("out")});
  EXPECT_GE(vl_set.printerHandle, 0);
  vlCall("SET", {&Arg(20), &Arg("PRINTER")});
  vlCall("DEVOUT", {&Arg("printed")});
  vlCall("SET", {&Arg(24), &Arg("")});  // closes it; the printer is the implicit one again
  EXPECT_EQ(vl_set.printerHandle, -1);
  EXPECT_EQ(file("out.prn"), "printed");
}

TEST_F(Console, SetReachesTheColoursTheCursorAndTheKeyboardBuffer) {
  EXPECT_EQ(vlCallC("SET", {&Arg(15), &Arg("GR+/B")}), "W/N,N/W,N/N,N/N,N/W");
  EXPECT_EQ(vlCallC("SET", {&Arg(15)}), "GR+/B,N/W,N/N,N/N,N/W");
  EXPECT_EQ(vlCallC("SETCOLOR", {}), "GR+/B,N/W,N/N,N/N,N/W") << "one colour table";
  EXPECT_EQ(vlCallN("SET", {&Arg(16), &Arg(2)}), 1);
  EXPECT_EQ(vlCallN("SETCURSOR", {}), 2);
  EXPECT_EQ(vlCallN("SET", {&Arg(16)}), 2);
  vl_inkeyPut('k');
  vlCall("SET", {&Arg(14), &Arg(20)});
  EXPECT_EQ(vl_inkeyGet(), 0) << "a new type-ahead size empties the buffer";
  for (int k = 1; k <= 20; ++k) vl_inkeyPut(k);
  int held = 0;
  while (vl_inkeyGet()) ++held;
  EXPECT_EQ(held, 19);
  vlCall("SET", {&Arg(14), &Arg(50)});
}

// A native error handler: records the errors and answers retry (after making the missing
// directory) or default.
struct OpenErrors {
  VlErrorHandler handler{answer, nullptr, nullptr, nullptr, nullptr};
  VlErrorHandler* previous;
  static inline std::vector<std::string> seen;
  static inline std::string makeDir;  // made before answering retry, then cleared
  OpenErrors() {
    seen.clear();
    previous = vl_errorHandler(&handler);
  }
  ~OpenErrors() { vl_errorHandler(previous); }
  static long num(VlItem* e, const char* msg) { return vl_itemGetNL(vl_objSendMsg(e, msg, 0)); }
  static VlItem* answer(VlErrorHandler* h) {
    VlItem* e = h->error;
    std::string op = vl_itemGetCPtr(vl_objSendMsg(e, "OPERATION", 0));
    seen.push_back(std::to_string(num(e, "GENCODE")) + "/" + std::to_string(num(e, "SUBCODE")) + " " + op +
                   " os=" + std::to_string(num(e, "OSCODE")) +
                   (vl_itemGetL(vl_objSendMsg(e, "CANRETRY", 0)) ? " retry" : "") +
                   (vl_itemGetL(vl_objSendMsg(e, "CANDEFAULT", 0)) ? " default" : ""));
    VlItem* a = vl_itemNew(nullptr);
    if (!makeDir.empty()) {
      std::filesystem::create_directory(makeDir);
      makeDir.clear();
      vl_itemPutL(a, true);
    } else {
      vl_itemPutL(a, false);
    }
    return a;
  }
};

TEST_F(Console, AFileThatCannotBeCreatedRaisesTheCreateError) {
  OpenErrors errors;
  vl_fsSetError(0);
  struct Case {
    VlSetFile which;
    const char* ext;
    int subCode;
  } cases[] = {{VL_SETFILE_ALTERNATE, ".txt", 2013}, {VL_SETFILE_PRINTER, ".prn", 2014}, {VL_SETFILE_EXTRA, ".prn", 2015}};
  for (const Case& c : cases) {
    OpenErrors::seen.clear();
    EXPECT_EQ(vl_conOpenSetFile("nosuchdir/x", false, c.ext, c.which), -1);
    ASSERT_EQ(OpenErrors::seen.size(), 1u);
    EXPECT_EQ(OpenErrors::seen[0], "20/" + std::to_string(c.subCode) + " nosuchdir/x" + c.ext + " os=3 retry default");
  }
  EXPECT_EQ(vl_fsError(), 0u) << "the file error is left as it was";

  OpenErrors::seen.clear();
  EXPECT_EQ(vl_conOpenSetFile("nosuchdir/x", false, ".prn", VL_SETFILE_PRINTER, true), -1);
  EXPECT_TRUE(OpenErrors::seen.empty()) << "the implicit printer fails silently";

  // Retry: the handler makes the directory, and the second attempt succeeds.
  OpenErrors::seen.clear();
  OpenErrors::makeDir = dir + "/nosuchdir";
  int h = vl_conOpenSetFile("nosuchdir/x", false, ".txt", VL_SETFILE_ALTERNATE);
  EXPECT_GE(h, 0);
  EXPECT_EQ(OpenErrors::seen.size(), 1u);
  vl_set.altHandle = h;
}

}  // namespace

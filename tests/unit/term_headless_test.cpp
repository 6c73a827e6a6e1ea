// The headless console, through pipes: what a program shows goes to standard output as lines,
// in order; keys come from standard input, and its end ends endless key waits.
#include <gtest/gtest.h>

#include <string>

#include "process.h"

namespace {

// Key sequences of the xterm family come from the terminal database: name the terminal.
const std::vector<std::string> kEnv = {"TERM=xterm-256color", "LANG=C.UTF-8", "VELLUM=", "KESTREL="};

ProcessResult probe(const std::vector<std::string>& args, const std::string& input = "") {
  return runProcess(VL_TERMPROBE, args, kEnv, input);
}

TEST(TermHeadless, DemoScreenAndKeysAsText) {
  ProcessResult r = probe({"demo"}, std::string("\x1bOA\x1bOB") + "\x1bOP" + "\x1b[Z" + "\x1b" "a" + "q\x1b");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string top = "\u250c" + [] {
    std::string s;
    for (int i = 0; i < 18; ++i) s += "\u2500";
    return s;
  }() + "\u2510";
  const std::string expected =
      "\n"
      " " + top + "         \u2554" + [] {
        std::string s;
        for (int i = 0; i < 29; ++i) s += "\u2550";
        return s;
      }() + "\u2557\n"
      " \u2502                  \u2502         \u2551                             \u2551\n"
      " \u2502   single box     \u2502         \u2551    double box               \u2551\n"
      " \u2502                  \u2502         \u2551                             \u2551\n"
      " \u2514" + [] {
        std::string s;
        for (int i = 0; i < 18; ++i) s += "\u2500";
        return s;
      }() + "\u2518         \u255a" + [] {
        std::string s;
        for (int i = 0; i < 29; ++i) s += "\u2550";
        return s;
      }() + "\u255d\n"
      "\n"
      "                                        line 2\n"
      "                                        line 3\n"
      "                                        line 4\n"
      "\n\n\n\n"
      "READY\n"
      "key 5 Up\n"
      "key 24 Down\n"
      "key 28 F1\n"
      "key 271 Shift+Tab\n"
      "key 286 Alt+A\n"
      "key 113\n"
      "BYE\n";
  EXPECT_EQ(r.out, expected);
}

TEST(TermHeadless, RowsScrollingOffComeOutInOrder) {
  ProcessResult r = probe({"lines", "60"});
  EXPECT_EQ(r.exitCode, 0);
  std::string expected = "\n";  // QOUT starts with a new line: row 0 stays empty
  for (int i = 1; i <= 60; ++i) expected += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(r.out, expected);
}

TEST(TermHeadless, KeyDecoding) {
  struct Case {
    const char* what;
    std::string input;
    std::string keys;  // what the probe lists, one code per line
  } cases[] = {
      {"plain characters", "ab", "97 98"},
      {"CR LF is one Enter, LF alone too", "a\r\nb\nc", "97 13 98 13 99"},
      {"unknown sequences are dropped whole", "\x1b[99~a\x1b[1;9Zb\x1bOzc", "97 98 99"},
      {"ESC and a key is Alt", "\x1b" "a\x1b" "1\x1b\x1b", "286 376 257"},
      {"a lone ESC at the end of input is Esc", "x\x1b", "120 27"},
      {"UTF-8 characters of the code page", "\xc3\xa9\xe2\x94\x80", "130 196"},
      {"UTF-8 characters the code page lacks are dropped", "\xe2\x82\xac" "a", "97"},
      {"broken UTF-8 is dropped", "\xc3(\xa9z", "40 122"},
      {"control bytes", "\x01\x03\x7f\t", "1 3 8 9"},
      {"modified keys of the database", "\x1b[1;5D\x1b[1;3A\x1b[15;2~", "26 408 -14"},
  };
  for (const Case& c : cases) {
    ProcessResult r = probe({"keys"}, c.input);
    std::string listed;
    size_t pos = 0;
    while ((pos = r.out.find("key ", pos)) != std::string::npos) {
      size_t end = r.out.find('\n', pos);
      listed += (listed.empty() ? "" : " ") + r.out.substr(pos + 4, end - pos - 4);
      pos = end;
    }
    EXPECT_EQ(listed, c.keys) << c.what;
    EXPECT_NE(r.out.find("end of input"), std::string::npos) << c.what;
  }
}

TEST(TermHeadless, AnEndlessWaitReturnsAtTheEndOfInput) {
  ProcessResult r = probe({"keys"}, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\nend of input\n");
}

TEST(TermHeadless, ScreenBeforeAnInternalErrorReachesStandardOutput) {
  ProcessResult r = probe({"internal"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "\nline 1\nline 2\nline 3\n");
  EXPECT_NE(r.err.find("probe stops here"), std::string::npos) << r.err;
}

TEST(TermHeadless, StandardOutputIsWrittenAtOnce) {
  // OUTSTD bypasses the screen: it comes out when it is written, the screen rows at the end.
  ProcessResult r = probe({"mixed"});
  EXPECT_EQ(r.out, "to standard output\n\non the screen\nscreen again\n");
}

TEST(TermHeadless, DriverDescriptionWithInfo) {
  ProcessResult r = probe({"lines", "1", "//INFO"});
  EXPECT_EQ(r.err.rfind("Vellum Terminal: Win32 buffered console\n", 0), 0u) << r.err;
}

TEST(TermHeadless, FatalSignalStillFlushesTheScreen) {
  ProcessResult r = probe({"crash"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(r.out, "\nREADY\n");
}

}  // namespace

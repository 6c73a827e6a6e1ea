// The terminal back end in a real terminal: the probe runs in a tmux pane; keys are typed with
// send-keys and the screen is read with capture-pane (-e for the colours). Skipped with a
// message when tmux is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

namespace {

std::string findTmux() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= dirs.size()) {
    size_t end = dirs.find(':', pos);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(pos, end - pos) + "/tmux";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    pos = end + 1;
  }
  return "";
}

// One tmux server of our own (its own socket), one 80 x 25 pane without a status line; the
// pane stays after the program ends so that its last screen can be read.
class Tmux {
 public:
  Tmux() : m_tmux(findTmux()) {
    static int s_count;
    m_socket = "vlterm" + std::to_string(getpid()) + "_" + std::to_string(++s_count);
    m_conf = testing::TempDir() + m_socket + ".conf";
    std::ofstream(m_conf) << "set -g default-terminal tmux-256color\n"
                             "set -g status off\n"
                             "set -g remain-on-exit on\n"
                             "set -g escape-time 0\n"
                             "set -g history-limit 1000\n";
  }
  ~Tmux() {
    if (m_started) run({"kill-server"});
    std::remove(m_conf.c_str());
  }
  bool available() const { return !m_tmux.empty(); }

  // Runs a shell command line in the pane; afterwards the shell reports the exit code and
  // whether the terminal modes were put back.
  void start(const std::string& probeArgs) {
    std::string cmd = "LANG=C.UTF-8 VELLUM= KESTREL= " + std::string(VL_TERMPROBE) + " " + probeArgs +
                      "; echo EXIT=$?; stty -a | tr ' ' '\\n' | grep -x -e '-\\?icanon' -e '-\\?echo' | tr '\\n' ' '; echo; "
                      // The pane stays alive: a dead pane may scroll when tmux reports its end.
                      "sleep 120";
    run({"-f", m_conf, "new-session", "-d", "-x", "80", "-y", "25", cmd});
    m_started = true;
  }
  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"send-keys"};
    args.insert(args.end(), names.begin(), names.end());
    run(args);
  }
  std::string screen(bool colours = false) {
    std::vector<std::string> args = {"capture-pane", "-p"};
    if (colours) args.push_back("-e");
    return run(args);
  }
  std::string history() { return run({"capture-pane", "-p", "-S", "-"}); }
  void resize(int cols, int rows) {
    run({"resize-window", "-x", std::to_string(cols), "-y", std::to_string(rows)});
  }
  // Waits (at most 20 s) until the screen shows `text`; true when it did.
  bool waitFor(const std::string& text, int tries = 400) {
    for (int i = 0; i < tries; ++i) {
      if (screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    std::string s = screen();
    size_t pos = 0;
    while (pos < s.size()) {
      size_t end = s.find('\n', pos);
      if (end == std::string::npos) end = s.size();
      out.push_back(s.substr(pos, end - pos));
      pos = end + 1;
    }
    return out;
  }

 private:
  std::string run(std::vector<std::string> args) {
    args.insert(args.begin(), {"-L", m_socket});
    return runProcess(m_tmux, args).out;
  }

  std::string m_tmux, m_socket, m_conf;
  bool m_started = false;
};

#define NEED_TMUX(t) \
  if (!(t).available()) GTEST_SKIP() << "tmux is not installed: the real-terminal tests are skipped"

std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST(TermTmux, DemoDrawsBoxesColoursAndTheScrolledRegion) {
  Tmux t;
  NEED_TMUX(t);
  t.start("demo");
  ASSERT_TRUE(t.waitFor("READY")) << t.screen();
  std::vector<std::string> rows = t.rows();
  ASSERT_GE(rows.size(), 15u);
  std::string h18, d29;
  for (int i = 0; i < 18; ++i) h18 += "\u2500";
  for (int i = 0; i < 29; ++i) d29 += "\u2550";
  EXPECT_EQ(rows[0], "");
  EXPECT_EQ(trimRight(rows[1]), " \u250c" + h18 + "\u2510         \u2554" + d29 + "\u2557");
  EXPECT_EQ(trimRight(rows[3]),
            " \u2502   single box     \u2502         \u2551    double box               \u2551");
  EXPECT_EQ(trimRight(rows[5]), " \u2514" + h18 + "\u2518         \u255a" + d29 + "\u255d");
  EXPECT_EQ(trimRight(rows[7]), std::string(40, ' ') + "line 2");
  EXPECT_EQ(trimRight(rows[9]), std::string(40, ' ') + "line 4");
  EXPECT_EQ(trimRight(rows[10]), "");
  EXPECT_EQ(trimRight(rows[14]), "READY");

  // Colours: W+/B is bright white on blue, GR+/R bright yellow on red, N/G black on green.
  std::string coloured = t.screen(true);
  EXPECT_NE(coloured.find("\x1b[97m\x1b[44msingle box"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[93m\x1b[41mdouble box"), std::string::npos);
  EXPECT_NE(coloured.find("\x1b[30m\x1b[42mline 2"), std::string::npos);
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
}

TEST(TermTmux, SpecialKeysAndModifiers) {
  Tmux t;
  NEED_TMUX(t);
  t.start("demo");
  ASSERT_TRUE(t.waitFor("READY")) << t.screen();
  struct Batch {
    std::vector<std::string> keys;
    std::vector<std::string> listed;
  } batches[] = {
      {{"Up", "Down", "Left", "Right", "F1", "F2", "S-F1", "BTab", "M-a"},
       {"key 5 Up", "key 24 Down", "key 19 Left", "key 4 Right", "key 28 F1", "key -1 F2", "key -10 Shift+F1",
        "key 271 Shift+Tab", "key 286 Alt+A"}},
      {{"C-Left", "Home", "End", "PPage", "NPage", "Enter", "BSpace", "DC", "IC"},
       {"key 26 Ctrl+Left", "key 1 Home", "key 6 End", "key 18 PgUp", "key 3 PgDn", "key 13 Enter",
        "key 8 Backspace", "key 7 Del", "key 22 Ins"}},
      {{"C-a", "F12", "S-Up", "C-Up", "M-Up", "F11", "C-F1", "M-F1", "M-1"},
       {"key 1 Home", "key -41", "key 425", "key 397", "key 408", "key -40", "key -20", "key -30", "key 376"}},
      {{"-l", "\u00e9\u00fc\u2591"}, {"key 130", "key 129", "key 176"}},
  };
  for (const Batch& b : batches) {
    t.keys(b.keys);
    ASSERT_TRUE(t.waitFor(b.listed.back())) << t.screen();
    std::vector<std::string> rows = t.rows();
    for (size_t i = 0; i < b.listed.size(); ++i) EXPECT_EQ(trimRight(rows[15 + i]), b.listed[i]) << i;
  }
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
}

TEST(TermTmux, TerminalIsRestoredAfterNormalExit) {
  Tmux t;
  NEED_TMUX(t);
  t.start("demo");
  ASSERT_TRUE(t.waitFor("READY"));
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
  ASSERT_TRUE(t.waitFor("icanon")) << t.screen();
  std::string s = t.screen();
  EXPECT_EQ(s.find("-icanon"), std::string::npos) << s;
  EXPECT_EQ(s.find("-echo"), std::string::npos) << s;
  EXPECT_NE(s.find("BYE"), std::string::npos);
}

TEST(TermTmux, CancelKeyEndsTheProgramAndRestoresTheTerminal) {
  Tmux t;
  NEED_TMUX(t);
  t.start("sleep");
  ASSERT_TRUE(t.waitFor("READY"));
  t.keys({"M-c"});
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
  ASSERT_TRUE(t.waitFor("icanon"));
  std::string s = t.screen();
  EXPECT_NE(s.find("Cancelled at: INKEY (0)"), std::string::npos) << s;
  EXPECT_EQ(s.find("-icanon"), std::string::npos) << s;
}

TEST(TermTmux, TerminalIsRestoredAfterAnInternalErrorAndACrash) {
  for (const char* what : {"internal", "crash"}) {
    Tmux t;
    NEED_TMUX(t);
    t.start(what);
    ASSERT_TRUE(t.waitFor("EXIT=")) << t.screen();
    ASSERT_TRUE(t.waitFor("icanon")) << t.screen();
    std::string s = t.screen();
    EXPECT_EQ(s.find("EXIT=0"), std::string::npos) << what;
    EXPECT_EQ(s.find("-icanon"), std::string::npos) << what << "\n" << s;
    EXPECT_EQ(s.find("-echo"), std::string::npos) << what;
  }
}

TEST(TermTmux, StandardOutputAppearsAtTheCursorBetweenScreenOutput) {
  Tmux t;
  NEED_TMUX(t);
  t.start("mixed");
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
  std::vector<std::string> rows = t.rows();
  ASSERT_GE(rows.size(), 5u);
  // The text goes where the cursor is, and the cursor is then where the text left it.
  EXPECT_EQ(trimRight(rows[1]), "on the screento standard output");
  EXPECT_EQ(trimRight(rows[2]), "");
  EXPECT_EQ(trimRight(rows[3]), "screen again");
}

TEST(TermTmux, AResizedTerminalChangesTheVisibleWindowNotTheScreen) {
  Tmux t;
  NEED_TMUX(t);
  t.start("size");
  ASSERT_TRUE(t.waitFor("size 24 79 window 24 79 largest 24 79")) << t.screen();
  // tmux may deliver a key before it has resized the pane: keys are sent until the program
  // reports the new size.
  auto afterResize = [&t](int cols, int rows, const std::string& want) {
    t.resize(cols, rows);
    for (int i = 0; i < 20; ++i) {
      t.keys({"x"});
      if (t.waitFor(want, 20)) return true;
    }
    return false;
  };
  // A larger terminal: the window cannot be larger than the screen buffer.
  ASSERT_TRUE(afterResize(100, 30, "size 24 79 window 24 79 largest 29 99")) << t.screen();
  ASSERT_TRUE(afterResize(60, 20, "size 24 79 window 19 59 largest 19 59")) << t.screen();
  t.keys({"Escape"});
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
}

TEST(TermTmux, ScrolledLinesGoToTheTerminalsHistory) {
  Tmux t;
  NEED_TMUX(t);
  t.start("lines 60");
  ASSERT_TRUE(t.waitFor("EXIT=0")) << t.screen();
  std::string h = t.history();
  size_t last = 0;
  for (int i = 1; i <= 60; ++i) {
    size_t at = h.find("line " + std::to_string(i) + "\n", last);
    ASSERT_NE(at, std::string::npos) << "line " << i << " missing or out of order:\n" << h;
    last = at;
  }
}

}  // namespace

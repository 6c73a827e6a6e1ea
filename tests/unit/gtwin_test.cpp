// The console driver on a fake console: change tracking, batches, cursor styles, scrolling,
// clipping, and the translation of input records into key codes.
#include <signal.h>

#include <cstdlib>
#include <cstring>

#include "rtl/gtwin/gtwin.h"
#include "term_support.h"

namespace {

using GtWin = TermTest;

TEST_F(GtWin, WriteRunningOverLineEndsMarksWholeRows) {
  std::string text(100, 'x');
  vl_gt_Puts(0, 70, 0x1E, text.data(), text.size());
  ASSERT_EQ(con.writes.size(), 1u);
  const VlConRect& r = con.writes[0];
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 2);
  EXPECT_EQ(r.right, 79);
  EXPECT_EQ(con.row(0), std::string(70, ' ') + std::string(10, 'x'));
  EXPECT_EQ(con.row(1), std::string(80, 'x'));
  EXPECT_EQ(con.row(2), std::string(10, 'x') + std::string(70, ' '));
  EXPECT_EQ(con.attrAt(1, 5), 0x1E);
  EXPECT_EQ(con.attrAt(2, 10), 0x07);
}

TEST_F(GtWin, WriteWithinOneRowMarksOnlyItsCells) {
  vl_gt_Puts(3, 10, 0x07, "hello", 5);
  ASSERT_EQ(con.writes.size(), 1u);
  EXPECT_EQ(con.writes[0].top, 3);
  EXPECT_EQ(con.writes[0].bottom, 3);
  EXPECT_EQ(con.writes[0].left, 10);
  EXPECT_EQ(con.writes[0].right, 14);
}

TEST_F(GtWin, ABatchWritesOnceWhenItCloses) {
  vl_gt_DispBegin();
  for (int i = 0; i < 1000; ++i) vl_gt_Puts(static_cast<int16_t>(i % 25), static_cast<int16_t>(i % 80), 0x07, "a", 1);
  EXPECT_TRUE(con.writes.empty());
  vl_gt_DispBegin();
  vl_gt_DispEnd();
  EXPECT_TRUE(con.writes.empty()) << "an inner batch closing leaves the outer one open";
  vl_gt_DispEnd();
  EXPECT_EQ(con.writes.size(), 1u);
  EXPECT_EQ(vl_gt_DispCount(), 0);
  vl_gt_DispEnd();
  EXPECT_EQ(vl_gt_DispCount(), 0) << "the depth never goes below 0";
}

TEST_F(GtWin, CursorStyleZeroHidesAtOnceOthersWaitForTheBatch) {
  vl_gt_DispBegin();
  vl_gt_SetCursorStyle(0);
  ASSERT_EQ(con.cursorInfos.size(), 1u);
  EXPECT_FALSE(con.cursorInfos.back().first);
  vl_gt_SetCursorStyle(2);
  EXPECT_EQ(con.cursorInfos.size(), 1u);
  vl_gt_DispEnd();
  ASSERT_EQ(con.cursorInfos.size(), 2u);
  EXPECT_TRUE(con.cursorInfos.back().first);
  EXPECT_EQ(con.cursorInfos.back().second, 50);
  vl_gt_SetCursorStyle(7);
  EXPECT_EQ(vl_gt_GetCursorStyle(), 2) << "styles above 4 are ignored";
}

TEST_F(GtWin, CursorMovesOnlyWhenVisibleAndOutsideBatches) {
  vl_gt_SetPos(5, 6);
  EXPECT_EQ(con.curRow, 5);
  EXPECT_EQ(con.curCol, 6);
  vl_gt_DispBegin();
  vl_gt_SetPos(7, 8);
  EXPECT_EQ(con.curRow, 5);
  vl_gt_DispEnd();
  EXPECT_EQ(con.curRow, 7);
  vl_gt_SetCursorStyle(0);
  int moves = con.cursorMoves;
  vl_gt_SetPos(1, 1);
  EXPECT_EQ(con.cursorMoves, moves);
}

TEST_F(GtWin, ScrollMovesTheRegionAndBlanksWithTheAttribute) {
  for (int r = 0; r < 5; ++r) {
    char line[24];
    std::snprintf(line, sizeof line, "%d123456789", r);
    vl_gt_Puts(static_cast<int16_t>(r), 0, 0x07, line, 10);
  }
  vl_gt_Scroll(1, 2, 3, 6, 0x1F, 1, 0);  // up one row inside (1,2)-(3,6)
  EXPECT_EQ(con.row(1).substr(0, 10), "1123456789");
  EXPECT_EQ(con.row(1).substr(2, 5), "23456");
  EXPECT_EQ(con.row(2).substr(0, 10), "2123456789");
  EXPECT_EQ(con.row(3).substr(0, 10), "31     789");
  EXPECT_EQ(con.attrAt(3, 2), 0x1F);
  EXPECT_EQ(con.row(4).substr(0, 10), "4123456789");

  vl_gt_Scroll(0, 0, 0, 9, 0x07, 0, 3);  // row 0 left by three columns
  EXPECT_EQ(con.row(0).substr(0, 10), "3456789   ");
  vl_gt_Scroll(0, 0, 0, 9, 0x07, 0, -2);  // and right by two
  EXPECT_EQ(con.row(0).substr(0, 10), "  3456789 ");
  vl_gt_Scroll(4, 0, 4, 9, 0x07, 0, 0);  // 0 and 0 clear
  EXPECT_EQ(con.row(4).substr(0, 10), "          ");
  EXPECT_TRUE(con.scrolledRows.empty()) << "only whole-screen scrolls hand rows to the console";
}

TEST_F(GtWin, WholeScreenScrollUpHandsTheLeavingRowsToTheConsole) {
  vl_gt_Puts(0, 0, 0x07, "first", 5);
  vl_gt_Puts(1, 0, 0x07, "second", 6);
  vl_gt_Puts(24, 0, 0x07, "last", 4);
  vl_gt_Scroll(0, 0, 24, 79, 0x07, 2, 0);
  ASSERT_EQ(con.scrolledRows.size(), 2u);
  EXPECT_EQ(con.scrolledRows[0].substr(0, 6), "first ");
  EXPECT_EQ(con.scrolledRows[1].substr(0, 7), "second ");
  EXPECT_EQ(con.row(22).substr(0, 4), "last");
  vl_gt_Scroll(0, 0, 24, 79, 0x07, -1, 0);
  EXPECT_EQ(con.scrolledRows.size(), 2u) << "scrolling down loses rows at the bottom, not the top";
}

TEST_F(GtWin, OutOfScreenCoordinatesAreClipped) {
  vl_gt_Puts(-1, 0, 0x07, "abc", 3);
  vl_gt_Puts(0, 80, 0x07, "abc", 3);
  vl_gt_Puts(25, 0, 0x07, "abc", 3);
  vl_gt_Replicate(30, -5, 0x07, 'x', 10);
  vl_gt_HorizLine(-3, -10, 200, '-', 0x07);
  vl_gt_VertLine(90, 0, 24, '|', 0x07);
  EXPECT_TRUE(con.writes.empty());
  std::string tail(500, 'z');
  vl_gt_Puts(24, 75, 0x07, tail.data(), tail.size());  // only five cells are left
  EXPECT_EQ(con.row(24).substr(75), "zzzzz");
  vl_gt_Scroll(-5, -5, 100, 100, 0x07, 0, 0);  // the whole screen, clipped
  EXPECT_EQ(con.row(24), std::string(80, ' '));
  vl_gt_HorizLine(2, 100, -100, '-', 0x07);  // ends in either order, clipped
  EXPECT_EQ(con.row(2), std::string(80, '-'));
}

TEST_F(GtWin, SaveAndRestoreRoundTripAndAShortBufferStopsAtItsEnd) {
  vl_gt_Puts(0, 0, 0x1E, "abcd", 4);
  char buf[8];
  vl_gt_GetText(0, 0, 0, 3, buf);
  EXPECT_EQ(std::string(buf, 8), std::string("a\x1E" "b\x1E" "c\x1E" "d\x1E", 8));
  // Three bytes: one whole cell, the rest is left alone and nothing past the bytes is read.
  auto* shortBuf = new char[3]{'X', 0x70, 'Y'};
  vl_gt_PutText(0, 0, 0, 3, shortBuf, 3);
  delete[] shortBuf;
  EXPECT_EQ(con.row(0).substr(0, 4), "Xbcd");
  EXPECT_EQ(con.attrAt(0, 0), 0x70);
  vl_gt_SetAttribute(0, 1, 0, 2, 0x4F);
  EXPECT_EQ(con.attrAt(0, 1), 0x4F);
  EXPECT_EQ(con.attrAt(0, 3), 0x1E);
}

// ---- keys ----

struct KeyCase {
  const char* what;
  uint16_t vk;
  uint8_t ch;
  uint32_t state;
  int code;
};

constexpr uint32_t SH = VL_CON_SHIFT, CT = VL_CON_LEFT_CTRL, AL = VL_CON_LEFT_ALT, RA = VL_CON_RIGHT_ALT,
                   EN = VL_CON_ENHANCED;

const KeyCase kKeys[] = {
    {"Shift+Tab", 9, 9, SH, 271},
    {"Ctrl+Shift+Tab", 9, 9, SH | CT, 423},
    {"Tab", 9, 9, 0, 9},
    {"Ctrl+Tab", 9, 0, CT, 404},
    {"Alt+A", 'A', 'a', AL, 286},
    {"right Alt+A", 'A', 'a', RA, 286},
    {"Alt+Z", 'Z', 'z', AL, 300},
    {"Alt+C", 'C', 'c', AL, 302},
    {"Alt+D", 'D', 'd', AL, 288},
    {"Ctrl+Left", 37, 0, CT | EN, 26},
    {"Left", 37, 0, EN, 19},
    {"Alt+Left", 37, 0, AL | EN, 411},
    {"Shift+Up", 38, 0, SH | EN, 425},
    {"Ctrl+Shift+Left keeps the plain key", 37, 0, SH | CT | EN, 19},
    {"F1", 112, 0, 0, 28},
    {"Shift+F1", 112, 0, SH, -10},
    {"Ctrl+F1", 112, 0, CT, -20},
    {"Alt+F1", 112, 0, AL, -30},
    {"F2", 113, 0, 0, -1},
    {"F10", 121, 0, 0, -9},
    {"F11", 122, 0, 0, -40},
    {"Shift+F12", 123, 0, SH, -43},
    {"Home", 36, 0, 0, 1},
    {"Ctrl+End", 35, 0, CT, 23},
    {"PgDn", 34, 0, 0, 3},
    {"Del", 46, 0, 0, 7},
    {"keypad point (Del key with '.')", 46, '.', 0, '.'},
    {"Ins", 45, 0, 0, 22},
    {"Backspace", 8, 8, 0, 8},
    {"Ctrl+Backspace", 8, 127, CT, 127},
    {"Shift+Backspace keeps the plain key", 8, 8, SH, 8},
    {"Enter", 13, 13, 0, 13},
    {"Ctrl+Enter", 13, 10, CT, 10},
    {"Alt+Enter", 13, 13, AL, 284},
    {"Esc", 27, 27, 0, 27},
    {"Alt+Esc", 27, 27, AL, 257},
    {"keypad /", 111, '/', 0, 47},
    {"Alt+keypad /", 111, '/', AL, 420},
    {"enhanced 191 is keypad /", 191, '/', EN, 47},
    {"enhanced 191 with '?'", 191, '?', EN | SH, 47},
    {"plain '/' (191, not enhanced)", 191, '/', 0, '/'},
    {"Ctrl+A", 'A', 1, CT, 1},
    {"Ctrl+C", 'C', 3, CT, 3},
    {"Ctrl+Shift+A keeps the control table's plain column", 'A', 1, CT | SH, 'a'},
    {"Ctrl+Alt+A", 'A', 1, CT | AL, 286},
    {"Ctrl+\\", 220, 28, CT, 28},
    {"a", 'A', 'a', 0, 'a'},
    {"Shift+A", 'A', 'A', SH, 'A'},
    {"Alt+1", '1', '1', AL, 376},
    {"Alt+0", '0', '0', AL, 385},
    {"Ctrl+2", '2', '2', CT, 259},
    {"Alt+-", 189, '-', AL, 386},
    {"Ctrl+-", 189, '-', CT, 398},
    {"code page character", 0, 130, 0, 130},
    {"control character without Ctrl", 0, 5, 0, 5},
};

TEST_F(GtWin, KeyRecordsTranslateThroughTheTables) {
  for (const KeyCase& k : kKeys) {
    con.key(k.vk, k.ch, k.state);
    EXPECT_EQ(vl_gt_ReadKey(128), k.code) << k.what;
  }
  EXPECT_EQ(vl_gt_ReadKey(128), 0) << "nothing left";
}

TEST_F(GtWin, KeyUpRecordsGiveNothing) {
  con.key('A', 'a', 0, 1, 0, false);
  EXPECT_EQ(vl_gt_ReadKey(128), 0);
}

TEST_F(GtWin, ARepeatCountYieldsTheKeyThatManyTimes) {
  con.key('X', 'x', 0, 3);
  con.key('Y', 'y', 0, 1);
  EXPECT_EQ(vl_gt_ReadKey(128), 'x');
  EXPECT_EQ(vl_gt_ReadKey(128), 'x');
  EXPECT_EQ(vl_gt_ReadKey(128), 'x');
  EXPECT_EQ(vl_gt_ReadKey(128), 'y');
  EXPECT_EQ(vl_gt_ReadKey(128), 0);
}

TEST_F(GtWin, BreakSignalMakesTheNextReadKey256) {
  con.key('A', 'a');
  raise(SIGINT);
  EXPECT_EQ(vl_gt_ReadKey(128), 256);
  EXPECT_EQ(vl_gt_ReadKey(128), 'a');
}

TEST_F(GtWin, MouseRecordsFollowTheEventMask) {
  con.mouse(3, 4, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vl_gt_ReadKey(2), 1002);
  EXPECT_EQ(vl_mouse_Row(), 3);
  EXPECT_EQ(vl_mouse_Col(), 4);
  con.mouse(3, 4, 0, 0);
  EXPECT_EQ(vl_gt_ReadKey(4), 1003);
  con.mouse(3, 4, VL_CON_LEFT_BUTTON, VL_CON_DOUBLE_CLICK);
  EXPECT_EQ(vl_gt_ReadKey(2), 1006);
  con.mouse(5, 6, VL_CON_RIGHT_BUTTON, 0);
  EXPECT_EQ(vl_gt_ReadKey(8), 1004);
  con.mouse(5, 6, 0, 0);
  EXPECT_EQ(vl_gt_ReadKey(16), 1005);
  con.mouse(5, 6, VL_CON_RIGHT_BUTTON, VL_CON_DOUBLE_CLICK);
  EXPECT_EQ(vl_gt_ReadKey(8), 1007);
  con.mouse(1, 1, 0, VL_CON_MOUSE_MOVED);
  EXPECT_EQ(vl_gt_ReadKey(1), 1001);
  con.mouse(1, 1, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vl_gt_ReadKey(128), 0) << "the keyboard mask reports no clicks";
  con.mouse(1, 1, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vl_gt_ReadKey(8), 0) << "a right-button mask reports no left click";
}

TEST_F(GtWin, NoMouseOptionTurnsMouseInputOff) {
  EXPECT_EQ(con.mode & VL_CON_MOUSE_INPUT, VL_CON_MOUSE_INPUT) << "mouse input is on by default";
  vl_gtExit();
  setenv("VELLUM", "//NOMOUSE", 1);
  vl_sysconUseNext(&con);
  vl_gtInit(0, 1, 2);
  unsetenv("VELLUM");
  EXPECT_EQ(con.mode & VL_CON_MOUSE_INPUT, 0u);
  con.mouse(1, 1, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vl_gt_ReadKey(2), 0);
  vl_gtSetMouse(true);  // the setting outlives this console: put it back
}

TEST_F(GtWin, AltAndKeypadDigitsComposeACharacter) {
  con.key(18, 0, AL, 1, 56);             // Alt down
  con.key(102, 0, AL, 1, 77);            // keypad 6
  con.key(102, 0, AL, 1, 77, false);
  con.key(101, 0, AL, 1, 76);            // keypad 5
  con.key(101, 0, AL, 1, 76, false);
  con.key(18, 'A', 0, 1, 56, false);     // Alt up, with the composed character
  int seen = 0, last = 0;
  for (int i = 0; i < 6; ++i)
    if (int k = vl_gt_ReadKey(128)) {
      ++seen;
      last = k;
    }
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(last, 'A');
  // An enhanced key (the arrow cluster, not the keypad) ends the composition.
  con.key(18, 0, AL, 1, 56);
  con.key(38, 0, AL | EN, 1, 72);
  vl_gt_ReadKey(128);
  EXPECT_EQ(vl_gt_ReadKey(128), 408);
}

}  // namespace

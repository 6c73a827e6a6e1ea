// The terminal layer and its language functions, on a fake console: colour strings, the
// logical cursor, console and plain writes, boxes, scrolling, screen save and restore.
#include <cstring>

#include "rtl/gtwin/gtwin.h"
#include "rtl/set.h"
#include "term_support.h"

namespace {

using Gt = TermTest;

TEST_F(Gt, ColourStringsParseAndRender) {
  struct Case {
    const char* set;
    const char* rendered;
  } cases[] = {
      {"W+/B", "W+/B,N/W,N/N,N/N,N/W"},
      {"", "W/N,N/W,N/N,N/N,N/W"},
      {"GR+/B,W/R", "GR+/B,W/R,N/N,N/N,W/R"},
      {",,,,R/G", "GR+/B,W/R,N/N,N/N,R/G"},
      {"rb/n", "BR/N,W/R,N/N,N/N,R/G"},
      {"14/1", "GR+/B,W/R,N/N,N/N,R/G"},
      {"U/N", "U/N,W/R,N/N,N/N,R/G"},
      {"W/N*,N/W,N/N,N/N,N/W,BG/R,G+/N", "W/N*,N/W,N/N,N/N,N/W,BG/R,G+/N"},
      {"i", "N/W,N/W,N/N,N/N,N/W,BG/R,G+/N"},
      {"x/b", "N/B,N/W,N/N,N/N,N/W,BG/R,G+/N"},
      {"w/ ,, b", "W/N,N/W,B/N,N/N,N/W,BG/R,G+/N"},
  };
  std::string prev = vlCallC("SETCOLOR", {&Arg("")});
  for (const Case& c : cases) {
    vlCallC("SETCOLOR", {&Arg(c.set)});
    EXPECT_EQ(vlCallC("SETCOLOR", {}), c.rendered) << "after " << c.set;
    EXPECT_STREQ(vl_set.color, c.rendered) << "SETCOLOR stores the rendering";
  }
  vlCallC("SETCOLOR", {&Arg("")});
  EXPECT_EQ(vlCallC("SETCOLOR", {}), "W/N,N/W,N/N,N/N,N/W,BG/R,G+/N") << "entries past the fifth stay";
}

TEST_F(Gt, UnderlineAloneShowsAsBlue) {
  vlCallC("SETCOLOR", {&Arg("U/N")});
  EXPECT_EQ(vl_gtColor(0), 0x801u);
  vlCallC("SETCOLOR", {&Arg("N/U")});
  EXPECT_EQ(vl_gtColor(0), 0x8000u) << "underline as background is not the foreground's";
  EXPECT_EQ(vlCallC("SETCOLOR", {}).substr(0, 3), "N/U");
  vlCallC("SETCOLOR", {&Arg("R/U")});
  EXPECT_EQ(vl_gtColor(0), 0x8004u) << "a colour present: no blue added";
}

TEST_F(Gt, WritesUseTheStandardColour) {
  vlCallC("SETCOLOR", {&Arg("GR+/B")});
  vl_gtWriteAt(2, 3, "ab", 2);
  EXPECT_EQ(con.row(2).substr(3, 2), "ab");
  EXPECT_EQ(con.attrAt(2, 3), 0x1E);
}

TEST_F(Gt, SetPosRules) {
  struct Case {
    int row, col;
    int wantRow, wantCol;
  } cases[] = {
      {5, -1, 4, 79}, {0, -1, 0, 79}, {-3, 10, 0, 10}, {30, 0, 25, 0}, {3, 200, 3, 80}, {2, -161, 0, 79},
  };
  for (const Case& c : cases) {
    vlCall("SETPOS", {&Arg(c.row), &Arg(c.col)});
    EXPECT_EQ(vlCallN("ROW", {}), c.wantRow) << c.row << "," << c.col;
    EXPECT_EQ(vlCallN("COL", {}), c.wantCol) << c.row << "," << c.col;
  }
}

TEST_F(Gt, PositionOffTheScreenHidesTheCursorAndKeepsTheStyle) {
  vlCall("SETCURSOR", {&Arg(2)});
  vlCall("SETPOS", {&Arg(24 + 5), &Arg(0)});
  EXPECT_EQ(vlCallN("ROW", {}), 25);
  EXPECT_EQ(vl_gt_GetCursorStyle(), 0);
  EXPECT_EQ(vlCallN("SETCURSOR", {}), 2) << "the user's style is kept";
  vlCall("SETCURSOR", {&Arg(3)});
  EXPECT_EQ(vl_gt_GetCursorStyle(), 0) << "applied only when the cursor comes back";
  vlCall("SETPOS", {&Arg(1), &Arg(1)});
  EXPECT_EQ(vl_gt_GetCursorStyle(), 3);
  EXPECT_EQ(vlCallN("SETCURSOR", {&Arg(5)}), 3);
  EXPECT_EQ(vlCallN("SETCURSOR", {}), 3) << "styles above 4 change nothing";
  vlCall("SETPOSBS", {});
  EXPECT_EQ(vlCallN("COL", {}), 2);
}

TEST_F(Gt, ConsoleWritesHandleControlCharacters) {
  vl_gtSetPos(0, 0);
  const char text[] = "ab\x07" "c\bd\r\nline2\rL\nx";
  vl_gtWriteCon(text, sizeof text - 1);
  EXPECT_EQ(con.row(0).substr(0, 4), "abd ") << "the bell writes nothing; backspace only moves";
  EXPECT_EQ(con.row(1).substr(0, 6), "Line2 ");
  EXPECT_EQ(con.row(2).substr(0, 2), "x ");
  EXPECT_EQ(vlCallN("ROW", {}), 2);
  EXPECT_EQ(vlCallN("COL", {}), 1);
  vl_gtSetPos(3, 0);
  vl_gtWriteCon("\b", 1);
  EXPECT_EQ(vlCallN("ROW", {}), 2);
  EXPECT_EQ(vlCallN("COL", {}), 79) << "backspace at column 0 goes to the end of the row above";
}

TEST_F(Gt, ConsoleWritesWrapAndScrollAtTheBottom) {
  vl_gtWriteAt(0, 0, "top line", 8);
  vl_gtSetPos(24, 75);
  vl_gtWriteCon("12345", 5);  // ends exactly in the last column of the last row
  EXPECT_EQ(vlCallN("ROW", {}), 24);
  EXPECT_EQ(vlCallN("COL", {}), 0);
  EXPECT_EQ(con.row(23).substr(75), "12345");
  EXPECT_EQ(con.row(0).substr(0, 8), std::string(8, ' ')) << "the screen moved up one line";
  ASSERT_EQ(con.scrolledRows.size(), 1u);
  EXPECT_EQ(con.scrolledRows[0].substr(0, 8), "top line");

  vl_gtSetPos(30, 3);  // below the screen: taken as the last row
  vl_gtWriteCon("z", 1);
  EXPECT_EQ(con.row(24).substr(3, 1), "z");

  vl_gtSetPos(5, 90);  // beyond the right edge: not shown, the position moves on
  vl_gtWriteCon("q", 1);
  EXPECT_EQ(vlCallN("ROW", {}), 6);
  EXPECT_EQ(vlCallN("COL", {}), 0);
  EXPECT_EQ(con.row(5).find('q'), std::string::npos);
}

TEST_F(Gt, PlainWritesCutAtTheEdgeAndMoveByTheFullLength) {
  vl_gtSetPos(1, 75);
  vl_gtWrite("abcdefgh", 8);
  EXPECT_EQ(con.row(1).substr(75), "abcde");
  EXPECT_EQ(con.row(2).substr(0, 3), "   ");
  EXPECT_EQ(vlCallN("COL", {}), 83);
  vl_gtWrite("zz", 2);  // starts off the screen: nothing, position unchanged
  EXPECT_EQ(vlCallN("COL", {}), 83);
  vl_gtWriteAt(-1, 0, "zz", 2);
  EXPECT_EQ(vlCallN("COL", {}), 83);
}

TEST_F(Gt, RepCharStopsAtTheEndOfTheScreen) {
  vl_gtRepChar(24, 70, '#', 1000);
  EXPECT_EQ(con.row(24).substr(70), std::string(10, '#'));
  vl_gtRepChar(-5, -5, '*', 3);
  EXPECT_EQ(con.row(0).substr(0, 4), "*** ");
}

TEST_F(Gt, Boxes) {
  vlCall("DISPBOX", {&Arg(1), &Arg(1), &Arg(1), &Arg(10)});
  EXPECT_EQ(con.row(1).substr(0, 12), " " + std::string(10, '\xC4') + " ");

  vl_gtRepChar(0, 0, 'x', 80 * 10);
  vlCall("DISPBOX", {&Arg(0), &Arg(0), &Arg(5), &Arg(5), &Arg("")});
  for (int r = 0; r <= 5; ++r) EXPECT_EQ(con.row(r).substr(0, 7), "      x") << r;

  vlCall("DISPBOX", {&Arg(2), &Arg(10), &Arg(4), &Arg(14), &Arg(2), &Arg("W+/R")});
  EXPECT_EQ(con.row(2).substr(10, 5), "\xC9\xCD\xCD\xCD\xBB");
  EXPECT_EQ(con.row(3).substr(10, 5), "\xBAxxx\xBA");
  EXPECT_EQ(con.row(4).substr(10, 5), "\xC8\xCD\xCD\xCD\xBC");
  EXPECT_EQ(con.attrAt(2, 10), 0x4F);
  EXPECT_EQ(vlCallC("SETCOLOR", {}).substr(0, 3), "W/N") << "the colour argument does not stay";
  EXPECT_EQ(vlCallN("ROW", {}), 3);
  EXPECT_EQ(vlCallN("COL", {}), 11);

  vlCall("DISPBOX", {&Arg(6), &Arg(0), &Arg(8), &Arg(2), &Arg("12345678.")});
  EXPECT_EQ(con.row(6).substr(0, 3), "123");
  EXPECT_EQ(con.row(7).substr(0, 3), "8.4");
  EXPECT_EQ(con.row(8).substr(0, 3), "765");

  // A box partly off the screen draws only its visible pieces.
  vlCall("DISPBOX", {&Arg(22), &Arg(75), &Arg(30), &Arg(90)});
  EXPECT_EQ(con.row(22).substr(75), "\xDA\xC4\xC4\xC4\xC4");
  EXPECT_EQ(con.row(24).substr(75, 1), "\xB3");
}

TEST_F(Gt, ScrollArguments) {
  vl_gtWriteAt(0, 0, "row zero", 8);
  vl_gtWriteAt(1, 0, "row one", 7);
  vlCall("SCROLL", {&Arg(10), &Arg(0), &Arg(5), &Arg(79)});
  EXPECT_EQ(con.row(0).substr(0, 8), "row zero") << "bottom above top: nothing";
  vlCall("SCROLL", {&Arg(0), &Arg(0), &Arg(200), &Arg(200), &Arg(1)});
  EXPECT_EQ(con.row(0).substr(0, 7), "row one");
  vlCall("SCROLL", {});
  EXPECT_EQ(con.row(0), std::string(80, ' '));
}

TEST_F(Gt, SaveScreenNormalisesCornersAndRestoreReadsOnlyTheString) {
  vl_gtWriteAt(0, 0, "abcdef", 6);
  std::string saved = vlCallC("SAVESCREEN", {&Arg(5), &Arg(5), &Arg(0), &Arg(0)});
  EXPECT_EQ(saved.size(), 72u);
  EXPECT_EQ(saved.substr(0, 4), "a\x07" "b\x07");
  EXPECT_EQ(vlCallC("SAVESCREEN", {}).size(), 25u * 80 * 2);

  vlCall("SCROLL", {});
  vlCall("RESTSCREEN", {&Arg(0), &Arg(0), &Arg(5), &Arg(5), &Arg(saved)});
  EXPECT_EQ(con.row(0).substr(0, 6), "abcdef");
  vlCall("RESTSCREEN", {&Arg(0), &Arg(0), &Arg(0), &Arg(3), &Arg(std::string("XY", 2))});
  EXPECT_EQ(con.row(0).substr(0, 6), "Xbcdef");
  vlCall("RESTSCREEN", {&Arg(0), &Arg(0), &Arg(0), &Arg(3), &Arg(5)});
  EXPECT_EQ(con.row(0).substr(0, 6), "Xbcdef") << "a fifth argument that is not a string: nothing";
}

TEST_F(Gt, ColorIndex) {
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg(" W/N , N/W "), &Arg(1)}), "N/W");
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg(" W/N , N/W "), &Arg(0)}), "W/N");
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg("W/N,N/W,N/N,N/N,N/W"), &Arg(5)}), "");
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg(5), &Arg(0)}), "");
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg("W/N"), &Arg("0")}), "");
  EXPECT_EQ(vlCallC("VL_COLORINDEX", {&Arg("W/N"), &Arg(-1)}), "");
}

TEST_F(Gt, ScreenSizeSelectors) {
  EXPECT_EQ(vlCallN("MAXROW", {}), 24);
  EXPECT_EQ(vlCallN("MAXCOL", {}), 79);
  EXPECT_EQ(vlCallN("MAXROW", {&Arg(1)}), 24);
  EXPECT_EQ(vlCallN("MAXCOL", {&Arg::logical(true)}), 79);
  EXPECT_EQ(vlCallN("MAXROW", {&Arg(2)}), 24);
  EXPECT_EQ(vlCallN("MAXCOL", {&Arg(3)}), 79);
}

TEST_F(Gt, DisplayBatchesFromTheLanguage) {
  vlCall("DISPBEGIN", {});
  vl_gtWriteAt(0, 0, "hidden", 6);
  EXPECT_EQ(vlCallN("DISPCOUNT", {}), 1);
  EXPECT_TRUE(con.writes.empty());
  vlCall("DISPEND", {});
  EXPECT_EQ(con.writes.size(), 1u);
  EXPECT_EQ(con.row(0).substr(0, 6), "hidden");
}

TEST_F(Gt, ExternalOutputShowsPendingChangesFirst) {
  vl_gtDispBegin();
  vl_gtWriteAt(0, 0, "pending", 7);
  vl_gtPreExt();
  EXPECT_EQ(con.row(0).substr(0, 7), "pending");
  EXPECT_EQ(vl_gt_DispCount(), 0);
  vl_gtDispBegin();  // inside the bracket only the stored depth changes
  EXPECT_EQ(vl_gt_DispCount(), 0);
  vl_gtDispEnd();
  vl_gtPostExt();
  EXPECT_EQ(vl_gt_DispCount(), 1);
  vl_gtDispEnd();
}

}  // namespace

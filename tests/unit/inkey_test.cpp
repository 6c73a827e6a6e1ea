// The keyboard layer on a fake console: the type-ahead buffer, INKEY waits and masks, the
// cancel key, NEXTKEY, LASTKEY and __KEYBOARD.
#include <chrono>

#include "rtl/inkey.h"
#include "vm/arrays.h"
#include "vm/gc.h"
#include "rtl/keycodes.h"
#include "vm/vm.h"
#include "term_support.h"

namespace {

class Inkey : public TermTest {
 protected:
  void SetUp() override {
    TermTest::SetUp();
    setTypeAhead(50);
  }
  void TearDown() override {
    vl_set.cancel = true;
    vl_set.eventMask = 128;
    setTypeAhead(50);
    vl_vmRequestReset();
    TermTest::TearDown();
  }
  static void setTypeAhead(int n) {
    vl_set.typeAhead = n;
    vl_inkeyReset(true);
  }
  void type(const char* text) {
    for (const char* p = text; *p; ++p) con.key(0, static_cast<uint8_t>(*p));
  }
};

TEST_F(Inkey, TypeAheadZeroHoldsOneKeyAndPollsOnlyWhileWaiting) {
  setTypeAhead(0);
  type("ab");
  EXPECT_EQ(vl_inkeyGet(), 0) << "without a ring nothing is polled outside INKEY waits";
  EXPECT_EQ(con.input.size(), 2u) << "the keys stay in the console's queue";
  vl_inkeyPut('x');
  vl_inkeyPut('y');
  EXPECT_EQ(vl_inkeyNext(128), 'y') << "a new key replaces the held one";
  // A wait polls even without a ring, and the polled key replaces the held one.
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 'a');
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 'b');
}

TEST_F(Inkey, ARingOfSixteenHoldsFifteenKeys) {
  setTypeAhead(16);
  for (int k = 1; k <= 16; ++k) vl_inkeyPut(100 + k);
  for (int k = 1; k <= 15; ++k) EXPECT_EQ(vl_inkeyGet(), 100 + k);
  EXPECT_EQ(vl_inkeyGet(), 0) << "the sixteenth key was lost";
  vl_inkeyPut(0);
  EXPECT_EQ(vl_inkeyNext(128), VL_K_NONE) << "0 is never stored";
}

TEST_F(Inkey, InkeyWithoutArgumentsDoesNotWait) {
  EXPECT_EQ(vlCallN("INKEY", {}), 0);
  type("q");
  EXPECT_EQ(vlCallN("INKEY", {}), 'q');
  EXPECT_EQ(vlCallN("LASTKEY", {}), 'q');
  EXPECT_EQ(vlCallN("INKEY", {}), 0);
  EXPECT_EQ(vlCallN("LASTKEY", {}), 'q') << "an empty read does not change the last key";
}

TEST_F(Inkey, InkeyWaitsForTheGivenTime) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0.5)}), 0);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(waited.count(), 490);
}

TEST_F(Inkey, AWaitCollectsGarbageOnce) {
  // Arrays that hold each other are garbage only the collector finds.
  for (int i = 0; i < 100; ++i) {
    VlItem a, b;
    a.type = b.type = VL_IT_NIL;
    vl_arrayNew(&a, 1);
    vl_arrayNew(&b, 1);
    vl_arraySet(&a, 1, &b);
    vl_arraySet(&b, 1, &a);
    vl_itemClear(&a);
    vl_itemClear(&b);
  }
  EXPECT_GE(vl_gcAllocCount(), 64u);
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0.05)}), 0);
  EXPECT_LT(vl_gcAllocCount(), 64u) << "the wait's first idle step ran the collector";
}

TEST_F(Inkey, AnEndlessWaitEndsWhenNoKeyCanCome) {
  con.ended = true;
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 0);
  type("k");
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 'k') << "keys still queued are read first";
}

TEST_F(Inkey, EventMasksSelectMouseEvents) {
  con.mouse(2, 3, VL_CON_LEFT_BUTTON, 0);
  type("k");
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0), &Arg(128)}), 'k') << "the keyboard mask skips the click";
  con.mouse(2, 3, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0), &Arg(2)}), 1002);
  vl_set.eventMask = 4;
  con.mouse(2, 3, 0, 0);
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 1003) << "without a mask argument the setting applies";
  con.mouse(2, 3, VL_CON_LEFT_BUTTON, 0);
  EXPECT_EQ(vlCallN("NEXTKEY", {&Arg(2)}), 1002);
}

TEST_F(Inkey, NextKeyPeeksAndInkeyTakes) {
  type("z");
  EXPECT_EQ(vlCallN("NEXTKEY", {}), 'z');
  EXPECT_EQ(vlCallN("NEXTKEY", {}), 'z');
  EXPECT_EQ(vlCallN("INKEY", {}), 'z');
  EXPECT_EQ(vlCallN("NEXTKEY", {}), 0);
}

TEST_F(Inkey, CancelKeyWithCancelOnRequestsQuitAndStoresThree) {
  con.key('C', 'c', VL_CON_LEFT_ALT);
  vl_inkeyPoll();
  EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_QUIT);
  vl_vmRequestReset();
  EXPECT_EQ(vl_inkeyGet(), 3);
}

TEST_F(Inkey, CancelKeyWithCancelOffIsAKey) {
  vl_set.cancel = false;
  con.key('C', 'c', VL_CON_LEFT_ALT);
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 302);
  EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_NONE);
}

TEST_F(Inkey, AQuitRequestEndsAWait) {
  con.key('C', 'c', VL_CON_LEFT_ALT);  // cancels: the quit request ends the endless wait
  EXPECT_EQ(vlCallN("INKEY", {&Arg(0)}), 0);
  EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_QUIT);
}

TEST_F(Inkey, KeyboardStuffsAfterEmptying) {
  vl_inkeyPut('a');
  vlCall("__KEYBOARD", {&Arg("xy")});
  EXPECT_EQ(vl_inkeyGet(), 'x');
  EXPECT_EQ(vl_inkeyGet(), 'y');
  EXPECT_EQ(vl_inkeyGet(), 0);
  vlCall("__KEYBOARD", {&Arg(-9)});
  EXPECT_EQ(vl_inkeyGet(), -9);
}

}  // namespace

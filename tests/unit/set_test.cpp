// The SET table: defaults, accepted and refused values, the settings with rules of their own,
// listeners, and the calls the device settings make to the console and terminal layers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "rtl/console.h"
#include "rtl/set.h"
#include "rtl_call.h"
#include "vm/arrays.h"

namespace {

TEST(Set, Defaults) {
  struct Logical {
    int id;
    bool value;
  } logicals[] = {{1, false},  {2, false},  {8, true},   {9, false},  {10, false}, {11, false}, {12, true},
                  {13, false}, {17, true},  {18, false}, {21, false}, {23, false}, {26, false}, {28, true},
                  {31, true},  {32, true},  {38, true},  {44, true},  {45, true},  {101, true}, {102, true},
                  {111, false}, {112, false}, {116, true}, {117, false}};
  for (const Logical& c : logicals) EXPECT_EQ(Call("SET").n(c.id).logical(), c.value) << "SET(" << c.id << ")";
  struct Number {
    int id;
    int64_t value;
  } numbers[] = {{3, 2},   {5, 1900}, {14, 50},  {16, 1},   {25, 0},   {36, 0},   {39, 128}, {47, 0},
                 {104, 2}, {105, 0},  {106, 0},  {108, 8},  {110, 0},  {113, 1},  {114, 0}};
  for (const Number& c : numbers) EXPECT_EQ(Call("SET").n(c.id).integer(), c.value) << "SET(" << c.id << ")";
  struct Text {
    int id;
    const char* value;
  } texts[] = {{4, "mm/dd/yy"},  {6, ""},    {7, ""},           {15, "W/N,N/W,N/N,N/N,N/W"},
               {19, ""},         {20, "SCREEN"}, {24, "PRN"},   {34, "::"},
               {42, ""},         {100, "EN"}, {103, "trace.log"}, {107, "/"}, {115, ""}};
  for (const Text& c : texts) EXPECT_EQ(Call("SET").n(c.id).str(), c.value) << "SET(" << c.id << ")";
  EXPECT_EQ(Call("SET").n(118).str(), vl_conNewLine());
  EXPECT_FALSE(vl_set.century);
}

TEST(Set, LogicalSettingsTakeLogicalsAndOnOffText) {
  SetGuard guard(VL_SET_EXACT);
  EXPECT_FALSE(Call("SET").n(1).logical());
  EXPECT_FALSE(vl_set.exact) << "one argument changes nothing";
  EXPECT_FALSE(Call("SET").n(1).l(true).logical()) << "the old value is returned";
  EXPECT_TRUE(vl_set.exact);
  Call("SET").n(1).s("off").run();
  EXPECT_FALSE(vl_set.exact);
  Call("SET").n(1).s("on").run();
  EXPECT_TRUE(vl_set.exact);
  Call("SET").n(1).n(5).run();
  EXPECT_TRUE(vl_set.exact) << "a number is not a logical";
  Call("SET").n(1).s("Offline").run();
  EXPECT_FALSE(vl_set.exact) << "text beginning with OFF";
  Call("SET").n(1).s("yes").run();
  EXPECT_FALSE(vl_set.exact);
  Call("SET").n(1).nil().run();
  EXPECT_FALSE(vl_set.exact);
}

TEST(Set, NumericAndTextSettings) {
  SetGuard decimals(VL_SET_DECIMALS), def(VL_SET_DEFAULT), eventMask(VL_SET_EVENTMASK);
  EXPECT_EQ(Call("SET").n(3).n(4).integer(), 2);
  EXPECT_EQ(vl_set.decimals, 4);
  Call("SET").n(3).s("5").run();
  EXPECT_EQ(vl_set.decimals, 4);
  Call("SET").n(3).d(3.9).run();
  EXPECT_EQ(vl_set.decimals, 3);
  Call("SET").n(39).d(-1e15).run();
  EXPECT_EQ(vl_set.eventMask, INT32_MIN) << "out-of-range numbers are clamped, not wrapped";

  Call("SET").n(7).s("data").run();
  EXPECT_STREQ(vl_set.defaultDir, "data");
  Call("SET").n(7).n(5).run();
  EXPECT_STREQ(vl_set.defaultDir, "data");
  EXPECT_EQ(Call("SET").n(7).nil().str(), "data");
  EXPECT_STREQ(vl_set.defaultDir, "") << "NIL stores an empty string";
  Call("SET").n(7).s(std::string(70000, 'd')).run();
  EXPECT_EQ(std::string(vl_set.defaultDir).size(), 65535u);
}

TEST(Set, CenturyFollowsTheDateFormat) {
  SetGuard guard(VL_SET_DATEFORMAT);
  Call("SET").n(4).s("dd.mm.yyyy").run();
  EXPECT_TRUE(vl_set.century);
  Call("SET").n(4).s("yy/mm/dd").run();
  EXPECT_FALSE(vl_set.century);
  Call("SET").n(4).s("dd yyy yyyy").run();
  EXPECT_FALSE(vl_set.century) << "only the first run of Y counts";
  Call("SET").n(4).s("YyYy-mm").run();
  EXPECT_TRUE(vl_set.century);
}

TEST(Set, PathIsSplitAtSemicolons) {
  SetGuard guard(VL_SET_PATH);
  Call("SET").n(6).s("a;;b/c;").run();
  ASSERT_EQ(vl_set.pathCount, 4u);
  EXPECT_STREQ(vl_set.pathList[0], "a");
  EXPECT_STREQ(vl_set.pathList[1], "");
  EXPECT_STREQ(vl_set.pathList[2], "b/c");
  EXPECT_STREQ(vl_set.pathList[3], "");
  Call("SET").n(6).s("").run();
  EXPECT_EQ(vl_set.pathCount, 0u);
}

TEST(Set, SettingsWithRulesOfTheirOwn) {
  // Setting 113 takes only its words, so it is put back by hand below.
  SetGuard typeAhead(14), trace(104), fileCase(105), dirCase(106), sep(107), loop(108), job(115), eol(118),
      autoshare(47);
  struct Case {
    int id;
    void (*value)(Call&);
    int64_t stored;
  } cases[] = {
      {14, [](Call& c) { c.n(5); }, 16},           {14, [](Call& c) { c.n(0); }, 0},
      {14, [](Call& c) { c.n(10000); }, 4096},     {14, [](Call& c) { c.n(-3); }, 16},
      {14, [](Call& c) { c.n(100); }, 100},        {104, [](Call& c) { c.s("current"); }, 1},
      {104, [](Call& c) { c.s("NONE"); }, 0},      {104, [](Call& c) { c.n(7); }, 7},
      {105, [](Call& c) { c.s("lower"); }, 1},     {105, [](Call& c) { c.s("Upper"); }, 2},
      {105, [](Call& c) { c.s("mixed"); }, 0},     {106, [](Call& c) { c.n(2); }, 2},
      {108, [](Call& c) { c.n(0); }, 8},           {108, [](Call& c) { c.n(3); }, 3},
      {113, [](Call& c) { c.s("inline"); }, 0},    {113, [](Call& c) { c.s("Detached"); }, 1},
  };
  for (const Case& c : cases) {
    Call set("SET");
    set.n(c.id);
    c.value(set);
    set.run();
    EXPECT_EQ(Call("SET").n(c.id).integer(), c.stored) << "SET(" << c.id << ")";
  }
  Call("SET").n(107).s("\\x").run();
  EXPECT_EQ(Call("SET").n(107).str(), "\\");
  EXPECT_EQ(Call("SET").n(107).s("").str(), "\\") << "an empty string changes nothing";
  EXPECT_EQ(vl_set.dirSeparator, '\\');

  EXPECT_EQ(Call("SET").n(115).s("report").str(), "");
  EXPECT_EQ(Call("SET").n(115).s("").str(), "report");
  EXPECT_EQ(vl_set.printerJob, nullptr);

  Call("SET").n(118).n(5).run();
  EXPECT_EQ(Call("SET").n(118).integer(), 5) << "any value is stored";

  struct Snapshot {
    int margin = vl_set.margin, autoShare = vl_set.autoShare, autOrder = vl_set.autOrder;
  } before;
  Call("SET").n(47).n(2).run();
  EXPECT_EQ(vl_set.autoShare, 2);
  EXPECT_EQ(vl_set.margin, before.margin);
  EXPECT_EQ(vl_set.autOrder, before.autOrder);
  EXPECT_EQ(Call("SET").n(25).integer(), 0);
  Call("SET").n(113).s("DETACHED").run();
}

TEST(Set, Option109IsAlwaysSet) {
  EXPECT_EQ(Call("SET").n(109).l(false).type(), "U") << "returns NIL";
  EXPECT_FALSE(vl_set.option109);
  Call("SET").n(109).run();
  EXPECT_TRUE(vl_set.option109) << "a missing argument sets it";
  Call("SET").n(109).l(false).run();
  Call("SET").n(109).s("off").run();
  EXPECT_TRUE(vl_set.option109) << "only a logical argument is read";
}

TEST(Set, ErrorLogIsAnArray) {
  Call get("SET");
  const VlItem& a = get.n(119).run();
  ASSERT_TRUE(VL_IS_ARRAY(&a));
  ASSERT_EQ(vl_arrayLen(&a), 2u);
  EXPECT_STREQ(vl_arrayGetCPtr(&a, 1), "error.log");
  EXPECT_EQ(vl_arrayGetType(&a, 2), VL_IT_LOGICAL);
  EXPECT_FALSE(vl_arrayGetL(&a, 2));

  Call("SET").n(119).s("run.log").l(true).run();
  EXPECT_STREQ(vl_set.errorLog, "run.log");
  EXPECT_TRUE(vl_set.errorLogAppend);
  Call("SET").n(119).item(&a).run();  // a saved setting goes back as it was
  EXPECT_STREQ(vl_set.errorLog, "error.log");
  EXPECT_FALSE(vl_set.errorLogAppend);
  Call("SET").n(119).n(1).l(true).run();
  EXPECT_FALSE(vl_set.errorLogAppend) << "the flag goes with a new name";
}

TEST(Set, UnknownSpecifiers) {
  EXPECT_EQ(Call("SET").n(200).n(1).type(), "U");
  EXPECT_EQ(Call("SET").n(0).type(), "U");
  EXPECT_EQ(Call("SET").type(), "U");
  EXPECT_EQ(Call("SET").s("1").type(), "U");
  EXPECT_EQ(Call("SET").n(48).type(), "U");
  EXPECT_EQ(Call("SET").n(120).type(), "U");
}

std::vector<std::string> s_events;

TEST(Set, ListenersAroundEveryChange) {
  s_events.clear();
  int first = vl_setListenerAdd([](int id, int phase) { s_events.push_back("a" + std::to_string(id) + ":" + std::to_string(phase)); });
  int second = vl_setListenerAdd([](int id, int phase) {
    s_events.push_back("b" + std::to_string(id) + ":" + std::to_string(phase) + (phase ? (vl_set.bell ? "T" : "F") : ""));
  });
  EXPECT_EQ(second, first + 1);
  Call("SET").n(26).run();
  EXPECT_TRUE(s_events.empty()) << "a query calls no listener";
  Call("SET").n(26).l(true).run();
  Call("SET").n(26).nil().run();  // NIL counts as a new value
  EXPECT_EQ(s_events, (std::vector<std::string>{"a26:0", "b26:0", "a26:1", "b26:1T", "a26:0", "b26:0", "a26:1", "b26:1T"}));
  EXPECT_TRUE(vl_setListenerRemove(first));
  EXPECT_FALSE(vl_setListenerRemove(first));
  s_events.clear();
  Call("SET").n(26).l(false).run();
  EXPECT_EQ(s_events, (std::vector<std::string>{"b26:0", "b26:1F"}));
  EXPECT_TRUE(vl_setListenerRemove(second));
  EXPECT_EQ(vl_setListenerAdd([](int, int) {}), second + 1) << "handles are never reused";
  vl_setListenerRemove(second + 1);
}

// Fake device hooks: record what the SET table asks of the console and terminal layers.
std::vector<std::string> s_calls;
int s_nextHandle;

class DeviceHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = vl_setHooks;
    s_calls.clear();
    s_nextHandle = 10;
    vl_setHooks.openFile = [](int id, const char* name, bool additive, const char* ext, bool implicit) {
      s_calls.push_back("open " + std::to_string(id) + " " + name + " " + ext + (additive ? " add" : "") +
                        (implicit ? " implicit" : ""));
      return s_nextHandle++;
    };
    vl_setHooks.closeFile = [](int id, int handle) {
      s_calls.push_back("close " + std::to_string(id) + " " + std::to_string(handle));
    };
    vl_setHooks.color = [](const char* text, char* out) {
      static std::string s_color = "W/N";
      if (text) s_color = std::string("parsed:") + text;
      std::snprintf(out, 64, "%s", s_color.c_str());
    };
    vl_setHooks.cursor = [](int style) {
      static int s_style = 1;
      int old = s_style;
      if (style >= 0) s_style = style;
      return old;
    };
    vl_setHooks.typeAhead = [](int size) { s_calls.push_back("typeahead " + std::to_string(size)); };
  }
  void TearDown() override {
    vl_setHooks = saved_;
    vl_set.altHandle = vl_set.extraHandle = vl_set.printerHandle = -1;
  }
  VlSetHooks saved_;
};

TEST_F(DeviceHooks, AlternateAndExtraFiles) {
  EXPECT_EQ(Call("SET").n(19).s("LOG").str(), "");
  EXPECT_EQ(vl_set.altHandle, 10);
  Call("SET").n(19).s("LOG").l(true).run();
  EXPECT_EQ(Call("SET").n(19).nil().str(), "LOG");
  EXPECT_EQ(vl_set.altHandle, -1);
  EXPECT_EQ(vl_set.altFile, nullptr);
  Call("SET").n(22).s("extra").run();
  Call("SET").n(22).nil().run();
  EXPECT_EQ(vl_set.extraHandle, -1) << "removing the name closes the extra file";
  EXPECT_EQ(s_calls, (std::vector<std::string>{"open 19 LOG .txt", "close 19 10", "open 19 LOG .txt add",
                                                "close 19 11", "open 22 extra .prn", "close 22 12"}));
}

TEST_F(DeviceHooks, ImplicitPrinterFollowsPrinterAndDevice) {
  SetGuard device(VL_SET_DEVICE);
  Call("SET").n(23).l(true).run();
  EXPECT_EQ(vl_set.printerHandle, 10);
  Call("SET").n(20).s("printer").run();  // already open
  Call("SET").n(23).l(false).run();      // the device still wants it
  EXPECT_EQ(vl_set.printerHandle, 10);
  Call("SET").n(20).s("SCREEN").run();
  EXPECT_EQ(vl_set.printerHandle, -1);
  Call("SET").n(20).s("PRINTER").run();
  EXPECT_EQ(vl_set.printerHandle, 11);
  EXPECT_EQ(s_calls, (std::vector<std::string>{"open 24 PRN .prn implicit", "close 24 10", "open 24 PRN .prn implicit"}));
  Call("SET").n(20).s("SCREEN").run();
}

TEST_F(DeviceHooks, PrintFile) {
  Call("SET").n(24).s("out").l(true).run();
  EXPECT_FALSE(vl_set.implicitPrinter);
  EXPECT_EQ(vl_set.printerHandle, 10);
  Call("SET").n(24).nil().run();
  EXPECT_EQ(vl_set.printerHandle, 10) << "NIL changes nothing";
  EXPECT_EQ(Call("SET").n(24).s("").str(), "out");
  EXPECT_TRUE(vl_set.implicitPrinter);
  EXPECT_EQ(vl_set.printerHandle, -1);
  EXPECT_EQ(Call("SET").n(24).str(), "PRN");
  EXPECT_EQ(s_calls, (std::vector<std::string>{"open 24 out .prn add", "close 24 10"}));
}

TEST_F(DeviceHooks, ColourCursorAndTypeAhead) {
  SetGuard typeAhead(VL_SET_TYPEAHEAD);
  EXPECT_EQ(Call("SET").n(15).s("W+/B").str(), "W/N") << "the old colours, as rendered";
  EXPECT_STREQ(vl_set.color, "parsed:W+/B");
  EXPECT_EQ(Call("SET").n(16).n(3).integer(), 1);
  EXPECT_EQ(Call("SET").n(16).n(1).integer(), 3);
  Call("SET").n(14).n(50).run();
  Call("SET").n(14).n(64).run();
  EXPECT_EQ(s_calls, (std::vector<std::string>{"typeahead 64"})) << "only a change rebuilds the buffer";
  vl_setHooks.color(nullptr, vl_set.color);
  std::snprintf(vl_set.color, sizeof vl_set.color, "W/N,N/W,N/N,N/N,N/W");
}

TEST(Set, TraceFileIsCreatedOrKept) {
  // Put back by hand: SET would create the old file in the current directory.
  std::string saved = vl_set.traceFile;
  std::string path = testing::TempDir() + "vl_set_trace_" + std::to_string(getpid()) + ".log";
  { std::ofstream(path) << "kept"; }
  auto contents = [&path] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  Call("SET").n(103).s(path).l(true).run();
  EXPECT_EQ(contents(), "kept");
  Call("SET").n(103).s(path).run();
  EXPECT_EQ(contents(), "") << "emptied";
  EXPECT_EQ(Call("SET").n(103).str(), path);
  std::remove(path.c_str());
  std::snprintf(vl_set.traceFile, sizeof vl_set.traceFile, "%s", saved.c_str());
}

// A refused value raises the argument error (not substitutable) and the setting keeps its value.
TEST(Set, RefusedValues) {
  struct Case {
    int id;
    void (*value)(Call&);
    const char* error;
  } cases[] = {
      {3, [](Call& c) { c.n(-1); }, "BASE 1/2020 SET [int:3:w10,int:-1:w10] nosub"},
      {5, [](Call& c) { c.n(-1900); }, "BASE 1/2020 SET [int:5:w10,int:-1900:w10] nosub"},
      {104, [](Call& c) { c.s("some"); }, "BASE 1/2020 SET [int:104:w10,str:\"some\"] nosub"},
      {104, [](Call& c) { c.nil(); }, "BASE 1/2020 SET [int:104:w10,NIL] nosub"},
      {104, [](Call& c) { c.n(256); }, "BASE 1/2020 SET [int:104:w10,int:256:w10] nosub"},
      {105, [](Call& c) { c.s("sideways"); }, "BASE 1/2020 SET [int:105:w10,str:\"sideways\"] nosub"},
      {106, [](Call& c) { c.n(-1); }, "BASE 1/2020 SET [int:106:w10,int:-1:w10] nosub"},
      {108, [](Call& c) { c.n(-1); }, "BASE 1/2020 SET [int:108:w10,int:-1:w10] nosub"},
      {108, [](Call& c) { c.s("8"); }, "BASE 1/2020 SET [int:108:w10,str:\"8\"] nosub"},
      {113, [](Call& c) { c.n(1); }, "BASE 1/2020 SET [int:113:w10,int:1:w10] nosub"},
  };
  for (const Case& c : cases) {
    Call before("SET");
    VlItem old;
    old.type = VL_IT_NIL;
    vl_itemCopy(&old, &before.n(c.id).run());
    Call set("SET");
    set.n(c.id);
    c.value(set);
    EXPECT_EQ(errorOf(set), c.error);
    EXPECT_EQ(describe(&set.result()), describe(&old)) << "the old value is returned";
    EXPECT_EQ(describe(&Call("SET").n(c.id).run()), describe(&old)) << "and kept";
    vl_itemClear(&old);
  }
  EXPECT_EQ(Call("SET").n(3).integer(), 2);
  // Names that would not fit their buffers are refused rather than cut.
  std::string trace = vl_set.traceFile;
  EXPECT_EQ(errorOf(Call("SET").n(103).s(std::string(255, 't'))).rfind("BASE 1/2020 SET [int:103:w10,str:\"ttt", 0), 0u);
  EXPECT_EQ(vl_set.traceFile, trace);
  EXPECT_EQ(errorOf(Call("SET").n(119).s(std::string(256, 'e'))).rfind("BASE 1/2020 SET [int:119:w10,str:\"eee", 0), 0u);
  EXPECT_STREQ(vl_set.errorLog, "error.log");
}

TEST(SetDeath, UnknownLanguageEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EQ(Call("SET").n(100).s("EN").str(), "EN");
  EXPECT_EXIT(Call("SET").n(100).s("XX").run(), ::testing::ExitedWithCode(1),
              "Unrecoverable error 9000: invalid language selected");
}

}  // namespace

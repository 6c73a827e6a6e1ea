// Language modules: the English texts, the registry of 64 modules, selection by identifier and
// the language-level access to the texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rtl/langapi.h"
#include "rtl_call.h"
#include "vm/xmem.h"

namespace {

TEST(Lang, EnglishTexts) {
  EXPECT_STREQ(vl_langID(), "EN");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(6).str(), "January");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(17).str(), "December");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(24).str(), "Saturday");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(115).str(), "YYYY/MM/DD");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(117).str(), "N");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(118).str(), "");
  EXPECT_EQ(Call("VL_LANGMESSAGE").n(-1).str(), "");
  EXPECT_EQ(Call("VL_LANGMESSAGE").s("6").str(), "");
  EXPECT_EQ(Call("NATIONMSG").n(9).str(), "Invalid date");
  EXPECT_EQ(Call("NATIONMSG").n(1).str(), "Database Files    # Records    Last Update     Size");
  EXPECT_EQ(Call("NATIONMSG").n(13).str(), "INVALID EXPRESSION");
  EXPECT_EQ(Call("NATIONMSG").n(8).str(), "   ");
  EXPECT_EQ(Call("NATIONMSG").n(14).str(), "");
  EXPECT_EQ(Call("NATIONMSG").n(0).str(), "");
  EXPECT_EQ(Call("NATIONMSG").s("9").str(), "");
  EXPECT_EQ(Call("NATIONMSG").str(), "Invalid argument");

  EXPECT_STREQ(vl_langDGetErrorDesc(1), "Argument error");
  EXPECT_STREQ(vl_langDGetErrorDesc(50), "conditional");
  EXPECT_STREQ(vl_langDGetErrorDesc(9), "");
  EXPECT_STREQ(vl_langDGetErrorDesc(51), "");
  EXPECT_STREQ(vl_langDGetInternalError(9019), "Stack underflow");
  EXPECT_STREQ(vl_langDGetInternalError(9025), "vl_xalloc requested to allocate zero bytes");
  EXPECT_STREQ(vl_langDGetInternalError(9026), "");
  EXPECT_STREQ(vl_langDGetItem(VL_LANG_INTERNAL_TITLE), "Unrecoverable error %lu: ");
  EXPECT_EQ(vl_langDGetItem(118), nullptr);
  char* name = vl_langName();
  EXPECT_STREQ(name, "Vellum Language: EN English (English)");
  vl_xfree(name);
}

// A second module: registration, selection through SET(100) and the texts that follow it.
TEST(Lang, RegistrySelectionAndReplacement) {
  static VlLang s_xx;
  for (int i = 0; i < VL_LANG_ITEMS; ++i) s_xx.texts[i] = "";
  s_xx.texts[VL_LANG_ID] = "XX";
  s_xx.texts[VL_LANG_MONTH] = "Primo";
  s_xx.texts[VL_LANG_DAY + 6] = "Sabato";
  ASSERT_TRUE(vl_langRegister(&s_xx));
  EXPECT_EQ(vl_langFind("XX"), &s_xx);
  EXPECT_EQ(vl_langFind("xx"), nullptr) << "identifiers are compared exactly";
  EXPECT_EQ(Call("SET").n(100).s("XX").str(), "EN");
  EXPECT_EQ(Call("CMONTH").date(2000, 1, 5).str(), "Primo");
  EXPECT_EQ(Call("CDOW").date(2000, 1, 1).str(), "Sabato");
  EXPECT_EQ(Call("SET").n(100).str(), "XX");

  // Registering the same identifier again replaces the module, also as the current one.
  static VlLang s_xx2 = s_xx;
  s_xx2.texts[VL_LANG_MONTH] = "Gennaio";
  ASSERT_TRUE(vl_langRegister(&s_xx2));
  EXPECT_EQ(Call("CMONTH").date(2000, 1, 5).str(), "Gennaio");
  EXPECT_STREQ(vl_langSelectID("EN"), "XX");
  EXPECT_TRUE(vl_langDeRegister("XX"));
  EXPECT_EQ(vl_langFind("XX"), nullptr);
  EXPECT_FALSE(vl_langDeRegister("XX"));
}

TEST(Lang, SixtyFourSlots) {
  static VlLang s_many[VL_LANG_MAX_MODULES];
  static std::vector<std::string> s_ids;
  s_ids.clear();
  for (int i = 0; i < VL_LANG_MAX_MODULES; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "L%d", i);
    s_ids.push_back(id);
  }
  int registered = 0;
  for (int i = 0; i < VL_LANG_MAX_MODULES; ++i) {
    s_many[i] = *vl_langFind("EN");
    s_many[i].texts[VL_LANG_ID] = s_ids[i].c_str();
    if (vl_langRegister(&s_many[i])) ++registered;
  }
  EXPECT_EQ(registered, VL_LANG_MAX_MODULES - 1) << "English holds one of the 64 slots";
  EXPECT_TRUE(vl_langRegister(vl_langFind("EN"))) << "replacing an entry needs no free slot";
  for (int i = 0; i < VL_LANG_MAX_MODULES; ++i) vl_langDeRegister(s_ids[i].c_str());
  EXPECT_STREQ(vl_langID(), "EN");
}

}  // namespace

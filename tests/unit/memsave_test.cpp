// The save file's bytes: what is written for each type (and what is skipped), the round trip
// with widths, masks, long names, and damaged bytes that must restore only whole records.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vars_util.h"
#include "vmtest.h"
#include "vm/vm.h"
#include "vm/codeblock.h"
#include "vm/memvars.h"
#include "platform/filesys.h"
#include "vm/xmem.h"

using vt::Item;

namespace {

std::vector<uint8_t> image(const char* mask, bool like, bool longNames = false) {
  size_t size = 0;
  uint8_t* data = vl_memvarSaveImage(mask, std::strlen(mask), like, longNames, &size);
  std::vector<uint8_t> v(data, data + size);
  vl_xfree(data);
  return v;
}

bool restore(const std::vector<uint8_t>& bytes, const char* mask = "*", bool like = true, bool longNames = false,
             VlItem* last = nullptr) {
  return vl_memvarRestoreImage(bytes.data(), bytes.size(), longNames, mask, std::strlen(mask), like, last);
}

void set(const char* name, const VlItem* value) { vl_memvarAssign(vl_dynsymGet(name), const_cast<VlItem*>(value)); }
VlItem* get(const char* name) { return vl_memvarValueOf(vl_dynsymFindName(name)); }
void releaseAll(std::initializer_list<const char*> names) {
  for (const char* n : names) vl_memvarRelease(vl_dynsymFindName(n));
}

// Variables of every kind, each a PRIVATE of the running test.
struct Fixture : ::testing::Test {
  uint32_t mark = 0;
  void SetUp() override {
    mark = vl_memvarSetPrivatesBase();
    Item v;
    vl_itemPutNLen(&v, 12.34, 5, 2);
    set("MS_A_NUM", &v);
    vl_itemPutNI(&v, 42);
    set("MS_B_INT", &v);
    vl_itemPutC(&v, "hello");
    set("MS_C_STR", &v);
    vl_itemPutD(&v, 2024, 2, 29);
    set("MS_D_DATE", &v);
    vl_itemPutL(&v, true);
    set("MS_E_LOG", &v);
    std::string big(32767, 'x');
    vl_itemPutCL(&v, big.data(), big.size());
    set("MS_F_BIG", &v);
    vl_arrayNew(&v, 1);
    set("MS_G_ARR", &v);
    vl_itemClear(&v);
    set("MS_H_NIL", &v);
    vl_codeblockMacroNew(&v, reinterpret_cast<const uint8_t*>("\x06"), 1, 0);
    set("MS_I_BLK", &v);
    std::string edge(32766, 'y');
    vl_itemPutCL(&v, edge.data(), edge.size());
    set("MS_J_EDGE", &v);
  }
  void TearDown() override { vl_memvarRestorePrivates(mark); }
};

using MemSave = Fixture;

TEST_F(MemSave, RecordsHoldTheLayoutAndSkipWhatCannotBeSaved) {
  std::vector<uint8_t> b = image("MS_*", true);
  // Records in name order: number, integer, string, date, logical, the 32,766-character string.
  size_t sizes[] = {32 + 8, 32 + 8, 32 + 6, 32 + 8, 32 + 1, 32 + 32767};
  size_t total = 1;
  for (size_t s : sizes) total += s;
  ASSERT_EQ(b.size(), total) << "the 32,767-character string, the array, NIL and the block are skipped";
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), 8), "MS_A_NUM");
  EXPECT_EQ(b[11], 0xCE);
  EXPECT_EQ(b[16], 8) << "width 5 plus 2 decimals plus 1";
  EXPECT_EQ(b[17], 2);
  double d;
  std::memcpy(&d, &b[32], 8);
  EXPECT_EQ(d, 12.34);
  EXPECT_EQ(b[40 + 16], 10) << "an integer: its width";
  size_t str = 80;
  EXPECT_EQ(b[str + 11], 0xC3);
  EXPECT_EQ(b[str + 16], 6);
  EXPECT_EQ(b[str + 17], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[str + 32]), 6), std::string("hello\0", 6));
  size_t date = str + 38;
  EXPECT_EQ(b[date + 11], 0xC4);
  EXPECT_EQ(b[date + 16], 1);
  size_t log = date + 40;
  EXPECT_EQ(b[log + 11], 0xCC);
  EXPECT_EQ(b[log + 32], 1);
  size_t edge = log + 33;
  EXPECT_EQ(b[edge + 16], 0xFF) << "32,767 = 0x7FFF: low byte";
  EXPECT_EQ(b[edge + 17], 0x7F) << "high byte";
  for (size_t i = 12; i < 16; ++i) EXPECT_EQ(b[i], 0) << "reserved bytes are zero";
}

TEST_F(MemSave, RoundTripKeepsValuesAndWidths) {
  std::vector<uint8_t> b = image("MS_*", true);
  releaseAll({"MS_A_NUM", "MS_B_INT", "MS_C_STR", "MS_D_DATE", "MS_E_LOG", "MS_J_EDGE"});
  Item last;
  ASSERT_TRUE(restore(b, "*", true, false, &last));
  int width, decimals;
  vl_itemGetNLen(get("MS_A_NUM"), &width, &decimals);
  EXPECT_EQ(vt::show(get("MS_A_NUM")), std::to_string(12.34));
  EXPECT_EQ(width, 5);
  EXPECT_EQ(decimals, 2);
  vl_itemGetNLen(get("MS_B_INT"), &width, &decimals);
  EXPECT_EQ(vt::show(get("MS_B_INT")), "42");
  EXPECT_EQ(width, 10);
  EXPECT_EQ(vt::show(get("MS_C_STR")), "\"hello\"");
  Item date;
  vl_itemPutD(&date, 2024, 2, 29);
  EXPECT_EQ(vt::show(get("MS_D_DATE")), vt::show(&date));
  EXPECT_EQ(vt::show(get("MS_E_LOG")), ".T.");
  EXPECT_EQ(vl_itemGetCLen(get("MS_J_EDGE")), 32766u);
  EXPECT_EQ(vl_itemGetCLen(&last), 32766u) << "the result is the last record's value";
}

TEST_F(MemSave, MasksSelectOrExcludeNames) {
  struct Case {
    const char* mask;
    bool like;
    size_t records;
  } cases[] = {
      {"MS_?_*", true, 6}, {"ms_c*", true, 1}, {"MS_[AB]*", true, 2}, {"MS_[!AB]*", true, 4},
      {"MS_C*", false, 5}, {"*", false, 0},    {"*X", true, 6},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = image(c.mask, c.like);
    size_t n = 0;
    for (size_t i = 0; i + 32 <= b.size(); i += 32) {
      // Walk records: only names of this fixture begin with "MS_".
      if (std::memcmp(&b[i], "MS_", 3) == 0) ++n;
      uint8_t type = b[i + 11];
      size_t data = type == 0xC3 ? (b[i + 16] | (b[i + 17] << 8)) : type == 0xCC ? 1 : 8;
      i += data;
    }
    EXPECT_EQ(n, c.records) << c.mask << (c.like ? " like" : " except");
  }
}

TEST_F(MemSave, LongNamesKeepSixtyThreeCharactersShortOnesTen) {
  Item v;
  vl_itemPutNI(&v, 7);
  const char* longName = "MS_LONG_NAME_OF_TWENTY_SIX";
  set(longName, &v);
  std::vector<uint8_t> shortForm = image("MS_LONG*", true);
  std::vector<uint8_t> longForm = image("MS_LONG*", true, true);
  EXPECT_EQ(shortForm.size(), 32u + 8 + 1);
  EXPECT_EQ(longForm.size(), 85u + 8 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(shortForm.data())), "MS_LONG_NA");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(longForm.data())), longName);
  EXPECT_EQ(longForm[64], 0xCE);
  vl_memvarRelease(vl_dynsymFindName(longName));
  ASSERT_TRUE(restore(longForm, "*", true, true));
  EXPECT_EQ(vt::show(get(longName)), "7");
  ASSERT_TRUE(restore(shortForm));
  EXPECT_EQ(vt::show(get("MS_LONG_NA")), "7");
}

TEST_F(MemSave, DamagedBytesRestoreOnlyTheWholeRecords) {
  std::vector<uint8_t> b = image("MS_[ABE]*", true);  // number (40 bytes), integer (40), logical (33)
  ASSERT_EQ(b.size(), 114u);
  const char* names[] = {"MS_A_NUM", "MS_B_INT", "MS_E_LOG"};
  size_t ends[] = {40, 80, 113};
  for (size_t cut = 0; cut <= b.size(); ++cut) {
    releaseAll({"MS_A_NUM", "MS_B_INT", "MS_E_LOG"});
    // A copy of exactly `cut` bytes, so that the sanitizer sees any read past it.
    std::vector<uint8_t> part(b.begin(), b.begin() + static_cast<long>(cut));
    vl_memvarRestoreImage(part.empty() ? nullptr : part.data(), part.size(), false, "*", 1, true, nullptr);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(get(names[k]) != nullptr, ends[k] <= cut) << names[k] << " with " << cut << " bytes";
  }

  // A string whose length field reaches past the end, after one whole record.
  std::vector<uint8_t> bad(b.begin(), b.begin() + 40);
  std::vector<uint8_t> rec(32, 0);
  std::memcpy(rec.data(), "MS_C_STR", 8);
  rec[11] = 0xC3;
  rec[16] = 0xFF;
  rec[17] = 0xFF;
  bad.insert(bad.end(), rec.begin(), rec.end());
  bad.insert(bad.end(), {'a', 'b', 'c'});
  releaseAll({"MS_A_NUM", "MS_C_STR"});
  EXPECT_TRUE(restore(bad));
  EXPECT_NE(get("MS_A_NUM"), nullptr);
  EXPECT_EQ(get("MS_C_STR"), nullptr);

  // An unknown type byte: that record is NIL with no data, and reading goes on.
  std::vector<uint8_t> odd(32, 0);
  std::memcpy(odd.data(), "MS_C_STR", 8);
  odd[11] = 0xC1;
  odd.insert(odd.end(), b.begin() + 40, b.end());
  releaseAll({"MS_C_STR", "MS_B_INT", "MS_E_LOG"});
  EXPECT_TRUE(restore(odd));
  ASSERT_NE(get("MS_C_STR"), nullptr);
  EXPECT_TRUE(VL_IS_NIL(get("MS_C_STR")));
  EXPECT_EQ(vt::show(get("MS_B_INT")), "42");
  EXPECT_EQ(vt::show(get("MS_E_LOG")), ".T.");

  // Arbitrary bytes never crash.
  std::vector<uint8_t> noise(4096);
  uint32_t x = 1;
  for (auto& c : noise) c = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  for (size_t n = 0; n < noise.size(); n += 97) {
    std::vector<uint8_t> part(noise.begin(), noise.begin() + static_cast<long>(n));
    vl_memvarRestoreImage(part.data(), part.size(), n % 2 != 0, "*", 1, true, nullptr);
  }
}

using MemSaveDeathTest = ::testing::Test;

TEST_F(MemSaveDeathTest, AnInvalidMaskIsInternalError9100) {
  size_t size;
  EXPECT_DEATH(vl_memvarSaveImage("A[B", 3, true, false, &size),
               "9100.*Invalid mask passed as MEMVAR filter 'A\\[B' -> '\\(\\?i\\)A\\[B'");
}

}  // namespace

namespace {

// A scratch directory for the save files of one test.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/vl_memsave_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const char* name) const { return path + "/" + name; }
};

bool exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

using MemSaveFile = Fixture;

TEST_F(MemSaveFile, SaveAndRestoreThroughAFileWithTheDefaultExtension) {
  TempDir dir;
  Item file, mask, like, additive, r;
  vt::str(&file, dir.file("vars").c_str());
  vt::str(&mask, "MS_*");
  vl_itemPutL(&like, true);
  vt::call(&r, "__MSAVE", {&file, &mask, &like});
  ASSERT_TRUE(exists(dir.file("vars.mem")));

  Item other;
  vt::num(&other, 1);
  set("MS_OTHER", &other);
  releaseAll({"MS_A_NUM", "MS_C_STR"});
  vl_itemPutL(&additive, true);
  vt::call(&r, "__MRESTORE", {&file, &additive});
  EXPECT_EQ(vl_itemGetCLen(&r), 32766u) << "the value of the last record";
  EXPECT_EQ(vt::show(get("MS_C_STR")), "\"hello\"");
  EXPECT_NE(get("MS_OTHER"), nullptr) << "additive: the other variables stay";

  vl_itemPutL(&additive, false);
  Item restoreMask, restoreLike, longNames;
  vt::str(&restoreMask, "MS_C*");
  vl_itemPutL(&restoreLike, true);
  vl_itemPutL(&longNames, false);
  vt::call(&r, "__MRESTORE", {&file, &additive, &longNames, &restoreMask, &restoreLike});
  EXPECT_EQ(get("MS_OTHER"), nullptr) << "not additive: every variable was released first";
  EXPECT_EQ(get("MS_A_NUM"), nullptr) << "the mask left it out";
  EXPECT_EQ(vt::show(get("MS_C_STR")), "\"hello\"");
  EXPECT_EQ(vt::show(&r), "\"hello\"");
}

TEST_F(MemSaveFile, AnExtensionGivenIsKept) {
  TempDir dir;
  Item file, mask, like, r;
  vt::str(&file, dir.file("vars.sav").c_str());
  vt::str(&mask, "MS_B*");
  vl_itemPutL(&like, true);
  vt::call(&r, "__MSAVE", {&file, &mask, &like});
  EXPECT_TRUE(exists(dir.file("vars.sav")));
  EXPECT_FALSE(exists(dir.file("vars.sav.mem")));
}

TEST_F(MemSaveFile, FileFailuresAndWrongArgumentsRaiseErrorsAndLoseNothing) {
  TempDir dir;
  Val file = Val::s(dir.file("none")), mask = Val::s("*"), missingDir = Val::s(dir.file("no/such/dir/x"));
  {
    // A handler that takes the default (no retry): the restore answers .F. and keeps every
    // variable, since none is released before the file is open.
    VlErrorHandler takeDefault{};
    takeDefault.func = [](VlErrorHandler*) { return vl_itemPutL(nullptr, false); };
    VlErrorHandler* previous = vl_errorHandler(&takeDefault);
    Item r, f, additive;
    vt::str(&f, dir.file("none").c_str());
    vl_itemPutL(&additive, false);
    vt::call(&r, "__MRESTORE", {&f, &additive});
    vl_errorHandler(previous);
    EXPECT_EQ(vt::show(&r), ".F.");
    EXPECT_NE(get("MS_A_NUM"), nullptr);
  }
  ErrorCatcher errors;
  vt::guarded("__MRESTORE", {file, Val::b(false)});
  vt::guarded("__MRESTORE", {Val::i(1), Val::b(false)});
  vt::guarded("__MSAVE", {file, Val::i(1), Val::b(true)});
  vt::guarded("__MSAVE", {missingDir, mask, Val::b(true)});
  vl_fsFaultWriteLimit(40);  // the disk fills up in the middle of the file
  vt::guarded("__MSAVE", {file, mask, Val::b(true)});
  vl_fsFaultReset();
  std::string none = dir.file("none.mem"), bad = dir.file("no/such/dir/x.mem");
  ASSERT_EQ(errors.errors.size(), 5u);
  EXPECT_EQ(errors.errors[0], "BASE 21/2005 " + none + " [str:\"" + none + "\"]");
  EXPECT_EQ(errors.errors[1], "BASE 1/2007 __MRESTORE [int:1:w10,.F.]");
  EXPECT_EQ(errors.errors[2], "BASE 1/2008 __MSAVE [str:\"" + dir.file("none") + "\",int:1:w10,.T.]");
  EXPECT_EQ(errors.errors[3], "BASE 20/2006 " + bad + " [str:\"" + bad + "\"]");
  EXPECT_EQ(errors.errors[4], "BASE 24/2006 " + none + " [str:\"" + none + "\"]");
}

}  // namespace

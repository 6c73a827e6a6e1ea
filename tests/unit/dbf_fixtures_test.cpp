// Tables written by other programs (tests/fixtures): every valid one reads with the values a
// third-party reader sees, and the damaged ones read as a sound reader reads them.
//
// Memo texts belong to the memo driver; here tables with memo fields are opened through a test
// driver built on DBF that accepts the memo file without reading it, so that everything else
// in them (header, descriptors with memo fields, records) is checked through the DBF driver.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "rdd/dbf1.h"
#include "rdd_util.h"

using namespace rddtest;

namespace {

VlRddFuncs s_testSuper;

VlStatus acceptMemoFile(VlArea*, VlOpenInfo*) { return VL_SUCCESS; }

// Memo fields give their raw block reference.
VlStatus rawMemoValue(VlArea* area, uint16_t index, VlItem* out) {
  if (index >= 1 && index <= area->fieldCount && area->fields[index - 1].type == VL_IT_MEMO) {
    VlDbfArea* a = vl_dbfArea(area);
    if (vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
    vl_itemPutCL(out, reinterpret_cast<const char*>(a->record + a->fieldOffsets[index - 1]), area->fields[index - 1].len);
    return VL_SUCCESS;
  }
  return VL_SUPER(s_testSuper, area, getValue, index, out);
}

void getTestTable() {
  static VlRddFuncs overrides = [] {
    VlRddFuncs t{};
    t.openMemFile = acceptMemoFile;
    t.getValue = rawMemoValue;
    return t;
  }();
  auto* table = static_cast<VlRddFuncs*>(vl_parptr(2));
  vl_retni(table ? vl_rddInherit(table, &overrides, &s_testSuper, "DBF") : static_cast<VlStatus>(VL_FAILURE));
}

VlSymbol s_module[] = {{"VLTMEMO_GETFUNCTABLE", VL_FS_PUBLIC, {getTestTable}, VL_SYM_DEFINED}};
struct Register {
  Register() { vl_vmProcessSymbols(s_module, 1, "dbf_fixtures_test.cpp", VL_PCODE_VERSION); }
} s_register;

void registerTestDriver() {
  if (!vl_rddFindNode("VLTMEMO", nullptr)) {
    EXPECT_EQ(vl_rddRegister("VLTMEMO", VL_RDD_TYPE_TABLE), 0);
  }
}

const char* driverFor(const Dump& d) {
  for (const DumpField& f : d.fields)
    if (f.type == 'M') return "VLTMEMO";
  return "DBF";
}

std::string versionOf(const std::string& path) {
  std::string bytes = readFile(path);
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]));
  return text;
}

Dump expectedDump(const std::string& table) {
  Dump d = parseDump(readFile(fixtureDir() + "/dumps/" + table.substr(0, table.find('.')) + ".txt"));
  canonicalise(&d);
  return d;
}

class FixtureTables : public ::testing::Test {
 protected:
  void SetUp() override { registerTestDriver(); }
  void TearDown() override { vl_rddCloseAll(); }
  TempDir dir;

  // Opens a copy of the table read-only and dumps it; the copy's bytes must not change.
  Dump readTable(const std::string& table, const char* driver) {
    std::string path = copyFixture(dir, table);
    std::string before = readFile(path);
    Dump got;
    EXPECT_TRUE(useTable(path, driver, nullptr, false, true)) << table;
    got = dumpCurrentArea(table, versionOf(path));
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), before) << table << " changed by reading";
    return got;
  }
};

}  // namespace

TEST_F(FixtureTables, EveryValidTableReadsLikeItsDump) {
  int tables = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fixtureDir() + "/dumps")) {
    Dump want = parseDump(readFile(entry.path().string()));
    canonicalise(&want);
    SCOPED_TRACE(want.table);
    Dump got = readTable(want.table, driverFor(want));
    EXPECT_EQ(got.version, want.version);
    EXPECT_EQ(dumpDifference(want, got, false), "");
    ++tables;
  }
  EXPECT_EQ(tables, 14);
  // The comparison sees a one-character difference: CUSTPERL keeps a leading blank in record 4.
  EXPECT_EQ(dumpDifference(expectedDump("CUSTOMER.DBF"), readTable("CUSTPERL.DBF", "DBF"), false),
            "record 4 NAME: \"Leading Space\" / \" Leading Space\"");
}

TEST_F(FixtureTables, DamagedTablesReadAsASoundReaderReadsThem) {
  struct Case {
    const char* table;
    const char* like;  // the valid table it is a damaged copy of
    size_t records;
  } cases[] = {
      {"BADCOUNT.DBF", "CUSTOMER.DBF", 12},  // the header claims 62
      {"NOEOF.DBF", "CUSTOMER.DBF", 12},
      {"GARBAGE.DBF", "CUSTOMER.DBF", 12},   // 200 random bytes after the end-of-file byte
      {"TRUNCREC.DBF", "CUSTOMER.DBF", 7},   // ends 30 bytes into record 8
      {"BADMEMO.DBF", "NOTES.DBF", 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    Dump want = expectedDump(c.like);
    want.values.resize(c.records);
    want.deleted.resize(c.records);
    Dump got = readTable(c.table, driverFor(want));
    EXPECT_EQ(dumpDifference(want, got, false), "");
  }
}

TEST_F(FixtureTables, MemoFieldsHoldTheirBlockReferences) {
  // The raw references as the DBF layout stores them: ten characters, right-aligned.
  Dump got = readTable("NOTES.DBF", "VLTMEMO");
  ASSERT_EQ(got.values.size(), 11u);
  EXPECT_EQ(got.values[0][2], "\"         1\"");
  EXPECT_EQ(got.values[1][2], "\"\"");  // record 2 has no memo
}

// Bad input and refused operations: damaged tables, missing files, wrong values, read-only and
// shared tables, bad aliases, no table, unsupported operations. Each must be a clean run-time
// error that leaves no table open and no byte of any file changed; randomly damaged copies of
// the fixtures must never crash the driver.
#include <gtest/gtest.h>

#include <random>

#include "platform/filesys.h"
#include "rdd/dbf1.h"
#include "rdd_util.h"
#include "rtl/set.h"

using namespace rddtest;

namespace {

class DbfErrors : public ::testing::Test {
 protected:
  void SetUp() override { vl_rddSelectWorkAreaNumber(1); }
  void TearDown() override {
    vl_rddCloseAll();
    vl_fsFaultReset();
    vl_vmRequestReset();
  }
  TempDir dir;
};

uint16_t le16(const std::string& b, size_t i) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[i]) | (static_cast<uint8_t>(b[i + 1]) << 8));
}

Item fieldValue(int n) {
  Item index(n);
  return call("FIELDVALUE", {&index});
}

void assign(int n, const Item& value) {
  Item index(n);
  call("FIELDASSIGN", {&index, &value});
}

// A driver that fills no slot: it is the base work area.
VlRddFuncs s_baseSuper;
void baseTable() {
  auto* table = static_cast<VlRddFuncs*>(vl_parptr(2));
  vl_retni(table ? vl_rddInherit(table, nullptr, &s_baseSuper, nullptr) : static_cast<VlStatus>(VL_FAILURE));
}
VlSymbol s_module[] = {{"VLTBASE_GETFUNCTABLE", VL_FS_PUBLIC, {baseTable}, VL_SYM_DEFINED}};
struct Register {
  Register() { vl_vmProcessSymbols(s_module, 1, "dbf_errors_test.cpp", VL_PCODE_VERSION); }
} s_register;

}  // namespace

TEST_F(DbfErrors, DamagedHeadersAreCorruptionAndChangeNothing) {
  std::string good = readFile(fixtureDir() + "/tables/CUSTOMER.DBF");
  auto patched = [&](size_t at, std::string bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    int errors;  // header and descriptor-block failures are offered a retry; the rest are not
  } cases[] = {
      {"version byte 0x04", patched(0, "\x04"), 2},
      {"short header", good.substr(0, 20), 2},
      {"empty file", "", 2},
      {"descriptors cut short", good.substr(0, 100), 2},
      {"no fields: terminator first", patched(32, "\x0D"), 1},
      {"no fields: header length 32", patched(8, std::string("\x20\x00", 2)), 1},
      {"bad field letter", patched(32 + 32 + 11, "X"), 1},
      {"empty field name", patched(32, std::string(10, ' ')), 1},
      {"name of zero bytes", patched(32, std::string(10, '\0')), 1},
      {"record length disagrees with the fields", patched(10, std::string("\x43\x00", 2)), 1},
      {"fields wider than a record can be", patched(32 + 32 + 16, std::string("\xFF\xFF", 2)), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.file("DAMAGED.DBF");
    writeFile(path, c.bytes);
    {
      ErrorLog log;
      log.retries = 1;
      log.withFile = true;
      EXPECT_FALSE(useTable(path));
      ASSERT_EQ(log.errors.size(), static_cast<size_t>(c.errors)) << log.joined();
      for (const std::string& e : log.errors) EXPECT_EQ(e, "DBF 32/1012  file=" + path);
    }
    EXPECT_TRUE(call("NETERR").log());
    EXPECT_FALSE(call("AREAUSED").log());
    EXPECT_EQ(vl_rddAreaCount(), 0);
    EXPECT_EQ(vl_rddAliasToArea("DAMAGED"), -1);  // the alias was let go
    EXPECT_EQ(readFile(path), c.bytes);
  }
}

TEST_F(DbfErrors, ARetryReadsTheHeaderAgain) {
  // The handler repairs the file and asks for a retry: the second reading opens the table.
  std::string good = readFile(fixtureDir() + "/tables/CUSTOMER.DBF");
  std::string path = dir.file("REPAIRED.DBF");
  std::string damaged = good;
  damaged[0] = 0x04;
  writeFile(path, damaged);
  ErrorLog log;
  log.retries = 1;
  log.onError = [&] { writeFile(path, good); };
  EXPECT_TRUE(useTable(path));
  EXPECT_EQ(log.joined(), "DBF 32/1012 ");
  EXPECT_EQ(call("LASTREC").num(), 12);
}

TEST_F(DbfErrors, MissingFilesAndMemoFiles) {
  ErrorLog log;
  std::string missing = dir.file("NOWHERE.DBF");
  EXPECT_FALSE(useTable(missing));
  EXPECT_EQ(log.joined(), "DBF 21/1001 ");
  EXPECT_TRUE(call("NETERR").log());
  EXPECT_FALSE(vl_fsFile(missing.c_str()));

  // A table that announces a memo file cannot be used without one: the plain DBF driver has
  // none, and with a memo driver the DBT file is missing. Nothing is created either way.
  log.errors.clear();
  log.withFile = true;
  std::string path = copyFixture(dir, "NODBT.DBF");
  std::string before = readFile(path);
  EXPECT_FALSE(useTable(path));
  // Plain DBF names no memo extension: the memo name is the table's without one.
  EXPECT_EQ(log.joined(), "DBF 21/1001  file=" + dir.file("NODBT"));
  EXPECT_EQ(vl_rddAreaCount(), 0);
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(vl_fsFile(dir.file("NODBT.dbt").c_str()));
}

TEST_F(DbfErrors, ValuesThatDoNotFit) {
  std::string path = dir.file("fit.dbf");
  Item file(path.c_str());
  Item rows = structure({{"N3", "N", 3, 0}, {"I2", "I", 2, 0}, {"C", "C", 4, 0}, {"D", "D", 8, 0}});
  call("DBCREATE", {&file, &rows});
  ASSERT_TRUE(useTable(path));
  call("DBAPPEND");
  assign(2, Item(7));
  ErrorLog log;
  assign(1, Item(1000));  // too wide: the field gets asterisks, the assignment completes
  assign(2, Item(40000)); // too wide for two bytes: the field keeps its value
  assign(3, Item(12));    // a number into a character field
  assign(4, Item("20240101"));
  assign(1, Item(true));
  EXPECT_EQ(log.joined(), "DBF 34/1021 ; DBF 34/1021 ; DBF 33/1020 ; DBF 33/1020 ; DBF 33/1020 ");
  EXPECT_EQ(fieldValue(2).num(), 7);
  EXPECT_EQ(fieldValue(3).str(), "    ");
  call("DBCLOSEAREA");
  std::string bytes = readFile(path);
  EXPECT_EQ(bytes.substr(le16(bytes, 8), 4), " ***");
}

TEST_F(DbfErrors, ReadOnlyAndSharedTablesRefuseWrites) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string before = readFile(path);
  {
    ErrorLog log;
    ASSERT_TRUE(useTable(path, "DBF", nullptr, false, true));
    assign(2, Item("Changed"));
    call("DBDELETE");
    call("DBAPPEND");
    EXPECT_TRUE(call("NETERR").log());
    EXPECT_EQ(log.joined(), "DBF 39/1025 ; DBF 39/1025 ; DBF 39/1025 ");
    call("DBCLOSEAREA");
  }
  {
    // Shared without a lock: "Lock required", nothing stored.
    ErrorLog log;
    ASSERT_TRUE(useTable(path, "DBF", nullptr, true, false));
    assign(2, Item("Changed"));
    EXPECT_EQ(log.joined(), "DBF 38/1022 ");
    EXPECT_EQ(fieldValue(2).str().substr(0, 5), "Alpha");
    call("DBCLOSEAREA");
  }
  EXPECT_EQ(readFile(path), before);
}

TEST_F(DbfErrors, AliasesAndDriversThatCannotBeUsed) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string odd = dir.file("MY-TABLE.DBF");
  writeFile(odd, readFile(path));
  std::string digit = dir.file("1TABLE.DBF");
  writeFile(digit, readFile(path));
  struct Case {
    std::string file;
    const char* alias;
    const char* driver;
    std::string error;
  } cases[] = {
      {path, "A", "DBF", "DBCMD 18/1011 A"},
      {path, "m", "DBF", "DBCMD 18/1011 M"},
      {path, "1ABC", "DBF", "DBCMD 17/1010 1ABC"},
      {odd, nullptr, "DBF", "DBCMD 17/1010 MY-TABLE"},
      {digit, nullptr, "DBF", "DBCMD 17/1010 1TABLE"},
      {path, nullptr, "NOSUCH", "DBCMD 1/1015 DBUSEAREA"},
  };
  for (const Case& c : cases) {
    ErrorLog log;
    EXPECT_FALSE(useTable(c.file, c.driver, c.alias)) << c.error;
    EXPECT_EQ(log.joined(), c.error);
    EXPECT_EQ(vl_rddAreaCount(), 0) << c.error;
  }
  ErrorLog log;
  Item unknown("NOSUCH");
  call("RDDSETDEFAULT", {&unknown});
  EXPECT_STREQ(vl_rddDefaultDriver(), "DBFNTX");
  Item yes(true);
  call("DBUSEAREA", {&yes});  // no file name
  EXPECT_EQ(log.joined(), "DBCMD 1/1015 RDDSETDEFAULT; DBCMD 1/1005 DBUSEAREA");
}

TEST_F(DbfErrors, FunctionsThatNeedATable) {
  ErrorLog log;
  call("DBGOTOP");
  call("DBSKIP");
  Item one(1);
  call("DBGOTO", {&one});
  call("DBAPPEND");
  EXPECT_FALSE(call("DBRLOCK").log());
  Item key("x");
  EXPECT_FALSE(call("DBSEEK", {&key}).log());
  EXPECT_EQ(call("RECNO").num(), 0);  // these answer quietly
  EXPECT_TRUE(call("EOF").log());
  EXPECT_EQ(log.joined(), "DBCMD 35/2001 DBGOTOP; DBCMD 35/2001 DBSKIP; DBCMD 35/2001 DBGOTO; DBCMD 35/2001 DBAPPEND; "
                          "DBCMD 35/2001 DBRLOCK; DBCMD 35/2001 DBSEEK");
}

TEST_F(DbfErrors, SeekingNeedsAnIndexDriver) {
  // Plain DBF has no orders: seek is not supported. A seek without a key is an argument error.
  ASSERT_TRUE(useTable(copyFixture(dir, "CUSTOMER.DBF")));
  ErrorLog log;
  Item key("Alpha");
  EXPECT_FALSE(call("DBSEEK", {&key}).log());
  EXPECT_FALSE(call("DBSEEK").log());
  EXPECT_EQ(log.joined(), "DBF 30/0 ; DBCMD 1/1001 DBSEEK");
}

TEST_F(DbfErrors, FieldsAndAliasesTheVirtualMachineAsksFor) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, "DBF", "CUST"));
  ErrorLog log;
  Item value;
  EXPECT_EQ(vl_rddGetFieldValue(&value.v, vl_dynsymGet("NOFIELD")->symbol), VL_FAILURE);
  Item text("x");
  EXPECT_EQ(vl_rddPutFieldValue(&text.v, vl_dynsymGet("NOFIELD")->symbol), VL_FAILURE);
  EXPECT_EQ(vl_rddSelectWorkAreaSymbol(vl_dynsymGet("NOALIAS")->symbol), VL_FAILURE);
  EXPECT_EQ(vl_rddSelectWorkAreaAlias("NOALIAS"), VL_FAILURE);
  Item pointer;
  vl_itemPutPtr(&pointer.v, &value);
  EXPECT_FALSE(vl_rddSelectAliasItem(&pointer.v));
  EXPECT_EQ(log.joined(), "BASE 14/1003 NOFIELD; BASE 14/1003 NOFIELD; BASE 15/1002 NOALIAS; BASE 15/1002 NOALIAS; "
                          "BASE 1/1065 &");
}

TEST_F(DbfErrors, TheBaseWorkAreaSupportsNoTable) {
  if (!vl_rddFindNode("VLTBASE", nullptr)) {
    ASSERT_EQ(vl_rddRegister("VLTBASE", VL_RDD_TYPE_TABLE), 0);
  }
  ErrorLog log;
  vl_rddSelectWorkAreaNumber(0);
  ASSERT_EQ(vl_rddInsertArea("VLTBASE"), VL_SUCCESS);
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  EXPECT_EQ(VL_SELF(area, goTop), VL_FAILURE);
  EXPECT_EQ(VL_SELF(area, goTo, 1), VL_FAILURE);
  EXPECT_EQ(VL_SELF(area, skip, 1), VL_FAILURE);
  EXPECT_EQ(log.joined(), "???DRIVER 30/0 ; ???DRIVER 30/0 ; ???DRIVER 30/0 ");
  vl_rddReleaseCurrentArea();
}

TEST_F(DbfErrors, AFailedWriteIsReportedAndRetriedLater) {
  std::string path = dir.file("disk.dbf");
  Item file(path.c_str());
  Item rows = structure({{"N", "N", 5, 0}});
  call("DBCREATE", {&file, &rows});
  ASSERT_TRUE(useTable(path));
  for (int i = 1; i <= 10; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
  }
  {
    ErrorLog log;
    vl_fsFaultWriteLimit(0);  // the disk is full
    call("DBCOMMIT");
    EXPECT_EQ(log.joined().substr(0, 12), "DBF 24/1011 ");
    vl_fsFaultReset();
  }
  call("DBCOMMIT");
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path));
  EXPECT_EQ(call("LASTREC").num(), 10);
  Item ten(10);
  call("DBGOTO", {&ten});
  EXPECT_EQ(fieldValue(1).num(), 10);
}

TEST_F(DbfErrors, MemoTablesNeedAMemoDriver) {
  // With plain DBF the memo file cannot be created; the table header is already written, and
  // a 0x30 table announces its memo file with flag bit 1.
  Item type30(0x30), type03(3);
  call("DBFTABLETYPE", {&type30});
  std::string path = dir.file("memo30.dbf");
  Item file(path.c_str()), drv("DBF");
  Item rows = structure({{"NOTE", "M", 4, 0}});
  {
    ErrorLog log;
    call("DBCREATE", {&file, &rows, &drv});
    EXPECT_EQ(log.joined(), "DBF 33/1020 ");
  }
  call("DBFTABLETYPE", {&type03});
  std::string bytes = readFile(path);
  ASSERT_GE(bytes.size(), 32u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0x30);
  EXPECT_EQ(static_cast<uint8_t>(bytes[28]) & 0x02, 0x02);
  EXPECT_EQ(static_cast<uint8_t>(bytes[32 + 16]), 4);
  EXPECT_EQ(vl_rddAreaCount(), 0);
}

TEST_F(DbfErrors, RandomlyDamagedCopiesNeverCrash) {
  // Byte flips (mostly in the header, where they matter most), cut files and garbage tails;
  // each copy either fails to open with errors or reads as sane records.
  const char* tables[] = {"CUSTOMER.DBF", "NUMDEC.DBF", "MAXFLD.DBF", "NOTES.DBF", "DELETED.DBF", "EMPTY.DBF"};
  std::mt19937 rng(20240229);
  int opened = 0, refused = 0;
  for (int round = 0; round < 240; ++round) {
    std::string good = readFile(fixtureDir() + "/tables/" + tables[round % 6]);
    std::string bytes = good;
    int kind = round % 4;
    if (kind == 0 || kind == 3) {
      int flips = 1 + static_cast<int>(rng() % 6);
      for (int k = 0; k < flips; ++k) {
        size_t limit = rng() % 3 == 0 ? bytes.size() : std::min<size_t>(bytes.size(), 300);
        bytes[rng() % limit] = static_cast<char>(rng());
      }
    }
    if (kind == 1 || kind == 3) bytes.resize(rng() % (bytes.size() + 1));
    if (kind == 2) {
      for (int k = 0; k < 100; ++k) bytes.push_back(static_cast<char>(rng()));
    }
    std::string path = dir.file("FUZZ.DBF");
    writeFile(path, bytes);
    ErrorLog log;
    if (!useTable(path, "DBF", nullptr, false, true)) {
      ++refused;
      EXPECT_FALSE(log.errors.empty()) << round;
      EXPECT_EQ(vl_rddAreaCount(), 0) << round;
      continue;
    }
    ++opened;
    VlDbfArea* a = vl_dbfArea(vl_rddGetCurrentWorkAreaPointer());
    uint64_t fits = bytes.size() > a->headerLen ? (bytes.size() - a->headerLen) / a->recordLen : 0;
    EXPECT_LE(a->recCount, fits) << round;
    Dump d = dumpCurrentArea("FUZZ.DBF", "");
    EXPECT_EQ(d.values.size(), a->recCount) << round;
    call("DBGOBOTTOM");
    for (uint32_t n = 0; n < a->recCount && !call("BOF").log(); ++n) {
      for (uint16_t i = 1; i <= a->area.fieldCount; ++i) fieldValue(i);
      Item back(-1);
      call("DBSKIP", {&back});
    }
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), bytes) << round;
  }
  EXPECT_GT(opened, 20);
  EXPECT_GT(refused, 20);
}

// The DBT memo driver: the memo file's bytes (header, blocks, end bytes, block numbers in the
// record), memo texts of tables written by other programs read back byte for byte, damaged
// memo files read without crossing their end, and the errors of the memo layer.
#include <gtest/gtest.h>

#include "platform/filesys.h"
#include "rdd/dbf1.h"
#include "rtl/set.h"
#include "table_ops.h"

using namespace rddtest;
using namespace tableops;

namespace {

uint32_t le32(const std::string& b, size_t i) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b.at(i))) | (static_cast<uint32_t>(static_cast<uint8_t>(b.at(i + 1))) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b.at(i + 2))) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b.at(i + 3))) << 24);
}

// A memo value as the dumps print it: quoted, bytes outside printable ASCII escaped, nothing cut.
std::string quoted(const std::string& s) {
  std::string body = escapeText(s + "|");
  return "\"" + body.substr(0, body.size() - 1) + "\"";
}

class DbtMemo : public ::testing::Test {
 protected:
  void SetUp() override { vl_rddSelectWorkAreaNumber(1); }
  void TearDown() override {
    vl_rddCloseAll();
    vl_fsFaultReset();
    vl_vmRequestReset();
  }
  TempDir dir;

  // A table ID N4, NOTE M10 (or M4) created and opened exclusively with the default driver.
  std::string memoTable(const char* name, int memoLen = 10) {
    std::string path = dir.file(name);
    Item rows = structure({{"ID", "N", 4, 0}, {"NOTE", "M", memoLen, 0}});
    EXPECT_TRUE(createTable(path, rows));
    EXPECT_TRUE(useTable(path, nullptr));
    return path;
  }
  // The 10 bytes of the memo field of record rec in the data file.
  std::string memoField(const std::string& path, int rec, int len = 10) {
    std::string b = readFile(path);
    size_t header = static_cast<uint8_t>(b[8]) | (static_cast<uint8_t>(b[9]) << 8);
    size_t recLen = static_cast<uint8_t>(b[10]) | (static_cast<uint8_t>(b[11]) << 8);
    return b.substr(header + (rec - 1) * recLen + 1 + 4, len);
  }
};

std::string dbtOf(const std::string& dbf) { return dbf.substr(0, dbf.size() - 4) + ".dbt"; }

}  // namespace

TEST_F(DbtMemo, NewMemoFileAndBlockAllocation) {
  std::string path = memoTable("memo1.dbf");
  std::string dbt = dbtOf(path);
  std::string fresh = readFile(dbt);
  ASSERT_EQ(fresh.size(), 512u);
  EXPECT_EQ(fresh.substr(0, 4), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(fresh.substr(4), std::string(508, '\0'));
  EXPECT_EQ(static_cast<uint8_t>(readFile(path)[0]), 0x83);

  // Ten bytes into a record without memo: block 1, padded with 0x1A, next free block 2.
  call("DBAPPEND");
  assign(1, Item(1));
  assign(2, std::string("0123456789"));
  call("DBCOMMIT");
  std::string b = readFile(dbt);
  ASSERT_EQ(b.size(), 1024u);
  EXPECT_EQ(le32(b, 0), 2u);
  EXPECT_EQ(b.substr(512, 10), "0123456789");
  EXPECT_EQ(b.substr(522), std::string(502, '\x1A'));
  EXPECT_EQ(memoField(path, 1), "         1");

  // 600 bytes in a second record: two blocks.
  call("DBAPPEND");
  assign(2, std::string(600, 'x'));
  call("DBCOMMIT");
  b = readFile(dbt);
  EXPECT_EQ(le32(b, 0), 4u);
  EXPECT_EQ(memoField(path, 2), "         2");
  EXPECT_EQ(b.size(), 2048u);

  // 100 bytes over it: in place; 511 bytes: new blocks; empty: block 0, blanks.
  assign(2, std::string(100, 'y'));
  call("DBCOMMIT");
  b = readFile(dbt);
  EXPECT_EQ(le32(b, 0), 4u);
  EXPECT_EQ(memoField(path, 2), "         2");
  EXPECT_EQ(b.substr(1024, 101), std::string(100, 'y') + "\x1A");
  assign(2, std::string(511, 'z'));
  call("DBCOMMIT");
  EXPECT_EQ(le32(readFile(dbt), 0), 5u);
  EXPECT_EQ(memoField(path, 2), "         4");
  EXPECT_EQ(text(2), std::string(511, 'z'));
  assign(2, std::string());
  call("DBCOMMIT");
  EXPECT_EQ(memoField(path, 2), "          ");
  EXPECT_EQ(text(2), "");
  EXPECT_EQ(fieldValue(2).v.type & VL_IT_MEMOFLAG, VL_IT_MEMOFLAG);

  // A text of exactly one block gets a whole block of end bytes after it.
  assign(2, std::string(512, 'q'));
  call("DBCOMMIT");
  EXPECT_EQ(le32(readFile(dbt), 0), 7u);

  // Lengths as the memo layer counts them.
  goTo(1);
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  uint32_t len = 0;
  EXPECT_EQ(VL_SELF(area, getVarLen, 2, &len), VL_SUCCESS);
  EXPECT_EQ(len, 10u);
  Item memoExt(37);
  EXPECT_EQ(call("DBINFO", {&memoExt}).str(), ".dbt");
}

TEST_F(DbtMemo, BinaryBlockNumbersAndReopening) {
  std::string path = memoTable("bin.dbf", 4);
  for (int i = 1; i <= 3; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
    assign(2, std::string(static_cast<size_t>(i) * 300, static_cast<char>('a' + i)));
  }
  call("DBCLOSEAREA");
  EXPECT_EQ(memoField(path, 1, 4), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(memoField(path, 2, 4), std::string("\x02\x00\x00\x00", 4));
  EXPECT_EQ(memoField(path, 3, 4), std::string("\x04\x00\x00\x00", 4));
  ASSERT_TRUE(useTable(path, nullptr));
  for (int i = 1; i <= 3; ++i) {
    goTo(i);
    EXPECT_EQ(text(2), std::string(static_cast<size_t>(i) * 300, static_cast<char>('a' + i)));
  }
}

TEST_F(DbtMemo, TablesOfOtherProgramsReadByteForByte) {
  for (const char* table : {"NOTES.DBF", "MEMOPERL.DBF", "DELMEMO.DBF", "orders.dbf", "NAME10.DBF", "EMPTYMEM.DBF"}) {
    SCOPED_TRACE(table);
    std::string name = table;
    std::string path = copyFixture(dir, name);
    std::string memoName = name.substr(0, name.size() - 4) + (name == "orders.dbf" ? ".dbt" : ".DBT");
    std::string memoPath = copyFixture(dir, memoName);
    std::string before = readFile(path), memoBefore = readFile(memoPath);
    Dump want = parseDump(readFile(fixtureDir() + "/dumps/" + name.substr(0, name.size() - 4) + ".txt"));
    ASSERT_TRUE(useTable(path, nullptr, nullptr, false, true));
    int memoField = 0;
    for (size_t k = 0; k < want.fields.size(); ++k)
      if (want.fields[k].type == 'M') memoField = static_cast<int>(k + 1);
    ASSERT_NE(memoField, 0);
    ASSERT_EQ(lastRec(), static_cast<int>(want.values.size()));
    for (size_t r = 0; r < want.values.size(); ++r) {
      goTo(static_cast<int>(r + 1));
      EXPECT_EQ(quoted(text(memoField)), want.values[r][memoField - 1]) << "record " << r + 1;
    }
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(readFile(memoPath), memoBefore);
  }
}

TEST_F(DbtMemo, DamagedMemoFilesReadOnlyWhatExists) {
  // BADMEMO: record 3 points at block 9999, far past the end of the file.
  std::string path = copyFixture(dir, "BADMEMO.DBF");
  copyFixture(dir, "BADMEMO.DBT");
  Dump notes = parseDump(readFile(fixtureDir() + "/dumps/NOTES.txt"));
  {
    ErrorLog log;
    ASSERT_TRUE(useTable(path, nullptr, nullptr, false, true));
    for (int r = 1; r <= 11; ++r) {
      goTo(r);
      if (r == 3) EXPECT_EQ(text(3), "");
      else EXPECT_EQ(quoted(text(3)), notes.values[r - 1][2]) << r;
    }
    EXPECT_EQ(log.joined(), "");
    call("DBCLOSEAREA");
  }
  // A last text without its end byte reads up to the end of the file; a memo file cut inside
  // a text gives the bytes that are there.
  std::string mpath = memoTable("cut.dbf");
  call("DBAPPEND");
  assign(2, std::string(700, 'k'));
  call("DBAPPEND");
  assign(2, std::string(40, 'm'));
  call("DBCLOSEAREA");
  std::string dbt = readFile(dbtOf(mpath));
  writeFile(dbtOf(mpath), dbt.substr(0, 512 * 3 + 40));  // the 0x1A after "m..." is gone
  ASSERT_TRUE(useTable(mpath, nullptr));
  goTo(2);
  EXPECT_EQ(text(2), std::string(40, 'm'));
  writeFile(dbtOf(mpath), dbt.substr(0, 512 + 300));
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(mpath, nullptr));
  EXPECT_EQ(text(2), std::string(300, 'k'));
  goTo(2);
  EXPECT_EQ(text(2), "");
  // Writing after a cut file goes behind what is there, never over a text.
  assign(2, std::string(20, 'n'));
  call("DBCOMMIT");
  goTo(1);
  EXPECT_EQ(text(2), std::string(300, 'k'));
  goTo(2);
  EXPECT_EQ(text(2), std::string(20, 'n'));
}

TEST_F(DbtMemo, AHeaderThatClaimsTooLittleNeverLetsATextBeOverwritten) {
  std::string path = memoTable("low.dbf");
  call("DBAPPEND");
  assign(2, std::string(1500, 'a'));
  call("DBCLOSEAREA");
  std::string dbt = readFile(dbtOf(path));
  dbt[0] = 0;  // next free block 0: the header block itself
  writeFile(dbtOf(path), dbt);
  ASSERT_TRUE(useTable(path, nullptr));
  call("DBAPPEND");
  assign(2, std::string("second"));
  call("DBCOMMIT");
  goTo(1);
  EXPECT_EQ(text(2), std::string(1500, 'a'));
  goTo(2);
  EXPECT_EQ(text(2), "second");
  EXPECT_EQ(memoField(path, 2), "         4");  // after the three blocks of the first text
}

TEST_F(DbtMemo, MissingMemoFileFailsTheOpenAndCreatesNothing) {
  ErrorLog log;
  log.withFile = true;
  std::string path = copyFixture(dir, "NODBT.DBF");
  std::string before = readFile(path);
  EXPECT_FALSE(useTable(path, nullptr));
  EXPECT_EQ(log.joined(), "DBFNTX 21/1001  file=" + dir.file("NODBT.dbt"));
  EXPECT_TRUE(call("NETERR").log());
  EXPECT_EQ(vl_rddAreaCount(), 0);
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(vl_fsFile(dir.file("NODBT.dbt").c_str()));
}

TEST_F(DbtMemo, ErrorsOfTheMemoLayer) {
  std::string path = memoTable("err.dbf");
  call("DBAPPEND");
  assign(2, std::string("kept"));
  call("DBCOMMIT");
  {
    ErrorLog log;
    assign(2, Item(5));  // not a text
    EXPECT_EQ(log.joined(), "DBFNTX 33/1020 ");
    EXPECT_EQ(text(2), "kept");
  }
  {
    // A failing write keeps the old text and its block number.
    ErrorLog log;
    vl_fsFaultWriteLimit(10);
    assign(2, std::string(2000, 'w'));
    vl_fsFaultReset();
    EXPECT_EQ(log.joined(), "DBFNTX 24/1011 ");
    EXPECT_EQ(text(2), "kept");
  }
  {
    // The memo driver's create error, retried on request.
    ErrorLog log;
    log.retries = 1;
    std::string other = dir.file("cre.dbf");
    Item rows = structure({{"NOTE", "M", 10, 0}});
    vl_fsFaultFailNth(VL_FSF_OPEN, 2, VL_FERR_ACCESS);  // the data file opens, the memo file not
    EXPECT_TRUE(createTable(other, rows));
    EXPECT_EQ(log.joined(), "DBFNTX 20/1004 ");
    EXPECT_EQ(readFile(dbtOf(other)).size(), 512u);
  }
}

TEST_F(DbtMemo, AMemoLockThatCannotBeHadIsALockFailure) {
  std::string path = memoTable("lk.dbf");
  call("DBAPPEND");
  assign(2, std::string("kept"));
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path, nullptr, nullptr, true));
  ASSERT_TRUE(rlock(1));
  ErrorLog log;
  vl_fsFaultFailNth(VL_FSF_LOCK, 1, VL_FERR_INVALID_HANDLE);
  Item unread = fieldValue(2);
  EXPECT_TRUE(VL_IS_NIL(&unread.v));
  vl_fsFaultFailNth(VL_FSF_LOCK, 1, VL_FERR_INVALID_HANDLE);
  assign(2, std::string("not written"));
  vl_fsFaultReset();
  EXPECT_EQ(log.joined(), "DBFNTX 41/1038 ; DBFNTX 41/1038 ");
  EXPECT_EQ(text(2), "kept");
  // In shared mode each new text writes the header's next free block at once.
  assign(2, std::string(600, 's'));
  EXPECT_EQ(le32(readFile(dbtOf(path)), 0), 4u);
}

TEST_F(DbtMemo, SharedTablesLockTheMemoFile) {
  std::string path = memoTable("sh.dbf");
  call("DBAPPEND");
  assign(2, std::string("first"));
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path, nullptr, nullptr, true));
  ASSERT_TRUE(rlock(1));
  assign(2, std::string("second text"));
  call("DBCOMMIT");
  EXPECT_EQ(text(2), "second text");
  // The memo lock is released after each write: another handle can lock byte 0 at once.
  VlFHandle h = vl_fsOpen(dbtOf(path).c_str(), VL_FO_READWRITE | VL_FO_DENYNONE);
  ASSERT_NE(h, VL_FS_ERROR);
  EXPECT_TRUE(vl_fsLock(h, 0, 1, VL_FL_LOCK));
  {
    // While another handle holds it, a read that cannot get the lock would wait: a shared
    // lock of the other handle lets readers in.
    EXPECT_TRUE(vl_fsLock(h, 0, 1, VL_FL_UNLOCK));
    EXPECT_TRUE(vl_fsLock(h, 0, 1, VL_FL_LOCK | VL_FL_SHARED));
    EXPECT_EQ(text(2), "second text");
    EXPECT_TRUE(vl_fsLock(h, 0, 1, VL_FL_UNLOCK));
  }
  vl_fsClose(h);
}

TEST_F(DbtMemo, TextsAreKeptInTheTablesCodePage) {
  // Two pages with the same letters at different byte values: the program runs in one, the
  // table is opened in the other. The text is stored converted and ends with one end byte.
  static VlCodePage program{"VLM1", "memo-1", "\x80\x81", "\x82\x83", 0, {}, {}, {}, {}, {}};
  static VlCodePage table{"VLM2", "memo-2", "\x90\x91", "\x92\x93", 0, {}, {}, {}, {}, {}};
  if (!vl_cdpFind("VLM1")) {
    ASSERT_TRUE(vl_cdpRegister(&program));
    ASSERT_TRUE(vl_cdpRegister(&table));
  }
  std::string path = memoTable("cp.dbf");
  call("DBCLOSEAREA");
  const VlCodePage* previous = vl_cdpSelect(vl_cdpFind("VLM1"));
  Item yes(true), file(path.c_str()), page("VLM2");
  call("DBUSEAREA", {&yes, nullptr, &file, nullptr, nullptr, nullptr, &page});
  EXPECT_FALSE(call("NETERR").log());
  call("DBAPPEND");
  assign(2, std::string("\x80\x82" "ab"));
  call("DBCOMMIT");
  EXPECT_EQ(text(2), "\x80\x82" "ab");
  call("DBCLOSEAREA");
  vl_cdpSelect(previous);
  std::string b = readFile(dbtOf(path));
  EXPECT_EQ(b.substr(512), "\x90\x92" "ab\x1A");
  EXPECT_EQ(le32(b, 0), 2u);
}

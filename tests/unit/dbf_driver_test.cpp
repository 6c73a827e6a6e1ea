// The DBF driver through the language functions: creating tables (the bytes written), reading and
// writing every field type, positioning and its end position, deletion flags, the hot buffer,
// the header rewrite, the record count rule, and tables read back by a third-party reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "rdd/dbfformat.h"
#include "rdd_util.h"
#include "rtl/cdp.h"
#include "rtl/set.h"

using namespace rddtest;

namespace {

class DbfDriver : public ::testing::Test {
 protected:
  void TearDown() override {
    vl_rddCloseAll();
    vl_set.deleted = false;
  }
  TempDir dir;

  void create(const std::string& path, const Item& fields, const char* driver = nullptr) {
    Item file(path.c_str()), drv(driver ? driver : "");
    call("DBCREATE", {&file, &fields, driver ? &drv : nullptr});
    ASSERT_FALSE(call("NETERR").log());
  }
};

uint8_t byteAt(const std::string& bytes, size_t i) { return static_cast<uint8_t>(bytes.at(i)); }
uint32_t le32(const std::string& bytes, size_t i) {
  return byteAt(bytes, i) | (byteAt(bytes, i + 1) << 8) | (byteAt(bytes, i + 2) << 16) |
         (static_cast<uint32_t>(byteAt(bytes, i + 3)) << 24);
}
uint16_t le16(const std::string& bytes, size_t i) { return static_cast<uint16_t>(byteAt(bytes, i) | (byteAt(bytes, i + 1) << 8)); }

Item fieldValue(int n) {
  Item index(n);
  return call("FIELDVALUE", {&index});
}

void assign(int n, const Item& value) {
  Item index(n);
  call("FIELDASSIGN", {&index, &value});
}

double recNo() { return call("RECNO").num(); }
bool isBof() { return call("BOF").log(); }
bool isEof() { return call("EOF").log(); }
void skip(int n) {
  Item count(n);
  call("DBSKIP", {&count});
}
void goTo(int n) {
  Item rec(n);
  call("DBGOTO", {&rec});
}

}  // namespace

TEST_F(DbfDriver, NewTableWithALongCharacterField) {
  std::string path = dir.file("long.dbf");
  create(path, structure({{"TEXT", "C", 300, 0}}));
  std::string bytes = readFile(path);
  ASSERT_EQ(bytes.size(), 67u);
  EXPECT_EQ(byteAt(bytes, 0), 0x03);
  EXPECT_EQ(le32(bytes, 4), 0u);
  EXPECT_EQ(le16(bytes, 8), 66);
  EXPECT_EQ(le16(bytes, 10), 301);
  EXPECT_EQ(byteAt(bytes, 32 + 16), 0x2C);
  EXPECT_EQ(byteAt(bytes, 32 + 17), 0x01);
  EXPECT_EQ(byteAt(bytes, 64), 0x0D);
  EXPECT_EQ(byteAt(bytes, 65), 0x00);
  EXPECT_EQ(byteAt(bytes, 66), 0x1A);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(byteAt(bytes, 1), local.tm_year % 256);
  EXPECT_EQ(byteAt(bytes, 2), local.tm_mon + 1);

  ASSERT_TRUE(useTable(path));
  call("DBAPPEND");
  std::string text(300, 'q');
  text[299] = 'z';
  assign(1, Item(text.c_str()));
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path));
  EXPECT_EQ(fieldValue(1).str(), text);
}

TEST_F(DbfDriver, TableTypeThirtyHeaders) {
  Item type30(0x30), bad(4);
  EXPECT_EQ(call("DBFTABLETYPE", {&type30}).num(), 3);
  EXPECT_EQ(call("DBFTABLETYPE", {&bad}).num(), 0x30);  // 4 is not a table type: ignored
  std::string path = dir.file("t30.dbf");
  create(path, structure({{"N", "N", 5, 0}, {"C", "C", 2, 0}}));
  Item type03(3);
  call("DBFTABLETYPE", {&type03});
  std::string bytes = readFile(path);
  EXPECT_EQ(byteAt(bytes, 0), 0x30);
  EXPECT_EQ(le16(bytes, 8), 32 + 64 + 1);
  EXPECT_EQ(byteAt(bytes, 96), 0x0D);
  EXPECT_EQ(byteAt(bytes, 97), 0x1A);
  EXPECT_EQ(bytes.size(), 98u);
  EXPECT_EQ(byteAt(bytes, 28), 0);  // no memo fields: no memo flag
  ASSERT_TRUE(useTable(path));
  call("DBAPPEND");
  assign(1, Item(42));
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path));
  EXPECT_EQ(fieldValue(1).num(), 42);
}

TEST_F(DbfDriver, EveryFieldTypeRoundTrips) {
  std::string path = dir.file("types.dbf");
  create(path, structure({{"C10", "C", 10, 0},
                          {"N102", "N", 10, 2},
                          {"N5", "N", 5, 0},
                          {"F8", "F", 8, 3},
                          {"L", "L", 1, 0},
                          {"D8", "D", 8, 0},
                          {"D3", "D", 3, 0},
                          {"I1", "I", 1, 0},
                          {"I2", "2", 0, 0},
                          {"I3", "I", 3, 0},
                          {"I4", "4", 0, 0},
                          {"I8", "I", 8, 0},
                          {"B", "B", 8, 2},
                          {"B8", "8", 8, 0}}));
  ASSERT_TRUE(useTable(path));
  Item s = call("DBSTRUCTURE");
  const char* letters = "CNNNLDDIIIIIBB";
  const int lengths[] = {10, 10, 5, 8, 1, 8, 3, 1, 2, 3, 4, 8, 8, 8};
  ASSERT_EQ(vl_arrayLen(&s.v), 14u);
  for (uint32_t i = 1; i <= 14; ++i) {
    VlItem* row = vl_arrayGetItemPtr(&s.v, i);
    EXPECT_EQ(vl_arrayGetCPtr(row, 2)[0], letters[i - 1]) << i;
    EXPECT_EQ(vl_arrayGetNI(row, 3), lengths[i - 1]) << i;
  }
  EXPECT_EQ(call("RECORDSIZE").num(), 1 + 10 + 10 + 5 + 8 + 1 + 8 + 3 + 1 + 2 + 3 + 4 + 8 + 8 + 8);

  Item day = dateItem(2024, 2, 29);
  Item bigInt;
  vl_itemPutNLL(&bigInt.v, -5000000000LL);
  call("DBAPPEND");
  const Item values[] = {Item("hello"), Item(-1234.5), Item(99999), Item(-1.125), Item(true), day, day,
                         Item(-100),    Item(-32768),  Item(8388607), Item(2147483647), bigInt, Item(3.25),
                         Item(1e100)};
  for (int i = 0; i < 14; ++i) assign(i + 1, values[i]);
  call("DBCLOSEAREA");

  // The 3-byte date holds the day number in binary.
  std::string bytes = readFile(path);
  size_t d3 = le16(bytes, 8) + 1 + 10 + 10 + 5 + 8 + 1 + 8;
  int32_t jd = vl_dateEncode(2024, 2, 29);
  EXPECT_EQ(byteAt(bytes, d3) | (byteAt(bytes, d3 + 1) << 8) | (byteAt(bytes, d3 + 2) << 16), jd);

  ASSERT_TRUE(useTable(path));
  EXPECT_EQ(fieldValue(1).str(), "hello     ");
  EXPECT_EQ(fieldValue(2).num(), -1234.5);
  EXPECT_EQ(fieldValue(3).num(), 99999);
  EXPECT_EQ(fieldValue(4).num(), -1.125);
  EXPECT_TRUE(fieldValue(5).log());
  EXPECT_EQ(fieldValue(6).day(), jd);
  EXPECT_EQ(fieldValue(7).day(), jd);
  EXPECT_EQ(fieldValue(8).num(), -100);
  EXPECT_EQ(fieldValue(9).num(), -32768);
  EXPECT_EQ(fieldValue(10).num(), 8388607);
  EXPECT_EQ(fieldValue(11).num(), 2147483647);
  EXPECT_EQ(fieldValue(12).integer(), -5000000000LL);
  EXPECT_EQ(fieldValue(13).num(), 3.25);
  EXPECT_EQ(fieldValue(14).num(), 1e100);
}

TEST_F(DbfDriver, CharacterValuesAreCutOrPadded) {
  std::string path = dir.file("chars.dbf");
  create(path, structure({{"A", "C", 4, 0}, {"B", "C", 4, 0}}));
  ASSERT_TRUE(useTable(path));
  call("DBAPPEND");
  assign(1, Item("abcdefg"));
  assign(2, Item("x"));
  call("DBCLOSEAREA");
  std::string bytes = readFile(path);
  EXPECT_EQ(bytes.substr(le16(bytes, 8), 9), " abcdx   ");
}

TEST_F(DbfDriver, PositioningAndTheEndPosition) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path));
  EXPECT_EQ(call("LASTREC").num(), 12);
  EXPECT_EQ(recNo(), 1);
  skip(-1);  // before the first record: stays on record 1
  EXPECT_EQ(recNo(), 1);
  EXPECT_TRUE(isBof());
  EXPECT_FALSE(isEof());
  skip(1);
  EXPECT_EQ(recNo(), 2);
  EXPECT_FALSE(isBof());

  for (int target : {0, 13, 1000}) {
    goTo(target);
    EXPECT_EQ(recNo(), 13) << target;
    EXPECT_TRUE(isBof()) << target;
    EXPECT_TRUE(isEof()) << target;
    EXPECT_EQ(fieldValue(2).str(), std::string(25, ' '));  // the blank record
    EXPECT_EQ(fieldValue(1).num(), 0);
    EXPECT_FALSE(call("DELETED").log());
  }
  skip(-1);  // from the end position back onto the last record
  EXPECT_EQ(recNo(), 12);
  EXPECT_FALSE(isEof());
  call("DBGOBOTTOM");
  EXPECT_EQ(recNo(), 12);
  skip(1);
  EXPECT_TRUE(isEof());
  EXPECT_EQ(recNo(), 13);
  call("DBGOTOP");
  skip(5);
  EXPECT_EQ(recNo(), 6);
  skip(-3);
  EXPECT_EQ(recNo(), 3);
  skip(100);
  EXPECT_TRUE(isEof());
  skip(-100);
  EXPECT_TRUE(isBof());
  EXPECT_EQ(recNo(), 1);
}

TEST_F(DbfDriver, AssigningAtTheEndPositionStoresNothing) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string before = readFile(path);
  ASSERT_TRUE(useTable(path));
  goTo(0);
  assign(2, Item("Nobody"));
  EXPECT_EQ(call("LASTREC").num(), 12);
  call("DBDELETE");
  call("DBCLOSEAREA");
  EXPECT_EQ(readFile(path), before);
}

TEST_F(DbfDriver, SkippingHidesDeletedRecordsWhenAsked) {
  std::string path = copyFixture(dir, "DELETED.DBF");
  ASSERT_TRUE(useTable(path));
  vl_set.deleted = true;
  call("DBGOTOP");
  std::vector<int> seen;
  while (!isEof()) {
    seen.push_back(static_cast<int>(recNo()));
    skip(1);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 4, 6, 7, 8, 9, 10, 11}));
  call("DBGOBOTTOM");
  EXPECT_EQ(recNo(), 11);  // record 12 is deleted
  skip(-1);
  EXPECT_EQ(recNo(), 10);
  goTo(4);
  skip(-2);
  EXPECT_EQ(recNo(), 1);  // record 2 is skipped on the way

  // No record passes: both directions end at the end position.
  vl_set.deleted = false;
  for (int r = 1; r <= 12; ++r) {
    goTo(r);
    call("DBDELETE");
  }
  vl_set.deleted = true;
  call("DBGOTOP");
  EXPECT_TRUE(isEof());
  EXPECT_EQ(recNo(), 13);
  call("DBGOBOTTOM");
  EXPECT_TRUE(isEof());
  EXPECT_EQ(recNo(), 13);
  goTo(5);
  skip(-1);
  EXPECT_TRUE(isBof());
  EXPECT_TRUE(isEof());  // not a blank record passing for a real one
  EXPECT_EQ(recNo(), 13);
  goTo(5);
  skip(1);
  EXPECT_TRUE(isEof());
}

TEST_F(DbfDriver, AnEmptyTableIsAtBothEnds) {
  std::string path = copyFixture(dir, "EMPTY.DBF");
  ASSERT_TRUE(useTable(path));
  EXPECT_TRUE(isBof());
  EXPECT_TRUE(isEof());
  EXPECT_EQ(recNo(), 1);
  skip(-1);
  EXPECT_TRUE(isBof());
  EXPECT_TRUE(isEof());
  skip(1);
  EXPECT_TRUE(isEof());
  EXPECT_EQ(recNo(), 1);
}

TEST_F(DbfDriver, DeletionFlagsIncludingEncryptedMarkers) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string bytes = readFile(path);
  size_t hl = le16(bytes, 8), rl = le16(bytes, 10);
  bytes[hl + 1 * rl] = 'E';  // record 2: encrypted, active
  bytes[hl + 2 * rl] = 'D';  // record 3: encrypted, deleted
  writeFile(path, bytes);
  ASSERT_TRUE(useTable(path));
  goTo(2);
  EXPECT_FALSE(call("DELETED").log());
  call("DBDELETE");
  EXPECT_TRUE(call("DELETED").log());
  goTo(3);
  EXPECT_TRUE(call("DELETED").log());
  call("DBRECALL");
  EXPECT_FALSE(call("DELETED").log());
  goTo(4);
  call("DBDELETE");
  goTo(5);
  call("DBDELETE");
  assign(2, Item("Delta"));  // storing a value rewrites the flag from the deleted state
  call("DBCLOSEAREA");
  bytes = readFile(path);
  EXPECT_EQ(bytes[hl + 1 * rl], 'D');
  EXPECT_EQ(bytes[hl + 2 * rl], 'E');
  EXPECT_EQ(bytes[hl + 3 * rl], '*');
  EXPECT_EQ(bytes[hl + 4 * rl], '*');
}

TEST_F(DbfDriver, LogicalLettersAndBlankValues) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string bytes = readFile(path);
  size_t hl = le16(bytes, 8), rl = le16(bytes, 10);
  size_t active = 1 + 6 + 25 + 15 + 10;
  const char letters[] = {'y', 'Y', 't', 'n', ' ', '?'};
  for (int r = 0; r < 6; ++r) bytes[hl + r * rl + active] = letters[r];
  writeFile(path, bytes);
  ASSERT_TRUE(useTable(path));
  const bool want[] = {true, true, true, false, false, false};
  for (int r = 0; r < 6; ++r) {
    goTo(r + 1);
    EXPECT_EQ(fieldValue(5).log(), want[r]) << letters[r];
  }
  goTo(3);  // record 3 holds blank BALANCE? no: a blank date and a "?" logical
  EXPECT_EQ(fieldValue(6).day(), 0);
  goTo(4);  // a blank number reads as 0 with the field's width
  Item balance = fieldValue(4);
  int width = 0, dec = 0;
  vl_itemGetNLen(&balance.v, &width, &dec);
  EXPECT_EQ(balance.num(), 0);
  EXPECT_EQ(width, 7);
  EXPECT_EQ(dec, 2);
}

TEST_F(DbfDriver, ChangesStayInTheBufferUntilTheRecordIsLeft) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path));
  std::string before = readFile(path);
  size_t hl = le16(before, 8), rl = le16(before, 10);
  goTo(3);
  assign(2, Item("Changed"));
  EXPECT_EQ(fieldValue(2).str().substr(0, 7), "Changed");
  EXPECT_EQ(readFile(path), before);  // hot: not written yet
  call("DBCOMMIT");
  std::string after = readFile(path);
  EXPECT_EQ(after.substr(hl + 2 * rl + 7, 7), "Changed");
  goTo(4);
  assign(2, Item("Moved"));
  skip(1);  // leaving the record writes it (an exclusive table collects such writes)
  goTo(4);
  EXPECT_EQ(fieldValue(2).str().substr(0, 5), "Moved");
  call("DBCLOSEAREA");
  EXPECT_EQ(readFile(path).substr(hl + 3 * rl + 7, 5), "Moved");
}

TEST_F(DbfDriver, ExclusiveCloseRewritesTheHeaderAndTheEnd) {
  // A table with garbage after its end-of-file byte: reading changes nothing, but a changed
  // table is closed with a true count, today's date and the end-of-file byte right after its
  // last record.
  std::string path = copyFixture(dir, "GARBAGE.DBF");
  std::string before = readFile(path);
  size_t hl = le16(before, 8), rl = le16(before, 10);
  ASSERT_TRUE(useTable(path));
  goTo(12);
  call("DBAPPEND");
  assign(1, Item(13));
  EXPECT_EQ(call("LASTREC").num(), 13);
  call("DBCLOSEAREA");
  std::string after = readFile(path);
  ASSERT_EQ(after.size(), hl + 13 * rl + 1);
  EXPECT_EQ(byteAt(after, after.size() - 1), 0x1A);
  EXPECT_EQ(le32(after, 4), 13u);
  EXPECT_EQ(after.substr(0, 1), before.substr(0, 1));
  EXPECT_EQ(after.substr(32, hl - 32), before.substr(32, hl - 32));   // descriptors untouched
  EXPECT_EQ(after.substr(hl, 12 * rl), before.substr(hl, 12 * rl));   // the records too
  EXPECT_EQ(after.substr(hl + 12 * rl, 7), "     13");
}

TEST_F(DbfDriver, RecordCountComesFromTheFileSize) {
  std::string path = dir.file("count.dbf");
  create(path, structure({{"N", "N", 4, 0}}));
  ASSERT_TRUE(useTable(path));
  for (int i = 1; i <= 100; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
  }
  call("DBCLOSEAREA");
  std::string full = readFile(path);
  size_t hl = le16(full, 8), rl = le16(full, 10);
  struct Case {
    const char* what;
    uint32_t headerCount;
    size_t keepRecords;    // whole records left in the file
    size_t partialBytes;   // bytes of one more record
    int eofAt;             // position whose flag byte becomes 0x1A, -1 none
    double want;
  } cases[] = {
      {"header 100, 98 records and a partial one", 100, 98, 3, -1, 98},
      {"header 90, 100 records without an end byte", 90, 100, 0, -1, 100},
      {"header 90, end byte at 95", 90, 100, 0, 95, 95},
      {"header 90, end byte at 80 (before the count)", 90, 100, 0, 80, 100},
      {"header 0, end byte at 0", 0, 100, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string bytes = full.substr(0, hl + c.keepRecords * rl + c.partialBytes);
    bytes[4] = static_cast<char>(c.headerCount & 0xFF);
    bytes[5] = static_cast<char>(c.headerCount >> 8);
    if (c.eofAt >= 0) bytes[hl + c.eofAt * rl] = 0x1A;
    std::string damaged = dir.file("damaged.dbf");
    writeFile(damaged, bytes);
    ASSERT_TRUE(useTable(damaged, "DBF", "DAMAGED")) << c.what;
    EXPECT_EQ(call("LASTREC").num(), c.want) << c.what;
    call("DBGOBOTTOM");
    EXPECT_EQ(recNo(), c.want > 0 ? c.want : 1) << c.what;  // an empty table's end position is 1
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(damaged), bytes) << c.what;
  }
}

TEST_F(DbfDriver, ReadAheadStaysCoherentWithWrites) {
  std::string path = dir.file("many.dbf");
  create(path, structure({{"N", "N", 8, 0}, {"PAD", "C", 90, 0}}));
  ASSERT_TRUE(useTable(path));
  const int count = 3000;  // several read-ahead blocks
  for (int i = 1; i <= count; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
  }
  call("DBGOTOP");
  long sum = 0;
  while (!isEof()) {
    int n = static_cast<int>(recNo());
    EXPECT_EQ(fieldValue(1).num(), n);
    if (n % 700 == 0) assign(1, Item(-n));  // written while its block is cached
    sum += static_cast<long>(fieldValue(1).num());
    skip(1);
  }
  call("DBGOBOTTOM");
  long back = 0;
  while (!isBof()) {
    int n = static_cast<int>(recNo());
    EXPECT_EQ(fieldValue(1).num(), n % 700 == 0 ? -n : n) << n;
    back += static_cast<long>(fieldValue(1).num());
    skip(-1);
  }
  EXPECT_EQ(sum, back);
  goTo(1400);
  EXPECT_EQ(fieldValue(1).num(), -1400);
}

TEST_F(DbfDriver, AppendedRecordsReachTheFileOnCommit) {
  std::string path = dir.file("appends.dbf");
  create(path, structure({{"N", "N", 6, 0}}));
  ASSERT_TRUE(useTable(path));
  for (int i = 1; i <= 50; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
  }
  // Records not yet on disk read back all the same.
  for (int i = 1; i <= 50; ++i) {
    goTo(i);
    EXPECT_EQ(fieldValue(1).num(), i);
  }
  goTo(20);
  assign(1, Item(-20));
  call("DBCOMMIT");
  std::string bytes = readFile(path);
  size_t hl = le16(bytes, 8), rl = le16(bytes, 10);
  ASSERT_EQ(bytes.size(), hl + 50 * rl + 1);
  EXPECT_EQ(le32(bytes, 4), 50u);
  EXPECT_EQ(bytes.substr(hl + 19 * rl, rl), "    -20");
  EXPECT_EQ(bytes.substr(hl + 49 * rl, rl), "     50");
  EXPECT_EQ(byteAt(bytes, bytes.size() - 1), 0x1A);
}

TEST_F(DbfDriver, InformationFunctions) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, "DBF", "cust"));
  EXPECT_EQ(call("HEADERSIZE").num(), 225);
  EXPECT_EQ(call("RECORDSIZE").num(), 66);
  EXPECT_EQ(call("FCOUNT").num(), 6);
  Item three(3), name("balance"), nothing("NOSUCH");
  EXPECT_EQ(call("FIELDNAME", {&three}).str(), "CITY");
  EXPECT_EQ(call("FIELDNUMBER", {&name}).num(), 4);
  EXPECT_EQ(call("FIELDNUMBER", {&nothing}).num(), 0);
  Item last = call("LASTUPDATE");
  int y, m, d;
  vl_dateDecode(vl_itemGetDL(&last.v), &y, &m, &d);
  EXPECT_EQ(y, 2026);  // the fixture's header says 126-12-11
  EXPECT_EQ(m, 12);
  EXPECT_EQ(call("CURRENTALIAS").str(), "CUST");
  EXPECT_EQ(call("RDDNAME").str(), "DBF");
  Item ext(VL_DBI_TABLEEXT), full(VL_DBI_FULLPATH);
  EXPECT_EQ(call("DBINFO", {&ext}).str(), ".dbf");
  EXPECT_EQ(call("DBINFO", {&full}).str(), path);
  Item rawCode(VL_DBRI_RAWRECORD), rec2(2);
  std::string raw = call("DBRECORDINFO", {&rawCode, &rec2}).str();
  EXPECT_EQ(raw.substr(0, 20), "      2Beta & Sons  ");
  EXPECT_EQ(recNo(), 1);  // visiting record 2 came back
  call("DBCLOSEAREA");
  EXPECT_EQ(call("FCOUNT").num(), 0);
  EXPECT_TRUE(call("EOF").log());
  EXPECT_EQ(call("TABLEEXT").str(), ".dbf");  // from a scratch area of the default driver
}

TEST_F(DbfDriver, TextIsConvertedBetweenTheTablesCodePageAndTheProgramsOne) {
  // Two pages with the same letters at different byte values: the program runs in one, the
  // table is opened in the other.
  static VlCodePage program{"VLT1", "test-1", "\x80\x81", "\x82\x83", 0, {}, {}, {}, {}, {}};
  static VlCodePage table{"VLT2", "test-2", "\x90\x91", "\x92\x93", 0, {}, {}, {}, {}, {}};
  ASSERT_TRUE(vl_cdpRegister(&program));
  ASSERT_TRUE(vl_cdpRegister(&table));
  const VlCodePage* previous = vl_cdpSelect(vl_cdpFind("VLT1"));
  std::string path = dir.file("cp.dbf");
  create(path, structure({{"T", "C", 4, 0}, {"N", "N", 3, 0}}));
  std::string bytes = readFile(path);
  size_t hl = le16(bytes, 8);
  bytes += std::string(" \x90\x92xy  1\x1A");
  bytes.erase(hl, 1);  // the old end byte
  bytes[4] = 1;
  writeFile(path, bytes);
  Item yes(true), drv("DBF"), file(path.c_str()), page("VLT2");
  call("DBUSEAREA", {&yes, &drv, &file, nullptr, nullptr, nullptr, &page});
  ASSERT_FALSE(call("NETERR").log());
  EXPECT_EQ(fieldValue(1).str(), "\x80\x82xy");
  assign(1, Item("\x81\x83z"));
  call("DBCLOSEAREA");
  vl_cdpSelect(previous);
  EXPECT_EQ(readFile(path).substr(hl + 1, 4), "\x91\x93z ");
}

TEST_F(DbfDriver, ThirdPartyReaderSeesWhatWeWrote) {
  if (std::system("/usr/bin/python3 -c 'import dbf' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-dbf is not installed (tools/install-deps.sh installs it)";
  std::string path = dir.file("WRITTEN.DBF");
  create(path, structure({{"ID", "N", 6, 0},
                          {"NAME", "C", 20, 0},
                          {"AMOUNT", "N", 12, 3},
                          {"OK", "L", 1, 0},
                          {"WHEN", "D", 8, 0},
                          {"TINY", "N", 4, 1}}));
  ASSERT_TRUE(useTable(path));
  struct Row {
    int id;
    const char* name;
    double amount;
    bool ok;
    int y, m, d;
    double tiny;
    bool deleted;
  } rows[] = {
      {1, "Alpha", 1250.5, true, 1987, 3, 15, 1.5, false},
      {2, "K\x94ln \"quoted\"", -75.125, false, 2000, 2, 29, -9.9, true},
      {3, "", 0, false, 0, 0, 0, 0, false},
      {4, "Full width name here", 99999999.999, true, 2099, 12, 31, 99.9, false},
  };
  for (const Row& r : rows) {
    call("DBAPPEND");
    assign(1, Item(r.id));
    assign(2, Item(r.name));
    assign(3, Item(r.amount));
    assign(4, Item(r.ok));
    assign(5, r.y ? dateItem(r.y, r.m, r.d) : dateItem(0, 0, 0));
    assign(6, Item(r.tiny));
    if (r.deleted) call("DBDELETE");
  }
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path));
  Dump ours = dumpCurrentArea("WRITTEN.DBF", "0x03");
  call("DBCLOSEAREA");

  std::string out = dir.file("python.txt");
  std::string command = "/usr/bin/python3 " + std::string(VL_SOURCE_DIR) + "/tools/dbfdump.py " + path + " > " + out;
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string text = readFile(out);
  Dump theirs = parseDump(text);
  canonicalise(&theirs);
  EXPECT_EQ(theirs.version, "0x03");
  EXPECT_EQ(dumpDifference(theirs, ours, true), "") << text;
  EXPECT_NE(text.find("NAME=\"K\\x94ln \\x22quoted\\x22\""), std::string::npos) << text;
  EXPECT_NE(text.find("REC 2 DEL=1"), std::string::npos) << text;
}

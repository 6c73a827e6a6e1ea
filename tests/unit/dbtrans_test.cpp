// Record transfer: __DBCOPY and __DBAPP over the fixtures and small tables made here. Copies
// must hold every record with its deletion flag and every memo text byte for byte, in the target
// driver's canonical form; scopes and field lists choose what travels; failures raise their
// errors in order and never write the source.
#include <gtest/gtest.h>

#include "platform/filesys.h"
#include "rdd/dbf1.h"
#include "rtl/set.h"
#include "table_ops.h"

using namespace rddtest;
using namespace tableops;

namespace {

uint16_t le16(const std::string& b, size_t i) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(i)) | (static_cast<uint8_t>(b.at(i + 1)) << 8));
}
uint32_t le32(const std::string& b, size_t i) {
  return static_cast<uint32_t>(le16(b, i)) | (static_cast<uint32_t>(le16(b, i + 2)) << 16);
}

// __DBCOPY(target, fields, FOR, WHILE, NEXT, RECORD, REST, driver) with NIL for null.
void copyTo(const std::string& target, const Item* fields = nullptr, const Item* forBlock = nullptr,
            const Item* whileBlock = nullptr, const Item* next = nullptr, const Item* record = nullptr,
            const Item* rest = nullptr, const Item* driver = nullptr) {
  Item name(target.c_str());
  call("__DBCOPY", {&name, fields, forBlock, whileBlock, next, record, rest, driver});
}
void appendFrom(const std::string& source, const Item* fields = nullptr, const Item* forBlock = nullptr) {
  Item name(source.c_str());
  call("__DBAPP", {&name, fields, forBlock});
}

Item textList(std::initializer_list<const char*> entries) {
  Item list;
  vl_arrayNew(&list.v, 0);
  for (const char* e : entries) {
    Item t(e);
    vl_arrayAdd(&list.v, &t.v);
  }
  return list;
}

// Every value of every record of the current area (memo texts exactly), with the flags.
std::vector<std::string> allValues() {
  std::vector<std::string> out;
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  for (int r = 1; r <= lastRec(); ++r) {
    goTo(r);
    std::string row = deleted() ? "*" : " ";
    for (uint16_t i = 1; i <= area->fieldCount; ++i) {
      Item v = fieldValue(i);
      if (VL_IS_STRING(&v.v)) row += "|" + v.str();
      else if (VL_IS_DATE(&v.v)) row += "|D" + std::to_string(v.day());
      else if (VL_IS_LOGICAL(&v.v)) row += v.log() ? "|T" : "|F";
      else row += "|" + std::to_string(v.num());
    }
    out.push_back(row);
  }
  return out;
}

class DbTrans : public ::testing::Test {
 protected:
  void SetUp() override { vl_rddSelectWorkAreaNumber(1); }
  void TearDown() override {
    vl_rddCloseAll();
    vl_fsFaultReset();
    vl_vmRequestReset();
    vl_set.deleted = false;
    hooks[0] = hooks[1] = nullptr;
  }
  TempDir dir;

  // Values of a table opened read-only in a new area (closed again).
  std::vector<std::string> valuesOf(const std::string& path) {
    uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
    EXPECT_TRUE(useTable(path, nullptr, "PEEK", false, true));
    std::vector<std::string> v = allValues();
    call("DBCLOSEAREA");
    vl_rddSelectWorkAreaNumber(previous);
    return v;
  }
  std::string structureOf(const std::string& path) {
    uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
    EXPECT_TRUE(useTable(path, nullptr, "PEEK", false, true));
    std::string out;
    VlArea* area = vl_rddGetCurrentWorkAreaPointer();
    for (uint16_t i = 1; i <= area->fieldCount; ++i) {
      Item name, type, len, dec;
      VL_SELF(area, fieldInfo, i, VL_DBS_NAME, &name.v);
      VL_SELF(area, fieldInfo, i, VL_DBS_TYPE, &type.v);
      VL_SELF(area, fieldInfo, i, VL_DBS_LEN, &len.v);
      VL_SELF(area, fieldInfo, i, VL_DBS_DEC, &dec.v);
      out += name.str() + " " + type.str() + std::to_string(static_cast<int>(len.num())) + "." +
             std::to_string(static_cast<int>(dec.num())) + ";";
    }
    call("DBCLOSEAREA");
    vl_rddSelectWorkAreaNumber(previous);
    return out;
  }
};

}  // namespace

TEST_F(DbTrans, CopiesOfEveryFixtureHoldTheSameRecordsAndMemos) {
  struct Case {
    const char* table;
    const char* memo;  // its memo file, or null
  } cases[] = {
      {"CUSTOMER.DBF", nullptr}, {"CUSTPERL.DBF", nullptr},   {"CUSTNODE.DBF", nullptr},
      {"NUMDEC.DBF", nullptr},   {"MAXFLD.DBF", nullptr},     {"EMPTY.DBF", nullptr},
      {"NOTES.DBF", "NOTES.DBT"}, {"MEMOPERL.DBF", "MEMOPERL.DBT"}, {"DELMEMO.DBF", "DELMEMO.DBT"},
      {"orders.dbf", "orders.dbt"}, {"NAME10.DBF", "NAME10.DBT"}, {"EMPTYMEM.DBF", "EMPTYMEM.DBT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    std::string path = copyFixture(dir, c.table);
    if (c.memo) copyFixture(dir, c.memo);
    std::string before = readFile(path);
    std::string memoBefore = c.memo ? readFile(dir.file(c.memo)) : "";
    ASSERT_TRUE(useTable(path, nullptr));
    std::vector<std::string> source = allValues();
    std::string target = dir.file("copy_" + std::to_string(&c - cases));
    Item all = textList({}), yes = predicate(0, [] { return true; }), no(false);
    copyTo(target, &all, &yes, nullptr, nullptr, nullptr, &no);
    EXPECT_TRUE(call("EOF").log()) << "the source ends at its end";
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), before) << "the source was written";
    if (c.memo) {
      EXPECT_EQ(readFile(dir.file(c.memo)), memoBefore);
    }
    EXPECT_EQ(valuesOf(target + ".dbf"), source);
    std::string copy = readFile(target + ".dbf");
    EXPECT_EQ(static_cast<uint8_t>(copy[0]), c.memo ? 0x83 : 0x03);
    EXPECT_EQ(le32(copy, 4), source.size());
    if (!c.memo) continue;
    // A fresh memo file: the texts in record order from block 1 on, empty ones at block 0.
    ASSERT_TRUE(useTable(target + ".dbf", nullptr, nullptr, false, true));
    VlArea* area = vl_rddGetCurrentWorkAreaPointer();
    uint16_t memoField = 0;
    for (uint16_t i = 1; i <= area->fieldCount; ++i)
      if (area->fields[i - 1].type == VL_IT_MEMO) memoField = i;
    uint32_t expected = 1;
    VlDbfArea* a = vl_dbfArea(area);
    for (int r = 1; r <= lastRec(); ++r) {
      goTo(r);
      vl_dbfReadRecord(a);
      std::string raw(reinterpret_cast<char*>(a->record + a->fieldOffsets[memoField - 1]), 10);
      size_t len = text(memoField).size();
      if (len == 0) {
        EXPECT_EQ(raw, std::string(10, ' ')) << r;
        continue;
      }
      EXPECT_EQ(std::stoul(raw), expected) << r;
      expected += static_cast<uint32_t>(len / 512 + 1);
    }
    call("DBCLOSEAREA");
    EXPECT_EQ(le32(readFile(target + ".dbt"), 0), expected);
    EXPECT_EQ(readFile(target + ".dbt").size(), static_cast<size_t>(expected) * 512);
  }
}

TEST_F(DbTrans, DeletedRecordsTravelOnlyWhenTheyAreVisible) {
  std::string path = copyFixture(dir, "DELETED.DBF");
  ASSERT_TRUE(useTable(path, nullptr));
  copyTo(dir.file("all"));
  std::vector<std::string> copied = valuesOf(dir.file("all.dbf"));
  ASSERT_EQ(copied.size(), 12u);
  for (int r : {2, 5, 12}) EXPECT_EQ(copied[r - 1][0], '*') << r;
  EXPECT_EQ(copied[0][0], ' ');
  vl_set.deleted = true;
  copyTo(dir.file("visible"));
  vl_set.deleted = false;
  std::vector<std::string> visible = valuesOf(dir.file("visible.dbf"));
  ASSERT_EQ(visible.size(), 9u);
  for (const std::string& row : visible) EXPECT_EQ(row[0], ' ');
  // A filter works the same way.
  Item notFive = predicate(0, [] { return recNo() != 5; }), filterText("RECNO() != 5");
  call("DBSETFILTER", {&notFive, &filterText});
  copyTo(dir.file("filtered"));
  EXPECT_EQ(valuesOf(dir.file("filtered.dbf")).size(), 11u);
}

TEST_F(DbTrans, TheCountComesFromTheRecordsThatExist) {
  for (const char* table : {"BADCOUNT.DBF", "TRUNCREC.DBF", "GARBAGE.DBF", "NOEOF.DBF"}) {
    SCOPED_TRACE(table);
    std::string path = copyFixture(dir, table);
    ASSERT_TRUE(useTable(path, nullptr));
    int records = lastRec();
    copyTo(dir.file("fixed"));
    call("DBCLOSEAREA");
    std::string copy = readFile(dir.file("fixed.dbf"));
    EXPECT_EQ(le32(copy, 4), static_cast<uint32_t>(records));
    EXPECT_EQ(copy.size(), le16(copy, 8) + static_cast<size_t>(records) * le16(copy, 10) + 1);
    EXPECT_EQ(copy.back(), '\x1A');
  }
}

TEST_F(DbTrans, ValuesArriveInTheirCanonicalForm) {
  // N5.2, L, D, C4 and N6.0: odd bytes a third-party writer may leave.
  std::string path = dir.file("odd.dbf");
  ASSERT_TRUE(createTable(path, structure({{"N", "N", 5, 2}, {"L", "L", 1, 0}, {"D", "D", 8, 0}, {"C", "C", 4, 0},
                                           {"W", "N", 6, 0}})));
  std::string b = readFile(path);
  size_t header = le16(b, 8);
  b.resize(header);
  b += std::string(" ") + "     " + " " + "        " + "abcd" + "      ";  // all blank
  b += std::string(" ") + "  1.5" + "X" + "        " + "ab  " + "  12  ";  // short decimals, letter X
  b += std::string(" ") + "-1.25" + "y" + "20240229" + "    " + "000007";  // leading zeros
  b += "\x1A";
  b[4] = 3;
  writeFile(path, b);
  ASSERT_TRUE(useTable(path, nullptr));
  copyTo(dir.file("canon"));
  call("DBCLOSEAREA");
  std::string c = readFile(dir.file("canon.dbf"));
  size_t h = le16(c, 8), len = le16(c, 10);
  ASSERT_EQ(len, 25u);
  EXPECT_EQ(c.substr(h, len), std::string(" ") + " 0.00" + "F" + "        " + "abcd" + "     0");
  EXPECT_EQ(c.substr(h + len, len), std::string(" ") + " 1.50" + "F" + "        " + "ab  " + "    12");
  EXPECT_EQ(c.substr(h + 2 * len, len), std::string(" ") + "-1.25" + "T" + "20240229" + "    " + "     7");
}

TEST_F(DbTrans, TypeLettersVersionAndHeaderBytesOfTheCopy) {
  std::string path = dir.file("types.dbf");
  ASSERT_TRUE(createTable(path, structure({{"F", "N", 8, 2}, {"I2", "I", 2, 0}, {"I4", "I", 4, 0}, {"DB", "B", 8, 3},
                                           {"NAME", "C", 5, 0}})));
  ASSERT_TRUE(useTable(path, nullptr));
  call("DBAPPEND");
  assign(1, Item(12.5));
  assign(2, Item(-300));
  assign(3, Item(70000));
  assign(4, Item(2.75));
  assign(5, Item("abc"));
  call("DBCLOSEAREA");
  // The letters F, 2, 4 and 8 as other writers put them; version 0x30, a code-page byte and the
  // structural-index flag.
  std::string b = readFile(path);
  b[0] = 0x30;
  b[28] = 1;
  b[29] = 0x65;
  b[32 + 11] = 'F';
  b[64 + 11] = '2';
  b[96 + 11] = '4';
  b[128 + 11] = '8';
  // A 0x30 table's descriptors end at a type byte of 0 or the 0x0D terminator: keep 0x0D.
  writeFile(path, b);
  ASSERT_TRUE(useTable(path, nullptr));
  std::vector<std::string> source = allValues();
  copyTo(dir.file("typed"));
  call("DBCLOSEAREA");
  std::string c = readFile(dir.file("typed.dbf"));
  EXPECT_EQ(static_cast<uint8_t>(c[0]), 0x03);
  EXPECT_EQ(static_cast<uint8_t>(c[28]), 0);
  EXPECT_EQ(static_cast<uint8_t>(c[29]), 0);
  EXPECT_EQ(c[32 + 11], 'N');
  EXPECT_EQ(c[64 + 11], 'I');
  EXPECT_EQ(static_cast<uint8_t>(c[64 + 16]), 2);
  EXPECT_EQ(c[96 + 11], 'I');
  EXPECT_EQ(static_cast<uint8_t>(c[96 + 16]), 4);
  EXPECT_EQ(c[128 + 11], 'B');
  EXPECT_EQ(valuesOf(dir.file("typed.dbf")), source);
}

TEST_F(DbTrans, FieldListsChooseTheFields) {
  std::string src = dir.file("src.dbf");
  ASSERT_TRUE(createTable(src, structure({{"ID", "N", 3, 0}, {"NAME", "C", 10, 0}, {"NAMEX", "C", 6, 0}})));
  ASSERT_TRUE(useTable(src, nullptr, "SRC"));
  for (int i = 1; i <= 3; ++i) {
    call("DBAPPEND");
    assign(1, Item(i));
    assign(2, Item(("n" + std::to_string(i)).c_str()));
    assign(3, Item(("x" + std::to_string(i)).c_str()));
  }
  Item name = textList({"name"});
  copyTo(dir.file("justname"), &name);
  EXPECT_EQ(structureOf(dir.file("justname.dbf")), "NAME C10.0;");
  Item aliased = textList({"SRC->NAMEX", "id", "nosuch"});
  copyTo(dir.file("aliased"), &aliased);
  EXPECT_EQ(structureOf(dir.file("aliased.dbf")), "NAMEX C6.0;ID N3.0;");
  EXPECT_EQ(valuesOf(dir.file("aliased.dbf"))[1], " |x2    |2.000000");
  call("DBCLOSEAREA");

  // Appending with the entry NA fills both NAME and NAMEX; ID stays empty.
  std::string dst = dir.file("dst.dbf");
  ASSERT_TRUE(createTable(dst, structure({{"NAME", "C", 10, 0}, {"NAMEX", "C", 6, 0}, {"ID", "N", 3, 0}})));
  ASSERT_TRUE(useTable(dst, nullptr));
  Item na = textList({"NA"});
  appendFrom(src, &na);
  std::vector<std::string> rows = allValues();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2], " |n3        |x3    |0.000000");
}

TEST_F(DbTrans, ScopesNextRecordWhileAndFor) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, nullptr));
  std::vector<std::string> source = allValues();
  // NEXT 3 from record 4 with a FOR that rejects the second visited record.
  goTo(4);
  Item next(3), notFive = predicate(0, [] { return recNo() != 5; });
  copyTo(dir.file("next"), nullptr, &notFive, nullptr, &next);
  EXPECT_EQ(recNo(), 6) << "the scope ends on its third record";
  EXPECT_EQ(valuesOf(dir.file("next.dbf")), (std::vector<std::string>{source[3], source[5]}));
  // RECORD 7: that record alone, wherever the source stood.
  goTo(2);
  Item seven(7);
  copyTo(dir.file("rec"), nullptr, nullptr, nullptr, nullptr, &seven);
  EXPECT_EQ(valuesOf(dir.file("rec.dbf")), (std::vector<std::string>{source[6]}));
  // WHILE from the current record; REST from the current record to the end.
  goTo(9);
  Item below11 = predicate(1, [] { return recNo() < 11; });
  copyTo(dir.file("while"), nullptr, nullptr, &below11);
  EXPECT_EQ(valuesOf(dir.file("while.dbf")), (std::vector<std::string>{source[8], source[9]}));
  goTo(11);
  Item rest(true);
  copyTo(dir.file("rest"), nullptr, nullptr, nullptr, nullptr, nullptr, &rest);
  EXPECT_EQ(valuesOf(dir.file("rest.dbf")), (std::vector<std::string>{source[10], source[11]}));
  // A FOR block alone walks the whole table from the top.
  goTo(12);
  Item even = predicate(0, [] { return recNo() % 2 == 0; });
  copyTo(dir.file("even"), nullptr, &even);
  EXPECT_EQ(valuesOf(dir.file("even.dbf")).size(), 6u);
}

TEST_F(DbTrans, ATargetNameGetsTheExtensionAndReplacesAnOldTable) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  writeFile(dir.file("old.dbf"), "an old file that is not even a table");
  ASSERT_TRUE(useTable(path, nullptr));
  copyTo(dir.file("old"));
  EXPECT_EQ(valuesOf(dir.file("old.dbf")).size(), 12u);
  EXPECT_FALSE(vl_fsFile(dir.file("old").c_str()));
}

TEST_F(DbTrans, AppendingMemosIntoAnExistingTable) {
  std::string notes = copyFixture(dir, "NOTES.DBF");
  copyFixture(dir, "NOTES.DBT");
  std::string path = dir.file("more.dbf");
  ASSERT_TRUE(createTable(path, structure({{"ID", "N", 4, 0}, {"BODY", "M", 10, 0}})));
  ASSERT_TRUE(useTable(path, nullptr));
  call("DBAPPEND");
  assign(2, std::string("already here"));
  appendFrom(notes);
  appendFrom(notes);
  ASSERT_EQ(lastRec(), 23);
  std::vector<std::string> source = valuesOf(notes);
  goTo(1);
  EXPECT_EQ(text(2), "already here");
  for (int r = 0; r < 11; ++r) {
    goTo(r + 2);
    std::string a = text(2);
    goTo(r + 13);
    EXPECT_EQ(text(2), a);
    EXPECT_EQ(source[r].substr(source[r].rfind('|') + 1), a) << r;
  }
}

TEST_F(DbTrans, ValuesThatDoNotFitAreReportedAndTheTransferGoesOn) {
  std::string src = dir.file("wide.dbf");
  ASSERT_TRUE(createTable(src, structure({{"V", "N", 8, 0}})));
  ASSERT_TRUE(useTable(src, nullptr));
  for (int v : {5, 123456, 7}) {
    call("DBAPPEND");
    assign(1, Item(v));
  }
  call("DBCLOSEAREA");
  std::string dst = dir.file("narrow.dbf");
  ASSERT_TRUE(createTable(dst, structure({{"V", "N", 3, 0}})));
  ASSERT_TRUE(useTable(dst, nullptr));
  ErrorLog log;
  appendFrom(src);
  EXPECT_EQ(log.joined(), "DBFNTX 34/1021 ");
  EXPECT_EQ(lastRec(), 3);
  goTo(3);
  EXPECT_EQ(fieldValue(1).num(), 7);
}

TEST_F(DbTrans, FailuresRaiseTheirErrorsInOrder) {
  ErrorLog log;
  vl_rddSelectWorkAreaNumber(1);
  copyTo(dir.file("x"));
  EXPECT_EQ(log.joined(), "DBCMD 35/2001 DBAPP");

  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  std::string before = readFile(path);
  ASSERT_TRUE(useTable(path, nullptr));
  struct Case {
    const char* what;
    std::function<void()> run;
    std::string errors;
  } cases[] = {
      {"a field list that names no field", [&] {
         Item none = textList({"NOSUCH"});
         copyTo(dir.file("y"), &none);
       },
       "DBCMD 1/1015 DBCREATE; DBCMD 35/2001 DBAPP"},
      {"an unknown driver", [&] {
         Item drv("NOSUCHDRV");
         copyTo(dir.file("y"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &drv);
       },
       "DBCMD 1/2019 DBAPP; DBCMD 35/2001 DBAPP"},
      {"a table that cannot be created", [&] { copyTo(dir.file("nodir/y")); },
       "DBFNTX 20/1004 ; DBCMD 1/1015 DBAPP; DBCMD 35/2001 DBAPP"},
      {"a table that cannot be opened", [&] { appendFrom(dir.file("missing")); },
       "DBFNTX 21/1001 ; DBCMD 21/0 DBAPP; DBCMD 35/2001 DBAPP"},
      {"a copy onto the open source itself", [&] { copyTo(path); },
       "DBFNTX 20/1004 ; DBCMD 1/1015 DBAPP; DBCMD 35/2001 DBAPP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.errors.clear();
    c.run();
    EXPECT_EQ(log.joined(), c.errors);
    EXPECT_EQ(vl_rddAreaCount(), 1) << "no scratch area left open";
    EXPECT_EQ(vl_rddGetCurrentWorkAreaNumber(), 1);
  }
  EXPECT_EQ(lastRec(), 12);
  call("DBCLOSEAREA");
  EXPECT_EQ(readFile(path), before);
  // Both names or neither: a bad combination, without a table or with one.
  EXPECT_FALSE(vl_fsFile(dir.file("y.dbf").c_str()));
}

TEST_F(DbTrans, AFailingDiskNeverTouchesTheSource) {
  std::string path = copyFixture(dir, "NOTES.DBF");
  copyFixture(dir, "NOTES.DBT");
  std::string before = readFile(path), memoBefore = readFile(dir.file("NOTES.DBT"));
  for (uint64_t budget : {0ull, 300ull, 700ull, 2000ull, 6000ull, 9000ull}) {
    SCOPED_TRACE(budget);
    ASSERT_TRUE(useTable(path, nullptr));
    {
      ErrorLog log;
      vl_fsFaultWriteLimit(budget);
      copyTo(dir.file("full"));
      vl_fsFaultReset();
      EXPECT_NE(log.joined().find("/1011"), std::string::npos) << log.joined();
      EXPECT_EQ(vl_rddAreaCount(), 1);
    }
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(readFile(dir.file("NOTES.DBT")), memoBefore);
  }
  // A write that fails once, anywhere, is reported the same way.
  for (uint32_t nth : {1u, 3u, 8u, 20u}) {
    SCOPED_TRACE(nth);
    ASSERT_TRUE(useTable(path, nullptr));
    {
      ErrorLog log;
      vl_fsFaultFailNth(VL_FSF_WRITE, nth, VL_FERR_WRITE_FAULT);
      copyTo(dir.file("fault"));
      vl_fsFaultReset();
      EXPECT_NE(log.joined(), "");
    }
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), before);
  }
}

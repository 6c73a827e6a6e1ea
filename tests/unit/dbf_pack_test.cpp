// Whole-table operations: pack (also when a write fails midway: no record that should stay is
// ever lost), zap (with its memo file), sort into another area, and their refusals on shared
// and read-only tables.
#include <gtest/gtest.h>

#include <map>

#include "platform/filesys.h"
#include "rdd/dbf1.h"
#include "rtl/set.h"
#include "table_ops.h"

using namespace rddtest;
using namespace tableops;

namespace {

uint16_t le16(const std::string& b, size_t i) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[i]) | (static_cast<uint8_t>(b[i + 1]) << 8));
}

class DbfPack : public ::testing::Test {
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

  // ID N6, NAME C20, NOTE M10 (when memo): records 1..n with NAME "name <id>", the listed
  // ones deleted.
  std::string numbered(const char* name, int n, std::initializer_list<int> deletedOnes, bool memo = false) {
    std::string path = dir.file(name);
    Item rows = memo ? structure({{"ID", "N", 6, 0}, {"NAME", "C", 20, 0}, {"NOTE", "M", 10, 0}})
                     : structure({{"ID", "N", 6, 0}, {"NAME", "C", 20, 0}});
    EXPECT_TRUE(createTable(path, rows));
    EXPECT_TRUE(useTable(path, nullptr));
    for (int i = 1; i <= n; ++i) {
      call("DBAPPEND");
      assign(1, Item(i));
      assign(2, Item(("name " + std::to_string(i)).c_str()));
      if (memo) assign(3, std::string(static_cast<size_t>(i) * 100, static_cast<char>('a' + i % 26)));
    }
    for (int d : deletedOnes) {
      goTo(d);
      call("DBDELETE");
    }
    call("DBCOMMIT");
    return path;
  }
  std::vector<int> ids() {
    std::vector<int> out;
    for (int r = 1; r <= lastRec(); ++r) {
      goTo(r);
      out.push_back(static_cast<int>(fieldValue(1).num()));
    }
    return out;
  }
};

}  // namespace

TEST_F(DbfPack, PackKeepsTheOrderAndEndsTheFileRightAfterTheLastRecord) {
  std::string path = numbered("p.dbf", 5, {2, 4});
  call("__DBPACK");
  EXPECT_EQ(lastRec(), 3);
  EXPECT_EQ(recNo(), 1);
  EXPECT_EQ(ids(), (std::vector<int>{1, 3, 5}));
  goTo(2);
  EXPECT_FALSE(deleted());
  EXPECT_EQ(text(2).substr(0, 6), "name 3");
  call("DBCLOSEAREA");
  std::string b = readFile(path);
  size_t header = le16(b, 8), recLen = le16(b, 10);
  ASSERT_EQ(b.size(), header + 3 * recLen + 1);
  EXPECT_EQ(b.back(), '\x1A');
  EXPECT_EQ(static_cast<uint8_t>(b[4]), 3);
}

TEST_F(DbfPack, ThePackBlockRunsAtItsInterval) {
  numbered("blk.dbf", 7, {3});  // 7 records for the first pack, 6 after it
  for (auto [interval, expected] : {std::pair{0, 7}, std::pair{1, 6}, std::pair{3, 2}, std::pair{7, 1}, std::pair{5, 2}}) {
    SCOPED_TRACE(interval);
    int calls = 0;
    hooks[0] = [&](VlItem*) { ++calls; };
    Item b = block(0), every(interval);
    ErrorLog log;
    call("__DBPACK", {&b, &every});
    EXPECT_EQ(log.joined(), "");
    EXPECT_EQ(calls, expected);
  }
  EXPECT_EQ(lastRec(), 6);
}

TEST_F(DbfPack, AFailedWriteDuringPackLosesNoRecordThatShouldStay) {
  // Every write position in turn fails: the table then holds every record that should stay,
  // in a readable state, and a later pack finishes the job.
  for (uint32_t failAt = 1; failAt <= 6; ++failAt) {
    SCOPED_TRACE(failAt);
    std::string name = "f" + std::to_string(failAt) + ".dbf";
    std::string path = numbered(name.c_str(), 40, {1, 2, 5, 9, 10, 11, 20, 33, 40});
    call("DBCLOSEAREA");
    ASSERT_TRUE(useTable(path, nullptr));
    {
      ErrorLog log;
      vl_fsFaultFailNth(VL_FSF_WRITE, failAt, VL_FERR_WRITE_FAULT);
      call("__DBPACK");
      call("DBCLOSEAREA");
      vl_fsFaultReset();
    }
    ASSERT_TRUE(useTable(path, nullptr));
    std::map<int, int> seen;
    for (int id : ids()) ++seen[id];
    for (int id = 1; id <= 40; ++id) {
      bool stays = id != 1 && id != 2 && id != 5 && id != 9 && id != 10 && id != 11 && id != 20 && id != 33 && id != 40;
      if (stays) {
        EXPECT_GE(seen[id], 1) << "record " << id << " lost";
      }
    }
    call("__DBPACK");
    std::vector<int> kept = ids();
    for (int id : kept) EXPECT_TRUE(seen.count(id));
    call("DBCLOSEAREA");
  }
}

TEST_F(DbfPack, AFullDiskDuringPackLosesNothing) {
  for (uint64_t budget : {0ull, 100ull, 1000ull, 5000ull}) {
    SCOPED_TRACE(budget);
    std::string name = "d" + std::to_string(budget) + ".dbf";
    std::string path = numbered(name.c_str(), 300, {1, 50, 51, 52, 299});
    call("DBCLOSEAREA");
    ASSERT_TRUE(useTable(path, nullptr));
    {
      ErrorLog log;
      vl_fsFaultWriteLimit(budget);
      call("__DBPACK");
      call("DBCLOSEAREA");
      vl_fsFaultReset();
      EXPECT_NE(log.joined().find("24/1011"), std::string::npos);
    }
    ASSERT_TRUE(useTable(path, nullptr));
    std::map<int, int> seen;
    for (int id : ids()) ++seen[id];
    for (int id = 1; id <= 300; ++id)
      if (id != 1 && id != 50 && id != 51 && id != 52 && id != 299) {
        EXPECT_GE(seen[id], 1) << "record " << id << " lost";
      }
    call("DBCLOSEAREA");
  }
}

TEST_F(DbfPack, ZapEmptiesTheTableAndItsMemoFile) {
  std::string path = numbered("z.dbf", 6, {2}, true);
  call("__DBZAP");
  EXPECT_EQ(lastRec(), 0);
  EXPECT_TRUE(call("EOF").log());
  std::string dbt = readFile(path.substr(0, path.size() - 4) + ".dbt");
  EXPECT_EQ(dbt.size(), 512u);
  EXPECT_EQ(dbt.substr(0, 4), std::string("\x01\x00\x00\x00", 4));
  call("DBAPPEND");
  assign(3, std::string("after zap"));
  call("DBCLOSEAREA");
  std::string b = readFile(path);
  size_t header = le16(b, 8), recLen = le16(b, 10);
  EXPECT_EQ(b.size(), header + recLen + 1);
  ASSERT_TRUE(useTable(path, nullptr));
  EXPECT_EQ(lastRec(), 1);
  EXPECT_EQ(text(3), "after zap");
}

TEST_F(DbfPack, PackAndZapNeedAnExclusiveWritableTable) {
  std::string path = numbered("x.dbf", 4, {2});
  call("DBCLOSEAREA");
  std::string before = readFile(path);
  for (bool shared : {true, false}) {
    ErrorLog log;
    ASSERT_TRUE(useTable(path, nullptr, nullptr, shared, !shared));
    call("__DBPACK");
    call("__DBZAP");
    EXPECT_EQ(log.joined(), shared ? "DBFNTX 37/1023 ; DBFNTX 37/1023 " : "DBFNTX 39/1025 ; DBFNTX 39/1025 ");
    EXPECT_EQ(lastRec(), 4);
    call("DBCLOSEAREA");
  }
  EXPECT_EQ(readFile(path), before);
}

TEST_F(DbfPack, SortIntoAnotherArea) {
  std::string path = dir.file("src.dbf");
  Item rows = structure({{"NAME", "C", 8, 0}, {"N", "N", 4, 0}, {"OK", "L", 1, 0}, {"NOTE", "M", 10, 0}});
  ASSERT_TRUE(createTable(path, rows));
  ASSERT_TRUE(useTable(path, nullptr, "SRC"));
  struct Row {
    const char* name;
    int n;
    bool ok;
  } data[] = {{"delta", 4, true}, {"Alpha", 1, false}, {"charlie", 3, true}, {"bravo", 2, false}, {"alpha", 5, true}};
  for (const Row& r : data) {
    call("DBAPPEND");
    assign(1, Item(r.name));
    assign(2, Item(r.n));
    assign(3, Item(r.ok));
    assign(4, std::string("memo of ") + r.name);
  }
  goTo(3);
  call("DBDELETE");
  call("DBCOMMIT");
  uint16_t source = vl_rddGetCurrentWorkAreaNumber();

  struct Case {
    std::vector<const char*> keys;
    std::vector<int> order;  // N of the target's records
  } cases[] = {
      {{"NAME"}, {1, 5, 2, 3, 4}},  // byte order: "Alpha" < "alpha" < "bravo" < ...
      {{"NAME/C"}, {}},
      {{"N/D"}, {5, 4, 3, 2, 1}},
      {{"OK/D", "N"}, {3, 4, 5, 1, 2}},
  };
  int t = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys[0]);
    std::string target = dir.file("t" + std::to_string(t++) + ".dbf");
    ASSERT_TRUE(createTable(target, rows));
    ASSERT_TRUE(useTable(target, nullptr, "TGT"));
    uint16_t targetArea = vl_rddGetCurrentWorkAreaNumber();
    vl_rddSelectWorkAreaNumber(source);
    Item targetNo(targetArea), fields = structure({{"NAME", "C", 8, 0}});
    Item keys;
    vl_arrayNew(&keys.v, 0);
    for (const char* k : c.keys) {
      Item key(k);
      vl_arrayAdd(&keys.v, &key.v);
    }
    call("DBSORTRECORDS", {&targetNo, &fields, nullptr, nullptr, nullptr, nullptr, nullptr, &keys});
    vl_rddSelectWorkAreaNumber(targetArea);
    ASSERT_EQ(lastRec(), 5);
    std::vector<int> got;
    for (int r = 1; r <= 5; ++r) {
      goTo(r);
      got.push_back(static_cast<int>(fieldValue(2).num()));
      EXPECT_FALSE(deleted()) << "sorted records are active";
      EXPECT_EQ(text(4), "memo of " + fieldValue(1).str().substr(0, fieldValue(1).str().find(' ')));
    }
    if (c.keys[0] == std::string("NAME/C")) {
      // Case-insensitive: the two alphas first in either order, then the rest by name.
      EXPECT_EQ(std::vector<int>(got.begin() + 2, got.end()), (std::vector<int>{2, 3, 4}));
    } else {
      EXPECT_EQ(got, c.order);
    }
    call("DBCLOSEAREA");
    vl_rddSelectWorkAreaNumber(source);
  }
  // A FOR block and a table whose layout differs from the source's (refused, nothing written).
  std::string other = dir.file("other.dbf");
  ASSERT_TRUE(createTable(other, structure({{"NAME", "C", 9, 0}})));
  ASSERT_TRUE(useTable(other, nullptr, "OTHER"));
  uint16_t otherArea = vl_rddGetCurrentWorkAreaNumber();
  vl_rddSelectWorkAreaNumber(source);
  Item otherNo(otherArea), fields = structure({{"NAME", "C", 8, 0}}), keys;
  vl_arrayNew(&keys.v, 1);
  vl_itemPutC(vl_arrayGetItemPtr(&keys.v, 1), "N");
  call("DBSORTRECORDS", {&otherNo, &fields, nullptr, nullptr, nullptr, nullptr, nullptr, &keys});
  vl_rddSelectWorkAreaNumber(otherArea);
  EXPECT_EQ(lastRec(), 0);
  call("DBCLOSEAREA");
}

TEST_F(DbfPack, SortScopeAndForBlock) {
  std::string path = numbered("s.dbf", 10, {});
  uint16_t source = vl_rddGetCurrentWorkAreaNumber();
  std::string target = dir.file("st.dbf");
  ASSERT_TRUE(createTable(target, structure({{"ID", "N", 6, 0}, {"NAME", "C", 20, 0}})));
  ASSERT_TRUE(useTable(target, nullptr, "ST"));
  uint16_t targetArea = vl_rddGetCurrentWorkAreaNumber();
  vl_rddSelectWorkAreaNumber(source);
  goTo(3);
  Item targetNo(targetArea), fields = structure({{"ID", "N", 6, 0}}), keys, next(5);
  vl_arrayNew(&keys.v, 1);
  vl_itemPutC(vl_arrayGetItemPtr(&keys.v, 1), "ID/D");
  Item odd = predicate(0, [] { return static_cast<int>(fieldValue(1).num()) % 2 == 1; });
  call("DBSORTRECORDS", {&targetNo, &fields, &odd, nullptr, &next, nullptr, nullptr, &keys});
  vl_rddSelectWorkAreaNumber(targetArea);
  EXPECT_EQ(ids(), (std::vector<int>{7, 5, 3}));  // records 3..7, odd ones, descending
}

TEST_F(DbfPack, SortingOnDiskGivesTheOrderSortingInMemoryGives) {
  // Keys with many repeats (the reference record meets equal keys) and an already sorted run.
  std::string path = dir.file("big.dbf");
  ASSERT_TRUE(createTable(path, structure({{"K", "C", 3, 0}, {"ID", "N", 5, 0}})));
  ASSERT_TRUE(useTable(path, nullptr, "BIG"));
  for (int i = 1; i <= 600; ++i) {
    call("DBAPPEND");
    int k = i <= 100 ? i : (i * 7919) % 37;
    char key[16];
    std::snprintf(key, sizeof key, "%03d", k);
    assign(1, Item(key));
    assign(2, Item(i));
  }
  call("DBCOMMIT");
  uint16_t source = vl_rddGetCurrentWorkAreaNumber();
  std::vector<std::string> results;
  for (uint64_t limit : {uint64_t{1} << 30, uint64_t{0}}) {
    vl_dbfSortMemoryLimit = limit;
    std::string target = dir.file(limit ? "inmem.dbf" : "ondisk.dbf");
    ASSERT_TRUE(createTable(target, structure({{"K", "C", 3, 0}, {"ID", "N", 5, 0}})));
    ASSERT_TRUE(useTable(target, nullptr, limit ? "INMEM" : "ONDISK"));
    uint16_t targetArea = vl_rddGetCurrentWorkAreaNumber();
    vl_rddSelectWorkAreaNumber(source);
    Item targetNo(targetArea), fields = structure({{"K", "C", 3, 0}}), keys;
    vl_arrayNew(&keys.v, 1);
    vl_itemPutC(vl_arrayGetItemPtr(&keys.v, 1), "K/D");
    call("DBSORTRECORDS", {&targetNo, &fields, nullptr, nullptr, nullptr, nullptr, nullptr, &keys});
    vl_rddSelectWorkAreaNumber(targetArea);
    ASSERT_EQ(lastRec(), 600);
    std::string keysInOrder;
    std::vector<bool> seen(601, false);
    for (int r = 1; r <= 600; ++r) {
      goTo(r);
      keysInOrder += text(1);
      seen[static_cast<size_t>(fieldValue(2).num())] = true;
    }
    for (int i = 1; i <= 600; ++i) EXPECT_TRUE(seen[static_cast<size_t>(i)]) << i;
    for (size_t r = 3; r < keysInOrder.size(); r += 3) EXPECT_GE(keysInOrder.substr(r - 3, 3), keysInOrder.substr(r, 3));
    results.push_back(keysInOrder);
    call("DBCLOSEAREA");
    vl_rddSelectWorkAreaNumber(source);
  }
  vl_dbfSortMemoryLimit = 256ull * 1024 * 1024;
  EXPECT_EQ(results[0], results[1]);
}

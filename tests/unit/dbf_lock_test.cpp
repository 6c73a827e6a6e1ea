// Locks of shared tables: the exact bytes each lock scheme locks (checked from a second handle
// of the file, which the file layer treats like another process), the list of locked records,
// and real processes appending to and locking one table at the same time.
#include <gtest/gtest.h>

#include <set>

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
uint32_t le32(const std::string& b, size_t i) {
  return static_cast<uint32_t>(le16(b, i)) | (static_cast<uint32_t>(le16(b, i + 2)) << 16);
}

uint32_t lockListSize() {
  Item list = call("DBRLOCKLIST");
  return vl_arrayLen(&list.v);
}

class DbfLock : public ::testing::Test {
 protected:
  void SetUp() override { vl_rddSelectWorkAreaNumber(1); }
  void TearDown() override {
    if (other != VL_FS_ERROR) vl_fsClose(other);
    vl_rddCloseAll();
    vl_fsFaultReset();
    vl_vmRequestReset();
  }
  TempDir dir;
  VlFHandle other = VL_FS_ERROR;

  // Whether another handle can lock the byte range now (it releases it again at once).
  bool freeFromOutside(uint64_t offset, uint64_t length = 1) {
    if (!vl_fsLockLarge(other, offset, length, VL_FL_LOCK)) return false;
    vl_fsLockLarge(other, offset, length, VL_FL_UNLOCK);
    return true;
  }
};

}  // namespace

TEST_F(DbfLock, EverySchemeLocksItsOwnBytes) {
  struct Case {
    int scheme;
    bool structIdx;       // header flag bit 0
    uint64_t base;        // header (append) lock
    uint64_t fileStart, fileLen;
    bool backward;        // record r at base - r
    bool byRecordOffset;  // record r at base + header + (r - 1) x record length
  } cases[] = {
      {1, false, 1000000000ULL, 1000000001ULL, 1000000000ULL, false, false},
      {2, false, 1000000000ULL, 1000000001ULL, 1000000000ULL, false, false},
      {3, false, 0x40000000ULL, 0x40000001ULL, 0x3FFFFFFDULL, false, true},
      {3, true, 0x7FFFFFFEULL, 0x77FFFFFFULL, 0x07FFFFFFULL, true, false},
      {4, false, 0xEE6B2800ULL, 0xEE6B2801ULL, 0x1194D7FFULL, false, false},
      {5, false, 0x7FFFFFFF00000001ULL, 0x7FFFFFFF00000002ULL, 0x7FFFFFFEULL, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("scheme " + std::to_string(c.scheme) + (c.structIdx ? " with flag bit 0" : ""));
    std::string path = dir.file("s" + std::to_string(c.scheme) + (c.structIdx ? "x" : "") + ".dbf");
    std::string bytes = readFile(fixtureDir() + "/tables/CUSTOMER.DBF");
    if (c.structIdx) bytes[28] = 1;
    writeFile(path, bytes);
    uint16_t header = le16(bytes, 8), recLen = le16(bytes, 10);
    ASSERT_TRUE(useTable(path, "DBF", nullptr, true));
    Item code(128), scheme(c.scheme);
    call("DBINFO", {&code, &scheme});
    other = vl_fsOpen(path.c_str(), VL_FO_READWRITE | VL_FO_DENYNONE);
    ASSERT_NE(other, VL_FS_ERROR);
    auto recordAt = [&](uint32_t r) -> uint64_t {
      if (c.backward) return c.base - r;
      if (c.byRecordOffset) return c.base + header + static_cast<uint64_t>(r - 1) * recLen;
      return c.base + r;
    };

    // Record 5 and record 9 (method 2 keeps both); the neighbours stay free.
    EXPECT_TRUE(rlock(5));
    EXPECT_TRUE(rlock(9));
    EXPECT_TRUE(rlock(5));  // already in the list: one entry, still true
    EXPECT_EQ(lockListSize(), 2u);
    EXPECT_FALSE(freeFromOutside(recordAt(5)));
    EXPECT_FALSE(freeFromOutside(recordAt(9)));
    EXPECT_TRUE(freeFromOutside(recordAt(4)));
    EXPECT_TRUE(freeFromOutside(recordAt(6)));
    EXPECT_TRUE(freeFromOutside(c.base));
    // RLOCK locks the current record alone.
    goTo(2);
    EXPECT_TRUE(call("RLOCK").log());
    EXPECT_FALSE(freeFromOutside(recordAt(2)));
    EXPECT_TRUE(freeFromOutside(recordAt(5)));
    Item two(2);
    call("DBRUNLOCK", {&two});
    EXPECT_TRUE(freeFromOutside(recordAt(2)));

    // The file lock covers its whole range and nothing next to it.
    EXPECT_TRUE(call("FLOCK").log());
    EXPECT_FALSE(freeFromOutside(c.fileStart));
    EXPECT_FALSE(freeFromOutside(c.fileStart + c.fileLen - 1));
    EXPECT_TRUE(freeFromOutside(c.fileStart + c.fileLen));
    EXPECT_TRUE(freeFromOutside(c.fileStart - 1));
    EXPECT_TRUE(rlock(3));  // a locked file holds every record
    Item flockInfo(20);
    EXPECT_TRUE(call("DBINFO", {&flockInfo}).log());
    // Unlocking one record releases the file lock as well.
    Item three(3);
    call("DBRUNLOCK", {&three});
    EXPECT_FALSE(call("DBINFO", {&flockInfo}).log());
    EXPECT_TRUE(freeFromOutside(c.fileStart, c.fileLen));

    // The header lock, which appends take, is the byte at the base.
    VlArea* area = vl_rddGetCurrentWorkAreaPointer();
    EXPECT_EQ(VL_SELF(area, rawLock, VL_RAWLOCK_HEADER, 0), VL_SUCCESS);
    EXPECT_FALSE(freeFromOutside(c.base));
    EXPECT_EQ(VL_SELF(area, rawLock, VL_RAWUNLOCK_APPEND, 0), VL_SUCCESS);
    EXPECT_TRUE(freeFromOutside(c.base));

    vl_fsClose(other);
    other = VL_FS_ERROR;
    call("DBCLOSEAREA");
    EXPECT_EQ(readFile(path), bytes);
  }
}

TEST_F(DbfLock, ExclusiveTablesAndUnknownSchemes) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, "DBF"));
  EXPECT_TRUE(rlock(3));
  EXPECT_TRUE(call("FLOCK").log());
  EXPECT_EQ(lockListSize(), 0u);
  call("DBCLOSEAREA");

  // A scheme outside 1..5 read from the SET table makes every lock fail: no wrong layout.
  int saved = vl_set.dbfLockScheme;
  vl_set.dbfLockScheme = 9;
  ASSERT_TRUE(useTable(path, "DBF", nullptr, true));
  vl_set.dbfLockScheme = saved;
  EXPECT_FALSE(rlock(3));
  EXPECT_FALSE(call("FLOCK").log());
  ErrorLog log;
  call("DBAPPEND");
  EXPECT_TRUE(call("NETERR").log());
  EXPECT_EQ(lastRec(), 12);
}

TEST_F(DbfLock, AppendingToASharedTable) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, "DBF", nullptr, true));
  call("DBAPPEND");
  EXPECT_FALSE(call("NETERR").log());
  EXPECT_EQ(lastRec(), 13);
  EXPECT_EQ(recNo(), 13);
  // The new record is locked (the only lock: DBAPPEND releases the others) and can be written.
  Item locks = call("DBRLOCKLIST");
  ASSERT_EQ(vl_arrayLen(&locks.v), 1u);
  EXPECT_EQ(vl_arrayGetNL(&locks.v, 1), 13);
  assign(2, Item("Appended shared"));
  // The record and the header with the new count are on disk before the append returns.
  std::string bytes = readFile(path);
  EXPECT_EQ(le32(bytes, 4), 13u);
  EXPECT_TRUE(rlock(2));
  Item keep(false);
  call("DBAPPEND", {&keep});  // keeps records 13 and 2 locked
  EXPECT_EQ(lockListSize(), 3u);
  call("DBCLOSEAREA");
  ASSERT_TRUE(useTable(path, "DBF"));
  EXPECT_EQ(lastRec(), 14);
  goTo(13);
  EXPECT_EQ(text(2).substr(0, 15), "Appended shared");
}

// Four processes append 5,000 records each to one shared table, each record carrying who wrote
// it and a text derived from that: exactly 20,000 records, every one intact.
TEST_F(DbfLock, FourProcessesAppendingTogetherLoseNothing) {
  std::string path = dir.file("together.dbf");
  Item rows = structure({{"PROC", "N", 2, 0}, {"SEQ", "N", 6, 0}, {"TXT", "C", 40, 0}});
  ASSERT_TRUE(createTable(path, rows));
  const int procs = 4, each = 5000;
  auto textOf = [](int p, int s) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "process %d record %06d check %08d", p, s, p * 7919 + s * 31);
    std::string t = buf;
    t.resize(40, ' ');
    return t;
  };
  std::vector<pid_t> children;
  for (int p = 1; p <= procs; ++p) {
    children.push_back(forkChild([&, p]() {
      if (!useTable(path, "DBFNTX", nullptr, true)) return 2;
      for (int s = 1; s <= each; ++s) {
        call("DBAPPEND");
        if (call("NETERR").log()) return 3;
        assign(1, Item(p));
        assign(2, Item(s));
        assign(3, textOf(p, s));
      }
      call("DBCOMMIT");
      call("DBCLOSEAREA");
      return 0;
    }));
  }
  for (pid_t c : children) EXPECT_EQ(waitChild(c), 0);
  ASSERT_TRUE(useTable(path, "DBF", nullptr, false, true));
  ASSERT_EQ(lastRec(), procs * each);
  EXPECT_EQ(le32(readFile(path), 4), static_cast<uint32_t>(procs * each));
  std::set<std::pair<int, int>> seen;
  int bad = 0;
  for (int r = 1; r <= procs * each; ++r) {
    goTo(r);
    int p = static_cast<int>(fieldValue(1).num()), s = static_cast<int>(fieldValue(2).num());
    if (p < 1 || p > procs || s < 1 || s > each || text(3) != textOf(p, s) || deleted()) ++bad;
    seen.insert({p, s});
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(seen.size(), static_cast<size_t>(procs * each));
}

// One process holds record locks; another sees them refused, and an append whose new record
// number is locked fails with "Append lock failed" and NETERR, then works once they are gone.
TEST_F(DbfLock, LocksHeldByAnotherProcess) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  pid_t child = forkChild([&]() {
    char c = 0;
    if (!useTable(path, "DBFNTX", nullptr, true)) return 2;
    if (!rlock(3) || !rlock(13)) return 3;
    if (write(toParent[1], "1", 1) != 1 || read(toChild[0], &c, 1) != 1) return 4;
    // Second phase: the whole file.
    call("DBUNLOCK");
    if (!call("FLOCK").log()) return 5;
    if (write(toParent[1], "2", 1) != 1 || read(toChild[0], &c, 1) != 1) return 6;
    call("DBCLOSEAREA");
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  ASSERT_TRUE(useTable(path, "DBFNTX", nullptr, true));
  EXPECT_FALSE(rlock(3));
  EXPECT_TRUE(rlock(2));
  goTo(3);
  EXPECT_FALSE(call("RLOCK").log());
  EXPECT_FALSE(call("FLOCK").log());
  {
    ErrorLog log;
    call("DBAPPEND");
    EXPECT_TRUE(call("NETERR").log());
    EXPECT_EQ(log.joined(), "DBFNTX 40/1024 ");
    EXPECT_EQ(lastRec(), 12);
    // The append lock was given back: writing the header takes it again at once.
    VlArea* area = vl_rddGetCurrentWorkAreaPointer();
    EXPECT_FALSE(vl_dbfArea(area)->headerLocked);
  }
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  call("DBUNLOCK");
  EXPECT_FALSE(rlock(4));  // the other process holds the file
  EXPECT_FALSE(call("FLOCK").log());
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  EXPECT_EQ(waitChild(child), 0);
  EXPECT_TRUE(rlock(3));
  call("DBAPPEND");
  EXPECT_FALSE(call("NETERR").log());
  EXPECT_EQ(lastRec(), 13);
  EXPECT_TRUE(call("FLOCK").log());
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

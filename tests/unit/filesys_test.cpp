// The file layer: errors, reading and writing, 64-bit offsets, share modes and byte-range locks
// between processes, names resolved without regard to case, searches, the search path,
// temporary files, file-name parts and fault injection.
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "fs_fixture.h"

namespace {

using Fs = FsTest;

constexpr uint32_t kShared = VL_FO_READWRITE | VL_FO_DENYNONE;

// Opens `path` in a child process with `mode` and reports 0 or the file error.
int openInChild(const std::string& path, uint32_t mode) {
  return inChild([&] {
    VlFHandle g = vl_fsOpen(path.c_str(), mode);
    return g == VL_FS_ERROR ? static_cast<int>(vl_fsError()) : 0;
  });
}

// Opens `path` shared in a child process, tries the lock and reports 0 or the file error.
int lockInChild(const std::string& path, uint64_t start, uint64_t length, uint32_t mode) {
  return inChild([&] {
    VlFHandle g = vl_fsOpen(path.c_str(), kShared);
    if (g == VL_FS_ERROR) return 100;
    return vl_fsLockLarge(g, start, length, mode) ? 0 : static_cast<int>(vl_fsError());
  });
}

std::set<std::string> searchNames(const std::string& pattern, uint32_t filter = 0) {
  std::set<std::string> names;
  if (VlFsFind* f = vl_fsFindFirst(pattern.c_str(), filter)) {
    do names.insert(f->name);
    while (vl_fsFindNext(f));
    vl_fsFindClose(f);
  }
  return names;
}

TEST_F(Fs, OpenAndCreateReportTheWindowsErrors) {
  put("plain.txt", "abc");
  put("ro.txt", "xyz");
  makeReadOnly("ro.txt");
  std::filesystem::create_directory(at("sub"));
  struct Case {
    std::string name;
    uint32_t mode;
    uint32_t error;
  } cases[] = {
      {at("missing.txt"), VL_FO_READ, VL_FERR_NOT_FOUND},
      {at("nodir/x.txt"), VL_FO_READ, VL_FERR_PATH_NOT_FOUND},
      {at("plain.txt/x"), VL_FO_READ, VL_FERR_PATH_NOT_FOUND},
      {at("sub"), VL_FO_READ, VL_FERR_ACCESS},
      {at("ro.txt"), VL_FO_READWRITE, VL_FERR_ACCESS},
      {at("ro.txt"), VL_FO_WRITE, VL_FERR_ACCESS},
      {"", VL_FO_READ, VL_FERR_PATH_NOT_FOUND},
      {std::string(5000, 'a'), VL_FO_READ, VL_FERR_NAME_TOO_LONG},
      {dir + "/" + std::string(300, 'n'), VL_FO_READ, VL_FERR_NAME_TOO_LONG},
  };
  for (const Case& c : cases) {
    vl_fsSetError(0);
    EXPECT_EQ(vl_fsOpen(c.name.c_str(), c.mode), VL_FS_ERROR) << c.name.substr(0, 80);
    EXPECT_EQ(vl_fsError(), c.error) << c.name.substr(0, 80);
  }
  EXPECT_EQ(vl_fsOpen(nullptr, VL_FO_READ), VL_FS_ERROR);

  // A read-only file opens for reading; the handle refuses writes.
  VlFHandle h = vl_fsOpen(at("ro.txt").c_str(), VL_FO_READ);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsError(), 0u);
  char buf[8] = {};
  EXPECT_EQ(vl_fsRead(h, buf, 3), 3u);
  EXPECT_STREQ(buf, "xyz");
  EXPECT_EQ(vl_fsWrite(h, "q", 1), 0u);
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_TRUE(vl_fsClose(h));

  // A write-only handle refuses reads.
  h = vl_fsOpen(at("plain.txt").c_str(), VL_FO_WRITE);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsRead(h, buf, 1), 0u);
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_TRUE(vl_fsClose(h));

  // Creating over a read-only file or a directory is refused and leaves them alone.
  EXPECT_EQ(vl_fsCreate(at("ro.txt").c_str(), VL_FC_NORMAL), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_EQ(get("ro.txt"), "xyz");
  EXPECT_EQ(vl_fsCreate(at("sub").c_str(), VL_FC_NORMAL), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_EQ(vl_fsCreate(at("nodir/new.txt").c_str(), VL_FC_NORMAL), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);

  // Creating empties an existing file.
  h = vl_fsCreate(at("plain.txt").c_str(), VL_FC_NORMAL);
  ASSERT_GE(h, 3);
  EXPECT_EQ(get("plain.txt"), "");
  EXPECT_EQ(vl_fsWrite(h, "new", 3), 3u);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(get("plain.txt"), "new");

  // The read-only attribute: the new handle writes, the file is read-only afterwards.
  h = vl_fsCreate(at("made_ro.txt").c_str(), VL_FC_READONLY);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsWrite(h, "data", 4), 4u);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(get("made_ro.txt"), "data");
  EXPECT_EQ(vl_fsOpen(at("made_ro.txt").c_str(), VL_FO_READWRITE), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
}

TEST_F(Fs, ReadWriteSeekAndTruncate) {
  VlFHandle h = vl_fsCreate(at("f.bin").c_str(), VL_FC_NORMAL);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsWrite(h, "hello world", 11), 11u);
  EXPECT_EQ(vl_fsSeek(h, 0, VL_FS_RELATIVE), 11);
  // A negative offset from the start is refused and the position stays.
  EXPECT_EQ(vl_fsSeek(h, -1, VL_FS_SET), 11);
  EXPECT_EQ(vl_fsError(), VL_FERR_SEEK);
  EXPECT_EQ(vl_fsSeek(h, -20, VL_FS_END), 11);
  EXPECT_EQ(vl_fsError(), VL_FERR_NEGATIVE_SEEK);
  EXPECT_EQ(vl_fsTell(h), 11);
  // Other origins: bit 1 means the end, else bit 0 the current position, else the start.
  EXPECT_EQ(vl_fsSeek(h, -5, 7), 6);
  EXPECT_EQ(vl_fsSeek(h, 1, 5), 7);
  EXPECT_EQ(vl_fsSeek(h, 2, 4), 2);

  char buf[16] = {};
  EXPECT_EQ(vl_fsSeek(h, 6, VL_FS_SET), 6);
  EXPECT_EQ(vl_fsRead(h, buf, 10), 5u);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(vl_fsRead(h, buf, 10), 0u);
  EXPECT_EQ(vl_fsError(), 0u) << "end of file is not an error";

  // Positioned transfers leave the position alone.
  EXPECT_EQ(vl_fsSeek(h, 3, VL_FS_SET), 3);
  EXPECT_EQ(vl_fsWriteAt(h, "W", 1, 6), 1u);
  std::memset(buf, 0, sizeof buf);
  EXPECT_EQ(vl_fsReadAt(h, buf, 5, 6), 5u);
  EXPECT_STREQ(buf, "World");
  EXPECT_EQ(vl_fsTell(h), 3);

  // A write of 0 bytes cuts the file at the position.
  EXPECT_EQ(vl_fsSeek(h, 5, VL_FS_SET), 5);
  EXPECT_EQ(vl_fsWrite(h, "", 0), 0u);
  EXPECT_EQ(vl_fsError(), 0u);
  EXPECT_EQ(vl_fsSize(h), 5);
  EXPECT_TRUE(vl_fsTruncate(h, 8));
  EXPECT_EQ(vl_fsSize(h), 8);
  EXPECT_EQ(vl_fsTell(h), 5);
  EXPECT_TRUE(vl_fsCommit(h));
  EXPECT_FALSE(vl_fsIsDevice(h));
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(get("f.bin"), std::string("hello\0\0\0", 8));
}

TEST_F(Fs, BadHandlesFailCleanly) {
  int foreign = ::open(at("foreign").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  ASSERT_GE(foreign, 0);
  VlFHandle closed = vl_fsCreate(at("closed").c_str(), VL_FC_NORMAL);
  ASSERT_TRUE(vl_fsClose(closed));
  char buf[4];
  for (VlFHandle h : {-1, -7, 99999, foreign, closed}) {
    vl_fsSetError(0);
    EXPECT_EQ(vl_fsRead(h, buf, 4), 0u);
    EXPECT_EQ(vl_fsError(), VL_FERR_INVALID_HANDLE) << h;
    EXPECT_EQ(vl_fsWrite(h, "abcd", 4), 0u);
    EXPECT_EQ(vl_fsError(), VL_FERR_INVALID_HANDLE) << h;
    EXPECT_EQ(vl_fsSeek(h, 1, VL_FS_SET), 0);
    EXPECT_EQ(vl_fsError(), VL_FERR_INVALID_HANDLE) << h;
    EXPECT_FALSE(vl_fsLock(h, 1, 1, VL_FL_LOCK));
    EXPECT_FALSE(vl_fsCommit(h));
    EXPECT_FALSE(vl_fsClose(h));
    EXPECT_EQ(vl_fsError(), VL_FERR_INVALID_HANDLE) << h;
  }
  ::close(foreign);
  EXPECT_EQ(std::filesystem::file_size(at("foreign")), 0u) << "a descriptor the layer does not own is left alone";
  // The standard handles are not closed through the layer.
  EXPECT_FALSE(vl_fsClose(1));
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
}

TEST_F(Fs, OffsetsBeyondFourGigabytes) {
  VlFHandle h = vl_fsCreateEx(at("big.dbf").c_str(), VL_FC_NORMAL, VL_FO_DENYNONE);
  ASSERT_GE(h, 3);
  const int64_t far = 5LL << 30;
  EXPECT_EQ(vl_fsSeekLarge(h, far, VL_FS_SET), far);
  EXPECT_EQ(vl_fsWrite(h, "tail", 4), 4u);
  EXPECT_EQ(vl_fsSize(h), far + 4);
  EXPECT_EQ(vl_fsSeekLarge(h, -6, VL_FS_END), far - 2);
  char buf[6];
  EXPECT_EQ(vl_fsRead(h, buf, 6), 6u);
  EXPECT_EQ(std::string(buf, 6), std::string("\0\0tail", 6));
  // The lock ranges of the table drivers' schemes 4 and 5 lie far out too.
  EXPECT_TRUE(vl_fsLockLarge(h, 4000000000ULL + 7, 1, VL_FL_LOCK));
  EXPECT_TRUE(vl_fsLockLarge(h, 0x7FFFFFFF00000001ULL + 1, 0x7FFFFFFEULL, VL_FL_LOCK));
  EXPECT_EQ(lockInChild(at("big.dbf"), 4000000000ULL + 7, 1, VL_FL_LOCK), 33);
  EXPECT_EQ(lockInChild(at("big.dbf"), 0x7FFFFFFF00000001ULL + 9, 1, VL_FL_LOCK), 33);
  EXPECT_EQ(lockInChild(at("big.dbf"), 0x7FFFFFFF00000001ULL, 1, VL_FL_LOCK), 0);
  EXPECT_TRUE(vl_fsClose(h));
}

struct ShareCase {
  uint32_t first, second;
  bool allowed;
};

TEST_F(Fs, ShareModesHoldBetweenProcessesAndHandles) {
  put("t.dbf", "data");
  const std::string path = at("t.dbf");
  const ShareCase cases[] = {
      {VL_FO_READWRITE | VL_FO_EXCLUSIVE, VL_FO_READ | VL_FO_DENYNONE, false},
      {VL_FO_READWRITE | VL_FO_EXCLUSIVE, VL_FO_READWRITE | VL_FO_EXCLUSIVE, false},
      {VL_FO_READWRITE | VL_FO_EXCLUSIVE, VL_FO_NOACCESS | VL_FO_DENYNONE, true},
      {VL_FO_READ | VL_FO_DENYWRITE, VL_FO_READ | VL_FO_DENYNONE, true},
      {VL_FO_READ | VL_FO_DENYWRITE, VL_FO_READWRITE | VL_FO_DENYNONE, false},
      {VL_FO_READ | VL_FO_DENYWRITE, VL_FO_WRITE | VL_FO_DENYNONE, false},
      {VL_FO_READ | VL_FO_DENYWRITE, VL_FO_READ | VL_FO_DENYWRITE, true},
      {VL_FO_WRITE | VL_FO_DENYREAD, VL_FO_READ | VL_FO_DENYNONE, false},
      {VL_FO_WRITE | VL_FO_DENYREAD, VL_FO_WRITE | VL_FO_DENYNONE, true},
      {VL_FO_READWRITE | VL_FO_DENYNONE, VL_FO_READWRITE | VL_FO_DENYNONE, true},
      {VL_FO_READWRITE | VL_FO_DENYNONE, VL_FO_READ | VL_FO_EXCLUSIVE, false},
      {VL_FO_READWRITE | VL_FO_DENYNONE, VL_FO_READ | VL_FO_DENYWRITE, false},
      {VL_FO_READ | VL_FO_DENYNONE, VL_FO_READ | VL_FO_DENYWRITE, true},
      {VL_FO_READ | VL_FO_DENYNONE, VL_FO_READ | VL_FO_DENYREAD, false},
      {VL_FO_READWRITE | VL_FO_COMPAT, VL_FO_READWRITE | VL_FO_COMPAT, true},
      {VL_FO_READWRITE | 0x70, VL_FO_READWRITE | VL_FO_DENYNONE, true},
  };
  for (const ShareCase& c : cases) {
    VlFHandle h = vl_fsOpen(path.c_str(), c.first);
    ASSERT_GE(h, 3) << std::hex << c.first;
    EXPECT_EQ(openInChild(path, c.second), c.allowed ? 0 : 32) << std::hex << c.first << " then " << c.second;
    VlFHandle g = vl_fsOpen(path.c_str(), c.second);
    EXPECT_EQ(g != VL_FS_ERROR, c.allowed) << "same process: " << std::hex << c.first << " then " << c.second;
    if (g != VL_FS_ERROR) EXPECT_TRUE(vl_fsClose(g));
    else EXPECT_EQ(vl_fsError(), VL_FERR_SHARING);
    EXPECT_TRUE(vl_fsClose(h));
  }
  // Once the exclusive handle is closed, others may open again.
  VlFHandle h = vl_fsOpen(path.c_str(), VL_FO_READWRITE | VL_FO_EXCLUSIVE);
  ASSERT_GE(h, 3);
  EXPECT_EQ(openInChild(path, VL_FO_READ), 32);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(openInChild(path, VL_FO_READ), 0);
}

TEST_F(Fs, AFileOpenElsewhereIsNeitherEmptiedNorErasedNorRenamed) {
  put("t.dbf", "data");
  VlFHandle h = vl_fsOpen(at("t.dbf").c_str(), VL_FO_READ | VL_FO_DENYNONE);
  ASSERT_GE(h, 3);
  EXPECT_EQ(inChild([&] {
              VlFHandle g = vl_fsCreate(at("t.dbf").c_str(), VL_FC_NORMAL);
              return g == VL_FS_ERROR ? static_cast<int>(vl_fsError()) : 0;
            }),
            32);
  EXPECT_EQ(inChild([&] { return vl_fsDelete(at("t.dbf").c_str()) ? 0 : static_cast<int>(vl_fsError()); }), 32);
  EXPECT_EQ(inChild([&] {
              return vl_fsRename(at("t.dbf").c_str(), at("u.dbf").c_str()) ? 0 : static_cast<int>(vl_fsError());
            }),
            32);
  EXPECT_EQ(get("t.dbf"), "data");
  EXPECT_FALSE(vl_fsDelete(at("t.dbf").c_str())) << "this process's own handle counts too";
  EXPECT_EQ(vl_fsError(), VL_FERR_SHARING);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_TRUE(vl_fsRename(at("t.dbf").c_str(), at("u.dbf").c_str()));
  EXPECT_TRUE(vl_fsDelete(at("u.dbf").c_str()));
  EXPECT_FALSE(exists("u.dbf"));
}

TEST_F(Fs, LocksOfAnotherProcessFailAtOnceAndGoWithUnlockOrClose) {
  put("t.dbf", "data");
  const std::string path = at("t.dbf");
  VlFHandle h = vl_fsOpen(path.c_str(), kShared);
  ASSERT_GE(h, 3);
  ASSERT_TRUE(vl_fsLockLarge(h, 1000000001, 1, VL_FL_LOCK));
  EXPECT_EQ(lockInChild(path, 1000000001, 1, VL_FL_LOCK), 33);
  EXPECT_EQ(lockInChild(path, 1000000001, 1, VL_FL_LOCK | VL_FL_SHARED), 33);
  EXPECT_EQ(lockInChild(path, 1000000000, 10, VL_FL_LOCK), 33);
  EXPECT_EQ(lockInChild(path, 1000000002, 1, VL_FL_LOCK), 0);

  ASSERT_TRUE(vl_fsLockLarge(h, 500, 1, VL_FL_LOCK | VL_FL_SHARED));
  EXPECT_EQ(lockInChild(path, 500, 1, VL_FL_LOCK | VL_FL_SHARED), 0);
  EXPECT_EQ(lockInChild(path, 500, 1, VL_FL_LOCK), 33);

  ASSERT_TRUE(vl_fsLockLarge(h, 1000000001, 1, VL_FL_UNLOCK));
  EXPECT_EQ(lockInChild(path, 1000000001, 1, VL_FL_LOCK), 0);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(lockInChild(path, 500, 1, VL_FL_LOCK), 0) << "closing released the shared lock";

  // A handle opened for reading can still lock exclusively.
  h = vl_fsOpen(path.c_str(), VL_FO_READ | VL_FO_DENYNONE);
  ASSERT_GE(h, 3);
  EXPECT_TRUE(vl_fsLockLarge(h, 42, 1, VL_FL_LOCK));
  EXPECT_EQ(lockInChild(path, 42, 1, VL_FL_LOCK), 33);
  EXPECT_TRUE(vl_fsClose(h));
}

TEST_F(Fs, AWaitingLockIsGrantedWhenTheHolderLetsGo) {
  put("t.dbf", "data");
  const std::string path = at("t.dbf");
  VlFHandle h = vl_fsOpen(path.c_str(), kShared);
  ASSERT_GE(h, 3);
  ASSERT_TRUE(vl_fsLockLarge(h, 10, 1, VL_FL_LOCK));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    VlFHandle g = vl_fsOpen(path.c_str(), kShared);
    if (write(fds[1], "w", 1) != 1) _exit(2);
    bool ok = g != VL_FS_ERROR && vl_fsLockLarge(g, 10, 1, VL_FL_LOCK | VL_FL_WAIT);
    if (write(fds[1], ok ? "y" : "n", 1) != 1) _exit(2);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  EXPECT_EQ(c, 'w');
  struct pollfd p = {fds[0], POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 300), 0) << "the child must still be waiting";
  // A wait on a range this handle holds itself fails at once instead of hanging.
  EXPECT_FALSE(vl_fsLockLarge(h, 10, 1, VL_FL_LOCK | VL_FL_WAIT));
  EXPECT_EQ(vl_fsError(), VL_FERR_LOCK);
  EXPECT_TRUE(vl_fsLockLarge(h, 10, 1, VL_FL_UNLOCK));
  EXPECT_EQ(poll(&p, 1, 20000), 1);
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_TRUE(vl_fsClose(h));
}

TEST_F(Fs, ClosingOneHandleKeepsTheLocksOfAnother) {
  put("t.dbf", "data");
  const std::string path = at("t.dbf");
  VlFHandle h1 = vl_fsOpen(path.c_str(), kShared);
  VlFHandle h2 = vl_fsOpen(path.c_str(), kShared);
  ASSERT_GE(h1, 3);
  ASSERT_GE(h2, 3);
  ASSERT_TRUE(vl_fsLockLarge(h1, 77, 1, VL_FL_LOCK));
  EXPECT_FALSE(vl_fsLockLarge(h2, 77, 1, VL_FL_LOCK)) << "the other handle of this process is kept out too";
  EXPECT_EQ(vl_fsError(), VL_FERR_LOCK);
  EXPECT_TRUE(vl_fsClose(h2));
  EXPECT_EQ(lockInChild(path, 77, 1, VL_FL_LOCK), 33);
  // Nor does any other close of the file by this process (a probe of the erase check, say).
  EXPECT_FALSE(vl_fsDelete(path.c_str()));
  EXPECT_EQ(lockInChild(path, 77, 1, VL_FL_LOCK), 33);
  EXPECT_TRUE(vl_fsClose(h1));
  EXPECT_EQ(lockInChild(path, 77, 1, VL_FL_LOCK), 0);
}

TEST_F(Fs, LocksOfOneHandleNeverMerge) {
  put("t.dbf", "data");
  const std::string path = at("t.dbf");
  VlFHandle h = vl_fsOpen(path.c_str(), kShared);
  ASSERT_GE(h, 3);
  EXPECT_TRUE(vl_fsLockLarge(h, 100, 10, VL_FL_LOCK));
  EXPECT_FALSE(vl_fsLockLarge(h, 105, 1, VL_FL_LOCK)) << "exclusive over its own lock";
  EXPECT_EQ(vl_fsError(), VL_FERR_LOCK);
  EXPECT_TRUE(vl_fsLockLarge(h, 105, 1, VL_FL_LOCK | VL_FL_SHARED)) << "shared over its own exclusive";
  EXPECT_FALSE(vl_fsLockLarge(h, 100, 5, VL_FL_UNLOCK)) << "only the exact range unlocks";
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_LOCKED);
  EXPECT_TRUE(vl_fsLockLarge(h, 100, 10, VL_FL_UNLOCK));
  EXPECT_EQ(lockInChild(path, 105, 1, VL_FL_LOCK | VL_FL_SHARED), 0) << "the shared byte stays shared";
  EXPECT_EQ(lockInChild(path, 105, 1, VL_FL_LOCK), 33);
  EXPECT_EQ(lockInChild(path, 100, 5, VL_FL_LOCK), 0) << "the rest of the exclusive range is free";

  // Two shared locks of one range need two unlocks.
  EXPECT_TRUE(vl_fsLockLarge(h, 200, 1, VL_FL_LOCK | VL_FL_SHARED));
  EXPECT_TRUE(vl_fsLockLarge(h, 200, 1, VL_FL_LOCK | VL_FL_SHARED));
  EXPECT_TRUE(vl_fsLockLarge(h, 200, 1, VL_FL_UNLOCK));
  EXPECT_EQ(lockInChild(path, 200, 1, VL_FL_LOCK), 33);
  EXPECT_TRUE(vl_fsLockLarge(h, 200, 1, VL_FL_UNLOCK));
  EXPECT_EQ(lockInChild(path, 200, 1, VL_FL_LOCK), 0);
  EXPECT_FALSE(vl_fsLockLarge(h, 200, 1, VL_FL_UNLOCK));
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_LOCKED);

  // Ranges and modes the layer refuses without touching the file.
  const struct {
    uint64_t start, length;
    uint32_t mode;
  } bad[] = {
      {0, 0, VL_FL_LOCK},
      {VL_FS_RESERVED_BASE - 1, 2, VL_FL_LOCK},
      {VL_FS_RESERVED_BASE, 1, VL_FL_LOCK},
      {UINT64_MAX - 1, 1, VL_FL_LOCK},
      {1, 1, 2},
      {1, 1, 0x1FF},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(vl_fsLockLarge(h, b.start, b.length, b.mode)) << b.start << "+" << b.length;
    EXPECT_EQ(vl_fsError(), VL_FERR_INVALID_PARAM);
  }
  EXPECT_TRUE(vl_fsClose(h));
}

TEST_F(Fs, EraseAndRenameResults) {
  put("a.dbf", "A");
  put("b.dbf", "B");
  put("ro.txt", "R");
  makeReadOnly("ro.txt");
  std::filesystem::create_directory(at("sub"));
  const struct {
    std::string name;
    uint32_t error;
  } erase[] = {
      {at("missing.txt"), VL_FERR_NOT_FOUND},
      {at("nodir/x.txt"), VL_FERR_PATH_NOT_FOUND},
      {at("sub"), VL_FERR_ACCESS},
      {at("ro.txt"), VL_FERR_ACCESS},
      {"", VL_FERR_PATH_NOT_FOUND},
  };
  for (const auto& c : erase) {
    EXPECT_FALSE(vl_fsDelete(c.name.c_str())) << c.name;
    EXPECT_EQ(vl_fsError(), c.error) << c.name;
  }
  EXPECT_TRUE(exists("ro.txt"));
  EXPECT_TRUE(exists("sub"));

  // A rename never replaces an existing file.
  EXPECT_FALSE(vl_fsRename(at("a.dbf").c_str(), at("b.dbf").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_EQ(vl_fsOsError(), VL_FERR_ALREADY_EXISTS);
  EXPECT_EQ(get("a.dbf"), "A");
  EXPECT_EQ(get("b.dbf"), "B");
  EXPECT_FALSE(vl_fsRename(at("missing").c_str(), at("x").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_FOUND);
  EXPECT_FALSE(vl_fsRename(at("a.dbf").c_str(), at("nodir/a.dbf").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);

  EXPECT_TRUE(vl_fsRenameEx(at("a.dbf").c_str(), at("c.dbf").c_str(), VL_FR_DURABLE));
  EXPECT_EQ(vl_fsError(), 0u);
  EXPECT_FALSE(exists("a.dbf"));
  EXPECT_EQ(get("c.dbf"), "A");
  EXPECT_TRUE(vl_fsRename(at("c.dbf").c_str(), at("sub/c.dbf").c_str()));
  EXPECT_EQ(get("sub/c.dbf"), "A");
  EXPECT_TRUE(vl_fsRename(at("sub").c_str(), at("sub2").c_str())) << "directories can be renamed";
  EXPECT_TRUE(exists("sub2/c.dbf"));
  EXPECT_TRUE(vl_fsDelete(at("b.dbf").c_str()));
  EXPECT_FALSE(exists("b.dbf"));
  EXPECT_TRUE(vl_fsSyncDir(at("sub2/c.dbf").c_str()));
}

TEST_F(Fs, NamesResolveWithoutRegardToCase) {
  put("CUSTOMER.DBF", "upper");
  vl_set.fileCase = VL_CASE_LOWER;
  vl_set.dirCase = VL_CASE_LOWER;
  EXPECT_TRUE(vl_fsFile(at("customer.dbf").c_str()));
  EXPECT_TRUE(vl_fsFile(at("Customer.Dbf").c_str()));
  char buf[8] = {};
  VlFHandle h = vl_fsOpen(at("customer.dbf").c_str(), VL_FO_READ);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsRead(h, buf, 5), 5u);
  EXPECT_STREQ(buf, "upper");
  EXPECT_TRUE(vl_fsClose(h));
  char stored[VL_FS_PATH_MAX];
  EXPECT_TRUE(vl_fsResolveName(at("CUSTOMER.dbf").c_str(), stored));
  EXPECT_EQ(std::string(stored), at("CUSTOMER.DBF"));

  // Creating under the lower-case name empties the existing file in place: no second file.
  h = vl_fsCreate(at("customer.dbf").c_str(), VL_FC_NORMAL);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsWrite(h, "again", 5), 5u);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(searchNames(at("*.*")), (std::set<std::string>{".", "..", "CUSTOMER.DBF"}));
  EXPECT_EQ(get("CUSTOMER.DBF"), "again");

  // Renaming takes the new name as converted; the old entry is found without regard to case.
  EXPECT_TRUE(vl_fsRename(at("CUSTOMER.DBF").c_str(), at("CUSTOMER.OLD").c_str()));
  EXPECT_TRUE(exists("customer.old"));
  EXPECT_FALSE(exists("CUSTOMER.DBF"));
  // A change of case only is a rename of the file to itself.
  vl_set.fileCase = VL_CASE_MIXED;
  EXPECT_TRUE(vl_fsRename(at("customer.old").c_str(), at("Customer.Old").c_str()));
  EXPECT_EQ(searchNames(at("*.old")), (std::set<std::string>{"Customer.Old"}));
  // A new name that matches another file without regard to case counts as existing.
  put("other.old", "o");
  EXPECT_FALSE(vl_fsRename(at("other.old").c_str(), at("CUSTOMER.OLD").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_TRUE(vl_fsDelete(at("CUSTOMER.old").c_str()));
  EXPECT_FALSE(exists("Customer.Old"));

  // The exact name wins; two matches and no exact one are "not found".
  put("Orders.dbf", "mixed");
  put("orders.dbf", "lower");
  h = vl_fsOpen(at("orders.dbf").c_str(), VL_FO_READ);
  ASSERT_GE(h, 3);
  EXPECT_EQ(vl_fsRead(h, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), "lower");
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(vl_fsOpen(at("ORDERS.DBF").c_str(), VL_FO_READ), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_FOUND);
  EXPECT_FALSE(vl_fsFile(at("ORDERS.DBF").c_str()));

  // Directories are resolved too, and backslashes become the separator.
  std::filesystem::create_directory(at("Data"));
  put("Data/Table.DBF", "t");
  vl_set.fileCase = VL_CASE_LOWER;
  h = vl_fsOpen((dir + "\\DATA\\Table.DBF").c_str(), VL_FO_READ);
  ASSERT_GE(h, 3);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(vl_fsOpen((dir + "\\NODATA\\Table.DBF").c_str(), VL_FO_READ), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);
}

TEST_F(Fs, NameConversionFollowsTheSettings) {
  const struct {
    int fileCase, dirCase;
    bool trimSetting, trimCall;
    char separator;
    const char* in;
    const char* out;
  } cases[] = {
      {VL_CASE_LOWER, VL_CASE_MIXED, false, true, '/', "DATA\\Table.DBF", "DATA/table.dbf"},
      {VL_CASE_LOWER, VL_CASE_UPPER, false, true, '/', "data\\Table.DBF", "DATA/table.dbf"},
      {VL_CASE_UPPER, VL_CASE_LOWER, false, true, '/', "Dir/Sub/a.dbf", "dir/sub/A.DBF"},
      {VL_CASE_MIXED, VL_CASE_MIXED, true, true, '/', "  a.txt  ", "a.txt"},
      {VL_CASE_MIXED, VL_CASE_MIXED, true, false, '/', "  a.txt  ", "  a.txt  "},
      {VL_CASE_MIXED, VL_CASE_MIXED, false, true, '/', "  a.txt  ", "  a.txt  "},
      {VL_CASE_LOWER, VL_CASE_MIXED, false, true, '\\', "A\\B.TXT", "A\\b.txt"},
  };
  char out[VL_FS_PATH_MAX];
  for (const auto& c : cases) {
    vl_set.fileCase = c.fileCase;
    vl_set.dirCase = c.dirCase;
    vl_set.trimFileName = c.trimSetting;
    vl_set.dirSeparator = c.separator;
    EXPECT_TRUE(vl_fsNameConvert(c.in, out, c.trimCall)) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  vl_set.dirSeparator = '/';
  vl_set.fileCase = vl_set.dirCase = VL_CASE_MIXED;
  EXPECT_FALSE(vl_fsNameConvert(std::string(VL_FS_PATH_MAX, 'x').c_str(), out, true));

  // Trimming applies to opens.
  put("a.txt", "x");
  vl_set.trimFileName = true;
  VlFHandle h = vl_fsOpen(("  " + at("a.txt") + "  ").c_str(), VL_FO_READ);
  EXPECT_GE(h, 3);
  EXPECT_TRUE(vl_fsClose(h));
}

TEST_F(Fs, SearchesMatchWildcardsWithoutRegardToCase) {
  put("a.dbf", "12345");
  put("B.DBF", "");
  put("c.txt", "");
  put("noext", "");
  put(".hidden.dbf", "");
  makeReadOnly("c.txt");
  std::filesystem::create_directory(at("Sub.dbf"));
  EXPECT_EQ(searchNames(at("*.DBF")), (std::set<std::string>{"a.dbf", "B.DBF", ".hidden.dbf", "Sub.dbf"}));
  EXPECT_EQ(searchNames(at("?.dbf")), (std::set<std::string>{"a.dbf", "B.DBF"}));
  EXPECT_EQ(searchNames(at("*.*")),
            (std::set<std::string>{".", "..", "a.dbf", "B.DBF", "c.txt", "noext", ".hidden.dbf", "Sub.dbf"}));
  EXPECT_EQ(searchNames(at("noext.*")), (std::set<std::string>{"noext"}));
  EXPECT_EQ(searchNames(at("*.")), (std::set<std::string>{".", "..", "noext"}));
  EXPECT_EQ(searchNames(at("A.DBF")), (std::set<std::string>{"a.dbf"})) << "a plain name is resolved";
  EXPECT_EQ(searchNames(dir + "/"), searchNames(at("*.*"))) << "a trailing separator means *.*";

  std::map<std::string, VlFsFind> seen;
  if (VlFsFind* f = vl_fsFindFirst(at("*").c_str(), 0)) {
    do seen[f->name] = *f;
    while (vl_fsFindNext(f));
    vl_fsFindClose(f);
  }
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen["a.dbf"].attr, VL_FA_NORMAL);
  EXPECT_EQ(seen["a.dbf"].size, 5);
  EXPECT_NE(seen["a.dbf"].date, 0);
  EXPECT_EQ(std::strlen(seen["a.dbf"].time), 8u);
  EXPECT_EQ(seen["c.txt"].attr, VL_FA_READONLY);
  EXPECT_EQ(seen[".hidden.dbf"].attr, VL_FA_HIDDEN);
  EXPECT_EQ(seen["Sub.dbf"].attr, VL_FA_DIRECTORY);
  EXPECT_EQ(seen["Sub.dbf"].size, 0);
  EXPECT_EQ(seen["."].attr, VL_FA_DIRECTORY);

  EXPECT_EQ(vl_fsFindFirst(at("nodir/*.*").c_str(), 0), nullptr);
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);
  EXPECT_EQ(vl_fsFindFirst(at("*.zzz").c_str(), 0), nullptr);
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_FOUND);
}

TEST_F(Fs, ExistenceTest) {
  put("x.dbf", "");
  std::filesystem::create_directory(at("d"));
  std::filesystem::create_directory(at("only.q"));
  vl_fsSetError(5);
  EXPECT_TRUE(vl_fsFile(at("*.DBF").c_str()));
  EXPECT_EQ(vl_fsError(), 0u);
  EXPECT_TRUE(vl_fsFile(at("X.DBF").c_str()));
  EXPECT_FALSE(vl_fsFile(at("d").c_str())) << "a directory is not a file";
  EXPECT_FALSE(vl_fsFile(at("*.q").c_str())) << "a pattern matching only directories";
  EXPECT_FALSE(vl_fsFile(at("*.zzz").c_str()));
  EXPECT_FALSE(vl_fsFile(at("x.dbf/").c_str()));
  EXPECT_FALSE(vl_fsFile(""));
  EXPECT_FALSE(vl_fsFile(nullptr));
  EXPECT_EQ(vl_fsError(), 0u);
  EXPECT_TRUE(vl_fsIsDirectory(at("D").c_str()));
  EXPECT_FALSE(vl_fsIsDirectory(at("x.dbf").c_str()));
}

TEST_F(Fs, DirectoriesAndTheCurrentDirectory) {
  EXPECT_TRUE(vl_fsMkDir(at("New").c_str()));
  EXPECT_FALSE(vl_fsMkDir(at("New").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_ACCESS);
  EXPECT_EQ(vl_fsOsError(), VL_FERR_ALREADY_EXISTS);
  EXPECT_FALSE(vl_fsMkDir(at("NEW").c_str())) << "exists without regard to case";
  EXPECT_TRUE(vl_fsChDir(at("new").c_str()));
  EXPECT_EQ(std::string(vl_fsCurDir(0)), dir.substr(1) + "/New");
  put("New/f", "");
  EXPECT_FALSE(vl_fsRmDir(at("New").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_DIR_NOT_EMPTY);
  EXPECT_FALSE(vl_fsChDir(at("none").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_NOT_FOUND);
  EXPECT_FALSE(vl_fsRmDir(at("none/deeper").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);
  std::filesystem::remove(at("New/f"));
  EXPECT_TRUE(vl_fsChDir(dir.c_str()));
  EXPECT_TRUE(vl_fsRmDir(at("NEW").c_str()));
  EXPECT_FALSE(exists("New"));
}

TEST_F(Fs, SearchPathFindsTheDefaultDirectoryThenThePath) {
  for (const char* d : {"def", "p1", "p2"}) std::filesystem::create_directory(at(d));
  put("p2/t.dbf", "path");
  put("def/u.dbf", "default");
  setStringSetting(vl_set.defaultDir, at("def"));
  setStringSetting(vl_set.path, at("p1") + ";" + at("p2"));
  char out[VL_FS_PATH_MAX];
  EXPECT_TRUE(vl_spFile("t.dbf", out));
  EXPECT_EQ(std::string(out), at("p2") + "/t.dbf");
  EXPECT_TRUE(vl_spFile("u.dbf", out));
  EXPECT_EQ(std::string(out), at("def") + "/u.dbf");
  EXPECT_TRUE(vl_spFile("*.dbf", out)) << "patterns search the path as well";
  EXPECT_FALSE(vl_spFile("none.dbf", out));
  EXPECT_EQ(std::string(out), at("def") + "/none.dbf");
  EXPECT_FALSE(vl_spFile(at("p1/t.dbf").c_str(), out)) << "a name with a directory is tested alone";

  VlFHandle h = vl_spOpen("t.dbf", VL_FO_READ);
  ASSERT_GE(h, 3);
  char buf[5] = {};
  EXPECT_EQ(vl_fsRead(h, buf, 4), 4u);
  EXPECT_STREQ(buf, "path");
  EXPECT_TRUE(vl_fsClose(h));
  h = vl_spCreate("new.dbf", VL_FC_NORMAL);
  ASSERT_GE(h, 3);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_TRUE(exists("def/new.dbf"));
}

TEST_F(Fs, TemporaryFilesAreNewAndExclusive) {
  char name1[VL_FS_PATH_MAX], name2[VL_FS_PATH_MAX];
  VlFHandle h1 = vl_fsCreateTemp(dir.c_str(), VL_FC_NORMAL, VL_FO_EXCLUSIVE, name1);
  VlFHandle h2 = vl_fsCreateTemp(dir.c_str(), VL_FC_NORMAL, VL_FO_EXCLUSIVE, name2);
  ASSERT_GE(h1, 3);
  ASSERT_GE(h2, 3);
  EXPECT_EQ(std::string(name1).rfind(dir + "/tmq", 0), 0u) << name1;
  EXPECT_STRNE(name1, name2);
  EXPECT_TRUE(std::filesystem::exists(name1));
  EXPECT_EQ(openInChild(name1, VL_FO_READ), 32);
  EXPECT_EQ(vl_fsWrite(h1, "abc", 3), 3u);
  EXPECT_TRUE(vl_fsClose(h1));
  EXPECT_TRUE(vl_fsClose(h2));
  char name3[VL_FS_PATH_MAX];
  VlFHandle h3 = vl_fsCreateTemp("", VL_FC_NORMAL, VL_FO_EXCLUSIVE, name3);
  ASSERT_GE(h3, 3);
  EXPECT_TRUE(vl_fsClose(h3));
  EXPECT_TRUE(vl_fsDelete(name3));
  EXPECT_EQ(vl_fsCreateTemp(at("nodir").c_str(), VL_FC_NORMAL, VL_FO_EXCLUSIVE, name3), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_PATH_NOT_FOUND);
}

TEST_F(Fs, FaultsFailTheChosenCall) {
  VlFHandle h = vl_fsCreate(at("f").c_str(), VL_FC_NORMAL);
  ASSERT_GE(h, 3);
  vl_fsFaultFailNth(VL_FSF_WRITE, 2, VL_FERR_WRITE_FAULT);
  EXPECT_EQ(vl_fsWrite(h, "a", 1), 1u);
  EXPECT_EQ(vl_fsWrite(h, "b", 1), 0u);
  EXPECT_EQ(vl_fsError(), VL_FERR_WRITE_FAULT);
  EXPECT_EQ(vl_fsWrite(h, "c", 1), 1u) << "a fault fires once";

  // A full disk: writes stop after the budget.
  vl_fsFaultWriteLimit(5);
  EXPECT_EQ(vl_fsWrite(h, "0123456789", 10), 5u);
  EXPECT_EQ(vl_fsError(), VL_FERR_DISK_FULL);
  EXPECT_EQ(vl_fsWriteAt(h, "x", 1, 0), 0u);
  EXPECT_EQ(vl_fsError(), VL_FERR_DISK_FULL);
  vl_fsFaultReset();
  EXPECT_EQ(vl_fsWrite(h, "x", 1), 1u);
  EXPECT_TRUE(vl_fsClose(h));
  EXPECT_EQ(get("f"), "ac01234x");

  vl_fsFaultFailNth(VL_FSF_READ, 1, VL_FERR_READ_FAULT);
  h = vl_fsOpen(at("f").c_str(), VL_FO_READ);
  char buf[4];
  EXPECT_EQ(vl_fsRead(h, buf, 4), 0u);
  EXPECT_EQ(vl_fsError(), VL_FERR_READ_FAULT);
  EXPECT_EQ(vl_fsRead(h, buf, 4), 4u);
  vl_fsFaultFailNth(VL_FSF_COMMIT, 1, VL_FERR_WRITE_FAULT);
  EXPECT_FALSE(vl_fsCommit(h));
  vl_fsFaultFailNth(VL_FSF_LOCK, 1, VL_FERR_LOCK);
  EXPECT_FALSE(vl_fsLock(h, 1, 1, VL_FL_LOCK));
  EXPECT_TRUE(vl_fsClose(h));

  vl_fsFaultFailNth(VL_FSF_RENAME, 1, VL_FERR_ACCESS);
  EXPECT_FALSE(vl_fsRename(at("f").c_str(), at("g").c_str()));
  EXPECT_TRUE(exists("f"));
  EXPECT_FALSE(exists("g"));
  vl_fsFaultFailNth(VL_FSF_DELETE, 1, VL_FERR_SHARING);
  EXPECT_FALSE(vl_fsDelete(at("f").c_str()));
  EXPECT_EQ(vl_fsError(), VL_FERR_SHARING);
  EXPECT_TRUE(exists("f"));
  vl_fsFaultFailNth(VL_FSF_OPEN, 2, VL_FERR_SHARING);
  h = vl_fsOpen(at("f").c_str(), VL_FO_READ);
  EXPECT_GE(h, 3);
  EXPECT_EQ(vl_fsOpen(at("f").c_str(), VL_FO_READ), VL_FS_ERROR);
  EXPECT_EQ(vl_fsError(), VL_FERR_SHARING);
  EXPECT_TRUE(vl_fsClose(h));
}

TEST_F(Fs, ArbitraryNamesFailCleanly) {
  // Random bytes as names and patterns (kept inside the test directory: no separators) and as
  // file names to split; nothing may crash and nothing outside the directory may change.
  put("keep.dbf", "keep");
  uint64_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(seed >> 33);
  };
  for (int round = 0; round < 300; ++round) {
    std::string name;
    size_t len = 1 + next() % 40;
    for (size_t i = 0; i < len; ++i) {
      char c = static_cast<char>(1 + next() % 255);
      if (c == '/' || c == '\\') c = '*';
      name += c;
    }
    std::string full = dir + "/" + name;
    vl_set.fileCase = static_cast<int>(next() % 3);
    vl_set.trimFileName = next() % 2 != 0;
    VlFHandle h = vl_fsOpen(full.c_str(), next() & 0x73);
    if (h != VL_FS_ERROR) vl_fsClose(h);
    vl_fsFile(full.c_str());
    if (VlFsFind* f = vl_fsFindFirst(full.c_str(), next() & 0xFFFF)) {
      while (vl_fsFindNext(f)) {
      }
      vl_fsFindClose(f);
    }
    // Erase and rename only plain names: never "." or ".." (trimmed), which name directories.
    bool plain = name.find_first_of("*?") == std::string::npos && name.find_first_not_of(". ") != std::string::npos &&
                 name != "keep.dbf";
    if (plain) {
      vl_fsDelete(full.c_str());
      vl_fsRename(full.c_str(), (full + "x").c_str());
    }
    char merged[VL_FS_PATH_MAX];
    std::string bytes;
    for (size_t i = 0; i < len; ++i) bytes += static_cast<char>(1 + next() % 255);
    VlFName* parts = vl_fsFNameSplit(bytes.c_str());
    EXPECT_STREQ(vl_fsFNameMerge(merged, parts), bytes.c_str());
    vl_xfree(parts);
  }
  EXPECT_EQ(get("keep.dbf"), "keep");
}

TEST(FsNames, SplitAndMerge) {
  const struct {
    const char* in;
    const char *path, *name, *ext, *drive;
  } cases[] = {
      {"C:\\DIR\\FILE.EXT", "C:\\DIR\\", "FILE", ".EXT", "C:"},
      {".profile", nullptr, ".profile", nullptr, nullptr},
      {"a.b.c", nullptr, "a.b", ".c", nullptr},
      {"dir/sub/", "dir/sub/", nullptr, nullptr, nullptr},
      {"", nullptr, nullptr, nullptr, nullptr},
      {"name.", nullptr, "name", ".", nullptr},
      {"x:y", "x:", "y", nullptr, "x:"},
      {"/abs/t.dbf", "/abs/", "t", ".dbf", nullptr},
  };
  auto same = [](const char* a, const char* b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); };
  for (const auto& c : cases) {
    VlFName* f = vl_fsFNameSplit(c.in);
    EXPECT_TRUE(same(f->path, c.path)) << c.in;
    EXPECT_TRUE(same(f->name, c.name)) << c.in;
    EXPECT_TRUE(same(f->ext, c.ext)) << c.in;
    EXPECT_TRUE(same(f->drive, c.drive)) << c.in;
    char merged[VL_FS_PATH_MAX];
    EXPECT_STREQ(vl_fsFNameMerge(merged, f), c.in) << "merging the parts gives the name back";
    vl_xfree(f);
  }
  VlFName parts{};
  char out[VL_FS_PATH_MAX];
  parts.path = "C:\\DIR";
  parts.name = "FILE";
  parts.ext = "EXT";
  EXPECT_STREQ(vl_fsFNameMerge(out, &parts), "C:\\DIR\\FILE.EXT");
  parts.path = "dir/";
  parts.name = "\\x";
  parts.ext = ".y";
  EXPECT_STREQ(vl_fsFNameMerge(out, &parts), "dir/x.y");
  parts.name = nullptr;
  parts.ext = nullptr;
  EXPECT_STREQ(vl_fsFNameMerge(out, &parts), "dir/");
  parts.path = "p";
  EXPECT_STREQ(vl_fsFNameMerge(out, &parts), "p");
}

}  // namespace

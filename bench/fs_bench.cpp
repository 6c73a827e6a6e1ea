// File layer costs on the optimised build: record-sized positioned I/O against the raw system
// calls, record lock/unlock cycles (alone and beside many held locks), open/close with the share
// checks, and a directory search. Prints one line per measurement.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/filesys.h"

namespace {

double nsPer(std::chrono::steady_clock::time_point t0, long n) {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / n;
}

}  // namespace

int main() {
  const std::string dir = "/tmp/vl_fs_bench_" + std::to_string(getpid());
  std::filesystem::create_directory(dir);
  const std::string file = dir + "/bench.dbf";
  const long records = 200000;
  const uint32_t recLen = 128;
  char rec[recLen];
  std::memset(rec, 'r', sizeof rec);

  VlFHandle h = vl_fsCreateEx(file.c_str(), VL_FC_NORMAL, VL_FO_DENYNONE);
  if (h == VL_FS_ERROR) {
    std::fprintf(stderr, "cannot create %s\n", file.c_str());
    return 1;
  }
  auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < records; ++i) vl_fsWriteAt(h, rec, recLen, static_cast<uint64_t>(i) * recLen);
  double layerWrite = nsPer(t0, records);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < records; ++i)
    if (pwrite(h, rec, recLen, static_cast<off_t>(i) * recLen) != recLen) return 1;
  double rawWrite = nsPer(t0, records);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < records; ++i) vl_fsReadAt(h, rec, recLen, static_cast<uint64_t>(i) * recLen);
  double layerRead = nsPer(t0, records);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < records; ++i)
    if (pread(h, rec, recLen, static_cast<off_t>(i) * recLen) != recLen) return 1;
  double rawRead = nsPer(t0, records);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < records; ++i) {
    vl_fsSeek(h, static_cast<int64_t>(i) * recLen, VL_FS_SET);
    vl_fsRead(h, rec, recLen);
  }
  double seekRead = nsPer(t0, records);
  std::printf("write 128 B record: layer %.0f ns, raw pwrite %.0f ns\n", layerWrite, rawWrite);
  std::printf("read 128 B record:  layer %.0f ns, raw pread %.0f ns, seek+read %.0f ns\n", layerRead, rawRead,
              seekRead);

  const long cycles = 100000;
  const uint64_t base = 1000000000ULL;
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < cycles; ++i) {
    vl_fsLockLarge(h, base + 1, 1, VL_FL_LOCK);
    vl_fsLockLarge(h, base + 1, 1, VL_FL_UNLOCK);
  }
  double lockAlone = nsPer(t0, cycles);
  for (uint64_t r = 1000; r < 2000; ++r) vl_fsLockLarge(h, base + r, 1, VL_FL_LOCK);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < cycles; ++i) {
    vl_fsLockLarge(h, base + 1, 1, VL_FL_LOCK);
    vl_fsLockLarge(h, base + 1, 1, VL_FL_UNLOCK);
  }
  double lockBeside = nsPer(t0, cycles);
  std::printf("record lock+unlock: %.0f ns alone, %.0f ns beside 1000 held locks\n", lockAlone, lockBeside);
  vl_fsClose(h);

  const long opens = 20000;
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < opens; ++i) vl_fsClose(vl_fsOpen(file.c_str(), VL_FO_READWRITE | VL_FO_EXCLUSIVE));
  double layerOpen = nsPer(t0, opens);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < opens; ++i) close(open(file.c_str(), O_RDWR | O_CLOEXEC));
  double rawOpen = nsPer(t0, opens);
  std::printf("open+close: layer (with share checks) %.0f ns, raw %.0f ns\n", layerOpen, rawOpen);

  for (int i = 0; i < 1000; ++i) std::fclose(std::fopen((dir + "/T" + std::to_string(i) + ".DBF").c_str(), "w"));
  const long searches = 200;
  long found = 0;
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < searches; ++i) {
    if (VlFsFind* f = vl_fsFindFirst((dir + "/*.dbf").c_str(), 0)) {
      do ++found;
      while (vl_fsFindNext(f));
      vl_fsFindClose(f);
    }
  }
  std::printf("search *.dbf over 1001 entries: %.0f us (%ld found per search)\n", nsPer(t0, searches) / 1000,
              found / searches);
  t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < searches; ++i) vl_fsFile((dir + "/t500.dbf").c_str());
  std::printf("FILE() of a name found without regard to case in that directory: %.0f us\n",
              nsPer(t0, searches) / 1000);

  std::filesystem::remove_all(dir);
  return 0;
}

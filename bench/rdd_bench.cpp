// The DBF driver on the optimised build: appending 1,000,000 records of 100 bytes field by field,
// then reading every field of every record in table order, against `cat` of the same file.
// Usage: vl_bench_rdd [records] [directory] [read]   ("read" reuses the table a previous run left
// in the directory, which is then kept).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "rdd/rddapi.h"
#include "rtl/dates.h"
#include "vm/arrays.h"
#include "vm/cmdarg.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

// Start-up asks for the error system's block procedures, which live in a library module that
// is not linked here.
void nilResult() { vl_ret(); }
VlSymbol s_standIns[] = {
    {"__ERRORBLOCK", VL_FS_PUBLIC, {nilResult}, VL_SYM_DEFINED},
    {"__BREAKBLOCK", VL_FS_PUBLIC, {nilResult}, VL_SYM_DEFINED},
};
struct Register {
  Register() { vl_vmProcessSymbols(s_standIns, 2, "rdd_bench.cpp", VL_PCODE_VERSION); }
} s_register;

double seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void callFn(const char* name, std::initializer_list<const VlItem*> args) {
  vl_vmPushSymbol(vl_dynsymFind(name)->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) vl_vmPush(a);
  vl_vmDo(static_cast<uint16_t>(args.size()));
}

VlItem text(const char* s) {
  VlItem it;
  it.type = VL_IT_NIL;
  vl_itemPutC(&it, s);
  return it;
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : "/tmp/vl_rdd_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::string path = dir + "/bench.dbf";
  bool readOnly = argc > 3 && std::string(argv[3]) == "read";

  char prog[] = "vl_bench_rdd";
  char* args[] = {prog, nullptr};
  vl_cmdargInit(1, args);
  vl_vmInit(false);

  // 1 + 8 + 30 + 20 + 12 + 1 + 8 + 6 + 14 = 100 bytes a record.
  VlItem structure;
  structure.type = VL_IT_NIL;
  struct Def {
    const char* name;
    const char* type;
    int len, dec;
  } defs[] = {{"ID", "N", 8, 0},    {"NAME", "C", 30, 0}, {"CITY", "C", 20, 0}, {"AMOUNT", "N", 12, 2},
              {"ACTIVE", "L", 1, 0}, {"SINCE", "D", 8, 0}, {"QTY", "N", 6, 0},  {"NOTE", "C", 14, 0}};
  const int fields = 8;
  vl_arrayNew(&structure, fields);
  for (int i = 0; i < fields; ++i) {
    VlItem* row = vl_arrayGetItemPtr(&structure, static_cast<uint32_t>(i + 1));
    vl_arrayNew(row, 4);
    vl_itemPutC(vl_arrayGetItemPtr(row, 1), defs[i].name);
    vl_itemPutC(vl_arrayGetItemPtr(row, 2), defs[i].type);
    vl_itemPutNI(vl_arrayGetItemPtr(row, 3), defs[i].len);
    vl_itemPutNI(vl_arrayGetItemPtr(row, 4), defs[i].dec);
  }
  VlItem file = text(path.c_str()), driver = text("DBF"), yes, no;
  yes.type = no.type = VL_IT_NIL;
  vl_itemPutL(&yes, true);
  vl_itemPutL(&no, false);
  if (!readOnly) callFn("DBCREATE", {&file, &structure, &driver});
  callFn("DBUSEAREA", {&yes, &driver, &file});
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  if (readOnly) {
    uint32_t count = 0;
    VL_SELF(area, recCount, &count);
    records = count;
  }

  static const char* const cities[] = {"Boston", "Chicago", "Denver", "El Paso", "K\x94ln", "Warszawa"};
  int32_t base = vl_dateEncode(1990, 1, 1);
  VlItem v;
  v.type = VL_IT_NIL;
  char name[40];
  auto t0 = std::chrono::steady_clock::now();
  for (long i = 1; i <= records && !readOnly; ++i) {
    VL_SELF(area, append, true);
    vl_itemPutNI(&v, static_cast<int32_t>(i));
    VL_SELF(area, putValue, 1, &v);
    std::snprintf(name, sizeof name, "Customer %ld", i);
    vl_itemPutC(&v, name);
    VL_SELF(area, putValue, 2, &v);
    vl_itemPutC(&v, cities[i % 6]);
    VL_SELF(area, putValue, 3, &v);
    vl_itemPutNDLen(&v, static_cast<double>(i) * 1.25, 9, 2);
    VL_SELF(area, putValue, 4, &v);
    vl_itemPutL(&v, i % 2 == 0);
    VL_SELF(area, putValue, 5, &v);
    vl_itemPutDL(&v, base + static_cast<int32_t>(i % 10000));
    VL_SELF(area, putValue, 6, &v);
    vl_itemPutNI(&v, static_cast<int32_t>(i % 1000));
    VL_SELF(area, putValue, 7, &v);
    vl_itemPutC(&v, "some note");
    VL_SELF(area, putValue, 8, &v);
  }
  callFn("DBCLOSEAREA", {});
  double appendTime = seconds(t0);

  std::string cat = "cat '" + path + "' > /dev/null";
  double catTime = 1e9;
  for (int run = 0; run < 5; ++run) {
    t0 = std::chrono::steady_clock::now();
    if (std::system(cat.c_str()) != 0) return 1;
    catTime = std::min(catTime, seconds(t0));
  }

  double readTime = 1e9;
  long checksum = 0;
  for (int run = 0; run < 3; ++run) {
    callFn("DBUSEAREA", {&yes, &driver, &file});
    area = vl_rddGetCurrentWorkAreaPointer();
    t0 = std::chrono::steady_clock::now();
    VL_SELF(area, goTop);
    long seen = 0;
    for (;;) {
      bool eof = false;
      VL_SELF(area, eof, &eof);
      if (eof) break;
      for (uint16_t f = 1; f <= fields; ++f) {
        VL_SELF(area, getValue, f, &v);
        if (f == 1) checksum += vl_itemGetNI(&v);
      }
      ++seen;
      VL_SELF(area, skip, 1);
    }
    readTime = std::min(readTime, seconds(t0));
    callFn("DBCLOSEAREA", {});
    if (seen != records) {
      std::fprintf(stderr, "read %ld records of %ld\n", seen, records);
      return 1;
    }
  }
  vl_itemClear(&v);
  vl_itemClear(&structure);
  vl_itemClear(&file);
  vl_itemClear(&driver);

  std::printf("DBF append %ld records of 100 bytes (8 fields each): %.3f s (%.0f ns a record)\n", records, appendTime,
              appendTime * 1e9 / records);
  std::printf("DBF read every field of %ld records: %.3f s (%.0f ns a record); cat of the file: %.4f s; ratio %.1fx "
              "(checksum %ld)\n",
              records, readTime, readTime * 1e9 / records, catTime, readTime / catTime, checksum);
  vl_vmQuit();
  if (argc <= 2) std::filesystem::remove_all(dir);
  return 0;
}

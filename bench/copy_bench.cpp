// __DBCOPY on the optimised build, as the table-rebuild program runs it, against `cp` of the
// same files on a warm cache: a table of 1,000,000 records of 100 bytes without memos, and one
// of 100,000 records with a memo field holding about 1 KiB a record.
// Usage: vl_bench_copy [records] [memo records] [directory]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "rdd/rddapi.h"
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
  Register() { vl_vmProcessSymbols(s_standIns, 2, "copy_bench.cpp", VL_PCODE_VERSION); }
} s_register;

double seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void callFn(const char* name, std::initializer_list<const VlItem*> args) {
  vl_vmPushSymbol(vl_dynsymFind(name)->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) {
    if (a) vl_vmPush(a);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
}

void put16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

struct Field {
  const char* name;
  char type;
  int len, dec;
};

// Header and descriptors of a table with these fields.
std::string header(const Field* fields, int count, uint32_t records, bool memo, uint16_t* recLen) {
  std::string h(32 + 32 * count + 2, '\0');
  h[0] = static_cast<char>(memo ? 0x83 : 0x03);
  h[1] = 124;
  h[2] = 1;
  h[3] = 1;
  put32(h, 4, records);
  uint16_t len = 1;
  for (int i = 0; i < count; ++i) {
    size_t d = 32 + 32 * static_cast<size_t>(i);
    std::memcpy(&h[d], fields[i].name, std::strlen(fields[i].name));
    h[d + 11] = fields[i].type;
    h[d + 16] = static_cast<char>(fields[i].len);
    h[d + 17] = static_cast<char>(fields[i].dec);
    len = static_cast<uint16_t>(len + fields[i].len);
  }
  h[32 + 32 * count] = 0x0D;
  put16(h, 8, static_cast<uint32_t>(h.size()));
  put16(h, 10, len);
  *recLen = len;
  return h;
}

void fixed(char* p, int width, const std::string& text, bool right) {
  std::memset(p, ' ', static_cast<size_t>(width));
  size_t n = text.size() < static_cast<size_t>(width) ? text.size() : static_cast<size_t>(width);
  std::memcpy(p + (right ? width - static_cast<int>(n) : 0), text.data(), n);
}

// The table without memos: 1 + 8 + 30 + 20 + 12 + 1 + 8 + 6 + 14 = 100 bytes a record.
void writePlain(const std::string& path, long records) {
  static const Field f[] = {{"ID", 'N', 8, 0},     {"NAME", 'C', 30, 0}, {"CITY", 'C', 20, 0},
                            {"AMOUNT", 'N', 12, 2}, {"ACTIVE", 'L', 1, 0}, {"SINCE", 'D', 8, 0},
                            {"QTY", 'N', 6, 0},     {"NOTE", 'C', 14, 0}};
  static const char* const cities[] = {"Boston", "Chicago", "Denver", "El Paso", "Koeln", "Warszawa"};
  uint16_t len = 0;
  std::ofstream out(path, std::ios::binary);
  out << header(f, 8, static_cast<uint32_t>(records), false, &len);
  std::string rec(len, ' ');
  char num[32];
  for (long i = 1; i <= records; ++i) {
    char* p = rec.data();
    p[0] = ' ';
    fixed(p + 1, 8, std::to_string(i), true);
    fixed(p + 9, 30, "Customer " + std::to_string(i), false);
    fixed(p + 39, 20, cities[i % 6], false);
    std::snprintf(num, sizeof num, "%.2f", static_cast<double>(i) * 1.25);
    fixed(p + 59, 12, num, true);
    p[71] = i % 2 ? 'F' : 'T';
    std::snprintf(num, sizeof num, "%04ld%02ld%02ld", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
    std::memcpy(p + 72, num, 8);
    fixed(p + 80, 6, std::to_string(i % 1000), true);
    fixed(p + 86, 14, "some note", false);
    out.write(rec.data(), len);
  }
  out.put(0x1A);
}

// The memo table: ID N8, TITLE C30, BODY M10; texts of 512..1536 bytes (1 KiB on average).
void writeMemo(const std::string& path, const std::string& memoPath, long records) {
  static const Field f[] = {{"ID", 'N', 8, 0}, {"TITLE", 'C', 30, 0}, {"BODY", 'M', 10, 0}};
  uint16_t len = 0;
  std::ofstream out(path, std::ios::binary), memo(memoPath, std::ios::binary);
  out << header(f, 3, static_cast<uint32_t>(records), true, &len);
  std::string head(512, '\0');
  memo << head;
  uint32_t next = 1;
  std::string rec(len, ' '), text;
  for (long i = 1; i <= records; ++i) {
    size_t n = 512 + static_cast<size_t>((i * 7919) % 1025);
    text.assign(n, 'a');
    for (size_t k = 0; k < n; ++k) text[k] = static_cast<char>('a' + (i + static_cast<long>(k)) % 26);
    text.append(512 - n % 512, '\x1A');
    memo << text;
    char* p = rec.data();
    fixed(p + 1, 8, std::to_string(i), true);
    fixed(p + 9, 30, "Title " + std::to_string(i), false);
    fixed(p + 39, 10, std::to_string(next), true);
    next += static_cast<uint32_t>(text.size() / 512);
    out.write(rec.data(), len);
  }
  out.put(0x1A);
  memo.seekp(0);
  std::string nextBytes(4, '\0');
  put32(nextBytes, 0, next);
  memo << nextBytes;
}

double bestOf(int runs, const std::function<void()>& body) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    body();
    best = std::min(best, seconds(t0));
  }
  return best;
}

// cp of the files and __DBCOPY of the table, each the best of three on a warm cache.
bool measure(const std::string& dir, const std::string& table, bool memo, const char* what, long records) {
  std::string files = "'" + dir + "/" + table + ".dbf'" + (memo ? " '" + dir + "/" + table + ".dbt'" : "");
  std::string cp = "cp " + files + " '" + dir + "/cpcopy/'";
  std::filesystem::create_directories(dir + "/cpcopy");
  bool ok = std::system(cp.c_str()) == 0;  // warms the cache
  double cpTime = bestOf(3, [&] { ok = ok && std::system(cp.c_str()) == 0; });

  VlItem file, yes, no, target, fields, all;
  file.type = yes.type = no.type = target.type = fields.type = all.type = VL_IT_NIL;
  vl_itemPutC(&file, (dir + "/" + table).c_str());
  vl_itemPutL(&yes, true);
  vl_itemPutL(&no, false);
  vl_itemPutC(&target, (dir + "/" + table.substr(0, 7) + "_").c_str());
  vl_arrayNew(&fields, 0);
  double copyTime = bestOf(3, [&] {
    callFn("DBUSEAREA", {&no, nullptr, &file, nullptr, nullptr, &no});
    callFn("__DBCOPY", {&target, &fields, nullptr, nullptr, nullptr, nullptr, &no, nullptr});
    callFn("DBCLOSEAREA", {});
  });
  std::string copied = dir + "/" + table.substr(0, 7) + "_.dbf";
  callFn("DBUSEAREA", {&yes, nullptr, &target});
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  uint32_t count = 0;
  if (area) VL_SELF(area, recCount, &count);
  callFn("DBCLOSEAREA", {});
  vl_itemClear(&file);
  vl_itemClear(&target);
  vl_itemClear(&fields);
  if (!ok || count != static_cast<uint32_t>(records)) {
    std::fprintf(stderr, "%s: cp failed or the copy holds %u records\n", what, count);
    return false;
  }
  uintmax_t bytes = std::filesystem::file_size(dir + "/" + table + ".dbf") +
                    (memo ? std::filesystem::file_size(dir + "/" + table + ".dbt") : 0);
  std::printf("__DBCOPY %s (%.0f MB): %.3f s; cp of the files: %.4f s; ratio %.1fx\n", what, bytes / 1e6, copyTime,
              cpTime, copyTime / cpTime);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? std::atol(argv[1]) : 1000000;
  long memoRecords = argc > 2 ? std::atol(argv[2]) : 100000;
  std::string dir = argc > 3 ? argv[3] : "/tmp/vl_copy_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);

  char prog[] = "vl_bench_copy";
  char* args[] = {prog, nullptr};
  vl_cmdargInit(1, args);
  vl_vmInit(false);

  writePlain(dir + "/plain.dbf", records);
  writeMemo(dir + "/memos.dbf", dir + "/memos.dbt", memoRecords);
  bool ok = measure(dir, "plain", false, (std::to_string(records) + " records of 100 bytes").c_str(), records) &&
            measure(dir, "memos", true, (std::to_string(memoRecords) + " records with a 1 KiB memo").c_str(),
                    memoRecords);
  vl_vmQuit();
  if (argc <= 3) std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}

// Helpers for the database tests: owned items, calls of language functions by name, scratch
// directories, whole-file reads and writes, and the canonical dump of a table as a third-party
// reader prints it (the format of tests/fixtures/README.md).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "rdd/rddapi.h"
#include "rtl/dates.h"
#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace rddtest {

// An item the test owns; cleared when it goes out of scope.
struct Item {
  VlItem v;
  Item() { v.type = VL_IT_NIL; }
  explicit Item(const char* text) : Item() { vl_itemPutC(&v, text); }
  explicit Item(double d) : Item() { vl_itemPutND(&v, d); }
  explicit Item(int n) : Item() { vl_itemPutNI(&v, n); }
  explicit Item(bool b) : Item() { vl_itemPutL(&v, b); }
  Item(const Item& o) : Item() { vl_itemCopy(&v, &o.v); }
  Item& operator=(const Item& o) {
    if (this != &o) vl_itemCopy(&v, &o.v);
    return *this;
  }
  ~Item() { vl_itemClear(&v); }
  std::string str() const { return std::string(vl_itemGetCPtr(&v), vl_itemGetCLen(&v)); }
  double num() const { return vl_itemGetND(&v); }
  bool log() const { return vl_itemGetL(&v); }
  int32_t day() const { return vl_itemGetDL(&v); }
  int64_t integer() const { return vl_itemGetNInt(&v); }
};

inline Item dateItem(int y, int m, int d) {
  Item it;
  vl_itemPutD(&it.v, y, m, d);
  return it;
}

inline Item nil() { return Item(); }

// A structure array from rows {name, type, len, dec}.
struct FieldDef {
  const char* name;
  const char* type;
  int len;
  int dec;
};
inline Item structure(std::initializer_list<FieldDef> rows) {
  Item list;
  vl_arrayNew(&list.v, static_cast<uint32_t>(rows.size()));
  uint32_t i = 1;
  for (const FieldDef& r : rows) {
    VlItem* row = vl_arrayGetItemPtr(&list.v, i++);
    vl_arrayNew(row, 4);
    vl_itemPutC(vl_arrayGetItemPtr(row, 1), r.name);
    vl_itemPutC(vl_arrayGetItemPtr(row, 2), r.type);
    vl_itemPutNI(vl_arrayGetItemPtr(row, 3), r.len);
    vl_itemPutNI(vl_arrayGetItemPtr(row, 4), r.dec);
  }
  return list;
}

// Calls the language function by name; arguments may be null for NIL.
inline Item call(const char* name, std::initializer_list<const Item*> args = {}) {
  VlDynSym* d = vl_dynsymFind(name);
  EXPECT_TRUE(vl_dynsymHasFunction(d)) << name;
  Item result;
  if (!vl_dynsymHasFunction(d)) return result;
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  for (const Item* a : args) {
    if (a) vl_vmPush(&a->v);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
  vl_itemCopy(&result.v, vl_stackReturnItem());
  // An error the test's handler ended with a break leaves the request behind; there is no
  // BEGIN SEQUENCE here to take it.
  if (vl_vmRequestQuery() & VL_REQ_BREAK) vl_vmRequestReset();
  return result;
}

// A scratch directory removed with everything in it.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/vl_rdd_XXXXXX";
    char* made = mkdtemp(tmpl);
    path = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string fixtureDir() { return std::string(VL_SOURCE_DIR) + "/tests/fixtures"; }

// Copies a fixture table (and its memo file, if any) into dir under the same name.
inline std::string copyFixture(const TempDir& dir, const std::string& name) {
  std::string target = dir.file(name);
  writeFile(target, readFile(fixtureDir() + "/tables/" + name));
  return target;
}

inline std::string escapeText(const std::string& s) {
  std::string out;
  size_t end = s.size();
  while (end > 0 && s[end - 1] == ' ') --end;
  for (size_t i = 0; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The value of a field as the dump prints it: numbers with the field's decimals, logicals T/F,
// dates YYYYMMDD ("NULL" for the empty date), texts quoted and escaped.
inline std::string dumpValue(const VlItem* v, char type, int dec) {
  char buf[128];
  switch (type) {
    case 'N':
    case 'F':
      if (dec > 0) std::snprintf(buf, sizeof buf, "%.*f", dec, vl_itemGetND(v));
      else if (VL_IS_DOUBLE(v)) std::snprintf(buf, sizeof buf, "%.0f", vl_itemGetND(v));
      else std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(vl_itemGetNInt(v)));
      return buf;
    case 'L': return vl_itemGetL(v) ? "T" : "F";
    case 'D': {
      if (vl_itemGetDL(v) == 0) return "NULL";
      char d[9];
      return vl_dateDecStr(d, vl_itemGetDL(v));
    }
    default: return "\"" + escapeText(std::string(vl_itemGetCPtr(v), vl_itemGetCLen(v))) + "\"";
  }
}

}  // namespace rddtest

namespace rddtest {

// ---- tables in the dump format ----
struct DumpField {
  std::string name;
  char type;
  int len, dec;
};

struct Dump {
  std::string table;
  std::string version;
  std::vector<DumpField> fields;
  std::vector<bool> deleted;
  std::vector<std::vector<std::string>> values;  // per record, per field
};

// Reads the dump format; quoted values may hold blanks (a quote inside is written \x22).
inline Dump parseDump(const std::string& text) {
  Dump d;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "TABLE") words >> d.table;
    else if (tag == "VERSION") words >> d.version;
    else if (tag == "FIELD") {
      DumpField f;
      std::string type;
      words >> f.name >> type >> f.len >> f.dec;
      f.type = type[0];
      d.fields.push_back(f);
    } else if (tag == "REC") {
      size_t pos = line.find("DEL=");
      d.deleted.push_back(line[pos + 4] == '1');
      pos = line.find(' ', pos);
      std::vector<std::string> values;
      while (pos != std::string::npos && pos < line.size()) {
        size_t eq = line.find('=', pos + 1);
        size_t start = eq + 1, end;
        if (line[start] == '"') end = line.find('"', start + 1) + 1;
        else end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        values.push_back(line.substr(start, end - start));
        pos = end < line.size() ? end : std::string::npos;
      }
      d.values.push_back(values);
    }
  }
  return d;
}

// What our driver gives for a value the third-party reader shows as NULL or an error: numbers
// 0, logicals false, dates empty.
inline std::string canonicalBlank(const DumpField& f) {
  switch (f.type) {
    case 'N':
    case 'F':
      if (f.dec > 0) return "0." + std::string(static_cast<size_t>(f.dec), '0');
      return "0";
    case 'L': return "F";
    default: return "NULL";
  }
}

inline void canonicalise(Dump* d) {
  for (auto& rec : d->values)
    for (size_t k = 0; k < rec.size() && k < d->fields.size(); ++k)
      if (rec[k] == "NULL" || rec[k].rfind("ERR(", 0) == 0) rec[k] = canonicalBlank(d->fields[k]);
}

// The table open in the current area as our driver reads it, walked from the top.
inline Dump dumpCurrentArea(const std::string& table, const std::string& version) {
  Dump d;
  d.table = table;
  d.version = version;
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) return d;
  for (uint16_t i = 1; i <= area->fieldCount; ++i) {
    Item name, type, len, dec;
    VL_SELF(area, fieldInfo, i, VL_DBS_NAME, &name.v);
    VL_SELF(area, fieldInfo, i, VL_DBS_TYPE, &type.v);
    VL_SELF(area, fieldInfo, i, VL_DBS_LEN, &len.v);
    VL_SELF(area, fieldInfo, i, VL_DBS_DEC, &dec.v);
    d.fields.push_back({name.str(), type.str()[0], static_cast<int>(len.num()), static_cast<int>(dec.num())});
  }
  VL_SELF(area, goTop);
  for (;;) {
    bool eof = true;
    VL_SELF(area, eof, &eof);
    if (eof) break;
    bool deleted = false;
    VL_SELF(area, deleted, &deleted);
    d.deleted.push_back(deleted);
    std::vector<std::string> values;
    for (uint16_t i = 1; i <= area->fieldCount; ++i) {
      Item v;
      if (VL_SELF(area, getValue, i, &v.v) != VL_SUCCESS) values.push_back("ERR(read)");
      else values.push_back(dumpValue(&v.v, d.fields[i - 1].type, d.fields[i - 1].dec));
    }
    d.values.push_back(values);
    if (VL_SELF(area, skip, 1) != VL_SUCCESS) break;
  }
  return d;
}

// Compares two dumps field by field (memo values only when withMemo); the first difference.
inline std::string dumpDifference(const Dump& want, const Dump& got, bool withMemo) {
  if (want.fields.size() != got.fields.size()) return "field count";
  for (size_t k = 0; k < want.fields.size(); ++k) {
    const DumpField &a = want.fields[k], &b = got.fields[k];
    if (a.name != b.name || a.type != b.type || a.len != b.len || a.dec != b.dec)
      return "field " + a.name + " / " + b.name;
  }
  if (want.values.size() != got.values.size())
    return "records " + std::to_string(want.values.size()) + " / " + std::to_string(got.values.size());
  for (size_t r = 0; r < want.values.size(); ++r) {
    if (want.deleted[r] != got.deleted[r]) return "deleted flag of record " + std::to_string(r + 1);
    for (size_t k = 0; k < want.fields.size(); ++k) {
      if (!withMemo && want.fields[k].type == 'M') continue;
      if (want.values[r][k] != got.values[r][k])
        return "record " + std::to_string(r + 1) + " " + want.fields[k].name + ": " + want.values[r][k] + " / " +
               got.values[r][k];
    }
  }
  return "";
}

// Opens a table in a new area; false when the open failed.
inline bool useTable(const std::string& path, const char* driver = "DBF", const char* alias = nullptr,
                     bool shared = false, bool readOnly = false) {
  Item yes(true), drv(driver ? driver : ""), file(path.c_str()), al(alias ? alias : ""), sh(shared), ro(readOnly);
  call("DBUSEAREA", {&yes, driver ? &drv : nullptr, &file, alias ? &al : nullptr, &sh, &ro});
  return !call("NETERR").log() && vl_rddGetCurrentWorkAreaPointer() != nullptr;
}

}  // namespace rddtest

namespace rddtest {

// While it lives, run-time errors come here instead of the error block. Each is recorded as
// "SUBSYSTEM gen/sub OPERATION" (with " file=NAME" when the error names a file) and answered:
// retried while `retries` lasts and the error allows it, else its default when it has one,
// else the operation is ended with a break request (reset when the log goes).
class ErrorLog {
 public:
  ErrorLog() {
    record_.handler = VlErrorHandler{handle, nullptr, nullptr, nullptr, nullptr};
    record_.owner = this;
    previous_ = vl_errorHandler(&record_.handler);
  }
  ~ErrorLog() {
    vl_errorHandler(previous_);
    vl_vmRequestReset();
  }
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;

  std::vector<std::string> errors;
  int retries = 0;
  bool withFile = false;
  std::function<void()> onError;  // runs before the answer (a test may repair what failed)

  std::string joined() const {
    std::string out;
    for (const std::string& e : errors) out += (out.empty() ? "" : "; ") + e;
    return out;
  }

 private:
  struct Record {
    VlErrorHandler handler;  // first: the handler pointer is the record's address
    ErrorLog* owner;
  } record_;
  VlErrorHandler* previous_;

  static std::string text(VlItem* error, const char* message) {
    VlItem* v = vl_objSendMsg(error, message, 0);
    if (VL_IS_STRING(v)) return std::string(vl_itemGetCPtr(v), vl_itemGetCLen(v));
    return std::to_string(vl_itemGetNL(v));
  }
  static bool flag(VlItem* error, const char* message) { return vl_itemGetL(vl_objSendMsg(error, message, 0)); }

  static VlItem* handle(VlErrorHandler* h) {
    ErrorLog* log = reinterpret_cast<Record*>(h)->owner;
    std::string entry = text(h->error, "SUBSYSTEM") + " " + text(h->error, "GENCODE") + "/" +
                        text(h->error, "SUBCODE") + " " + text(h->error, "OPERATION");
    if (log->withFile) entry += " file=" + text(h->error, "FILENAME");
    log->errors.push_back(entry);
    if (log->onError) log->onError();
    VlItem* answer = vl_itemNew(nullptr);
    if (log->retries > 0 && flag(h->error, "CANRETRY")) {
      --log->retries;
      vl_itemPutL(answer, true);
    } else if (flag(h->error, "CANDEFAULT")) {
      vl_itemPutL(answer, false);
    } else {
      // Outside BEGIN SEQUENCE a break would be a quit: only the flag is set, and cleared later.
      vl_vmRequestRestore(VL_REQ_BREAK);
    }
    return answer;
  }
};

}  // namespace rddtest

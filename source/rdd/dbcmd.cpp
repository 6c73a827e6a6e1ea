// The language-level database functions: opening, creating and closing tables, selection,
// navigation, field and record access, locks, relations and information. Each works on the
// current work area through one or a few slots of its driver.
//
// "No area" rule: a function that needs a table raises DBCMD 35/2001 (can-default) with its
// operation text when the current area has none, and does nothing else.
#include <cstdio>
#include <cstring>

#include "../platform/filesys.h"
#include "../rtl/set.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "rddapi.h"

namespace {

VlItem* arg(int n) { return vl_param(n, VL_IT_ANY); }
bool argIs(int n, VlType mask) {
  const VlItem* p = arg(n);
  return p && (p->type & mask) != 0;
}
bool argIsString(int n) {
  const VlItem* p = arg(n);
  return p && VL_IS_STRING(p);
}
bool argIsNumber(int n) {
  const VlItem* p = arg(n);
  return p && VL_IS_NUMERIC(p);
}

VlArea* currentOrError(const char* operation) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) vl_errRT_DBCMD(VL_EG_NOTABLE, 2001, nullptr, operation);
  return area;
}

void upperTrimmed(char* out, size_t size, const char* text, size_t len) {
  while (len > 0 && *text == ' ') {
    ++text;
    --len;
  }
  while (len > 0 && text[len - 1] == ' ') --len;
  size_t n = len < size - 1 ? len : size - 1;
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  out[n] = '\0';
}

// The driver argument (upper-cased, 32 characters) or the default driver.
void driverName(int n, char* out) {
  if (argIsString(n) && vl_parclen(n) > 0) {
    size_t len = vl_parclen(n) > VL_RDD_NAME_LEN ? VL_RDD_NAME_LEN : vl_parclen(n);
    for (size_t i = 0; i < len; ++i) {
      char c = vl_parc(n)[i];
      out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    out[len] = '\0';
  } else {
    std::snprintf(out, VL_RDD_NAME_LEN + 1, "%s", vl_rddDefaultDriver());
  }
}

// The alias argument, or the file's name part when it is empty (both upper-cased and trimmed).
void aliasFor(int n, const char* fileName, char* out, bool keepCase) {
  if (argIsString(n) && vl_parclen(n) > 0) {
    if (keepCase) std::snprintf(out, VL_RDD_NAME_LEN + 1, "%.*s", VL_RDD_NAME_LEN, vl_parc(n));
    else upperTrimmed(out, VL_RDD_NAME_LEN + 1, vl_parc(n), vl_parclen(n));
    if (out[0]) return;
  }
  VlFName* parts = vl_fsFNameSplit(fileName);
  const char* name = parts->name ? parts->name : "";
  upperTrimmed(out, VL_RDD_NAME_LEN + 1, name, std::strlen(name));
  vl_xfree(parts);
}

bool fileHasExtension(const char* name) {
  VlFName* parts = vl_fsFNameSplit(name);
  bool has = parts->ext != nullptr;
  vl_xfree(parts);
  return has;
}

// The area's default table extension appended when the name has none.
void withTableExtension(VlArea* area, char* name, size_t size) {
  if (fileHasExtension(name)) return;
  VlItem ext;
  ext.type = VL_IT_NIL;
  VL_SELF(area, info, VL_DBI_TABLEEXT, &ext);
  size_t len = std::strlen(name);
  std::snprintf(name + len, size - len, "%s", vl_itemGetCPtr(&ext));
  name[VL_RDD_MAX_FILENAME] = '\0';
  vl_itemClear(&ext);
}

// Checks an alias before anything is opened; raises 17/1010 or 18/1011 as the driver would.
bool aliasUsable(const char* alias) {
  if (!vl_rddIsValidAlias(alias)) {
    vl_errRT_DBCMD_Ext(VL_EG_BADALIAS, 1010, nullptr, alias, VL_ERR_FLAG_DEFAULT);
    return false;
  }
  if (vl_rddAliasToArea(alias) >= 0) {
    vl_errRT_DBCMD_Ext(VL_EG_DUPALIAS, 1011, nullptr, alias, VL_ERR_FLAG_DEFAULT);
    return false;
  }
  return true;
}

void useArea(bool keepCase, const char* operation) {
  vl_rddSetNetErr(false);
  bool newArea = vl_parl(1);
  if (!newArea && vl_rddGetCurrentWorkAreaPointer()) vl_rddReleaseCurrentArea();
  char driver[VL_RDD_NAME_LEN + 1];
  driverName(2, driver);
  if (!argIsString(3) || vl_parclen(3) == 0) {
    vl_errRT_DBCMD(VL_EG_ARG, 1005, nullptr, operation);
    return;
  }
  char file[VL_FS_PATH_MAX];
  std::snprintf(file, sizeof file, "%.*s", VL_RDD_MAX_FILENAME, vl_parc(3));
  char alias[VL_RDD_NAME_LEN + 1];
  aliasFor(4, file, alias, keepCase);
  if (!aliasUsable(alias)) return;

  if (newArea) {
    if (keepCase) vl_rddSelectFirstAvailable();
    else vl_rddSelectWorkAreaNumber(0);
  }
  if (vl_rddInsertArea(driver) != VL_SUCCESS) {
    vl_errRT_DBCMD(VL_EG_ARG, 1015, nullptr, operation);
    return;
  }
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!keepCase) withTableExtension(area, file, sizeof file);
  VlOpenInfo info{};
  info.area = area->areaNum;
  info.fileName = file;
  info.alias = alias;
  info.shared = argIs(5, VL_IT_LOGICAL) ? vl_parl(5) : !vl_set.exclusive;
  info.readOnly = argIs(6, VL_IT_LOGICAL) ? vl_parl(6) : false;
  info.codePage = argIsString(7) ? vl_parc(7) : nullptr;
  if (VL_SELF(area, open, &info) != VL_SUCCESS) {
    vl_rddSetNetErr(true);
    vl_rddReleaseCurrentArea();
  }
}

// A structure array: non-empty, each row {character, character, numeric, numeric, ...}.
bool validStructure(const VlItem* structure) {
  if (!structure || !VL_IS_ARRAY(structure) || vl_arrayLen(structure) == 0) return false;
  for (uint32_t i = 1; i <= vl_arrayLen(structure); ++i) {
    const VlItem* row = vl_arrayGetItemPtr(structure, i);
    if (!row || !VL_IS_ARRAY(row) || vl_arrayLen(row) < 4) return false;
    if (!VL_IS_STRING(vl_arrayGetItemPtr(row, 1)) || !VL_IS_STRING(vl_arrayGetItemPtr(row, 2)) ||
        !VL_IS_NUMERIC(vl_arrayGetItemPtr(row, 3)) || !VL_IS_NUMERIC(vl_arrayGetItemPtr(row, 4)))
      return false;
  }
  return true;
}

}  // namespace

VL_FUNC(DBUSEAREA) { useArea(false, "DBUSEAREA"); }
VL_FUNC(DBUSEAREAD) { useArea(true, "DBUSEAREAD"); }

VL_FUNC(DBCREATE) {
  vl_ret();
  vl_rddSetNetErr(false);
  VlItem* structure = arg(2);
  if (!argIsString(1) || vl_parclen(1) == 0 || !validStructure(structure)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1014, nullptr, "DBCREATE");
    return;
  }
  char file[VL_FS_PATH_MAX];
  std::snprintf(file, sizeof file, "%.*s", VL_RDD_MAX_FILENAME, vl_parc(1));
  uint16_t remembered = vl_rddGetCurrentWorkAreaNumber();
  char driver[VL_RDD_NAME_LEN + 1];
  driverName(3, driver);
  bool keepOpen = argIs(4, VL_IT_LOGICAL);
  bool useCurrent = keepOpen && !vl_parl(4);
  char alias[VL_RDD_NAME_LEN + 1] = "";
  if (keepOpen) {
    aliasFor(5, file, alias, false);
    if (!vl_rddIsValidAlias(alias)) {
      vl_errRT_DBCMD_Ext(VL_EG_BADALIAS, 1010, nullptr, alias, VL_ERR_FLAG_DEFAULT);
      return;
    }
  }
  char scratch[16];
  if (vl_rddTempAlias(scratch) != VL_SUCCESS || (keepOpen && vl_rddAliasToArea(alias) >= 0)) {
    vl_errRT_DBCMD_Ext(VL_EG_DUPALIAS, 1011, nullptr, alias, VL_ERR_FLAG_DEFAULT);
    return;
  }
  if (!useCurrent) vl_rddSelectWorkAreaNumber(0);
  else if (vl_rddGetCurrentWorkAreaPointer()) vl_rddReleaseCurrentArea();
  if (vl_rddInsertArea(driver) != VL_SUCCESS) {
    vl_rddSelectWorkAreaNumber(remembered);
    vl_errRT_DBCMD(VL_EG_CREATE, 1015, nullptr, "DBCREATE");
    return;
  }
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  withTableExtension(area, file, sizeof file);
  if (vl_rddSetAlias(area, scratch) != VL_SUCCESS) {
    vl_rddReleaseCurrentArea();
    vl_rddSelectWorkAreaNumber(remembered);
    return;
  }
  if (VL_SELF(area, createFields, structure) != VL_SUCCESS) {
    vl_rddReleaseCurrentArea();
    vl_rddSelectWorkAreaNumber(remembered);
    vl_errRT_DBCMD(VL_EG_CREATE, 1015, nullptr, "DBCREATE");
    return;
  }
  VlOpenInfo info{};
  info.area = area->areaNum;
  info.fileName = file;
  info.alias = scratch;
  info.codePage = argIsString(6) ? vl_parc(6) : nullptr;
  bool created = VL_SELF(area, create, &info) == VL_SUCCESS;
  vl_rddReleaseCurrentArea();
  if (!keepOpen || !created) {
    vl_rddSelectWorkAreaNumber(remembered);
    if (keepOpen) {
      vl_rddSetNetErr(true);
      vl_retl(false);
    }
    return;
  }
  if (!useCurrent) vl_rddSelectWorkAreaNumber(0);
  bool opened = false;
  if (vl_rddInsertArea(driver) == VL_SUCCESS) {
    area = vl_rddGetCurrentWorkAreaPointer();
    info.area = area->areaNum;
    info.alias = alias;
    info.shared = !vl_set.exclusive;
    info.readOnly = false;
    opened = VL_SELF(area, open, &info) == VL_SUCCESS;
    if (!opened) vl_rddReleaseCurrentArea();
  }
  vl_rddSetNetErr(!opened);
  vl_retl(opened);
}

VL_FUNC(DBCLOSEAREA) { vl_rddReleaseCurrentArea(); }
VL_FUNC(DBCLOSEALLAREAS) { vl_rddCloseAll(); }

VL_FUNC(SELECT) {
  if (argIsString(1)) {
    int n = vl_rddAliasToArea(vl_parc(1));
    vl_retni(n > 0 && n <= VL_RDD_MAX_AREA ? n : 0);
  } else {
    vl_retni(vl_rddGetCurrentWorkAreaNumber());
  }
}

VL_FUNC(DBSELECT) {
  vl_retni(vl_rddGetCurrentWorkAreaNumber());
  if (argIsString(1)) {
    vl_rddSelectWorkAreaAlias(vl_parc(1));
  } else if (argIsNumber(1)) {
    double n = vl_parnd(1);
    if (n < 1 || n > VL_RDD_MAX_AREA) vl_rddSelectFirstAvailable();
    else vl_rddSelectWorkAreaNumber(static_cast<int>(n));
  }
}

VL_FUNC(NETERR) {
  if (argIs(1, VL_IT_LOGICAL)) vl_rddSetNetErr(vl_parl(1));
  vl_retl(vl_rddGetNetErr());
}

VL_FUNC(AREAUSED) { vl_retl(vl_rddGetCurrentWorkAreaPointer() != nullptr); }

VL_FUNC(AREAALIAS) {
  VlArea* area = argIsNumber(1) ? vl_rddGetWorkAreaPointer(vl_parni(1)) : vl_rddGetCurrentWorkAreaPointer();
  char alias[VL_RDD_NAME_LEN + 1] = "";
  if (area) VL_SELF(area, alias, alias);
  vl_retc(alias);
}

VL_FUNC(CURRENTALIAS) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  char alias[VL_RDD_NAME_LEN + 1] = "";
  if (area) VL_SELF(area, alias, alias);
  vl_retc(alias);
}

VL_FUNC(TEMPALIAS) {
  char alias[16];
  if (vl_rddTempAlias(alias) == VL_SUCCESS) vl_retc(alias);
  else vl_ret();
}

// ---- navigation ----
namespace {

// Runs one slot that takes only the area; the result is NIL.
template <typename F>
void simpleCommand(const char* operation, F call) {
  vl_ret();
  if (VlArea* area = currentOrError(operation)) call(area);
}

}  // namespace

VL_FUNC(DBGOTOP) { simpleCommand("DBGOTOP", [](VlArea* a) { VL_SELF(a, goTop); }); }
VL_FUNC(DBGOBOTTOM) { simpleCommand("DBGOBOTTOM", [](VlArea* a) { VL_SELF(a, goBottom); }); }
VL_FUNC(DBDELETE) { simpleCommand("DBDELETE", [](VlArea* a) { VL_SELF(a, deleteRec); }); }
VL_FUNC(DBRECALL) { simpleCommand("DBRECALL", [](VlArea* a) { VL_SELF(a, recall); }); }
VL_FUNC(DBCOMMIT) { simpleCommand("DBCOMMIT", [](VlArea* a) { VL_SELF(a, flush); }); }
VL_FUNC(DBCLEARFILTER) { simpleCommand("DBCLEARFILTER", [](VlArea* a) { VL_SELF(a, clearFilter); }); }
VL_FUNC(__DBZAP) { simpleCommand("__DBZAP", [](VlArea* a) { VL_SELF(a, zap); }); }
VL_FUNC(DBUNLOCK) { simpleCommand("DBUNLOCK", [](VlArea* a) { VL_SELF(a, unlock, 0); }); }

VL_FUNC(DBGOTO) {
  vl_ret();
  VlArea* area = currentOrError("DBGOTO");
  if (!area) return;
  VlItem* rec = arg(1);
  if (!rec || VL_IS_NIL(rec)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1003, nullptr, "DBGOTO");
    return;
  }
  VL_SELF(area, goToId, rec);
}

VL_FUNC(DBSKIP) {
  vl_ret();
  VlArea* area = currentOrError("DBSKIP");
  if (!area) return;
  long n = argIsNumber(1) ? vl_parnl(1) : 1;
  VL_SELF(area, skip, n);
}

VL_FUNC(DBSKIPPER) {
  VlArea* area = currentOrError("DBSKIPPER");
  if (!area) {
    vl_retni(0);
    return;
  }
  long n = vl_pcount() == 0 ? 1 : vl_parnl(1);
  long moved = 0;
  bool flag = false;
  if (n == 0) {
    VL_SELF(area, skip, 0);
  } else if (n > 0) {
    if (VL_SELF(area, eof, &flag) == VL_SUCCESS && !flag) {
      while (moved < n) {
        if (VL_SELF(area, skip, 1) != VL_SUCCESS) break;
        VL_SELF(area, eof, &flag);
        if (flag) {
          VL_SELF(area, skip, -1);
          break;
        }
        ++moved;
      }
    }
  } else {
    while (moved > n) {
      if (VL_SELF(area, skip, -1) != VL_SUCCESS) break;
      VL_SELF(area, bof, &flag);
      if (flag) break;
      --moved;
    }
  }
  vl_retnl(moved);
}

VL_FUNC(DBSEEK) {
  VlArea* area = currentOrError("DBSEEK");
  if (!area) {
    vl_retl(false);
    return;
  }
  VlItem* key = arg(1);
  if (!key || VL_IS_NIL(key)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1001, nullptr, "DBSEEK");
    vl_retl(false);
    return;
  }
  bool soft = argIs(2, VL_IT_LOGICAL) ? vl_parl(2) : vl_set.softSeek;
  bool last = argIs(3, VL_IT_LOGICAL) && vl_parl(3);
  bool found = false;
  bool ok = VL_SELF(area, seek, soft, key, last) == VL_SUCCESS && VL_SELF(area, found, &found) == VL_SUCCESS;
  vl_retl(ok && found);
}

VL_FUNC(BOF) {
  bool v = true;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, bof, &v);
  vl_retl(v);
}

VL_FUNC(EOF) {
  bool v = true;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, eof, &v);
  vl_retl(v);
}

VL_FUNC(FOUND) {
  bool v = false;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, found, &v);
  vl_retl(v);
}

VL_FUNC(DELETED) {
  bool v = false;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, deleted, &v);
  vl_retl(v);
}

VL_FUNC(RECNO) {
  uint32_t n = 0;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, recNo, &n);
  vl_retnint(n);
}

namespace {
void recCountResult() {
  uint32_t n = 0;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, recCount, &n);
  vl_retnint(n);
}
}  // namespace

VL_FUNC(LASTREC) { recCountResult(); }
VL_FUNC(RECCOUNT) { recCountResult(); }

VL_FUNC(FCOUNT) {
  uint16_t n = 0;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, fieldCount, &n);
  vl_retni(n);
}

VL_FUNC(__DBSETFOUNDFLAG) {
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) area->found = vl_parl(1);
}

// ---- fields ----
VL_FUNC(FIELDNAME) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  char name[VL_RDD_FIELDNAME_BUF] = "";
  if (area && argIsNumber(1)) {
    int n = vl_parni(1);
    if (n >= 1 && n <= area->fieldCount) VL_SELF(area, fieldName, static_cast<uint16_t>(n), name);
  }
  vl_retc(name);
}

VL_FUNC(FIELDNUMBER) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area || !argIsString(1)) {
    vl_retni(0);
    return;
  }
  char name[VL_RDD_FIELDNAME_BUF];
  size_t len = vl_parclen(1);
  if (len > area->maxFieldNameLen) len = area->maxFieldNameLen;
  upperTrimmed(name, sizeof name, vl_parc(1), len);
  VlDynSym* d = name[0] ? vl_dynsymFind(name) : nullptr;
  vl_retni(vl_rddFieldIndex(area, d));
}

VL_FUNC(FIELDVALUE) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  int n = argIsNumber(1) ? vl_parni(1) : 0;
  if (!area || n < 1 || n > area->fieldCount) {
    vl_ret();
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  VL_SELF(area, getValue, static_cast<uint16_t>(n), &value);
  vl_itemReturnForward(&value);
}

VL_FUNC(FIELDASSIGN) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  int n = argIsNumber(1) ? vl_parni(1) : 0;
  VlItem* value = arg(2);
  if (!area || !value || n < 1 || n > area->fieldCount) {
    vl_ret();
    return;
  }
  if (VL_SELF(area, putValue, static_cast<uint16_t>(n), value) == VL_SUCCESS) vl_itemReturn(value);
  else vl_ret();
}

namespace {
void fieldInfoResult(uint16_t code) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  int n = argIsNumber(1) ? vl_parni(1) : 0;
  if (area && n >= 1 && n <= area->fieldCount) VL_SELF(area, fieldInfo, static_cast<uint16_t>(n), code, &value);
  vl_itemReturnForward(&value);
}
}  // namespace

VL_FUNC(FIELDKIND) { fieldInfoResult(VL_DBS_TYPE); }
VL_FUNC(FIELDWIDTH) { fieldInfoResult(VL_DBS_LEN); }
VL_FUNC(FIELDDECIMALS) { fieldInfoResult(VL_DBS_DEC); }

VL_FUNC(DBSTRUCTURE) {
  VlItem list;
  list.type = VL_IT_NIL;
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  uint16_t count = area ? area->fieldCount : 0;
  vl_arrayNew(&list, count);
  for (uint16_t i = 1; i <= count; ++i) {
    VlItem* row = vl_arrayGetItemPtr(&list, i);
    vl_arrayNew(row, 4);
    for (uint16_t code = VL_DBS_NAME; code <= VL_DBS_DEC; ++code)
      VL_SELF(area, fieldInfo, i, code, vl_arrayGetItemPtr(row, code));
  }
  vl_itemReturnForward(&list);
}

VL_FUNC(FIELDARRAYS) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  uint32_t filled = 0;
  if (area) {
    for (int k = 1; k <= 4; ++k) {
      VlItem* list = arg(k);
      if (!list || !VL_IS_ARRAY(list)) continue;
      uint32_t n = vl_arrayLen(list);
      if (n > area->fieldCount) n = area->fieldCount;
      for (uint32_t i = 1; i <= n; ++i) {
        VlItem value;
        value.type = VL_IT_NIL;
        VL_SELF(area, fieldInfo, static_cast<uint16_t>(i), static_cast<uint16_t>(k), &value);
        vl_arraySetForward(list, i, &value);
      }
      filled = n;
    }
  }
  vl_retnint(filled);
}

// ---- information ----
namespace {

void infoResult(uint16_t code) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  if (area) VL_SELF(area, info, code, &value);
  vl_itemReturnForward(&value);
}

// Info of the current area, or of a scratch area of the default driver released at once.
template <typename F>
void infoOfAnyArea(F query) {
  VlItem value;
  value.type = VL_IT_NIL;
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) {
    query(area, &value);
  } else {
    uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
    vl_rddSelectWorkAreaNumber(0);
    if (vl_rddInsertArea(vl_rddDefaultDriver()) == VL_SUCCESS) {
      query(vl_rddGetCurrentWorkAreaPointer(), &value);
      vl_rddReleaseCurrentArea();
    }
    vl_rddSelectWorkAreaNumber(previous);
  }
  vl_itemReturnForward(&value);
}

}  // namespace

VL_FUNC(HEADERSIZE) { infoResult(VL_DBI_GETHEADERSIZE); }
VL_FUNC(RECORDSIZE) { infoResult(VL_DBI_GETRECSIZE); }

VL_FUNC(LASTUPDATE) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  if (area) VL_SELF(area, info, VL_DBI_LASTUPDATE, &value);
  else vl_itemPutDL(&value, 0);
  vl_itemReturnForward(&value);
}

VL_FUNC(TABLEEXT) {
  infoOfAnyArea([](VlArea* area, VlItem* out) { VL_SELF(area, info, VL_DBI_TABLEEXT, out); });
}

VL_FUNC(INDEXEXT) {
  infoOfAnyArea([](VlArea* area, VlItem* out) {
    VlOrderInfo info{};
    info.result = out;
    VL_SELF(area, orderInfo, VL_DBOI_BAGEXT, &info);
  });
}

VL_FUNC(ORDERPOSITION) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  if (area) {
    VlOrderInfo info{};
    info.result = &value;
    VL_SELF(area, orderInfo, VL_DBOI_NUMBER, &info);
  }
  if (VL_IS_NIL(&value)) vl_itemPutNI(&value, 0);
  vl_itemReturnForward(&value);
}

VL_FUNC(ORDREMOVE) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) return;
  VlOrderInfo info{};
  info.order = arg(1);
  info.bagName = arg(2);
  VL_SELF(area, orderDestroy, &info);
}

VL_FUNC(DBINFO) {
  VlArea* area = currentOrError("DBINFO");
  if (!area) return;
  if (!argIsNumber(1)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1034, nullptr, "DBINFO");
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  if (VlItem* newValue = arg(2)) vl_itemCopy(&value, newValue);
  VL_SELF(area, info, static_cast<uint16_t>(vl_parni(1)), &value);
  vl_itemReturnForward(&value);
}

VL_FUNC(DBFIELDINFO) {
  VlArea* area = currentOrError("DBFIELDINFO");
  if (!area) return;
  int field = argIsNumber(2) ? vl_parni(2) : 0;
  if (!argIsNumber(1) || field < 1 || field > area->fieldCount) {
    vl_errRT_DBCMD(VL_EG_ARG, 1014, nullptr, "DBFIELDINFO");
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  if (VlItem* newValue = arg(3)) vl_itemCopy(&value, newValue);
  VL_SELF(area, fieldInfo, static_cast<uint16_t>(field), static_cast<uint16_t>(vl_parni(1)), &value);
  vl_itemReturnForward(&value);
}

VL_FUNC(DBRECORDINFO) {
  VlArea* area = currentOrError("DBRECORDINFO");
  if (!area) return;
  if (!argIsNumber(1)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1032, nullptr, "DBRECORDINFO");
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  if (VlItem* newValue = arg(3)) vl_itemCopy(&value, newValue);
  VL_SELF(area, recInfo, arg(2), static_cast<uint16_t>(vl_parni(1)), &value);
  vl_itemReturnForward(&value);
}

VL_FUNC(DBORDERINFO) {
  VlArea* area = currentOrError("DBORDERINFO");
  if (!area) return;
  if (!argIsNumber(1)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1014, nullptr, "DBORDERINFO");
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  VlOrderInfo info{};
  info.bagName = argIsString(2) ? arg(2) : nullptr;
  info.order = arg(3) && !VL_IS_NIL(arg(3)) ? arg(3) : nullptr;
  info.newValue = arg(4);
  info.result = &value;
  VL_SELF(area, orderInfo, static_cast<uint16_t>(vl_parni(1)), &info);
  vl_itemReturnForward(&value);
}

VL_FUNC(DBFILEGET) {
  VlArea* area = currentOrError("DBFILEGET");
  if (!area) {
    vl_retl(false);
    return;
  }
  if (!argIsNumber(1) || !argIsString(2)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1042, nullptr, "DBFILEGET");
    vl_retl(false);
    return;
  }
  vl_retl(VL_SELF(area, getValueFile, static_cast<uint16_t>(vl_parni(1)), vl_parc(2),
                  static_cast<uint16_t>(vl_parni(3))) == VL_SUCCESS);
}

VL_FUNC(DBFILEPUT) {
  VlArea* area = currentOrError("DBFILEPUT");
  if (!area) {
    vl_retl(false);
    return;
  }
  if (!argIsNumber(1) || !argIsString(2)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1041, nullptr, "DBFILEPUT");
    vl_retl(false);
    return;
  }
  vl_retl(VL_SELF(area, putValueFile, static_cast<uint16_t>(vl_parni(1)), vl_parc(2),
                  static_cast<uint16_t>(vl_parni(3))) == VL_SUCCESS);
}

VL_FUNC(DBDROP) {
  char driver[VL_RDD_NAME_LEN + 1];
  driverName(2, driver);
  VlRddNode* node = vl_rddFindNode(driver, nullptr);
  if (!node) {
    vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBDROP");
    vl_retl(false);
    return;
  }
  vl_retl(node->table.drop && node->table.drop(node, arg(1)) == VL_SUCCESS);
}

VL_FUNC(DBEXISTS) {
  char driver[VL_RDD_NAME_LEN + 1];
  driverName(3, driver);
  VlRddNode* node = vl_rddFindNode(driver, nullptr);
  if (!node) {
    vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBEXISTS");
    vl_retl(false);
    return;
  }
  vl_retl(node->table.exists && node->table.exists(node, arg(1), arg(2)) == VL_SUCCESS);
}

// ---- filter, locate and evaluation ----
VL_FUNC(DBSETFILTER) {
  vl_ret();
  VlArea* area = currentOrError("DBSETFILTER");
  if (!area) return;
  VlItem* block = arg(1);
  if (!block || !VL_IS_BLOCK(block)) {
    VL_SELF(area, clearFilter);
    return;
  }
  VlItem text;
  text.type = VL_IT_NIL;
  if (argIsString(2)) vl_itemCopy(&text, arg(2));
  else vl_itemPutC(&text, "");
  VlFilterInfo info{block, &text};
  VL_SELF(area, setFilter, &info);
  vl_itemClear(&text);
}

VL_FUNC(FILTERTEXT) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  if (area) VL_SELF(area, filterText, &value);
  else vl_itemPutC(&value, "");
  vl_itemReturnForward(&value);
}

VL_FUNC(DBEVAL) {
  vl_ret();
  VlArea* area = currentOrError("DBEVAL");
  if (!area) return;
  struct Check {
    int n;
    VlType mask;
  };
  static const Check checks[] = {{1, VL_IT_BLOCK}, {2, VL_IT_BLOCK}, {3, VL_IT_BLOCK}, {4, VL_IT_NUMERIC},
                                 {6, VL_IT_LOGICAL}};
  VlItem* block = arg(1);
  bool bad = !block || !VL_IS_BLOCK(block);
  for (const Check& c : checks) {
    VlItem* p = arg(c.n);
    if (p && !VL_IS_NIL(p) && !(p->type & c.mask)) bad = true;
  }
  if (bad) {
    vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBEVAL");
    return;
  }
  VlDbEvalInfo info{};
  info.block = block;
  info.scope.forBlock = arg(2);
  info.scope.whileBlock = arg(3);
  info.scope.next = arg(4);
  info.scope.record = arg(5);
  info.scope.rest = arg(6);
  VL_SELF(area, dbEval, &info);
}

VL_FUNC(__DBSETLOCATEBLOCK) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) return;
  VlScopeInfo scope{};
  scope.forBlock = arg(1);
  VL_SELF(area, setLocate, &scope);
}

VL_FUNC(__DBLOCATE) {
  vl_ret();
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) {
    vl_errRT_DBCMD(VL_EG_NOTABLE, VL_EG_NOTABLE, nullptr, "__DBLOCATE");
    return;
  }
  VlItem* forBlock = arg(1);
  VlItem* whileBlock = arg(2);
  VlItem* next = arg(3);
  VlItem* record = arg(4);
  bool hasWhile = whileBlock && VL_IS_BLOCK(whileBlock);
  bool hasNext = next && VL_IS_NUMERIC(next);
  bool hasRecord = record && !VL_IS_NIL(record);
  area->found = false;
  VlScopeInfo scope{};
  scope.forBlock = forBlock;
  if (VL_SELF(area, setLocate, &scope) != VL_SUCCESS) return;
  long remaining = hasNext ? vl_itemGetNL(next) : 0;
  if (hasRecord) {
    if (VL_SELF(area, goToId, record) != VL_SUCCESS) return;
  } else if (!hasNext && !hasWhile && !vl_parl(5)) {
    if (VL_SELF(area, goTop) != VL_SUCCESS) return;
  }
  if (hasNext && remaining < 1) return;
  for (;;) {
    bool eof = true;
    if (VL_SELF(area, eof, &eof) != VL_SUCCESS || eof) break;
    if (hasWhile) {
      if (VL_SELF(area, evalBlock, whileBlock) != VL_SUCCESS || !vl_itemGetL(area->result)) break;
    }
    if (forBlock && VL_IS_BLOCK(forBlock)) {
      if (VL_SELF(area, evalBlock, forBlock) != VL_SUCCESS) break;
      if (vl_itemGetL(area->result)) {
        area->found = true;
        break;
      }
    } else {
      area->found = true;
      break;
    }
    if (hasRecord) break;
    if (hasNext && --remaining < 1) break;
    if (VL_SELF(area, skip, 1) != VL_SUCCESS) break;
  }
}

VL_FUNC(DBCONTINUE) {
  vl_ret();
  VlArea* area = currentOrError("DBCONTINUE");
  if (!area) return;
  VlItem* forBlock = area->locate[0];
  area->found = false;
  if (!forBlock || !VL_IS_BLOCK(forBlock)) return;
  for (;;) {
    if (VL_SELF(area, skip, 1) != VL_SUCCESS) return;
    bool eof = true;
    if (VL_SELF(area, eof, &eof) != VL_SUCCESS || eof) return;
    if (VL_SELF(area, evalBlock, forBlock) != VL_SUCCESS) return;
    if (vl_itemGetL(area->result)) {
      area->found = true;
      return;
    }
  }
}

// ---- appending, packing, locks ----
VL_FUNC(DBAPPEND) {
  vl_ret();
  VlArea* area = currentOrError("DBAPPEND");
  if (!area) return;
  bool unlockOthers = argIs(1, VL_IT_LOGICAL) ? vl_parl(1) : true;
  vl_rddSetNetErr(VL_SELF(area, append, unlockOthers) != VL_SUCCESS);
}

VL_FUNC(__DBPACK) {
  vl_ret();
  VlArea* area = currentOrError("__DBPACK");
  if (!area) return;
  VlItem* block = arg(1);
  if (block && VL_IS_BLOCK(block)) {
    vl_arrayNew(area->result, 2);
    vl_arraySet(area->result, 1, block);
    if (VlItem* every = arg(2)) vl_arraySet(area->result, 2, every);
  } else {
    vl_itemClear(area->result);
  }
  VL_SELF(area, pack);
}

namespace {
bool lockCurrent(const char* operation, uint16_t method, VlItem* record) {
  VlArea* area = currentOrError(operation);
  if (!area) return false;
  VlLockInfo info{record, method, false};
  return VL_SELF(area, lock, &info) == VL_SUCCESS && info.result;
}
}  // namespace

VL_FUNC(DBRLOCK) {
  VlItem* record = arg(1);
  bool given = record && !VL_IS_NIL(record);
  vl_retl(lockCurrent("DBRLOCK", given ? VL_LOCK_ADD : VL_LOCK_RECORD, given ? record : nullptr));
}
VL_FUNC(FLOCK) { vl_retl(lockCurrent("FLOCK", VL_LOCK_FILE, nullptr)); }
VL_FUNC(LOCK) { vl_retl(lockCurrent("LOCK", VL_LOCK_RECORD, nullptr)); }
VL_FUNC(RLOCK) { vl_retl(lockCurrent("RLOCK", VL_LOCK_RECORD, nullptr)); }

VL_FUNC(DBRLOCKLIST) {
  VlArea* area = currentOrError("DBRLOCKLIST");
  VlItem list;
  list.type = VL_IT_NIL;
  if (area) VL_SELF(area, info, VL_DBI_GETLOCKARRAY, &list);
  if (!VL_IS_ARRAY(&list)) vl_arrayNew(&list, 0);
  vl_itemReturnForward(&list);
}

VL_FUNC(DBRUNLOCK) {
  vl_ret();
  VlArea* area = currentOrError("DBRUNLOCK");
  if (!area) return;
  VL_SELF(area, unlock, argIsNumber(1) ? static_cast<uint32_t>(vl_parnint(1)) : 0u);
}

namespace {
// Runs the slot in every open area, then reselects what was current.
template <typename F>
void forEachArea(F call) {
  uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
  for (uint16_t pos = 1; pos <= vl_rddAreaCount(); ++pos) {
    VlArea* area = vl_rddAreaAtPosition(pos);
    vl_rddSelectWorkAreaNumber(area->areaNum);
    call(area);
  }
  vl_rddSelectWorkAreaNumber(previous);
}
}  // namespace

VL_FUNC(DBCOMMITALLAREAS) { forEachArea([](VlArea* a) { VL_SELF(a, flush); }); }
VL_FUNC(DBUNLOCKALLAREAS) { forEachArea([](VlArea* a) { VL_SELF(a, unlock, 0); }); }

// ---- relations ----
VL_FUNC(DBSETRELATION) {
  vl_ret();
  VlArea* area = currentOrError("DBSETRELATION");
  if (!area) return;
  VlArea* child = nullptr;
  if (argIsNumber(1)) child = vl_rddGetWorkAreaPointer(vl_parni(1));
  else if (argIsString(1)) child = vl_rddGetWorkAreaPointer(vl_rddAliasToArea(vl_parc(1)));
  VlItem* block = arg(2);
  if (!child || child == area || !block || !VL_IS_BLOCK(block)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1006, nullptr, "DBSETRELATION");
    return;
  }
  VlRelInfo info{};
  info.keyBlock = block;
  info.keyText = argIsString(3) ? arg(3) : nullptr;
  info.scoped = vl_parl(4);
  info.parent = area;
  info.child = child;
  VL_SELF(area, setRel, &info);
}

VL_FUNC(DBCLEARRELATIONS) {
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) VL_SELF(area, clearRel);
}

VL_FUNC(RELATIONTEXT) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlItem value;
  value.type = VL_IT_NIL;
  vl_itemPutC(&value, "");
  if (area && argIsNumber(1)) VL_SELF(area, relText, static_cast<uint16_t>(vl_parni(1)), &value);
  vl_itemReturnForward(&value);
}

VL_FUNC(RELATIONAREA) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  uint16_t child = 0;
  if (area && argIsNumber(1)) VL_SELF(area, relArea, static_cast<uint16_t>(vl_parni(1)), &child);
  vl_retni(child);
}

// ---- sorting ----
VL_FUNC(DBSORTRECORDS) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  VlArea* target = argIsNumber(1) ? vl_rddGetWorkAreaPointer(vl_parni(1)) : nullptr;
  VlItem* fields = arg(2);
  VlItem* keys = arg(8);
  if (!area || !target || !fields || !VL_IS_ARRAY(fields) || vl_arrayLen(fields) == 0 || !keys || !VL_IS_ARRAY(keys))
    return;
  for (uint32_t i = 1; i <= vl_arrayLen(fields); ++i)
    if (!VL_IS_ARRAY(vl_arrayGetItemPtr(fields, i))) return;
  uint32_t count = vl_arrayLen(keys);
  if (count == 0 || count > 0xFFFF) return;
  auto* items = static_cast<VlSortItem*>(vl_xgrab(count * sizeof(VlSortItem)));
  for (uint32_t i = 0; i < count; ++i) {
    const char* text = vl_arrayGetCPtr(keys, i + 1);
    const char* slash = std::strchr(text, '/');
    size_t len = slash ? static_cast<size_t>(slash - text) : std::strlen(text);
    char name[VL_RDD_FIELDNAME_BUF];
    upperTrimmed(name, sizeof name, text, len);
    VlDynSym* d = name[0] ? vl_dynsymFind(name) : nullptr;
    uint16_t field = vl_rddFieldIndex(area, d);
    if (field == 0) {
      vl_xfree(items);
      return;
    }
    uint16_t flags = VL_SORT_ASCEND;
    if (slash) {
      char c1 = slash[1] >= 'a' ? static_cast<char>(slash[1] - 32) : slash[1];
      if (c1 == 'D') flags = VL_SORT_DESCEND;
      for (int k = 1; k <= 3 && slash[k]; ++k) {
        char c = slash[k] >= 'a' ? static_cast<char>(slash[k] - 32) : slash[k];
        if (c == 'C') flags |= VL_SORT_CASE;
      }
    }
    items[i] = VlSortItem{field, flags};
  }
  VlSortInfo info{};
  info.trans.source = area;
  info.trans.dest = target;
  info.trans.scope.forBlock = arg(3);
  info.trans.scope.whileBlock = arg(4);
  info.trans.scope.next = arg(5);
  info.trans.scope.record = arg(6);
  info.trans.scope.rest = arg(7);
  info.items = items;
  info.itemCount = static_cast<uint16_t>(count);
  VL_SELF(area, sort, &info);
  vl_xfree(items);
}

VL_NATIVE_MODULE(dbcmd, VL_FUNCENTRY(DBUSEAREA), VL_FUNCENTRY(DBUSEAREAD), VL_FUNCENTRY(DBCREATE),
                 VL_FUNCENTRY(DBCLOSEAREA), VL_FUNCENTRY(DBCLOSEALLAREAS), VL_FUNCENTRY(SELECT),
                 VL_FUNCENTRY(DBSELECT), VL_FUNCENTRY(NETERR), VL_FUNCENTRY(AREAUSED), VL_FUNCENTRY(AREAALIAS),
                 VL_FUNCENTRY(CURRENTALIAS), VL_FUNCENTRY(TEMPALIAS), VL_FUNCENTRY(DBGOTOP),
                 VL_FUNCENTRY(DBGOBOTTOM), VL_FUNCENTRY(DBDELETE), VL_FUNCENTRY(DBRECALL), VL_FUNCENTRY(DBCOMMIT),
                 VL_FUNCENTRY(DBCLEARFILTER), VL_FUNCENTRY(__DBZAP), VL_FUNCENTRY(DBUNLOCK), VL_FUNCENTRY(DBGOTO),
                 VL_FUNCENTRY(DBSKIP), VL_FUNCENTRY(DBSKIPPER), VL_FUNCENTRY(DBSEEK), VL_FUNCENTRY(BOF), VL_FUNCENTRY(EOF),
                 VL_FUNCENTRY(FOUND), VL_FUNCENTRY(DELETED), VL_FUNCENTRY(RECNO), VL_FUNCENTRY(LASTREC),
                 VL_FUNCENTRY(RECCOUNT), VL_FUNCENTRY(FCOUNT), VL_FUNCENTRY(__DBSETFOUNDFLAG),
                 VL_FUNCENTRY(FIELDNAME), VL_FUNCENTRY(FIELDNUMBER), VL_FUNCENTRY(FIELDVALUE),
                 VL_FUNCENTRY(FIELDASSIGN), VL_FUNCENTRY(FIELDKIND), VL_FUNCENTRY(FIELDWIDTH),
                 VL_FUNCENTRY(FIELDDECIMALS), VL_FUNCENTRY(DBSTRUCTURE), VL_FUNCENTRY(FIELDARRAYS),
                 VL_FUNCENTRY(HEADERSIZE), VL_FUNCENTRY(RECORDSIZE), VL_FUNCENTRY(LASTUPDATE),
                 VL_FUNCENTRY(TABLEEXT), VL_FUNCENTRY(INDEXEXT), VL_FUNCENTRY(ORDERPOSITION),
                 VL_FUNCENTRY(ORDREMOVE), VL_FUNCENTRY(DBINFO), VL_FUNCENTRY(DBFIELDINFO),
                 VL_FUNCENTRY(DBRECORDINFO), VL_FUNCENTRY(DBORDERINFO), VL_FUNCENTRY(DBFILEGET),
                 VL_FUNCENTRY(DBFILEPUT), VL_FUNCENTRY(DBDROP), VL_FUNCENTRY(DBEXISTS), VL_FUNCENTRY(DBSETFILTER),
                 VL_FUNCENTRY(FILTERTEXT), VL_FUNCENTRY(DBEVAL), VL_FUNCENTRY(__DBSETLOCATEBLOCK),
                 VL_FUNCENTRY(__DBLOCATE), VL_FUNCENTRY(DBCONTINUE), VL_FUNCENTRY(DBAPPEND),
                 VL_FUNCENTRY(__DBPACK), VL_FUNCENTRY(DBRLOCK), VL_FUNCENTRY(FLOCK), VL_FUNCENTRY(LOCK),
                 VL_FUNCENTRY(RLOCK), VL_FUNCENTRY(DBRLOCKLIST), VL_FUNCENTRY(DBRUNLOCK),
                 VL_FUNCENTRY(DBCOMMITALLAREAS), VL_FUNCENTRY(DBUNLOCKALLAREAS), VL_FUNCENTRY(DBSETRELATION),
                 VL_FUNCENTRY(DBCLEARRELATIONS), VL_FUNCENTRY(RELATIONTEXT), VL_FUNCENTRY(RELATIONAREA),
                 VL_FUNCENTRY(DBSORTRECORDS));

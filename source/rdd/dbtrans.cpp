// Record transfer: __DBCOPY copies records of the current table into a new table, __DBAPP
// appends records of another table to the current one. Both open the other table in a scratch
// work area and move each record field by field, by field name, through the drivers' getValue
// and putValue, so that the target holds every value in its own driver's canonical form.
//
// The source is only ever read. A transfer stops at the first record that cannot be appended
// (a write error, a lock that cannot be had): putting values after a failed append would write
// them over the target's previous record.
#include <cstdio>
#include <cstring>
#include <vector>

#include "../platform/filesys.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/vm.h"
#include "../vm/xmem.h"
#include "rddapi.h"

namespace {

constexpr int RESULT_OK = 0;
constexpr int RESULT_ARGS = 1;
constexpr int RESULT_NOTABLE = 35;

struct Request {
  const char* sourceFile;  // exactly one of the two names is given
  const char* targetFile;
  VlItem* fields;  // array of texts, or null
  VlItem* forBlock;
  VlItem* whileBlock;
  long next;
  long record;
  bool rest;
  char driver[VL_RDD_NAME_LEN + 1];
};

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A field-list entry without its alias prefix (everything up to and including the last "->").
const char* withoutAlias(const char* entry) {
  const char* rest = entry;
  for (const char* p = entry; (p = std::strstr(p, "->")) != nullptr; p += 2) rest = p + 2;
  return rest;
}

bool hasExtension(const char* name) {
  VlFName* parts = vl_fsFNameSplit(name);
  bool has = parts->ext != nullptr;
  vl_xfree(parts);
  return has;
}

// {name, type letter, length, decimals} for field i of the area, appended to rows.
void addRow(VlArea* area, uint16_t i, VlItem* rows) {
  VlItem row;
  row.type = VL_IT_NIL;
  vl_arrayNew(&row, 4);
  for (uint16_t code = VL_DBS_NAME; code <= VL_DBS_DEC; ++code)
    VL_SELF(area, fieldInfo, i, code, vl_arrayGetItemPtr(&row, code));
  vl_arrayAdd(rows, &row);
  vl_itemClear(&row);
}

// The structure of the calling area, limited to the field list when there is one.
void buildStructure(VlArea* area, const VlItem* fields, VlItem* rows) {
  vl_arrayNew(rows, 0);
  if (!fields) {
    for (uint16_t i = 1; i <= area->fieldCount; ++i) addRow(area, i, rows);
    return;
  }
  for (uint32_t k = 1; k <= vl_arrayLen(fields); ++k) {
    const VlItem* entry = vl_arrayGetItemPtr(fields, k);
    if (!entry || !VL_IS_STRING(entry)) continue;
    const char* text = withoutAlias(vl_itemGetCPtr(entry));
    char name[VL_RDD_FIELDNAME_BUF];
    size_t len = std::strlen(text);
    size_t max = area->maxFieldNameLen ? area->maxFieldNameLen : VL_SYMBOL_NAME_LEN;
    if (max > VL_SYMBOL_NAME_LEN) max = VL_SYMBOL_NAME_LEN;
    if (len > max) len = max;
    size_t start = 0;
    while (start < len && text[start] == ' ') ++start;
    size_t n = 0;
    for (size_t i = start; i < len; ++i) name[n++] = upperAscii(text[i]);
    while (n > 0 && name[n - 1] == ' ') --n;
    name[n] = '\0';
    if (n == 0) continue;
    uint16_t i = vl_rddFieldIndexByName(area, name);
    if (i) addRow(area, i, rows);
  }
}

// Opens (or creates and opens) the other table in a new work area; its number, 0 when it is
// not available (the errors of the failure are raised here).
uint16_t openOther(const Request& r, bool create) {
  char scratch[16];
  if (vl_rddTempAlias(scratch) != VL_SUCCESS) {
    vl_errRT_DBCMD(VL_EG_DUPALIAS, 1011, nullptr, "DBAPP");
    return 0;
  }
  uint16_t caller = vl_rddGetCurrentWorkAreaNumber();
  VlArea* callingArea = vl_rddGetCurrentWorkAreaPointer();
  vl_rddSelectWorkAreaNumber(0);
  if (vl_rddInsertArea(r.driver) != VL_SUCCESS) {
    vl_rddSelectWorkAreaNumber(caller);
    vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBAPP");
    return 0;
  }
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  auto giveUp = [&]() {
    vl_rddReleaseCurrentArea();
    vl_rddSelectWorkAreaNumber(caller);
    return static_cast<uint16_t>(0);
  };

  char file[VL_FS_PATH_MAX];
  std::snprintf(file, sizeof file, "%.*s", VL_RDD_MAX_FILENAME, create ? r.targetFile : r.sourceFile);
  if (!hasExtension(file)) {
    VlItem ext;
    ext.type = VL_IT_NIL;
    VL_SELF(callingArea, info, VL_DBI_TABLEEXT, &ext);
    size_t len = std::strlen(file);
    std::snprintf(file + len, sizeof file - len, "%s", vl_itemGetCPtr(&ext));
    file[VL_RDD_MAX_FILENAME] = '\0';
    vl_itemClear(&ext);
  }
  VlOpenInfo info{};
  info.fileName = file;
  info.alias = scratch;
  info.shared = info.readOnly = !create;
  info.codePage = nullptr;

  if (create) {
    VlItem rows;
    rows.type = VL_IT_NIL;
    buildStructure(callingArea, r.fields, &rows);
    if (vl_arrayLen(&rows) == 0) {
      vl_itemClear(&rows);
      giveUp();
      vl_errRT_DBCMD(VL_EG_ARG, 1015, nullptr, "DBCREATE");
      return 0;
    }
    uint16_t id = 0;
    VlRddNode* node = vl_rddFindNode(r.driver, &id);
    if (node && node->table.exists && node->table.drop) {
      VlItem name;
      name.type = VL_IT_NIL;
      vl_itemPutC(&name, file);
      if (node->table.exists(node, &name, nullptr) == VL_SUCCESS) node->table.drop(node, &name);
      vl_itemClear(&name);
    }
    if (vl_rddSetAlias(area, scratch) != VL_SUCCESS) {
      vl_itemClear(&rows);
      return giveUp();
    }
    info.area = area->areaNum;
    bool made = VL_SELF(area, createFields, &rows) == VL_SUCCESS && VL_SELF(area, create, &info) == VL_SUCCESS;
    vl_itemClear(&rows);
    if (!made) {
      giveUp();
      vl_errRT_DBCMD(VL_EG_ARG, 1015, nullptr, "DBAPP");
      return 0;
    }
    vl_rddReleaseCurrentArea();
    vl_rddSelectWorkAreaNumber(0);
    if (vl_rddInsertArea(r.driver) != VL_SUCCESS) {
      vl_rddSelectWorkAreaNumber(caller);
      vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBAPP");
      return 0;
    }
    area = vl_rddGetCurrentWorkAreaPointer();
    info.shared = info.readOnly = false;
  }
  info.area = area->areaNum;
  if (VL_SELF(area, open, &info) != VL_SUCCESS) {
    giveUp();
    if (!vl_vmRequestQuery()) vl_errRT_DBCMD(VL_EG_OPEN, 0, nullptr, "DBAPP");
    return 0;
  }
  uint16_t other = area->areaNum;
  vl_rddSelectWorkAreaNumber(caller);
  return other;
}

// Target field -> source field, by name; with a field list only the target fields whose name
// begins with one of its entries.
std::vector<std::pair<uint16_t, uint16_t>> fieldMap(VlArea* source, VlArea* target, const VlItem* fields) {
  std::vector<std::pair<uint16_t, uint16_t>> map;
  for (uint16_t i = 1; i <= target->fieldCount; ++i) {
    char name[VL_RDD_FIELDNAME_BUF];
    if (VL_SELF(target, fieldName, i, name) != VL_SUCCESS) continue;
    if (fields) {
      bool listed = false;
      for (uint32_t k = 1; k <= vl_arrayLen(fields) && !listed; ++k) {
        const VlItem* entry = vl_arrayGetItemPtr(fields, k);
        if (!entry || !VL_IS_STRING(entry)) continue;
        const char* e = withoutAlias(vl_itemGetCPtr(entry));
        size_t n = 0;
        while (e[n] && name[n] && upperAscii(e[n]) == name[n]) ++n;
        listed = e[n] == '\0';
      }
      if (!listed) continue;
    }
    uint16_t s = vl_rddFieldIndexByName(source, name);
    if (s) map.emplace_back(i, s);
  }
  return map;
}

int transfer(Request& r) {
  uint16_t caller = vl_rddGetCurrentWorkAreaNumber();
  VlArea* current = vl_rddGetCurrentWorkAreaPointer();
  if (!current) {
    vl_errRT_DBCMD(VL_EG_NOTABLE, 2001, nullptr, "DBAPP");
    return RESULT_NOTABLE;
  }
  if ((r.sourceFile != nullptr) == (r.targetFile != nullptr)) {
    vl_errRT_DBCMD(VL_EG_ARG, 2019, nullptr, "DBAPP");
    return RESULT_ARGS;
  }
  if (r.fields && vl_arrayLen(r.fields) == 0) r.fields = nullptr;
  bool copy = r.targetFile != nullptr;
  uint16_t other = openOther(r, copy);
  if (other && !copy && vl_vmRequestQuery()) other = 0;
  if (!other) {
    vl_errRT_DBCMD(VL_EG_NOTABLE, 2001, nullptr, "DBAPP");
    return RESULT_NOTABLE;
  }
  VlArea* otherArea = vl_rddGetWorkAreaPointer(other);
  VlArea* source = copy ? current : otherArea;
  VlArea* target = copy ? otherArea : current;
  auto map = fieldMap(source, target, r.fields);
  std::vector<VlItem> values(map.size());
  for (VlItem& v : values) v.type = VL_IT_NIL;

  vl_rddSelectWorkAreaNumber(source->areaNum);
  bool go = true;
  if (r.record) {
    go = VL_SELF(source, goTo, static_cast<uint32_t>(r.record)) == VL_SUCCESS;
  } else if (!r.whileBlock && !r.rest && r.next == 0) {
    go = VL_SELF(source, goTop) == VL_SUCCESS;
  }
  long next = r.next;
  while (go) {
    bool eof = true;
    if (VL_SELF(source, eof, &eof) != VL_SUCCESS || eof) break;
    if (r.whileBlock) {
      if (VL_SELF(source, evalBlock, r.whileBlock) != VL_SUCCESS || !vl_itemGetL(source->result)) break;
    }
    bool chosen = true;
    if (r.forBlock) {
      if (VL_SELF(source, evalBlock, r.forBlock) != VL_SUCCESS) break;
      chosen = vl_itemGetL(source->result);
    }
    if (chosen) {
      bool deleted = false;
      if (VL_SELF(source, deleted, &deleted) != VL_SUCCESS) break;
      for (size_t k = 0; k < map.size(); ++k)
        if (VL_SELF(source, getValue, map[k].second, &values[k]) != VL_SUCCESS) vl_itemClear(&values[k]);
      vl_rddSelectWorkAreaNumber(target->areaNum);
      if (VL_SELF(target, append, false) != VL_SUCCESS || vl_vmRequestQuery()) {
        vl_rddSelectWorkAreaNumber(source->areaNum);
        break;
      }
      if (deleted) VL_SELF(target, deleteRec);
      for (size_t k = 0; k < map.size(); ++k) {
        if (!VL_IS_NIL(&values[k])) VL_SELF(target, putValue, map[k].first, &values[k]);
        // An error the handler answered with a break or a quit ends the transfer.
        if (vl_vmRequestQuery()) go = false;
      }
      vl_rddSelectWorkAreaNumber(source->areaNum);
      if (!go) break;
    }
    if (r.next > 0) {
      if (--next == 0) break;
    } else if (r.record) {
      break;
    }
    if (VL_SELF(source, skip, 1) != VL_SUCCESS) break;
  }
  for (VlItem& v : values) vl_itemClear(&v);
  vl_rddSelectWorkAreaNumber(other);
  vl_rddReleaseCurrentArea();
  vl_rddSelectWorkAreaNumber(caller);
  return RESULT_OK;
}

void transferCall(bool copy) {
  vl_ret();
  const VlItem* file = vl_param(1, VL_IT_ANY);
  if (!file || !VL_IS_STRING(file)) return;
  Request r{};
  (copy ? r.targetFile : r.sourceFile) = vl_itemGetCPtr(file);
  VlItem* fields = vl_param(2, VL_IT_ANY);
  r.fields = fields && VL_IS_ARRAY(fields) ? fields : nullptr;
  VlItem* forBlock = vl_param(3, VL_IT_ANY);
  r.forBlock = forBlock && VL_IS_BLOCK(forBlock) ? forBlock : nullptr;
  VlItem* whileBlock = vl_param(4, VL_IT_ANY);
  r.whileBlock = whileBlock && VL_IS_BLOCK(whileBlock) ? whileBlock : nullptr;
  r.next = vl_parnl(5);
  r.record = vl_parnl(6);
  r.rest = vl_parl(7);
  const char* driver = vl_parc(8);
  if (driver && *driver) {
    size_t n = 0;
    for (; driver[n] && n < VL_RDD_NAME_LEN; ++n) r.driver[n] = upperAscii(driver[n]);
    r.driver[n] = '\0';
  } else {
    std::snprintf(r.driver, sizeof r.driver, "%s", vl_rddDefaultDriver());
  }
  transfer(r);
}

}  // namespace

VL_FUNC(__DBCOPY) { transferCall(true); }
VL_FUNC(__DBAPP) { transferCall(false); }

VL_NATIVE_MODULE(dbtrans, VL_FUNCENTRY(__DBCOPY), VL_FUNCENTRY(__DBAPP));

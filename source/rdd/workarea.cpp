// The work-area table: the open areas ordered by area number, the current area, alias rules and
// selection, and field access by name for the virtual machine.
//
// Invariants:
//  1. s_positions[1..s_used-1] hold the open areas in increasing area number; position 0 is never
//     used. s_map[n] is the position of area n, 0 when no table is open there.
//  2. s_currentArea is the area at s_current, or null; s_current 0 means that the next table
//     opened takes the first free number.
//  3. Both arrays are freed whenever the last area is released (s_used drops to 1).
#include <cstdio>
#include <cstring>
#include <vector>

#include "../vm/errapi.h"
#include "../vm/xmem.h"
#include "rddapi.h"

namespace {

constexpr uint32_t STEP = 256;

VlArea** s_positions;
uint32_t s_capacity;  // entries of s_positions
uint32_t s_used = 1;  // positions in use, position 0 included
uint16_t* s_map;
uint32_t s_mapSize;   // entries of s_map (area numbers 0..s_mapSize-1)
uint16_t s_current = 1;
VlArea* s_currentArea;
bool s_netErr;

uint32_t roundUp(uint32_t n) { return (n + STEP - 1) / STEP * STEP; }

void extendMap(uint32_t areaNum) {
  if (areaNum < s_mapSize) return;
  uint32_t size = roundUp(areaNum + 1);
  s_map = static_cast<uint16_t*>(s_map ? vl_xrealloc(s_map, size * sizeof(uint16_t)) : vl_xgrab(size * sizeof(uint16_t)));
  std::memset(s_map + s_mapSize, 0, (size - s_mapSize) * sizeof(uint16_t));
  s_mapSize = size;
}

uint16_t positionOf(uint32_t areaNum) { return areaNum < s_mapSize ? s_map[areaNum] : 0; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void freeTable() {
  if (s_positions) vl_xfree(s_positions);
  if (s_map) vl_xfree(s_map);
  s_positions = nullptr;
  s_map = nullptr;
  s_capacity = s_mapSize = 0;
  s_used = 1;
}

}  // namespace

uint16_t vl_rddGetCurrentWorkAreaNumber() { return s_current; }
VlArea* vl_rddGetCurrentWorkAreaPointer() { return s_currentArea; }

VlArea* vl_rddGetWorkAreaPointer(int areaNum) {
  if (areaNum < 1 || areaNum > VL_RDD_MAX_AREA) return nullptr;
  uint16_t pos = positionOf(static_cast<uint32_t>(areaNum));
  return pos ? s_positions[pos] : nullptr;
}

uint16_t vl_rddAreaCount() { return static_cast<uint16_t>(s_used - 1); }
VlArea* vl_rddAreaAtPosition(uint16_t pos) { return pos >= 1 && pos < s_used ? s_positions[pos] : nullptr; }

VlStatus vl_rddSelectWorkAreaNumber(int areaNum) {
  if (areaNum < 1 || areaNum > VL_RDD_MAX_AREA) {
    s_current = 0;
    s_currentArea = nullptr;
    return VL_FAILURE;
  }
  s_current = static_cast<uint16_t>(areaNum);
  s_currentArea = vl_rddGetWorkAreaPointer(areaNum);
  return s_currentArea ? VL_SUCCESS : VL_FAILURE;
}

void vl_rddSelectFirstAvailable() {
  uint32_t n = 1;
  while (n < s_mapSize && s_map[n] != 0) ++n;
  s_current = n <= VL_RDD_MAX_AREA ? static_cast<uint16_t>(n) : 0;
  s_currentArea = nullptr;
}

bool vl_rddIsValidAlias(const char* alias) {
  while (*alias == ' ') ++alias;
  char first = upper(*alias);
  if (!((first >= 'A' && first <= 'Z') || first == '_')) return false;
  for (const char* p = alias + 1; *p && *p != ' '; ++p)
    if (!isLetter(*p) && !isDigit(*p) && *p != '_') return false;
  return true;
}

int vl_rddAliasToArea(const char* alias) {
  while (*alias == ' ') ++alias;
  if (isDigit(*alias)) {
    long value = 0;
    for (const char* p = alias; isDigit(*p); ++p) {
      value = value * 10 + (*p - '0');
      if (value > 0xFFFFFF) break;  // far outside the area range already
    }
    return static_cast<int>(value);
  }
  if (alias[0] && !alias[1]) {
    char c = upper(alias[0]);
    if (c >= 'A' && c <= 'K') return c - 'A' + 1;
    if (c == 'M') return 0;
  }
  VlDynSym* d = vl_dynsymFindName(alias);
  return d && d->area ? static_cast<int>(d->area) : -1;
}

VlStatus vl_rddSetAlias(VlArea* area, const char* alias) {
  if (!vl_rddIsValidAlias(alias)) {
    vl_errRT_DBCMD_Ext(VL_EG_BADALIAS, 1010, nullptr, alias, VL_ERR_FLAG_DEFAULT);
    return VL_FAILURE;
  }
  if (vl_rddAliasToArea(alias) >= 0) {
    vl_errRT_DBCMD_Ext(VL_EG_DUPALIAS, 1011, nullptr, alias, VL_ERR_FLAG_DEFAULT);
    return VL_FAILURE;
  }
  VlDynSym* d = vl_dynsymGet(alias);
  d->area = area->areaNum;
  area->alias = d;
  return VL_SUCCESS;
}

VlStatus vl_rddTempAlias(char* buffer) {
  for (int i = 1; i <= 999; ++i) {
    std::memcpy(buffer, "VLTMP", 5);
    buffer[5] = static_cast<char>('0' + i / 100);
    buffer[6] = static_cast<char>('0' + i / 10 % 10);
    buffer[7] = static_cast<char>('0' + i % 10);
    buffer[8] = '\0';
    if (vl_rddAliasToArea(buffer) < 0) return VL_SUCCESS;
  }
  buffer[0] = '\0';
  return VL_FAILURE;
}

VlStatus vl_rddSelectWorkAreaSymbol(VlSymbol* sym) {
  VlDynSym* d = sym->dynsym ? sym->dynsym : vl_dynsymFindName(sym->name);
  const char* name = sym->name;
  for (;;) {
    if (d && d->area) {
      vl_rddSelectWorkAreaNumber(static_cast<int>(d->area));
      return VL_SUCCESS;
    }
    if (name[0] && !name[1]) {
      char c = upper(name[0]);
      if (c >= 'A' && c <= 'K') {
        vl_rddSelectWorkAreaNumber(c - 'A' + 1);
        return VL_SUCCESS;
      }
    }
    if (vl_errRT_BASE_Ext1(VL_EG_NOALIAS, 1002, nullptr, name, 0, VL_ERR_FLAG_RETRY, 0) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
    if (!d) d = vl_dynsymFindName(name);
  }
}

VlStatus vl_rddSelectWorkAreaAlias(const char* alias) {
  int n = vl_rddAliasToArea(alias);
  while (n < 0) {
    if (vl_errRT_BASE_Ext1(VL_EG_NOALIAS, 1002, nullptr, alias, 0, VL_ERR_FLAG_RETRY, 0) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
    n = vl_rddAliasToArea(alias);
  }
  if (n < 1 || n > VL_RDD_MAX_AREA) vl_rddSelectFirstAvailable();
  else vl_rddSelectWorkAreaNumber(n);
  return VL_SUCCESS;
}

bool vl_rddSelectAliasItem(VlItem* alias) {
  VlItem* p = VL_IS_BYREF(alias) ? vl_itemUnRef(alias) : alias;
  bool ok = true;
  VlType type = p->type & static_cast<VlType>(~VL_IT_BYREF);
  if (type & (VL_IT_INTEGER | VL_IT_LONG)) {
    int64_t n = vl_itemGetNInt(p);
    vl_rddSelectWorkAreaNumber(n >= 1 && n <= VL_RDD_MAX_AREA ? static_cast<int>(n) : -1);
  } else if (type & VL_IT_DOUBLE) {
    double d = p->u.dbl;
    vl_rddSelectWorkAreaNumber(d >= 1 && d < VL_RDD_MAX_AREA + 1 ? static_cast<int>(d) : -1);
  } else if (type & VL_IT_SYMBOL) {
    ok = vl_rddSelectWorkAreaSymbol(vl_itemGetSymbol(p)) == VL_SUCCESS;
  } else if (type == VL_IT_STRING) {
    // The text is used as it is: macro substitution needs the macro compiler.
    ok = vl_rddSelectWorkAreaAlias(vl_itemGetCPtr(p)) == VL_SUCCESS;
  } else if (type == VL_IT_NIL || (type & (VL_IT_DATE | VL_IT_LOGICAL | VL_IT_BLOCK | VL_IT_ARRAY))) {
    vl_rddSelectWorkAreaNumber(-1);
  } else {
    VlItem* substitute = vl_errRT_BASE_Subst(VL_EG_ARG, 1065, nullptr, "&", 1, p);
    ok = substitute != nullptr;
    if (substitute) {
      ok = vl_rddSelectAliasItem(substitute);
      vl_itemRelease(substitute);
    }
  }
  vl_itemClear(alias);
  return ok;
}

VlStatus vl_rddInsertArea(const char* driver) {
  uint16_t id = 0;
  VlRddNode* node = vl_rddFindNode(driver, &id);
  if (!node) return VL_FAILURE;
  if (s_current == 0) vl_rddSelectFirstAvailable();
  if (s_current == 0) return VL_FAILURE;  // every number is taken
  // Callers release the current area first; never leave two tables under one number.
  if (positionOf(s_current)) vl_rddReleaseCurrentArea();
  extendMap(s_current);

  if (s_used + 1 > s_capacity) {
    uint32_t cap = roundUp(s_used + 1);
    s_positions = static_cast<VlArea**>(s_positions ? vl_xrealloc(s_positions, cap * sizeof(VlArea*))
                                                    : vl_xgrab(cap * sizeof(VlArea*)));
    s_capacity = cap;
    s_positions[0] = nullptr;
  }
  VlArea* area = vl_rddNewAreaNode(node, id);
  area->areaNum = s_current;
  uint32_t pos = s_used;
  while (pos > 1 && s_positions[pos - 1]->areaNum > s_current) {
    s_positions[pos] = s_positions[pos - 1];
    s_map[s_positions[pos]->areaNum] = static_cast<uint16_t>(pos);
    --pos;
  }
  s_positions[pos] = area;
  s_map[s_current] = static_cast<uint16_t>(pos);
  ++s_used;
  s_currentArea = area;
  return VL_SUCCESS;
}

void vl_rddReleaseCurrentArea() {
  VlArea* area = s_currentArea;
  if (!area) return;
  VL_SELF(area, close);
  VL_SELF(area, release);
  uint16_t pos = s_map[s_current];
  s_map[s_current] = 0;
  for (uint32_t i = pos; i + 1 < s_used; ++i) {
    s_positions[i] = s_positions[i + 1];
    s_map[s_positions[i]->areaNum] = static_cast<uint16_t>(i);
  }
  --s_used;
  s_currentArea = nullptr;
  if (s_used <= 1) {
    freeTable();
  } else if (s_capacity - s_used > STEP - 1) {
    uint32_t cap = roundUp(s_used + 1);
    s_positions = static_cast<VlArea**>(vl_xrealloc(s_positions, cap * sizeof(VlArea*)));
    s_capacity = cap;
  }
}

void vl_rddCloseAll() {
  if (s_used > 1) {
    // Children of relations close after their parents, whose close ends those relations. A pass
    // that closes nothing (relations in a ring) ends the waiting: the rest close in table order.
    std::vector<char> closed(s_used, 0);
    for (bool progress = true; progress;) {
      progress = false;
      for (uint32_t pos = 1; pos < s_used; ++pos) {
        VlArea* area = s_positions[pos];
        if (closed[pos] || area->parents > 0) continue;
        vl_rddSelectWorkAreaNumber(area->areaNum);
        VL_SELF(area, close);
        closed[pos] = 1;
        progress = true;
      }
    }
    for (uint32_t pos = 1; pos < s_used; ++pos) {
      if (closed[pos]) continue;
      vl_rddSelectWorkAreaNumber(s_positions[pos]->areaNum);
      VL_SELF(s_positions[pos], close);
    }
    for (uint32_t pos = 1; pos < s_used; ++pos) {
      VlArea* area = s_positions[pos];
      vl_rddSelectWorkAreaNumber(area->areaNum);
      VL_SELF(area, release);
    }
  }
  freeTable();
  s_current = 1;
  s_currentArea = nullptr;
}

bool vl_rddGetNetErr() { return s_netErr; }
void vl_rddSetNetErr(bool v) { s_netErr = v; }

// ---- fields by name ----
uint16_t vl_rddFieldIndex(VlArea* area, const VlDynSym* name) {
  if (!name) return 0;
  for (uint16_t i = 0; i < area->fieldCount; ++i)
    if (area->fields[i].sym == name) return static_cast<uint16_t>(i + 1);
  return 0;
}

uint16_t vl_rddFieldIndexByName(VlArea* area, const char* name) {
  return vl_rddFieldIndex(area, vl_dynsymFindName(name));
}

namespace {

VlDynSym* dynsymOf(VlSymbol* sym) { return sym->dynsym ? sym->dynsym : vl_dynsymFindName(sym->name); }

// The current area and the index of the field named sym in it; false when there is none.
bool findField(VlSymbol* sym, VlArea** area, uint16_t* index) {
  *area = s_currentArea;
  if (!*area) return false;
  *index = vl_rddFieldIndex(*area, dynsymOf(sym));
  return *index != 0;
}

}  // namespace

bool vl_rddFieldGet(VlSymbol* sym, VlItem* out) {
  VlArea* area;
  uint16_t index;
  if (!findField(sym, &area, &index)) return false;
  VL_SELF(area, getValue, index, out);
  return true;
}

VlStatus vl_rddGetFieldValue(VlItem* out, VlSymbol* sym) {
  for (;;) {
    VlArea* area;
    uint16_t index;
    if (findField(sym, &area, &index)) return VL_SELF(area, getValue, index, out);
    if (vl_errRT_BASE_Ext1(VL_EG_NOVAR, 1003, nullptr, sym->name, 0, VL_ERR_FLAG_RETRY, 0) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
  }
}

VlStatus vl_rddPutFieldValue(VlItem* value, VlSymbol* sym) {
  for (;;) {
    VlArea* area;
    uint16_t index;
    if (findField(sym, &area, &index)) return VL_SELF(area, putValue, index, value);
    if (vl_errRT_BASE_Ext1(VL_EG_NOVAR, 1003, nullptr, sym->name, 0, VL_ERR_FLAG_RETRY, 0) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
  }
}

// The base work area: the implementation every driver inherits for the slots it does not
// replace — field list, filter and locate scope, relations, record loops, errors — and the
// "Operation not supported" answer for everything that needs a real table.
#include <cstdio>
#include <cstring>

#include "../rtl/console.h"
#include "../rtl/set.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/vm.h"
#include "../vm/vmcall.h"
#include "../vm/xmem.h"
#include "rddapi.h"

namespace {

void releaseItem(VlItem*& item) {
  if (item) {
    vl_itemRelease(item);
    item = nullptr;
  }
}

// A held copy of value, or null for a null or NIL value.
VlItem* heldCopy(const VlItem* value) {
  if (!value || VL_IS_NIL(value)) return nullptr;
  return vl_itemNew(value);
}

// ---- not supported ----
template <typename... A>
VlStatus unsupported(VlArea* area, A...) {
  return vl_waUnsupported(area);
}

// ---- flags ----
VlStatus waBof(VlArea* area, bool* out) {
  *out = area->bof;
  return VL_SUCCESS;
}
VlStatus waEof(VlArea* area, bool* out) {
  *out = area->eof;
  return VL_SUCCESS;
}
VlStatus waFound(VlArea* area, bool* out) {
  *out = area->found;
  return VL_SUCCESS;
}

// ---- movement through the filter ----
VlStatus waSkip(VlArea* area, long n) {
  if (n == 0) return VL_SELF(area, skipRaw, 0);
  area->top = area->bottom = false;
  long dir = n > 0 ? 1 : -1;
  unsigned long count = n > 0 ? static_cast<unsigned long>(n) : 0ul - static_cast<unsigned long>(n);
  while (count > 0) {
    if (VL_SELF(area, skipRaw, dir) != VL_SUCCESS) return VL_FAILURE;
    if (VL_SELF(area, skipFilter, dir) != VL_SUCCESS) return VL_FAILURE;
    if (area->bof) break;
    --count;
    if (area->eof) break;
  }
  // A backward move that found no record at all ends at the end position: eof stays set there,
  // or the blank end record would pass for a real one.
  if (dir < 0) {
    if (!(area->bof && area->eof)) area->eof = false;
  } else {
    area->bof = false;
  }
  return VL_SUCCESS;
}

VlStatus waSkipFilter(VlArea* area, long dir) {
  if (!vl_set.deleted && !area->filterBlock) return VL_SUCCESS;
  bool wasBottom = area->bottom;
  while (!area->bof && !area->eof) {
    bool passes = true;
    if (area->filterBlock) {
      if (VL_SELF(area, evalBlock, area->filterBlock) != VL_SUCCESS) return VL_FAILURE;
      passes = !VL_IS_LOGICAL(area->result) || vl_itemGetL(area->result);
    }
    if (passes) {
      if (!vl_set.deleted) break;
      bool deleted = false;
      if (VL_SELF(area, deleted, &deleted) != VL_SUCCESS) return VL_FAILURE;
      if (!deleted) break;
    }
    if (VL_SELF(area, skipRaw, dir) != VL_SUCCESS) return VL_FAILURE;
  }
  if (area->bof && dir < 0) {
    if (wasBottom) return VL_SELF(area, goTo, 0);  // nothing qualifies: the end position
    VlStatus status = VL_SELF(area, goTop);
    area->bof = true;
    return status;
  }
  return VL_SUCCESS;
}

// ---- fields ----
VlStatus waAddField(VlArea* area, VlFieldInfo* info) {
  if (area->fieldCount >= area->fieldExtent || !info->name) return VL_FAILURE;
  const char* name = info->name;
  while (*name == ' ') ++name;
  size_t len = std::strlen(name);
  while (len > 0 && (name[len - 1] == ' ' || name[len - 1] == '\t' || name[len - 1] == '\r' || name[len - 1] == '\n'))
    --len;
  if (len == 0) return VL_FAILURE;
  char buffer[VL_RDD_FIELDNAME_BUF];
  if (len > VL_SYMBOL_NAME_LEN) len = VL_SYMBOL_NAME_LEN;
  std::memcpy(buffer, name, len);
  buffer[len] = '\0';

  VlField* field = &area->fields[area->fieldCount];
  field->sym = vl_dynsymGet(buffer);
  field->type = info->type;
  field->typeExt = info->typeExt;
  field->len = info->len;
  field->dec = info->dec;
  field->area = area->areaNum;
  field->next = nullptr;
  if (area->fieldCount > 0) area->fields[area->fieldCount - 1].next = field;
  ++area->fieldCount;
  return VL_SUCCESS;
}

VlStatus waSetFieldExtent(VlArea* area, uint16_t count) {
  if (area->fields) vl_xfree(area->fields);
  area->fields = nullptr;
  area->fieldExtent = count;
  area->fieldCount = 0;
  if (count) {
    area->fields = static_cast<VlField*>(vl_xgrab(count * sizeof(VlField)));
    std::memset(area->fields, 0, count * sizeof(VlField));
  }
  return VL_SUCCESS;
}

// Rows {name, type letter, length, decimals} into field descriptions.
VlStatus waCreateFields(VlArea* area, VlItem* structure) {
  uint32_t rows = vl_arrayLen(structure);
  if (rows > 0xFFFF) return VL_FAILURE;
  if (VL_SELF(area, setFieldExtent, static_cast<uint16_t>(rows)) != VL_SUCCESS) return VL_FAILURE;
  for (uint32_t i = 1; i <= rows; ++i) {
    VlItem* row = vl_arrayGetItemPtr(structure, i);
    if (!row || !VL_IS_ARRAY(row)) return VL_FAILURE;
    int64_t len = vl_arrayGetNLL(row, 3);
    int64_t dec = vl_arrayGetNLL(row, 4);
    if (len < 0) len = 0;
    if (dec < 0) dec = 0;
    const char* letterText = vl_arrayGetCPtr(row, 2);
    char letter = letterText[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');

    VlFieldInfo info{};
    info.name = vl_arrayGetCPtr(row, 1);
    switch (letter) {
      case '2':
      case '4':
        info.type = VL_IT_INTEGER;
        info.len = static_cast<uint16_t>(letter - '0');
        break;
      case '8':
      case 'B':
        if (dec > 255) return VL_FAILURE;
        info.type = VL_IT_DOUBLE;
        info.len = 8;
        info.dec = static_cast<uint16_t>(dec);
        break;
      case 'C':
        // Lengths above what the descriptor's two bytes hold would be cut silently.
        if (len > 0xFFFF) return VL_FAILURE;
        info.type = VL_IT_STRING;
        info.len = static_cast<uint16_t>(len);
        break;
      case 'D':
        info.type = VL_IT_DATE;
        info.len = len == 3 ? 3 : 8;
        break;
      case 'F':
      case 'N':
        if (len > 255 || dec > 255) return VL_FAILURE;
        info.type = VL_IT_LONG;
        info.len = static_cast<uint16_t>(len);
        info.dec = static_cast<uint16_t>(dec);
        break;
      case 'I':
        info.type = VL_IT_INTEGER;
        info.len = (len == 1 || len == 2 || len == 3 || len == 4 || len == 8) ? static_cast<uint16_t>(len) : 4;
        break;
      case 'L':
        info.type = VL_IT_LOGICAL;
        info.len = 1;
        break;
      case 'M':
        info.type = VL_IT_MEMO;
        info.len = len == 4 ? 4 : 10;
        break;
      default:
        return VL_FAILURE;
    }
    if (VL_SELF(area, addField, &info) != VL_SUCCESS) return VL_FAILURE;
  }
  return VL_SUCCESS;
}

VlStatus waFieldCount(VlArea* area, uint16_t* out) {
  *out = area->fieldCount;
  return VL_SUCCESS;
}

const char* typeLetter(VlType type) {
  switch (type) {
    case VL_IT_STRING: return "C";
    case VL_IT_LOGICAL: return "L";
    case VL_IT_MEMO: return "M";
    case VL_IT_DATE: return "D";
    case VL_IT_LONG: return "N";
    case VL_IT_INTEGER: return "I";
    case VL_IT_DOUBLE: return "B";
    default: return "U";
  }
}

VlStatus waFieldInfo(VlArea* area, uint16_t index, uint16_t code, VlItem* out) {
  if (index == 0 || index > area->fieldCount) return VL_FAILURE;
  const VlField* field = &area->fields[index - 1];
  switch (code) {
    case VL_DBS_NAME: vl_itemPutC(out, field->sym->symbol->name); break;
    case VL_DBS_TYPE: vl_itemPutC(out, typeLetter(field->type)); break;
    case VL_DBS_LEN: vl_itemPutNI(out, field->len); break;
    case VL_DBS_DEC: vl_itemPutNI(out, field->dec); break;
    default: return VL_FAILURE;
  }
  return VL_SUCCESS;
}

VlStatus waFieldName(VlArea* area, uint16_t index, char* buffer) {
  if (index == 0 || index > area->fieldCount) return VL_FAILURE;
  std::snprintf(buffer, VL_RDD_FIELDNAME_BUF, "%s", area->fields[index - 1].sym->symbol->name);
  return VL_SUCCESS;
}

VlStatus waAlias(VlArea* area, char* buffer) {
  std::snprintf(buffer, VL_RDD_NAME_LEN + 1, "%s", area->alias ? area->alias->symbol->name : "");
  return VL_SUCCESS;
}

// ---- filter and locate ----
VlStatus waClearFilter(VlArea* area) {
  releaseItem(area->filterBlock);
  releaseItem(area->filterText);
  area->filterActive = false;
  return VL_SUCCESS;
}

VlStatus waClearLocate(VlArea* area) {
  for (VlItem*& item : area->locate) releaseItem(item);
  return VL_SUCCESS;
}

VlStatus waFilterText(VlArea* area, VlItem* out) {
  if (area->filterText) vl_itemCopy(out, area->filterText);
  else vl_itemPutC(out, "");
  return VL_SUCCESS;
}

VlStatus waSetFilter(VlArea* area, VlFilterInfo* info) {
  if (VL_SELF(area, clearFilter) != VL_SUCCESS) return VL_FAILURE;
  area->filterBlock = heldCopy(info->block);
  area->filterText = heldCopy(info->text);
  area->filterActive = true;
  return VL_SUCCESS;
}

VlStatus waSetLocate(VlArea* area, VlScopeInfo* scope) {
  if (VL_SELF(area, clearLocate) != VL_SUCCESS) return VL_FAILURE;
  VlItem* items[VL_LOCATE_ITEMS] = {scope->forBlock, scope->forText, scope->whileBlock, scope->whileText,
                                    scope->next,     scope->record,  scope->rest};
  for (int i = 0; i < VL_LOCATE_ITEMS; ++i) area->locate[i] = heldCopy(items[i]);
  return VL_SUCCESS;
}

// ---- relations ----
void releaseRelation(VlRelInfo* rel) {
  releaseItem(rel->keyBlock);
  releaseItem(rel->keyText);
  vl_xfree(rel);
}

// Runs the child's childEnd with the child selected, then reselects what was current.
void endOnChild(VlRelInfo* rel) {
  uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
  vl_rddSelectWorkAreaNumber(rel->child->areaNum);
  VL_SELF(rel->child, childEnd, rel);
  vl_rddSelectWorkAreaNumber(previous);
}

VlStatus waClearRel(VlArea* area) {
  VlRelInfo* rel = area->relations;
  area->relations = nullptr;
  while (rel) {
    VlRelInfo* next = rel->next;
    endOnChild(rel);
    releaseRelation(rel);
    rel = next;
  }
  return VL_SUCCESS;
}

VlStatus waSyncChildren(VlArea* area) {
  for (VlRelInfo* rel = area->relations; rel; rel = rel->next)
    if (VL_SELF(rel->child, childSync, rel) != VL_SUCCESS) return VL_FAILURE;
  return VL_SUCCESS;
}

VlStatus waChildStart(VlArea* area, VlRelInfo*) {
  ++area->parents;
  return VL_SUCCESS;
}

VlStatus waChildEnd(VlArea* area, VlRelInfo* rel) {
  if (rel->scoped) {
    VlItem nil;
    nil.type = VL_IT_NIL;
    VlOrderInfo info{};
    info.newValue = &nil;
    info.result = &nil;
    VL_SELF(area, orderInfo, VL_DBOI_SCOPETOPCLEAR, &info);
    VL_SELF(area, orderInfo, VL_DBOI_SCOPEBOTTOMCLEAR, &info);
    vl_itemClear(&nil);
  }
  if (area->parents > 0) --area->parents;
  return VL_SUCCESS;
}

VlStatus waRelArea(VlArea* area, uint16_t n, uint16_t* out) {
  *out = 0;
  uint16_t i = 1;
  for (VlRelInfo* rel = area->relations; rel; rel = rel->next, ++i) {
    if (i == n) {
      *out = rel->child->areaNum;
      return VL_SUCCESS;
    }
  }
  return VL_FAILURE;
}

VlStatus waRelText(VlArea* area, uint16_t n, VlItem* out) {
  uint16_t i = 1;
  for (VlRelInfo* rel = area->relations; rel; rel = rel->next, ++i) {
    if (i == n) {
      if (rel->keyText && VL_IS_STRING(rel->keyText))
        vl_itemPutCL(out, vl_itemGetCPtr(rel->keyText), vl_itemGetCLen(rel->keyText) > 256 ? 256 : vl_itemGetCLen(rel->keyText));
      else vl_itemPutC(out, "");
      return VL_SUCCESS;
    }
  }
  vl_itemPutC(out, "");
  return VL_FAILURE;
}

VlStatus waSetRel(VlArea* area, VlRelInfo* info) {
  auto* rel = static_cast<VlRelInfo*>(vl_xgrab(sizeof(VlRelInfo)));
  rel->keyBlock = heldCopy(info->keyBlock);
  rel->keyText = heldCopy(info->keyText);
  rel->scoped = info->scoped;
  rel->parent = area;
  rel->child = info->child;
  rel->next = nullptr;
  VlRelInfo** tail = &area->relations;
  while (*tail) tail = &(*tail)->next;
  *tail = rel;
  return VL_SELF(rel->child, childStart, rel);
}

VlStatus waRelEval(VlArea* area, VlRelInfo* rel) {
  VlStatus status = VL_SELF(area, evalBlock, rel->keyBlock);
  if (status != VL_SUCCESS) return status;
  VlItem key;
  key.type = VL_IT_NIL;
  vl_itemMove(&key, area->result);
  area->result->type = VL_IT_NIL;

  VlArea* child = rel->child;
  VlItem order;
  order.type = VL_IT_NIL;
  VlOrderInfo info{};
  info.result = &order;
  status = VL_SELF(child, orderInfo, VL_DBOI_NUMBER, &info);
  if (status == VL_SUCCESS && vl_itemGetNI(&order) != 0) {
    if (rel->scoped) {
      VlItem dummy;
      dummy.type = VL_IT_NIL;
      info.newValue = &key;
      info.result = &dummy;
      VL_SELF(child, orderInfo, VL_DBOI_SCOPETOP, &info);
      VL_SELF(child, orderInfo, VL_DBOI_SCOPEBOTTOM, &info);
      vl_itemClear(&dummy);
    }
    status = VL_SELF(child, seek, false, &key, false);
  } else if (status == VL_SUCCESS) {
    status = VL_SELF(child, goToId, &key);
  }
  vl_itemClear(&order);
  vl_itemClear(&key);
  return status;
}

// ---- whole-area operations ----
VlStatus waClose(VlArea* area) {
  VL_SELF(area, clearFilter);
  VL_SELF(area, clearRel);
  VL_SELF(area, clearLocate);
  if (area->parents > 0) {
    uint16_t count = vl_rddAreaCount();
    for (uint16_t pos = 1; pos <= count; ++pos) {
      VlArea* parent = vl_rddAreaAtPosition(pos);
      if (!parent) continue;
      VlRelInfo** link = &parent->relations;
      while (*link) {
        VlRelInfo* rel = *link;
        if (rel->child == area) {
          *link = rel->next;
          endOnChild(rel);
          releaseRelation(rel);
        } else {
          link = &rel->next;
        }
      }
    }
  }
  if (area->alias) area->alias->area = 0;
  return VL_SUCCESS;
}

VlStatus waInfo(VlArea* area, uint16_t code, VlItem* item) {
  switch (code) {
    case VL_DBI_ISDBF:
    case VL_DBI_CANPUTREC:
    case VL_DBI_ISENCRYPTED: vl_itemPutL(item, false); break;
    case VL_DBI_CHILDCOUNT: {
      int n = 0;
      for (VlRelInfo* rel = area->relations; rel; rel = rel->next) ++n;
      vl_itemPutNI(item, n);
      break;
    }
    case VL_DBI_BOF: vl_itemPutL(item, area->bof); break;
    case VL_DBI_EOF: vl_itemPutL(item, area->eof); break;
    case VL_DBI_DBFILTER:
      if (area->filterText) vl_itemCopy(item, area->filterText);
      else vl_itemPutC(item, "");
      break;
    case VL_DBI_FOUND: vl_itemPutL(item, area->found); break;
    case VL_DBI_FCOUNT: vl_itemPutNI(item, area->fieldCount); break;
    case VL_DBI_ALIAS: {
      char alias[VL_RDD_NAME_LEN + 1];
      if (VL_SELF(area, alias, alias) != VL_SUCCESS) return VL_FAILURE;
      vl_itemPutC(item, alias);
      break;
    }
    case VL_DBI_RDD_VERSION:
    case VL_DBI_RDD_BUILD: vl_itemPutC(item, ""); break;
    default: return VL_FAILURE;
  }
  return VL_SUCCESS;
}

VlStatus waNewArea(VlArea* area) {
  area->result = vl_itemNew(nullptr);
  area->relations = nullptr;
  area->parents = 0;
  area->maxFieldNameLen = 10;
  return VL_SUCCESS;
}

VlStatus waRelease(VlArea* area) {
  if (area->fields) vl_xfree(area->fields);
  area->fields = nullptr;
  releaseItem(area->result);
  // Normally close has emptied these; an area released without a close must not leak them.
  releaseItem(area->filterBlock);
  releaseItem(area->filterText);
  for (VlItem*& item : area->locate) releaseItem(item);
  if (area->orderCond) {
    vl_rddOrderCondRelease(area->orderCond);
    area->orderCond = nullptr;
  }
  vl_xfree(area);
  return VL_SUCCESS;
}

VlStatus waStructSize(VlArea*, uint16_t* size) {
  *size = sizeof(VlArea);
  return VL_SUCCESS;
}

VlStatus waSysName(VlArea*, char* buffer) {
  buffer[0] = '\0';
  return VL_SUCCESS;
}

// A scope item's number, 0 when absent.
long scopeNumber(const VlItem* item) { return item && VL_IS_NUMERIC(item) ? vl_itemGetNL(item) : 0; }

VlStatus waDbEval(VlArea* area, VlDbEvalInfo* info) {
  VlScopeInfo& scope = info->scope;
  bool hasRecord = scope.record && !VL_IS_NIL(scope.record);
  bool hasNext = scope.next && !VL_IS_NIL(scope.next);
  bool hasWhile = scope.whileBlock && VL_IS_BLOCK(scope.whileBlock);
  bool hasFor = scope.forBlock && VL_IS_BLOCK(scope.forBlock);
  bool rest = scope.rest && vl_itemGetL(scope.rest);
  long remaining = 0;
  if (hasRecord) {
    if (VL_SELF(area, goToId, scope.record) != VL_SUCCESS) return VL_FAILURE;
  } else if (hasNext) {
    remaining = scopeNumber(scope.next);
    if (remaining < 1) return VL_SUCCESS;
  } else if (!hasWhile && !rest) {
    if (VL_SELF(area, goTop) != VL_SUCCESS) return VL_FAILURE;
  }
  for (;;) {
    bool eof = true;
    if (VL_SELF(area, eof, &eof) != VL_SUCCESS) return VL_FAILURE;
    if (eof) break;
    if (hasWhile) {
      if (VL_SELF(area, evalBlock, scope.whileBlock) != VL_SUCCESS) return VL_FAILURE;
      if (!vl_itemGetL(area->result)) break;
    }
    bool chosen = true;
    if (hasFor) {
      if (VL_SELF(area, evalBlock, scope.forBlock) != VL_SUCCESS) return VL_FAILURE;
      chosen = vl_itemGetL(area->result);
    }
    if (chosen && VL_SELF(area, evalBlock, info->block) != VL_SUCCESS) return VL_FAILURE;
    if (hasRecord) break;
    if (hasNext && --remaining < 1) break;
    if (VL_SELF(area, skip, 1) != VL_SUCCESS) return VL_FAILURE;
  }
  return VL_SUCCESS;
}

VlStatus waTrans(VlArea*, VlTransInfo*) {
  const char* text = "\nTODO: vl_waTrans()\n";
  vl_conOutStd(text, std::strlen(text));
  return VL_SUCCESS;
}

VlStatus waTransRec(VlArea*, VlTransInfo*) {
  const char* text = "\nTODO: vl_waTransRec()\n";
  vl_conOutStd(text, std::strlen(text));
  return VL_SUCCESS;
}

VlStatus waOrderCondition(VlArea* area, VlOrderCondInfo* cond) {
  if (area->orderCond) vl_rddOrderCondRelease(area->orderCond);
  area->orderCond = cond;
  return VL_SUCCESS;
}

VlStatus waOrderInfo(VlArea*, uint16_t, VlOrderInfo*) {
  vl_errRT_DBCMD(VL_EG_ARG, 1015, nullptr, "ORDERINFO");
  return VL_FAILURE;
}

unsigned waError(VlArea* area, VlItem* error) {
  char name[VL_RDD_NAME_LEN + 1] = "";
  VL_SELF(area, sysName, name);
  VlItem value;
  value.type = VL_IT_NIL;
  vl_itemPutC(&value, name[0] ? name : "???DRIVER");
  vl_objSendMsg(error, "_SUBSYSTEM", 1, &value);
  vl_itemPutNI(&value, VL_ERR_SEVERITY_ERROR);
  vl_objSendMsg(error, "_SEVERITY", 1, &value);
  vl_itemClear(&value);
  return vl_errLaunch(error);
}

VlStatus waEvalBlock(VlArea* area, VlItem* block) {
  uint16_t previous = vl_rddGetCurrentWorkAreaNumber();
  bool switched = previous != area->areaNum;
  if (switched) vl_rddSelectWorkAreaNumber(area->areaNum);
  VlItem* value = vl_vmEvalBlock(block);
  if (!area->result) area->result = vl_itemNew(nullptr);
  vl_itemCopy(area->result, value);
  if (switched) vl_rddSelectWorkAreaNumber(previous);
  return vl_vmRequestQuery() ? VL_FAILURE : VL_SUCCESS;
}

VlRddFuncs makeBaseTable() {
  VlRddFuncs t{};
  t.bof = waBof;
  t.eof = waEof;
  t.found = waFound;
  t.goBottom = unsupported;
  t.goTo = unsupported;
  t.goToId = unsupported;
  t.goTop = unsupported;
  t.seek = unsupported;
  t.skip = waSkip;
  t.skipFilter = waSkipFilter;
  t.skipRaw = unsupported;
  t.addField = waAddField;
  t.append = unsupported;
  t.createFields = waCreateFields;
  t.deleteRec = unsupported;
  t.deleted = unsupported;
  t.fieldCount = waFieldCount;
  t.fieldDisplay = unsupported;
  t.fieldInfo = waFieldInfo;
  t.fieldName = waFieldName;
  t.flush = unsupported;
  t.getRec = unsupported;
  t.getValue = unsupported;
  t.getVarLen = unsupported;
  t.goCold = unsupported;
  t.goHot = unsupported;
  t.putRec = unsupported;
  t.putValue = unsupported;
  t.recall = unsupported;
  t.recCount = unsupported;
  t.recInfo = unsupported;
  t.recNo = unsupported;
  t.setFieldExtent = waSetFieldExtent;
  t.alias = waAlias;
  t.close = waClose;
  t.create = unsupported;
  t.info = waInfo;
  t.newArea = waNewArea;
  t.open = unsupported;
  t.release = waRelease;
  t.structSize = waStructSize;
  t.sysName = waSysName;
  t.dbEval = waDbEval;
  t.pack = unsupported;
  t.packRec = unsupported;
  t.sort = unsupported;
  t.trans = waTrans;
  t.transRec = waTransRec;
  t.zap = unsupported;
  t.childEnd = waChildEnd;
  t.childStart = waChildStart;
  t.childSync = unsupported;
  t.syncChildren = waSyncChildren;
  t.clearRel = waClearRel;
  t.forceRel = unsupported;
  t.relArea = waRelArea;
  t.relEval = waRelEval;
  t.relText = waRelText;
  t.setRel = waSetRel;
  t.orderListAdd = unsupported;
  t.orderListClear = unsupported;
  t.orderListDelete = unsupported;
  t.orderListFocus = unsupported;
  t.orderListRebuild = unsupported;
  t.orderCondition = waOrderCondition;
  t.orderCreate = unsupported;
  t.orderDestroy = unsupported;
  t.orderInfo = waOrderInfo;
  t.clearFilter = waClearFilter;
  t.clearLocate = waClearLocate;
  t.clearScope = unsupported;
  t.countScope = unsupported;
  t.filterText = waFilterText;
  t.scopeInfo = unsupported;
  t.setFilter = waSetFilter;
  t.setLocate = waSetLocate;
  t.setScope = unsupported;
  t.skipScope = unsupported;
  // Expressions given as text need the macro compiler, which this layer does not reach yet.
  t.compile = unsupported;
  t.error = waError;
  t.evalBlock = waEvalBlock;
  t.rawLock = unsupported;
  t.lock = unsupported;
  t.unlock = unsupported;
  t.closeMemFile = unsupported;
  t.createMemFile = unsupported;
  t.getValueFile = unsupported;
  t.openMemFile = unsupported;
  t.putValueFile = unsupported;
  t.readDBHeader = unsupported;
  t.writeDBHeader = unsupported;
  t.exit = nullptr;
  t.drop = nullptr;
  t.exists = nullptr;
  t.reserved = unsupported;
  return t;
}

const VlRddFuncs s_baseTable = makeBaseTable();

}  // namespace

const VlRddFuncs* vl_waBaseTable() { return &s_baseTable; }

VlStatus vl_waUnsupported(VlArea* area) {
  vl_rddRaise(area, VL_EG_UNSUPPORTED, 0, nullptr, 0, 0, "Operation not supported");
  return VL_FAILURE;
}

unsigned vl_rddRaise(VlArea* area, int genCode, int subCode, const char* fileName, int osCode, unsigned flags,
                     const char* description, const char* operation) {
  VlItem* error = vl_errRT_New(VL_ERR_SEVERITY_ERROR, nullptr, genCode, subCode, description, operation, osCode, flags);
  if (fileName) {
    VlItem name;
    name.type = VL_IT_NIL;
    vl_itemPutC(&name, fileName);
    vl_objSendMsg(error, "_FILENAME", 1, &name);
    vl_itemClear(&name);
  }
  unsigned answer = VL_SELF(area, error, error);
  vl_itemRelease(error);
  return answer;
}

int vl_rddGenCodeOfSubCode(int subCode) {
  switch (subCode) {
    case 1001: return VL_EG_OPEN;
    case 1004: return VL_EG_CREATE;
    case 1010: return VL_EG_READ;
    case 1011: return VL_EG_WRITE;
    case 1012: return VL_EG_CORRUPTION;
    case 1020: return VL_EG_DATATYPE;
    case 1021: return VL_EG_DATAWIDTH;
    case 1022: return VL_EG_UNLOCKED;
    case 1023: return VL_EG_SHARED;
    case 1024: return VL_EG_APPENDLOCK;
    case 1025: return VL_EG_READONLY;
    case 1038: return VL_EG_LOCK;
    default: return VL_EG_UNSUPPORTED;
  }
}

void vl_rddOrderCondRelease(VlOrderCondInfo* cond) {
  if (!cond) return;
  if (cond->forText) vl_xfree(cond->forText);
  if (cond->whileText) vl_xfree(cond->whileText);
  releaseItem(cond->forBlock);
  releaseItem(cond->whileBlock);
  releaseItem(cond->evalBlock);
  releaseItem(cond->startRecord);
  vl_xfree(cond);
}

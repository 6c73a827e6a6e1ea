// The database driver interface: the 95-slot method table every driver fills by copying its
// parent's table and overriding slots, the work-area record every driver's record begins with,
// the descriptions passed to the slots, the driver registry and the work-area table.
//
// Invariants:
//  1. Every slot returns VL_SUCCESS or VL_FAILURE (the `error` slot returns the error handler's
//     answer instead) and passes results through out-parameters.
//  2. A registered driver's table has no null slot except `exit`, `drop` and `exists`, which
//     are called through the driver record and may be absent.
//  3. Items a work area owns (result, filter, locate, relation keys) are free-standing items
//     (vl_itemNew), so the collector sees them as roots while the area holds them.
//  4. While an area is open its alias symbol's field-area handle holds the area number; a
//     closed area leaves the handle 0 (the base `close` clears it).
#pragma once

#include <cstdint>

#include "../vm/item.h"
#include "../vm/symbols.h"

using VlStatus = uint16_t;
enum : VlStatus { VL_SUCCESS = 0, VL_FAILURE = 1 };

inline constexpr int VL_RDD_NAME_LEN = 32;          // driver names and aliases
inline constexpr int VL_RDD_MAX_AREA = 65535;
inline constexpr int VL_RDD_MAX_FILENAME = 255;
inline constexpr int VL_RDD_FIELDNAME_BUF = VL_SYMBOL_NAME_LEN + 1;

enum : uint16_t { VL_RDD_TYPE_TABLE = 1, VL_RDD_TYPE_TRANSFER = 2 };

struct VlArea;
struct VlRddNode;
struct VlRddFuncs;

// A field as the area keeps it.
struct VlField {
  VlType type;       // VL_IT_INTEGER, VL_IT_LONG (numeric), VL_IT_DOUBLE, VL_IT_DATE, VL_IT_LOGICAL,
                     // VL_IT_STRING or VL_IT_MEMO
  uint16_t typeExt;  // 0
  uint16_t len;
  uint16_t dec;
  uint16_t area;
  VlDynSym* sym;     // the field's name
  VlField* next;
};

// A field as addField receives it.
struct VlFieldInfo {
  const char* name;
  VlType type;
  uint16_t typeExt;
  uint16_t len;
  uint16_t dec;
};

// How a table is to be opened or created.
struct VlOpenInfo {
  uint16_t area;
  const char* fileName;
  const char* alias;
  bool shared;
  bool readOnly;
  const char* codePage;  // null: the program's code page
};

// Scope of a record loop; also the seven items of the locate scope, in this order.
struct VlScopeInfo {
  VlItem* forBlock;
  VlItem* forText;
  VlItem* whileBlock;
  VlItem* whileText;
  VlItem* next;
  VlItem* record;
  VlItem* rest;
};
inline constexpr int VL_LOCATE_ITEMS = 7;

struct VlDbEvalInfo {
  VlItem* block;
  VlScopeInfo scope;
};

struct VlFilterInfo {
  VlItem* block;
  VlItem* text;
};

struct VlRelInfo {
  VlItem* keyBlock;
  VlItem* keyText;
  bool scoped;
  VlArea* parent;
  VlArea* child;
  VlRelInfo* next;
};

struct VlLockInfo {
  VlItem* record;  // may be null
  uint16_t method;
  bool result;
};
enum : uint16_t { VL_LOCK_RECORD = 1, VL_LOCK_ADD = 2, VL_LOCK_FILE = 3 };

// rawLock actions.
enum : uint16_t {
  VL_RAWLOCK_FILE = 1,
  VL_RAWUNLOCK_FILE = 2,
  VL_RAWLOCK_RECORD = 3,
  VL_RAWUNLOCK_RECORD = 4,
  VL_RAWLOCK_HEADER = 5,
  VL_RAWUNLOCK_HEADER = 6,
  VL_RAWLOCK_APPEND = 7,
  VL_RAWUNLOCK_APPEND = 8,
};

struct VlTransItem {
  uint16_t source;
  uint16_t dest;
};
struct VlTransInfo {
  VlArea* source;
  VlArea* dest;
  VlScopeInfo scope;
  uint16_t flags;
  uint16_t itemCount;
  VlTransItem* items;
};
enum : uint16_t { VL_TRANS_MATCH = 1, VL_TRANS_PUTREC = 2 };

struct VlSortItem {
  uint16_t field;
  uint16_t flags;
};
struct VlSortInfo {
  VlTransInfo trans;
  VlSortItem* items;
  uint16_t itemCount;
};
enum : uint16_t { VL_SORT_ASCEND = 1, VL_SORT_DESCEND = 2, VL_SORT_CASE = 4 };

struct VlOrderInfo {
  VlItem* bagName;
  VlItem* order;
  VlItem* result;
  VlItem* newValue;
  bool allTags;
};

// The pending order-creation condition (owned by the area until the next orderCreate); its
// texts are vl_xgrab allocations and its items free-standing (vl_itemNew), all released with it.
struct VlOrderCondInfo {
  bool active;
  char* forText;
  char* whileText;
  VlItem* forBlock;
  VlItem* whileBlock;
  VlItem* evalBlock;
  long step;
  VlItem* startRecord;
  long nextCount;
  long record;
  bool rest, descending, all, additive, useCurrent, custom, temporary;
};

struct VlOrderCreateInfo {
  VlOrderCondInfo* cond;
  VlItem* bagName;
  const char* tagName;
  VlItem* order;
  VlItem* keyBlock;
  VlItem* keyText;
  bool unique;
};

// ---- the method table ----
// X(return type, slot name, parameter list). The order is the slot order: never reorder.
#define VL_RDD_SLOTS(X)                                                       \
  X(VlStatus, bof, (VlArea*, bool*))                                          \
  X(VlStatus, eof, (VlArea*, bool*))                                          \
  X(VlStatus, found, (VlArea*, bool*))                                        \
  X(VlStatus, goBottom, (VlArea*))                                            \
  X(VlStatus, goTo, (VlArea*, uint32_t))                                      \
  X(VlStatus, goToId, (VlArea*, VlItem*))                                     \
  X(VlStatus, goTop, (VlArea*))                                               \
  X(VlStatus, seek, (VlArea*, bool, VlItem*, bool))                           \
  X(VlStatus, skip, (VlArea*, long))                                          \
  X(VlStatus, skipFilter, (VlArea*, long))                                    \
  X(VlStatus, skipRaw, (VlArea*, long))                                       \
  X(VlStatus, addField, (VlArea*, VlFieldInfo*))                              \
  X(VlStatus, append, (VlArea*, bool))                                        \
  X(VlStatus, createFields, (VlArea*, VlItem*))                               \
  X(VlStatus, deleteRec, (VlArea*))                                           \
  X(VlStatus, deleted, (VlArea*, bool*))                                      \
  X(VlStatus, fieldCount, (VlArea*, uint16_t*))                               \
  X(VlStatus, fieldDisplay, (VlArea*, VlItem*))                               \
  X(VlStatus, fieldInfo, (VlArea*, uint16_t, uint16_t, VlItem*))              \
  X(VlStatus, fieldName, (VlArea*, uint16_t, char*))                          \
  X(VlStatus, flush, (VlArea*))                                               \
  X(VlStatus, getRec, (VlArea*, uint8_t**))                                   \
  X(VlStatus, getValue, (VlArea*, uint16_t, VlItem*))                         \
  X(VlStatus, getVarLen, (VlArea*, uint16_t, uint32_t*))                      \
  X(VlStatus, goCold, (VlArea*))                                              \
  X(VlStatus, goHot, (VlArea*))                                               \
  X(VlStatus, putRec, (VlArea*, const uint8_t*))                              \
  X(VlStatus, putValue, (VlArea*, uint16_t, VlItem*))                         \
  X(VlStatus, recall, (VlArea*))                                              \
  X(VlStatus, recCount, (VlArea*, uint32_t*))                                 \
  X(VlStatus, recInfo, (VlArea*, VlItem*, uint16_t, VlItem*))                 \
  X(VlStatus, recNo, (VlArea*, uint32_t*))                                    \
  X(VlStatus, setFieldExtent, (VlArea*, uint16_t))                            \
  X(VlStatus, alias, (VlArea*, char*))                                        \
  X(VlStatus, close, (VlArea*))                                               \
  X(VlStatus, create, (VlArea*, VlOpenInfo*))                                 \
  X(VlStatus, info, (VlArea*, uint16_t, VlItem*))                             \
  X(VlStatus, newArea, (VlArea*))                                             \
  X(VlStatus, open, (VlArea*, VlOpenInfo*))                                   \
  X(VlStatus, release, (VlArea*))                                             \
  X(VlStatus, structSize, (VlArea*, uint16_t*))                               \
  X(VlStatus, sysName, (VlArea*, char*))                                      \
  X(VlStatus, dbEval, (VlArea*, VlDbEvalInfo*))                               \
  X(VlStatus, pack, (VlArea*))                                                \
  X(VlStatus, packRec, (VlArea*, uint32_t, bool*))                            \
  X(VlStatus, sort, (VlArea*, VlSortInfo*))                                   \
  X(VlStatus, trans, (VlArea*, VlTransInfo*))                                 \
  X(VlStatus, transRec, (VlArea*, VlTransInfo*))                              \
  X(VlStatus, zap, (VlArea*))                                                 \
  X(VlStatus, childEnd, (VlArea*, VlRelInfo*))                                \
  X(VlStatus, childStart, (VlArea*, VlRelInfo*))                              \
  X(VlStatus, childSync, (VlArea*, VlRelInfo*))                               \
  X(VlStatus, syncChildren, (VlArea*))                                        \
  X(VlStatus, clearRel, (VlArea*))                                            \
  X(VlStatus, forceRel, (VlArea*))                                            \
  X(VlStatus, relArea, (VlArea*, uint16_t, uint16_t*))                        \
  X(VlStatus, relEval, (VlArea*, VlRelInfo*))                                 \
  X(VlStatus, relText, (VlArea*, uint16_t, VlItem*))                          \
  X(VlStatus, setRel, (VlArea*, VlRelInfo*))                                  \
  X(VlStatus, orderListAdd, (VlArea*, VlOrderInfo*))                          \
  X(VlStatus, orderListClear, (VlArea*))                                      \
  X(VlStatus, orderListDelete, (VlArea*, VlOrderInfo*))                       \
  X(VlStatus, orderListFocus, (VlArea*, VlOrderInfo*))                        \
  X(VlStatus, orderListRebuild, (VlArea*))                                    \
  X(VlStatus, orderCondition, (VlArea*, VlOrderCondInfo*))                    \
  X(VlStatus, orderCreate, (VlArea*, VlOrderCreateInfo*))                     \
  X(VlStatus, orderDestroy, (VlArea*, VlOrderInfo*))                          \
  X(VlStatus, orderInfo, (VlArea*, uint16_t, VlOrderInfo*))                   \
  X(VlStatus, clearFilter, (VlArea*))                                         \
  X(VlStatus, clearLocate, (VlArea*))                                         \
  X(VlStatus, clearScope, (VlArea*))                                          \
  X(VlStatus, countScope, (VlArea*, void*, long*))                            \
  X(VlStatus, filterText, (VlArea*, VlItem*))                                 \
  X(VlStatus, scopeInfo, (VlArea*, uint16_t, VlItem*))                        \
  X(VlStatus, setFilter, (VlArea*, VlFilterInfo*))                            \
  X(VlStatus, setLocate, (VlArea*, VlScopeInfo*))                             \
  X(VlStatus, setScope, (VlArea*, void*))                                     \
  X(VlStatus, skipScope, (VlArea*, VlItem*, long))                            \
  X(VlStatus, compile, (VlArea*, const char*))                                \
  X(unsigned, error, (VlArea*, VlItem*))                                      \
  X(VlStatus, evalBlock, (VlArea*, VlItem*))                                  \
  X(VlStatus, rawLock, (VlArea*, uint16_t, uint32_t))                         \
  X(VlStatus, lock, (VlArea*, VlLockInfo*))                                   \
  X(VlStatus, unlock, (VlArea*, uint32_t))                                    \
  X(VlStatus, closeMemFile, (VlArea*))                                        \
  X(VlStatus, createMemFile, (VlArea*, VlOpenInfo*))                          \
  X(VlStatus, getValueFile, (VlArea*, uint16_t, const char*, uint16_t))       \
  X(VlStatus, openMemFile, (VlArea*, VlOpenInfo*))                            \
  X(VlStatus, putValueFile, (VlArea*, uint16_t, const char*, uint16_t))       \
  X(VlStatus, readDBHeader, (VlArea*))                                        \
  X(VlStatus, writeDBHeader, (VlArea*))                                       \
  X(VlStatus, exit, (VlRddNode*))                                             \
  X(VlStatus, drop, (VlRddNode*, VlItem*))                                    \
  X(VlStatus, exists, (VlRddNode*, VlItem*, VlItem*))                         \
  X(VlStatus, reserved, (VlArea*))

struct VlRddFuncs {
#define VL_RDD_SLOT_MEMBER(ret, name, params) ret(*name) params;
  VL_RDD_SLOTS(VL_RDD_SLOT_MEMBER)
#undef VL_RDD_SLOT_MEMBER
};

#define VL_RDD_SLOT_COUNT_ONE(ret, name, params) +1
inline constexpr uint16_t VL_RDD_SLOT_COUNT = 0 VL_RDD_SLOTS(VL_RDD_SLOT_COUNT_ONE);
#undef VL_RDD_SLOT_COUNT_ONE
static_assert(VL_RDD_SLOT_COUNT == 95, "the method table has 95 slots");
static_assert(sizeof(VlRddFuncs) == 95 * sizeof(void (*)()), "one pointer per slot");

// Calls a slot of the area's own table: VL_SELF(area, goTo, 5).
#define VL_SELF(area, slot, ...) ((area)->funcs->slot((area)__VA_OPT__(, ) __VA_ARGS__))
// Calls a slot of a parent table kept by the driver: VL_SUPER(s_super, area, close).
#define VL_SUPER(table, area, slot, ...) ((table).slot((area)__VA_OPT__(, ) __VA_ARGS__))

// ---- the common work-area record ----
struct VlArea {
  const VlRddFuncs* funcs;
  uint16_t areaNum;
  VlDynSym* alias;
  uint16_t fieldExtent;
  uint16_t fieldCount;
  VlField* fields;
  VlItem* result;  // block results and compiled expressions
  bool top, bottom;
  bool bof, eof, found;
  VlItem* locate[VL_LOCATE_ITEMS];  // null slots are empty
  VlItem* filterBlock;
  VlItem* filterText;
  bool filterActive;
  VlOrderCondInfo* orderCond;
  VlRelInfo* relations;
  uint16_t parents;
  uint16_t rddId;
  uint16_t maxFieldNameLen;
};

// ---- the driver registry ----
struct VlRddNode {
  char name[VL_RDD_NAME_LEN + 1];
  uint16_t type;
  VlRddFuncs table;
  VlRddFuncs superTable;
  uint16_t areaSize;  // 0 until the first area of this driver is created
  uint16_t id;
};

// 0 registered, 1 already registered, 2 no NAME_GETFUNCTABLE function, 3 it reported failure.
int vl_rddRegister(const char* name, uint16_t type);
// RDDREGISTER's rule: the first 32 characters upper-cased; a missing or failing
// NAME_GETFUNCTABLE ends the program (internal error 9004).
void vl_rddRegisterChecked(const char* name, uint16_t type);
VlStatus vl_rddInherit(VlRddFuncs* table, const VlRddFuncs* overrides, VlRddFuncs* superTable,
                       const char* parentName);
VlRddNode* vl_rddFindNode(const char* name, uint16_t* id);
VlRddNode* vl_rddGetNode(uint16_t id);
uint16_t vl_rddCount();
const char* vl_rddDefaultDriver();
void vl_rddSetDefaultDriver(const char* name);  // no registration check
// A fresh work-area record of the driver (Part of inserting a work area); null when unknown.
VlArea* vl_rddNewAreaNode(VlRddNode* node, uint16_t id);
// The base work-area table every inheritance chain starts from.
const VlRddFuncs* vl_waBaseTable();

// ---- base implementations a driver may call directly ----
VlStatus vl_waUnsupported(VlArea* area);
// Builds an error for the area's driver (subsystem = its sysName), raises it through the `error`
// slot and returns the answer. A null description takes the generic code's text.
unsigned vl_rddRaise(VlArea* area, int genCode, int subCode, const char* fileName, int osCode, unsigned flags,
                     const char* description = nullptr, const char* operation = nullptr);
// The generic code belonging to a driver subcode.
int vl_rddGenCodeOfSubCode(int subCode);
void vl_rddOrderCondRelease(VlOrderCondInfo* cond);

// ---- the work-area table ----
uint16_t vl_rddGetCurrentWorkAreaNumber();
VlArea* vl_rddGetCurrentWorkAreaPointer();
VlArea* vl_rddGetWorkAreaPointer(int areaNum);
// The open areas in area-number order: positions 1..vl_rddAreaCount().
uint16_t vl_rddAreaCount();
VlArea* vl_rddAreaAtPosition(uint16_t pos);
// Selects area n (outside 1..65535: no current area); failure when no table is open there.
VlStatus vl_rddSelectWorkAreaNumber(int areaNum);
void vl_rddSelectFirstAvailable();
// Alias selection for the virtual machine: success when the alias named an area (now current),
// failure after "Alias does not exist" (raised with retry) got no retry that found one.
VlStatus vl_rddSelectWorkAreaSymbol(VlSymbol* sym);
VlStatus vl_rddSelectWorkAreaAlias(const char* alias);
// Selects the area an alias value names (number, symbol, text; NIL, date, logical, block and
// array leave no current area; other types raise BASE 1/1065 "&" and use the substitute).
// False when a look-up failed; the alias item is NIL afterwards.
bool vl_rddSelectAliasItem(VlItem* alias);
// The area number an alias text names ("M" names 0), -1 when it names none (no error raised).
int vl_rddAliasToArea(const char* alias);
bool vl_rddIsValidAlias(const char* alias);
// Binds the alias to the area: raises 17/1010 or 18/1011 (DBCMD) and fails on a bad or used alias.
VlStatus vl_rddSetAlias(VlArea* area, const char* alias);
// A free scratch alias "VLTMPnnn" into buffer (at least 16 bytes); failure when none is free.
VlStatus vl_rddTempAlias(char* buffer);
// Inserts a work area of the driver at the current number (0: the first free one).
VlStatus vl_rddInsertArea(const char* driver);
void vl_rddReleaseCurrentArea();
void vl_rddCloseAll();
void vl_rddShutdown();

// Field access by name for the virtual machine. Get/Put raise "Variable does not exist" (14/1003,
// retried on request) when the current area has no such field; FieldGet answers false instead.
VlStatus vl_rddGetFieldValue(VlItem* out, VlSymbol* sym);
VlStatus vl_rddPutFieldValue(VlItem* value, VlSymbol* sym);
bool vl_rddFieldGet(VlSymbol* sym, VlItem* out);
// 1-based index of the field named by the dynamic symbol in the area, 0 when absent.
uint16_t vl_rddFieldIndex(VlArea* area, const VlDynSym* name);
uint16_t vl_rddFieldIndexByName(VlArea* area, const char* name);

// NETERR.
bool vl_rddGetNetErr();
void vl_rddSetNetErr(bool v);

// The method table and info codes.
enum : uint16_t {
  VL_DBI_ISDBF = 1,
  VL_DBI_CANPUTREC = 2,
  VL_DBI_GETHEADERSIZE = 3,
  VL_DBI_LASTUPDATE = 4,
  VL_DBI_GETDELIMITER = 5,
  VL_DBI_SETDELIMITER = 6,
  VL_DBI_GETRECSIZE = 7,
  VL_DBI_GETLOCKARRAY = 8,
  VL_DBI_TABLEEXT = 9,
  VL_DBI_FULLPATH = 10,
  VL_DBI_ISFLOCK = 20,
  VL_DBI_CHILDCOUNT = 22,
  VL_DBI_FILEHANDLE = 23,
  VL_DBI_BOF = 26,
  VL_DBI_EOF = 27,
  VL_DBI_DBFILTER = 28,
  VL_DBI_FOUND = 29,
  VL_DBI_FCOUNT = 30,
  VL_DBI_LOCKCOUNT = 31,
  VL_DBI_VALIDBUFFER = 32,
  VL_DBI_ALIAS = 33,
  VL_DBI_SHARED = 36,
  VL_DBI_MEMOEXT = 37,
  VL_DBI_MEMOHANDLE = 38,
  VL_DBI_MEMOBLOCKSIZE = 39,
  VL_DBI_RDD_VERSION = 101,
  VL_DBI_RDD_BUILD = 102,
  VL_DBI_LOCKSCHEME = 128,
  VL_DBI_ISREADONLY = 129,
  VL_DBI_ROLLBACK = 130,
  VL_DBI_ISENCRYPTED = 150,
};

enum : uint16_t {
  VL_DBRI_DELETED = 1,
  VL_DBRI_LOCKED = 2,
  VL_DBRI_RECSIZE = 3,
  VL_DBRI_RECNO = 4,
  VL_DBRI_UPDATED = 5,
  VL_DBRI_ENCRYPTED = 6,
  VL_DBRI_RAWRECORD = 7,
  VL_DBRI_RAWMEMOS = 8,
  VL_DBRI_RAWDATA = 9,
};

enum : uint16_t { VL_DBS_NAME = 1, VL_DBS_TYPE = 2, VL_DBS_LEN = 3, VL_DBS_DEC = 4 };

// orderInfo codes the base work area and the relations use.
enum : uint16_t {
  VL_DBOI_NUMBER = 6,
  VL_DBOI_BAGEXT = 8,
  VL_DBOI_SCOPETOP = 39,
  VL_DBOI_SCOPEBOTTOM = 40,
  VL_DBOI_SCOPETOPCLEAR = 41,
  VL_DBOI_SCOPEBOTTOMCLEAR = 42,
};

// The class table and message dispatch: class records, method tables probed by message hash,
// instance creation and the built-in handlers for instance variables, CLASSNAME and CLASSH.
//
// Invariants:
//  1. Class records live in one vector that may move when a class is added: they are always
//     reached through their handle (index + 1), never kept by address across a creation.
//  2. A method table has 5 slots per bucket; a message is found by probing from the first slot
//     of its bucket, slot after slot, wrapping around. Empty slots do not end a probe.
//  3. s_current is the method record of the latest successful look-up; the built-in handlers
//     read their data index from it right after the look-up, before anything can send again.
#include "classes.h"

#include <cstdio>
#include <cstring>

#include "arrays.h"
#include "errapi.h"
#include "extend.h"
#include "gc.h"
#include "stack.h"
#include "xmem.h"

namespace {

struct Method {
  VlDynSym* message;  // null: empty slot
  VlFunc func;
  uint16_t dataIndex;
  uint16_t cls;  // class that declared the message
  uint16_t scope;
  uint16_t type;
  VlItem* initValue;  // owned, or null
};

struct Class {
  char* name;
  uint16_t dataCount;
  uint16_t methodCount;
  uint16_t buckets;
  Method* methods;  // 5 x buckets records
  const char* moduleName;
};

constexpr int SLOTS = 5;
constexpr uint16_t GROWTH = 20;

Class* s_classes;
uint16_t s_count;
const Method* s_current;
bool s_rootsRegistered;

inline Class* classOf(uint16_t h) { return (h >= 1 && h <= s_count) ? &s_classes[h - 1] : nullptr; }

// The message hash: shift in each byte (as a signed char), fold the top nibble back in.
uint32_t bucketOf(const char* name, uint16_t buckets) {
  int32_t h = 0;
  for (const char* p = name; *p; ++p) {
    h = static_cast<int32_t>((static_cast<uint32_t>(h) << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p))));
    int32_t g = static_cast<int32_t>(static_cast<uint32_t>(h) & 0xF0000000u);
    if (g) {
      h ^= g >> 24;
      h ^= g;
    }
  }
  if (h < 0) h = -h;
  return static_cast<uint32_t>(h % buckets);
}

inline uint32_t slotCount(const Class* c) { return static_cast<uint32_t>(c->buckets) * SLOTS; }

Method* lookup(const Class* c, const VlDynSym* msg) {
  uint32_t total = slotCount(c);
  uint32_t startSlot = bucketOf(msg->symbol->name, c->buckets) * SLOTS;
  uint32_t stop = startSlot == 0 ? total - 1 : startSlot - 1;
  for (uint32_t i = startSlot; i != stop; i = (i + 1 == total) ? 0 : i + 1) {
    if (c->methods[i].message == msg) return &c->methods[i];
  }
  return nullptr;
}

// Places a record in its bucket (same message or first empty slot of the 5); null when the
// bucket is full of other messages.
Method* place(Method* table, uint16_t buckets, const VlDynSym* msg) {
  uint32_t first = bucketOf(msg->symbol->name, buckets) * SLOTS;
  for (uint32_t i = first; i < first + SLOTS; ++i)
    if (table[i].message == msg || !table[i].message) return &table[i];
  return nullptr;
}

Method* newTable(uint16_t buckets) {
  auto* t = static_cast<Method*>(vl_xgrab(static_cast<size_t>(buckets) * SLOTS * sizeof(Method)));
  std::memset(t, 0, static_cast<size_t>(buckets) * SLOTS * sizeof(Method));
  return t;
}

// Grows the table by 20 buckets (again while a bucket overflows during re-insertion).
void grow(Class* c) {
  uint16_t buckets = c->buckets;
  for (;;) {
    buckets = static_cast<uint16_t>(buckets + GROWTH);
    Method* t = newTable(buckets);
    bool ok = true;
    for (uint32_t i = 0; i < slotCount(c) && ok; ++i) {
      if (!c->methods[i].message) continue;
      Method* m = place(t, buckets, c->methods[i].message);
      if (m) *m = c->methods[i];
      else ok = false;
    }
    if (ok) {
      vl_xfree(c->methods);
      c->methods = t;
      c->buckets = buckets;
      return;
    }
    vl_xfree(t);
  }
}

void markClasses() {
  for (uint16_t h = 0; h < s_count; ++h) {
    const Class& c = s_classes[h];
    for (uint32_t i = 0; i < slotCount(&c); ++i)
      if (c.methods[i].initValue && (c.methods[i].initValue->type & VL_IT_GCITEM)) vl_gcItemRef(c.methods[i].initValue);
  }
}

// The class of a value: its base's handle when it is an object. Values of other types have no
// class until scalar classes exist.
inline uint16_t valueClass(const VlItem* v) {
  if (VL_IS_ARRAY(v)) return v->u.arr.base->classH;
  return 0;
}

inline const VlDynSym* messageOf(VlSymbol* msg) {
  if (msg->dynsym && msg->dynsym != VL_SYM_DEFINED) return msg->dynsym;
  return vl_dynsymFindName(msg->name);
}

// ---- built-in handlers ----
VlItem* dataSlot(uint16_t index) {
  VlItem* self = vl_stack.base[1];
  if (vl_arrayLen(self) < index) vl_arraySize(self, index);
  return vl_arrayGetItemPtr(self, index);
}

void dataGetter() { vl_itemReturn(vl_itemUnRef(dataSlot(s_current->dataIndex))); }

void dataSetter() {
  VlItem* slot = dataSlot(s_current->dataIndex);
  if (VL_IS_BYREF(slot)) slot = vl_itemUnRef(slot);
  VlItem* value = vl_param(1, VL_IT_ANY);
  if (value) {
    vl_itemCopy(slot, value);
    slot->type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
  } else {
    vl_itemClear(slot);
  }
  vl_itemReturn(slot);
}

void noMessage(const Class* c, const char* message) {
  VlItem* args = vl_arrayFromParams(static_cast<int32_t>(vl_stack.base - vl_stack.items));
  char desc[160];
  if (message[0] == '_') {
    std::snprintf(desc, sizeof desc, "Class: '%s' has no property", c->name);
    vl_errRT_BASE_SubstR(VL_EG_NOVARMETHOD, 1005, desc, message + 1, 1, args);
  } else {
    std::snprintf(desc, sizeof desc, "Class: '%s' has no exported method", c->name);
    vl_errRT_BASE_SubstR(VL_EG_NOMETHOD, 1004, desc, message, 1, args);
  }
  vl_itemRelease(args);
}

}  // namespace

uint16_t vl_clsCount() { return s_count; }

const char* vl_clsName(uint16_t handle) {
  const Class* c = classOf(handle);
  return c ? c->name : "";
}

const char* vl_clsModuleName(uint16_t handle) {
  const Class* c = classOf(handle);
  return c ? c->moduleName : nullptr;
}

void vl_clsReleaseAll() {
  for (uint16_t h = 0; h < s_count; ++h) {
    Class& c = s_classes[h];
    for (uint32_t i = 0; i < slotCount(&c); ++i)
      if (c.methods[i].initValue) {
        vl_itemClear(c.methods[i].initValue);
        vl_xfree(c.methods[i].initValue);
      }
    vl_xfree(c.methods);
    vl_xfree(c.name);
  }
  if (s_classes) vl_xfree(s_classes);
  s_classes = nullptr;
  s_count = 0;
  s_current = nullptr;
}

uint16_t vl_clsNew(const char* name, uint16_t dataCount, uint16_t methodCount) {
  if (s_count == 0xFFFF) return 0;
  if (!s_rootsRegistered) {
    vl_gcRegisterRoots(markClasses);
    s_rootsRegistered = true;
  }
  s_classes = static_cast<Class*>(s_classes ? vl_xrealloc(s_classes, (s_count + 1u) * sizeof(Class))
                                            : vl_xgrab(sizeof(Class)));
  Class& c = s_classes[s_count++];
  c.name = vl_strdup(name);
  c.dataCount = dataCount;
  c.methodCount = 0;
  int want = 2 * dataCount + methodCount;
  if (want < 100) want = 100;
  c.buckets = static_cast<uint16_t>((want / SLOTS) * 2);
  c.methods = newTable(c.buckets);
  c.moduleName = nullptr;
  return s_count;
}

bool vl_clsAddMsg(uint16_t cls, const char* name, uint16_t type, VlFunc func, uint16_t dataIndex, uint16_t scope,
                  const VlItem* initValue) {
  Class* c = classOf(cls);
  if (!c) return false;
  VlDynSym* msg = vl_dynsymGet(name);
  if (static_cast<uint32_t>(c->methodCount) + 1 > slotCount(c)) grow(c);
  Method* m;
  while (!(m = place(c->methods, c->buckets, msg))) grow(c);
  if (!m->message) {
    ++c->methodCount;
    m->initValue = nullptr;
  }
  m->message = msg;
  m->cls = cls;
  m->type = type;
  m->scope = scope ? scope : static_cast<uint16_t>(VL_CLS_EXPORTED);
  m->dataIndex = 0;
  m->func = func;
  if (m->initValue) {
    vl_itemClear(m->initValue);
    vl_xfree(m->initValue);
    m->initValue = nullptr;
  }
  if (type == VL_MT_DATA) {
    m->dataIndex = dataIndex;
    bool setter = name[0] == '_';
    m->func = setter ? dataSetter : dataGetter;
    if (!setter && initValue && !VL_IS_NIL(initValue)) {
      m->initValue = static_cast<VlItem*>(vl_xgrab(sizeof(VlItem)));
      m->initValue->type = VL_IT_NIL;
      vl_itemCopy(m->initValue, initValue);
    }
    if (dataIndex > c->dataCount) c->dataCount = dataIndex;
  }
  return true;
}

bool vl_clsAddData(uint16_t cls, const char* name, uint16_t dataIndex, const VlItem* initValue) {
  char setter[VL_SYMBOL_NAME_LEN + 2];
  std::snprintf(setter, sizeof setter, "_%s", name);
  return vl_clsAddMsg(cls, name, VL_MT_DATA, nullptr, dataIndex, VL_CLS_EXPORTED, initValue) &&
         vl_clsAddMsg(cls, setter, VL_MT_DATA, nullptr, dataIndex, VL_CLS_EXPORTED, nullptr);
}

void vl_clsInst(uint16_t cls, VlItem* out) {
  const Class* c = classOf(cls);
  if (!c) {
    vl_itemClear(out);
    return;
  }
  vl_arrayNew(out, c->dataCount);
  out->u.arr.base->classH = cls;
  for (uint32_t i = 0; i < slotCount(c); ++i) {
    const Method& m = c->methods[i];
    if (m.initValue && m.type == VL_MT_DATA && m.dataIndex >= 1 && m.dataIndex <= c->dataCount)
      vl_itemCopy(&out->u.arr.base->items[m.dataIndex - 1], m.initValue);
  }
}

uint16_t vl_clsFindByName(const char* name) {
  for (uint16_t h = 0; h < s_count; ++h)
    if (std::strcmp(s_classes[h].name, name) == 0) return static_cast<uint16_t>(h + 1);
  return 0;
}

bool vl_objHasMsgDyn(const VlItem* value, const VlDynSym* message) {
  const Class* c = classOf(valueClass(value));
  return c && message && lookup(c, message);
}

bool vl_objHasMessage(const VlItem* value, const char* name) {
  return vl_objHasMsgDyn(value, vl_dynsymFindName(name));
}

uint16_t vl_objDataIndex(const VlItem* object, VlSymbol* message, uint16_t argc) {
  if (!VL_IS_ARRAY(object) || object->u.arr.base->castClassH || argc > 1) return 0;
  const Class* c = classOf(object->u.arr.base->classH);
  if (!c) return 0;
  const VlDynSym* msg = messageOf(message);
  const Method* m = msg ? lookup(c, msg) : nullptr;
  if (!m || m->type != VL_MT_DATA) return 0;
  // A getter sent with one argument assigns; a setter sent without one is left to the send.
  if (argc == 0 && m->func != dataGetter) return 0;
  return m->dataIndex;
}

bool vl_clsDispatch(VlSymbol* message, uint16_t argc) {
  const VlItem* self = vl_stack.base[1];
  uint16_t h = valueClass(self);
  const Class* c = classOf(h);
  if (!c) return false;
  const VlDynSym* msg = messageOf(message);
  const Method* m = msg ? lookup(c, msg) : nullptr;
  if (m) {
    s_current = m;
    VlFunc fn = m->func;
    if (argc == 1 && fn == dataGetter) fn = dataSetter;
    bool ctor = (m->scope & VL_CLS_CTOR) != 0;
    if (fn) fn();
    if (ctor) vl_itemCopy(&vl_stack.ret, vl_stack.base[1]);
    return true;
  }
  s_current = nullptr;
  const char* name = message->name;
  if (std::strcmp(name, "CLASSNAME") == 0) {
    vl_retc(c->name);
  } else if (std::strcmp(name, "CLASSH") == 0) {
    vl_retni(h);
  } else {
    noMessage(c, name);
  }
  return true;
}

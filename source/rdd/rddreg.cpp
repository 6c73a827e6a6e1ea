// The driver registry: registration by name through NAME_GETFUNCTABLE, inheritance by copying
// the parent's method table, the default driver, and the language functions over them.
//
// A driver's id is its index in the registry, which only grows until shutdown; nodes are never
// moved, so an area's funcs pointer into its node's table stays valid while the area lives.
#include <cstring>

#include "../vm/arrays.h"
#include "../vm/errint.h"
#include "../vm/extend.h"
#include "../vm/memvars.h"
#include "../vm/vmcall.h"
#include "../vm/xmem.h"
#include "rddapi.h"

namespace {

VlRddNode** s_nodes;
uint16_t s_count;
char s_default[VL_RDD_NAME_LEN + 1];

// The first 32 characters of text, upper-cased (plain ASCII rules), into buffer.
void upperName(char* buffer, const char* text, size_t len) {
  if (len > VL_RDD_NAME_LEN) len = VL_RDD_NAME_LEN;
  for (size_t i = 0; i < len; ++i) {
    char c = text[i];
    buffer[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  buffer[len] = '\0';
}

}  // namespace

VlRddNode* vl_rddFindNode(const char* name, uint16_t* id) {
  for (uint16_t i = 0; i < s_count; ++i) {
    if (std::strcmp(s_nodes[i]->name, name) == 0) {
      if (id) *id = i;
      return s_nodes[i];
    }
  }
  return nullptr;
}

VlRddNode* vl_rddGetNode(uint16_t id) { return id < s_count ? s_nodes[id] : nullptr; }
uint16_t vl_rddCount() { return s_count; }
const char* vl_rddDefaultDriver() { return s_default; }

void vl_rddSetDefaultDriver(const char* name) {
  upperName(s_default, name, std::strlen(name));
}

VlStatus vl_rddInherit(VlRddFuncs* table, const VlRddFuncs* overrides, VlRddFuncs* superTable,
                       const char* parentName) {
  if (!table) return VL_FAILURE;
  const VlRddFuncs* source;
  if (!parentName || !*parentName) {
    source = vl_waBaseTable();
  } else {
    char name[VL_RDD_NAME_LEN + 1];
    upperName(name, parentName, std::strlen(parentName));
    VlRddNode* parent = vl_rddFindNode(name, nullptr);
    if (!parent) return VL_FAILURE;
    source = &parent->table;
  }
  *table = *source;
  if (superTable) *superTable = *source;
  if (overrides) {
#define VL_RDD_OVERRIDE(ret, name, params) \
  if (overrides->name) table->name = overrides->name;
    VL_RDD_SLOTS(VL_RDD_OVERRIDE)
#undef VL_RDD_OVERRIDE
  }
  return VL_SUCCESS;
}

int vl_rddRegister(const char* name, uint16_t type) {
  if (vl_rddFindNode(name, nullptr)) return 1;
  char funcName[VL_RDD_NAME_LEN + 16];
  std::strncpy(funcName, name, VL_RDD_NAME_LEN);
  funcName[VL_RDD_NAME_LEN] = '\0';
  std::strcat(funcName, "_GETFUNCTABLE");
  VlDynSym* getTable = vl_dynsymFindName(funcName);
  if (!vl_dynsymHasFunction(getTable)) return 2;

  auto* node = static_cast<VlRddNode*>(vl_xgrab(sizeof(VlRddNode)));
  std::memset(node, 0, sizeof(VlRddNode));
  std::strncpy(node->name, name, VL_RDD_NAME_LEN);
  node->type = type;
  uint16_t slotCount = 0;
  vl_vmPushSymbol(getTable->symbol);
  vl_vmPushNil();
  vl_vmPushPointer(&slotCount);
  vl_vmPushPointer(&node->table);
  vl_vmPushPointer(&node->superTable);
  vl_vmDo(3);
  if (vl_itemGetNI(&vl_stack.ret) != 0) {
    vl_xfree(node);
    return 3;
  }
  node->id = s_count;
  s_nodes = static_cast<VlRddNode**>(s_nodes ? vl_xrealloc(s_nodes, (s_count + 1u) * sizeof(VlRddNode*))
                                             : vl_xgrab(sizeof(VlRddNode*)));
  s_nodes[s_count++] = node;
  return 0;
}

VlArea* vl_rddNewAreaNode(VlRddNode* node, uint16_t id) {
  VlArea* area;
  if (node->areaSize == 0) {
    area = static_cast<VlArea*>(vl_xgrab(sizeof(VlArea)));
    std::memset(area, 0, sizeof(VlArea));
    area->funcs = &node->table;
    uint16_t size = sizeof(VlArea);
    VL_SELF(area, structSize, &size);
    if (size > sizeof(VlArea)) {
      area = static_cast<VlArea*>(vl_xrealloc(area, size));
      std::memset(area, 0, size);
    } else {
      size = sizeof(VlArea);
    }
    node->areaSize = size;
  } else {
    area = static_cast<VlArea*>(vl_xgrab(node->areaSize));
    std::memset(area, 0, node->areaSize);
  }
  area->funcs = &node->table;
  area->rddId = id;
  VL_SELF(area, newArea);
  return area;
}

// Closes every area, forgets the default and releases the drivers (their exit slots first).
void vl_rddShutdown() {
  vl_rddCloseAll();
  s_default[0] = '\0';
  for (uint16_t i = 0; i < s_count; ++i) {
    if (s_nodes[i]->table.exit) s_nodes[i]->table.exit(s_nodes[i]);
    vl_xfree(s_nodes[i]);
  }
  if (s_nodes) vl_xfree(s_nodes);
  s_nodes = nullptr;
  s_count = 0;
}

void vl_rddRegisterChecked(const char* name, uint16_t type) {
  size_t len = std::strlen(name);
  if (len == 0) return;
  char upper[VL_RDD_NAME_LEN + 1];
  upperName(upper, name, len);
  if (vl_rddRegister(upper, type) > 1) vl_errInternal(9004, nullptr, nullptr, nullptr);
}

// RDDREGISTER(name, type): a missing or failing NAME_GETFUNCTABLE ends the program.
VL_FUNC(RDDREGISTER) {
  if (vl_parclen(1) > 0) vl_rddRegisterChecked(vl_parc(1), static_cast<uint16_t>(vl_parni(2)));
  vl_ret();
}

// RDDNAMES([type]): the registered names in registration order, optionally of one type.
VL_FUNC(RDDNAMES) {
  uint16_t type = static_cast<uint16_t>(vl_parni(1));
  VlItem list;
  list.type = VL_IT_NIL;
  vl_arrayNew(&list, 0);
  VlItem name;
  name.type = VL_IT_NIL;
  for (uint16_t i = 0; i < s_count; ++i) {
    if (type != 0 && s_nodes[i]->type != type) continue;
    vl_itemPutC(&name, s_nodes[i]->name);
    vl_arrayAddForward(&list, &name);
  }
  vl_itemReturnForward(&list);
}

VL_FUNC(RDDNAME) {
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  if (!area) {
    vl_errRT_DBCMD(VL_EG_NOTABLE, 2001, nullptr, "RDDNAME");
    vl_ret();
    return;
  }
  char name[VL_RDD_NAME_LEN + 1] = "";
  VL_SELF(area, sysName, name);
  vl_retc(name);
}

namespace {

// RDDSETDEFAULT / DBSETDRIVER: the previous default; a new one must be registered.
void setDefaultChecked(const char* operation) {
  vl_retc(s_default);
  size_t len = vl_parclen(1);
  if (len == 0) return;
  char name[VL_RDD_NAME_LEN + 1];
  upperName(name, vl_parc(1), len);
  if (!vl_rddFindNode(name, nullptr)) {
    vl_errRT_DBCMD(VL_EG_ARG, 1015, nullptr, operation);
    return;
  }
  std::strcpy(s_default, name);
}

}  // namespace

VL_FUNC(RDDSETDEFAULT) { setDefaultChecked("RDDSETDEFAULT"); }
VL_FUNC(DBSETDRIVER) { setDefaultChecked("DBSETDRIVER"); }

VL_FUNC(__RDDSETDEFAULT) {
  vl_retc(s_default);
  size_t len = vl_parclen(1);
  if (len) upperName(s_default, vl_parc(1), len);
}

// Start-up calls these by name, in this order, before the INIT procedures run.
VL_FUNC(RDDINIT) {
  vl_rddSetDefaultDriver("DBFNTX");
  // LOADVAR reads a field of the current area before a memory variable of the same name.
  vl_memvarSetFieldReader(vl_rddFieldGet);
  vl_ret();
}

VL_NATIVE_MODULE(rddreg, VL_FUNCENTRY(RDDREGISTER), VL_FUNCENTRY(RDDNAMES), VL_FUNCENTRY(RDDNAME),
                 VL_FUNCENTRY(RDDSETDEFAULT), VL_FUNCENTRY(DBSETDRIVER), VL_FUNCENTRY(__RDDSETDEFAULT),
                 VL_FUNCENTRY(RDDINIT));

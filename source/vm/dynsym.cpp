// Module registration and the global name table.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "errint.h"
#include "extend.h"
#include "symbols.h"
#include "vm.h"
#include "xmem.h"

namespace {

// Zero-initialised, so registration works whatever the order of static initialisation.
struct NameTable {
  VlDynSym** items;
  uint32_t count;
  uint32_t capacity;
  uint32_t lastPos;  // where the last look-up ended: the insertion point on a miss
};
NameTable s_table;
VlModule* s_firstModule;
VlModule* s_lastModule;
VlSymbol* s_startSymbol;

bool isNameOnly(const VlSymbol* sym) { return sym->scope == VL_FS_NAMEONLY; }

VlSymbol* newNameOnlySymbol(const char* name) {
  auto* sym = static_cast<VlSymbol*>(vl_xgrab(sizeof(VlSymbol)));
  sym->name = vl_strdup(name);
  sym->scope = VL_FS_NAMEONLY;
  sym->value.func = nullptr;
  sym->dynsym = nullptr;
  return sym;
}

void freeNameOnlySymbol(VlSymbol* sym) {
  vl_xfree(const_cast<char*>(sym->name));
  vl_xfree(sym);
}

VlDynSym* insertAt(uint32_t pos, VlSymbol* sym) {
  if (s_table.count == s_table.capacity) {
    // One pointer at a time keeps the vector exactly as large as the table.
    uint32_t cap = s_table.capacity + 1;
    s_table.items = static_cast<VlDynSym**>(s_table.items ? vl_xrealloc(s_table.items, cap * sizeof(VlDynSym*))
                                                          : vl_xgrab(cap * sizeof(VlDynSym*)));
    s_table.capacity = cap;
  }
  std::memmove(s_table.items + pos + 1, s_table.items + pos, (s_table.count - pos) * sizeof(VlDynSym*));
  auto* d = static_cast<VlDynSym*>(vl_xgrab(sizeof(VlDynSym)));
  d->symbol = sym;
  d->memvar = 0;
  d->area = 0;
  d->module = nullptr;
  s_table.items[pos] = d;
  ++s_table.count;
  return d;
}

// A module name needs an extension of one to three characters.
bool hasExtension(const char* name) {
  size_t len = name ? std::strlen(name) : 0;
  for (size_t k = 2; k <= 4; ++k)
    if (len >= k && name[len - k] == '.') return true;
  return false;
}

}  // namespace

VlDynSym* vl_dynsymFind(const char* name) {
  uint32_t lo = 0, hi = s_table.count;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    int cmp = std::strcmp(s_table.items[mid]->symbol->name, name);
    if (cmp == 0) {
      s_table.lastPos = mid;
      return s_table.items[mid];
    }
    if (cmp < 0) lo = mid + 1;
    else hi = mid;
  }
  s_table.lastPos = lo;
  return nullptr;
}

// Upper-cases a-z, cuts at the first blank or tab and at 63 characters.
static void normaliseName(const char* name, char* out) {
  size_t n = 0;
  for (; name[n] && name[n] != ' ' && name[n] != '\t' && n < VL_SYMBOL_NAME_LEN; ++n) {
    char c = name[n];
    out[n] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  out[n] = '\0';
}

VlDynSym* vl_dynsymFindName(const char* name) {
  char buf[VL_SYMBOL_NAME_LEN + 1];
  normaliseName(name, buf);
  return vl_dynsymFind(buf);
}

VlDynSym* vl_dynsymGetCase(const char* name) {
  VlDynSym* d = vl_dynsymFind(name);
  if (d) return d;
  VlSymbol* sym = newNameOnlySymbol(name);
  d = insertAt(s_table.lastPos, sym);
  sym->dynsym = d;
  return d;
}

VlDynSym* vl_dynsymGet(const char* name) {
  char buf[VL_SYMBOL_NAME_LEN + 1];
  normaliseName(name, buf);
  return vl_dynsymGetCase(buf);
}

VlDynSym* vl_dynsymNew(VlSymbol* sym, VlModule* module) {
  bool definedHere = sym->dynsym == VL_SYM_DEFINED;
  bool isStaticFunc = (sym->scope & VL_FS_STATIC_MASK) == VL_FS_STATIC;
  VlDynSym* d = vl_dynsymFind(sym->name);
  if (d) {
    if (sym->value.func && !d->symbol->value.func && !isStaticFunc) {
      if (isNameOnly(d->symbol)) freeNameOnlySymbol(d->symbol);
      d->symbol = sym;
    }
    if (definedHere && !d->module && !isStaticFunc) d->module = module;
  } else {
    VlSymbol* entered = sym;
    if (isStaticFunc && sym->value.func) {
      // The name exists globally, but calls by name must not reach a module's static function.
      entered = newNameOnlySymbol(sym->name);
    }
    d = insertAt(s_table.lastPos, entered);
    if (entered != sym) entered->dynsym = d;
    if (definedHere && entered == sym) d->module = module;
  }
  sym->dynsym = d;
  return d;
}

void vl_vmProcessSymbols(VlSymbol* symbols, uint16_t count, const char* moduleName, int pcodeVersion) {
  if (vl_vmIsFinished()) vl_vmRestartMemory();

  char* name;
  if (hasExtension(moduleName)) {
    name = vl_strdup(moduleName);
  } else {
    const VlSymbol* pick = nullptr;
    for (uint16_t i = 0; i < count && !pick; ++i)
      if (symbols[i].value.func) pick = &symbols[i];
    char buf[128];
    if (pick) std::snprintf(buf, sizeof buf, "Program with 1st fun: %s", pick->name);
    else std::snprintf(buf, sizeof buf, "Program with 1st sym: %s", count ? symbols[0].name : "");
    name = vl_strdup(buf);
    pcodeVersion = 0;
  }
  if (pcodeVersion != VL_PCODE_VERSION) {
    char msg[256];
    std::snprintf(msg, sizeof msg,
                  "'%s' was compiled by older version, PCODE version %i is no longer supported - Please recompile.\n",
                  name, pcodeVersion);
    vl_errInternal(9000, msg, nullptr, nullptr);
  }

  auto* mod = static_cast<VlModule*>(vl_xgrab(sizeof(VlModule)));
  mod->symbols = symbols;
  mod->count = count;
  mod->scopes = 0;
  mod->next = nullptr;
  mod->name = name;
  if (s_lastModule) s_lastModule->next = mod;
  else s_firstModule = mod;
  s_lastModule = mod;

  for (uint16_t i = 0; i < count; ++i) {
    VlSymbol* sym = &symbols[i];
    mod->scopes = static_cast<uint16_t>(mod->scopes | sym->scope);
    if (!s_startSymbol && (sym->scope & VL_FS_FIRST) && !(sym->scope & VL_FS_INITEXIT)) s_startSymbol = sym;
    if (sym->scope & VL_FS_ENTERED) vl_dynsymNew(sym, mod);
    else if (sym->dynsym == VL_SYM_DEFINED) sym->dynsym = nullptr;
  }
}

void vl_dynsymRelease() {
  for (uint32_t i = 0; i < s_table.count; ++i) {
    VlDynSym* d = s_table.items[i];
    if (isNameOnly(d->symbol)) freeNameOnlySymbol(d->symbol);
    vl_xfree(d);
  }
  if (s_table.items) vl_xfree(s_table.items);
  s_table = NameTable{};
}

uint32_t vl_dynsymCount() { return s_table.count; }
VlDynSym* vl_dynsymAt(uint32_t index) { return index < s_table.count ? s_table.items[index] : nullptr; }

VlModule* vl_vmFindModuleBySymbols(const VlSymbol* symbols) {
  for (VlModule* m = s_firstModule; m; m = m->next)
    if (m->symbols == symbols) return m;
  return nullptr;
}

VlModule* vl_vmFindModuleByName(const char* name) {
  for (VlModule* m = s_firstModule; m; m = m->next)
    if (std::strcmp(m->name, name) == 0) return m;
  return nullptr;
}

VlModule* vl_vmFirstModule() { return s_firstModule; }

void vl_vmReleaseModules() {
  for (VlModule* m = s_firstModule; m;) {
    VlModule* next = m->next;
    vl_xfree(m->name);
    vl_xfree(m);
    m = next;
  }
  s_firstModule = s_lastModule = nullptr;
  s_startSymbol = nullptr;
}

VlSymbol* vl_vmStartSymbol() { return s_startSymbol; }
void vl_vmSetStartSymbol(VlSymbol* sym) { s_startSymbol = sym; }

VlNativeModule::VlNativeModule(const char* file, VlSymbol* symbols, size_t count) {
  // The module is named by its path from the source root, extension included.
  const char* rel = std::strstr(file, "source/");
  vl_vmProcessSymbols(symbols, static_cast<uint16_t>(count), rel ? rel : file, VL_PCODE_VERSION);
}

// VL_FUNCPTR(cName): the entry point of a function by name, or 0.
VL_FUNC(VL_FUNCPTR) {
  const VlItem* name = vl_param(1, VL_IT_STRING);
  if (!name) {
    vl_errRT_BASE_SubstR(1, 1099, nullptr, "VL_FuncPtr", 1, vl_paramError(1));
    return;
  }
  VlDynSym* d = vl_dynsymFindName(vl_itemGetCPtr(name));
  if (d && d->symbol->value.func) vl_retptr(reinterpret_cast<void*>(d->symbol->value.func));
  else vl_retni(0);
}

VL_NATIVE_MODULE(dynsym, VL_FUNCENTRY(VL_FUNCPTR));

// Registration of modules compiled in memory (vellum, tests).
#include "loader.h"

#include <memory>
#include <vector>

#include "vm/symbols.h"

namespace {

struct LoadedModule {
  VlCompiledModule compiled;
  std::vector<VlSymbol> symbols;
  std::vector<VlPcodeFunc> functions;
};

// The name table and any running code point into these for the rest of the process.
std::vector<std::unique_ptr<LoadedModule>>& loaded() {
  static std::vector<std::unique_ptr<LoadedModule>>* modules = new std::vector<std::unique_ptr<LoadedModule>>;
  return *modules;
}

}  // namespace

VlSymbol* vl_compileRegister(VlCompiledModule&& module) {
  if (module.symbols.empty() || module.symbols.size() > 0xFFFF) return nullptr;
  auto m = std::make_unique<LoadedModule>();
  m->compiled = std::move(module);
  m->functions.resize(m->compiled.functions.size());
  m->symbols.resize(m->compiled.symbols.size());
  for (size_t i = 0; i < m->symbols.size(); ++i) {
    const VlCompiledSymbol& cs = m->compiled.symbols[i];
    VlSymbol& s = m->symbols[i];
    s.name = cs.name.c_str();
    s.scope = cs.scope;
    s.value.ptr = nullptr;
    s.dynsym = nullptr;
    if (cs.function >= 0) {
      VlPcodeFunc& f = m->functions[static_cast<size_t>(cs.function)];
      const VlCompiledFunction& cf = m->compiled.functions[static_cast<size_t>(cs.function)];
      f.pcode = cf.code.data();
      f.symbols = m->symbols.data();
      f.globals = nullptr;
      f.length = static_cast<uint32_t>(cf.code.size());
      s.scope |= VL_FS_PCODEFUNC;
      s.value.pcodeFunc = &f;
      s.dynsym = VL_SYM_DEFINED;
    }
  }
  VlSymbol* table = m->symbols.data();
  vl_vmProcessSymbols(table, static_cast<uint16_t>(m->symbols.size()), m->compiled.name.c_str(), VL_PCODE_VERSION);
  loaded().push_back(std::move(m));
  return table;
}

VlSymbol* vl_compileFunction(VlSymbol* symbols, const VlCompiledModule& module, const char* name) {
  for (size_t i = 0; i < module.symbols.size(); ++i)
    if (module.symbols[i].function >= 0 && module.symbols[i].name == name) return &symbols[i];
  return nullptr;
}

// The listing printed by "vlcc -d" and "vellum -d": the symbol table with scopes, then each
// function's p-code through the shared disassembler.
#include <cstdio>

#include "compiler.h"

#if __has_include("vm/disasm.h")
#include "vm/disasm.h"
#define VL_HAVE_DISASM 1
#endif

std::string vl_compileListing(const VlCompiledModule& m) {
  std::string o;
  char buf[96];
  o += "module " + m.name + "\n\nsymbols:\n";
  std::vector<const char*> names;
  for (size_t i = 0; i < m.symbols.size(); ++i) {
    std::snprintf(buf, sizeof buf, "  %4zu  0x%04X  ", i, m.symbols[i].scope);
    o += buf + m.symbols[i].name + "\n";
    names.push_back(m.symbols[i].name.c_str());
  }
  for (const VlCompiledFunction& f : m.functions) {
    std::snprintf(buf, sizeof buf, "\nfunction %s (%zu bytes)\n", f.name.c_str(), f.code.size());
    o += buf;
#ifdef VL_HAVE_DISASM
    o += vl_pcodeDisassemble(f.code.data(), f.code.size(), names.data(), names.size());
#else
    for (size_t k = 0; k < f.code.size(); ++k) {
      std::snprintf(buf, sizeof buf, "%s%02X", k % 16 ? " " : (k ? "\n  " : "  "), f.code[k]);
      o += buf;
    }
    o += "\n";
#endif
  }
  return o;
}

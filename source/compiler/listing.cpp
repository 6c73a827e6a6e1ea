// The listing printed by "vlcc -d" and "vellum -d": the symbol table with scopes, then each
// function's p-code through the shared disassembler.
#include <cstdio>

#include "compiler.h"
#include "vm/disasm.h"

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
    o += vl_pcodeDisassemble(f.code.data(), f.code.size(), names.data(), names.size());
  }
  return o;
}

// libFuzzer target: arbitrary bytes compiled as a source file and as a macro expression. Either
// compiles or reports errors; nothing may crash, hang or leak (cmake --preset fuzz).
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "macro/macro.h"

namespace {

class Names : public VlMacroNames {
 public:
  void* symbol(const char* name) override {
    auto& cell = m_cells[name];
    if (!cell) cell = std::make_unique<char>();
    return cell.get();
  }

 private:
  std::map<std::string, std::unique_ptr<char>> m_cells;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  VlCompiledModule module;
  std::vector<VlDiagnostic> errors;
  if (vl_compileModule(text, size, "fuzz.prg", module, errors)) (void)vl_compileToCpp(module, "fuzz.prg");

  Names names;
  VlMacroResult result;
  vl_macroCompileText(text, size, VL_MCF_PUSH | VL_MCF_LIST, VL_FEAT_SHORTCUT | VL_FEAT_EXTMACRO, names, result);
  vl_macroCompileText(text, size, VL_MCF_POP | VL_MCF_TYPECHECK, VL_FEAT_STMTOPS, names, result);
  return 0;
}

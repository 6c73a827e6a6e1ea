// The p-code disassembler: one line per instruction with its offset, name and operands. Shared
// by the run-time (tests, tracing) and the compiler (`vellum -d`); it depends on the
// instruction table alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Symbol operands are printed with their names when symbolNames has an entry for them; jump
// targets are printed as absolute offsets; codeblock bodies are listed indented under their
// instruction. Unknown codes and a truncated last instruction are printed as such; nothing is
// read past code + length.
std::string vl_pcodeDisassemble(const uint8_t* code, size_t length, const char* const* symbolNames,
                                size_t symbolCount);

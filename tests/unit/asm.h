// A small assembler for tests: instruction text to p-code bytes through the instruction table,
// so that executor tests read as programs rather than byte arrays.
//
// One instruction per line; ';' starts a comment; "label:" defines a label (alone or before an
// instruction). Operands by the instruction's format:
//   numbers        decimal or 0x hex, negative allowed
//   symbols        a name of `symbols` (its index) or a number
//   jumps          a label (resolved relative to the jump's first byte) or a number
//   strings        "text" with \" \\ \n \t \0 \xNN escapes; the length operand counts the zero
//   ENTER          locals params            LOCALADDINT/LOCALSETINT   local value
//   LOCALSETSTR    local "text"             PARAMPRIVATE/STATICCOUNT  symbol number
//   PUTDOUBLE      value width decimals     DBGLOCAL index "name", DBGMODULE "name"
//   MAKEBLOCK1 {   MAKEBLOCK2 params [local...] {   RTBLOCK params {   ... body lines ... }
//   .byte n...     raw bytes (to build damaged code)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Throws std::runtime_error naming the line on anything it cannot assemble.
std::vector<uint8_t> vlAssemble(const std::string& text, const std::vector<std::string>& symbols = {});

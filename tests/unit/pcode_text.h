// P-code as compact text for tests: "ENTER 0 1; LINEBASE 13; PUTSYM1 SET; ...", with symbol
// operands named from a table and codeblock bodies in braces.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

std::string pcodeText(const uint8_t* code, size_t len, const std::vector<std::string>& symbols = {},
                      const std::function<std::string(const void*)>& ptrName = {});

// The lines recorded by SETLINE, LINEBASE and LINESTEP, in code order.
std::vector<int> pcodeLines(const std::vector<uint8_t>& code);

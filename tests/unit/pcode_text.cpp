// P-code as compact text for tests, decoded through the instruction table.
#include "pcode_text.h"

#include <cstdio>

#include "vm/pcodes.h"

namespace {

std::string symName(unsigned i, const std::vector<std::string>& symbols) {
  if (i < symbols.size()) return symbols[i];
  std::string s = "#";
  s += std::to_string(i);
  return s;
}

std::string quoted(const uint8_t* p, size_t n) {
  std::string s = "\"";
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c >= 32 && c < 127 && c != '"' && c != '\\') {
      s += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s + "\"";
}

}  // namespace

std::string pcodeText(const uint8_t* code, size_t len, const std::vector<std::string>& symbols,
                      const std::function<std::string(const void*)>& ptrName) {
  std::string out;
  size_t pos = 0;
  while (pos < len) {
    const uint8_t* p = code + pos;
    size_t n = vl_pcodeLength(p, len - pos);
    if (!out.empty()) out += "; ";
    if (n == 0) {
      out += "<bad " + std::to_string(*p) + ">";
      break;
    }
    const VlOpInfo& info = vl_pcodeInfo[*p];
    out += info.name;
    // Each operand is appended separately (one string at a time keeps the code simple for the
    // optimiser too).
    auto arg = [&](const std::string& text) {
      out += ' ';
      out += text;
    };
    auto num = [&](long long v) { arg(std::to_string(v)); };
    char buf[64];
    switch (info.format) {
      case VL_FMT_NONE: break;
      case VL_FMT_U1: num(p[1]); break;
      case VL_FMT_S1:
      case VL_FMT_LOCAL1: num(static_cast<int8_t>(p[1])); break;
      case VL_FMT_U2: num(vl_pcodeU2(p + 1)); break;
      case VL_FMT_S2:
      case VL_FMT_LOCAL2: num(vl_pcodeS2(p + 1)); break;
      case VL_FMT_I4: num(vl_pcodeI4(p + 1)); break;
      case VL_FMT_I8: num(vl_pcodeI8(p + 1)); break;
      case VL_FMT_SYM1: arg(symName(p[1], symbols)); break;
      case VL_FMT_SYM2: arg(symName(vl_pcodeU2(p + 1), symbols)); break;
      case VL_FMT_JMP1: std::snprintf(buf, sizeof buf, "%+d", static_cast<int8_t>(p[1])); arg(buf); break;
      case VL_FMT_JMP2: std::snprintf(buf, sizeof buf, "%+d", vl_pcodeS2(p + 1)); arg(buf); break;
      case VL_FMT_JMP3: std::snprintf(buf, sizeof buf, "%+d", vl_pcodeS3(p + 1)); arg(buf); break;
      case VL_FMT_PTR:
        out += " @";
        out += ptrName ? ptrName(vl_pcodePtr(p + 1)) : std::string("?");
        break;
      case VL_FMT_STR1: arg(quoted(p + 2, p[1] ? p[1] - 1u : 0u)); break;
      case VL_FMT_STR2: arg(quoted(p + 3, vl_pcodeU2(p + 1) ? vl_pcodeU2(p + 1) - 1u : 0u)); break;
      case VL_FMT_ENTER: num(p[1]); num(p[2]); break;
      case VL_FMT_ENTERWIDE: num(vl_pcodeU2(p + 1)); num(p[3]); break;
      case VL_FMT_LOCALINT: num(p[1]); num(vl_pcodeS2(p + 2)); break;
      case VL_FMT_LOCALSTR: num(p[1]); arg(quoted(p + 4, vl_pcodeU2(p + 2) - 1u)); break;
      case VL_FMT_SYM2U1: arg(symName(vl_pcodeU2(p + 1), symbols)); num(p[3]); break;
      case VL_FMT_SYM2U2: arg(symName(vl_pcodeU2(p + 1), symbols)); num(vl_pcodeU2(p + 3)); break;
      case VL_FMT_DOUBLE:
        std::snprintf(buf, sizeof buf, "%g %d %d", vl_pcodeF8(p + 1), p[9], p[10]);
        arg(buf);
        break;
      case VL_FMT_BLOCK1:
        out += " {";
        out += pcodeText(p + 2, n - 2, symbols, ptrName);
        out += '}';
        break;
      case VL_FMT_BLOCK2: {
        unsigned params = vl_pcodeU2(p + 3), count = vl_pcodeU2(p + 5);
        std::snprintf(buf, sizeof buf, " p=%u l=[", params);
        out += buf;
        for (unsigned i = 0; i < count; ++i) {
          if (i) out += ',';
          out += std::to_string(vl_pcodeS2(p + 7 + 2 * i));
        }
        size_t head = 7 + 2 * count;
        out += "] {";
        out += pcodeText(p + head, n - head, symbols, ptrName);
        out += '}';
        break;
      }
      case VL_FMT_RTBLOCK:
        std::snprintf(buf, sizeof buf, " p=%u {", vl_pcodeU2(p + 3));
        out += buf;
        out += pcodeText(p + 5, n - 5, symbols, ptrName);
        out += '}';
        break;
      default: out += " ?"; break;
    }
    pos += n;
  }
  return out;
}

std::vector<int> pcodeLines(const std::vector<uint8_t>& code) {
  std::vector<int> lines;
  int base = 0;
  size_t pos = 0;
  while (pos < code.size()) {
    const uint8_t* p = code.data() + pos;
    size_t n = vl_pcodeLength(p, code.size() - pos);
    if (!n) break;
    if (*p == VL_P_LINEBASE) {
      base = vl_pcodeU2(p + 1);
      lines.push_back(base);
    } else if (*p == VL_P_LINESTEP) {
      lines.push_back(base + p[1]);
    } else if (*p == VL_P_SETLINE) {
      lines.push_back(vl_pcodeU2(p + 1));
    }
    pos += n;
  }
  return lines;
}

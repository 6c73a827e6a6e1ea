// The p-code disassembler. Every instruction is measured with vl_pcodeLength against the bytes
// left before any operand is decoded, so damaged code prints as damaged instead of being read
// past its end.
#include "disasm.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "pcodes.h"

namespace {

struct Names {
  const char* const* names;
  size_t count;
};

void appendf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

void appendSymbol(std::string& out, const Names& s, unsigned index) {
  const char* name = (s.names && index < s.count && s.names[index]) ? s.names[index] : "?";
  appendf(out, "%u (%s)", index, name);
}

// Text of `len` bytes, quoted, with quotes, backslashes and unprintable bytes escaped.
void appendText(std::string& out, const uint8_t* p, size_t len) {
  out += '"';
  for (size_t i = 0; i < len; ++i) {
    uint8_t c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      appendf(out, "\\x%02X", c);
    }
  }
  out += '"';
}

// A string operand whose length counts its terminating zero.
void appendZString(std::string& out, const uint8_t* p, size_t len) { appendText(out, p, len ? len - 1 : 0); }

void appendJump(std::string& out, size_t at, int32_t rel) {
  int64_t target = static_cast<int64_t>(at) + rel;
  appendf(out, "-> %05" PRId64, target);
}

void listCode(std::string& out, const uint8_t* code, size_t length, size_t origin, int depth, const Names& s);

void listInstruction(std::string& out, const uint8_t* p, size_t len, size_t at, int depth, const Names& s) {
  const VlOpInfo& info = vl_pcodeInfo[*p];
  appendf(out, "%05zu  %*s%-18s", at, depth * 2, "", info.name);
  switch (info.format) {
    case VL_FMT_NONE:
    case VL_FMT_UNASSIGNED: break;
    case VL_FMT_U1: appendf(out, "%u", p[1]); break;
    case VL_FMT_S1: appendf(out, "%d", static_cast<int8_t>(p[1])); break;
    case VL_FMT_U2: appendf(out, "%u", vl_pcodeU2(p + 1)); break;
    case VL_FMT_S2: appendf(out, "%d", vl_pcodeS2(p + 1)); break;
    case VL_FMT_I4: appendf(out, "%" PRId32, vl_pcodeI4(p + 1)); break;
    case VL_FMT_I8: appendf(out, "%" PRId64, vl_pcodeI8(p + 1)); break;
    case VL_FMT_SYM1: appendSymbol(out, s, p[1]); break;
    case VL_FMT_SYM2: appendSymbol(out, s, vl_pcodeU2(p + 1)); break;
    case VL_FMT_LOCAL1: appendf(out, "local %d", static_cast<int8_t>(p[1])); break;
    case VL_FMT_LOCAL2: appendf(out, "local %d", vl_pcodeS2(p + 1)); break;
    case VL_FMT_JMP1: appendJump(out, at, static_cast<int8_t>(p[1])); break;
    case VL_FMT_JMP2: appendJump(out, at, vl_pcodeS2(p + 1)); break;
    case VL_FMT_JMP3: appendJump(out, at, vl_pcodeS3(p + 1)); break;
    case VL_FMT_PTR: {
      uint64_t v = 0;
      for (int i = 7; i >= 0; --i) v = (v << 8) | p[1 + i];
      appendf(out, "0x%016" PRIx64, v);
      break;
    }
    case VL_FMT_STR1: appendZString(out, p + 2, p[1]); break;
    case VL_FMT_STR2: appendZString(out, p + 3, vl_pcodeU2(p + 1)); break;
    case VL_FMT_ENTER: appendf(out, "locals %u, params %u", p[1], p[2]); break;
    case VL_FMT_ENTERWIDE: appendf(out, "locals %u, params %u", vl_pcodeU2(p + 1), p[3]); break;
    case VL_FMT_LOCALINT: appendf(out, "local %u, %d", p[1], vl_pcodeS2(p + 2)); break;
    case VL_FMT_LOCALSTR:
      appendf(out, "local %u, ", p[1]);
      appendZString(out, p + 4, vl_pcodeU2(p + 2));
      break;
    case VL_FMT_SYM2U1:
      appendSymbol(out, s, vl_pcodeU2(p + 1));
      appendf(out, ", %u", p[3]);
      break;
    case VL_FMT_SYM2U2:
      appendSymbol(out, s, vl_pcodeU2(p + 1));
      appendf(out, ", %u", vl_pcodeU2(p + 3));
      break;
    case VL_FMT_DOUBLE: appendf(out, "%.17g, width %u, decimals %u", vl_pcodeF8(p + 1), p[9], p[10]); break;
    case VL_FMT_DBGLOCAL:
      appendf(out, "%u, ", vl_pcodeU2(p + 1));
      appendText(out, p + 3, len - 4);
      break;
    case VL_FMT_DBGMODULE: appendText(out, p + 1, len - 2); break;
    case VL_FMT_DBGSTATIC:
      appendf(out, "%u, %u, ", p[1], vl_pcodeU2(p + 2));
      appendText(out, p + 4, len - 5);
      break;
    case VL_FMT_BLOCK1:
      appendf(out, "size %zu\n", len);
      listCode(out, p + 2, len - 2, at + 2, depth + 1, s);
      return;
    case VL_FMT_BLOCK2: {
      unsigned n = vl_pcodeU2(p + 5);
      appendf(out, "size %zu, params %u, locals [", len, vl_pcodeU2(p + 3));
      for (unsigned i = 0; i < n; ++i) appendf(out, i ? ", %u" : "%u", vl_pcodeU2(p + 7 + 2 * i));
      out += "]\n";
      size_t header = 7 + 2 * static_cast<size_t>(n);
      listCode(out, p + header, len - header, at + header, depth + 1, s);
      return;
    }
    case VL_FMT_RTBLOCK:
      appendf(out, "size %zu, params %u\n", len, vl_pcodeU2(p + 3));
      listCode(out, p + 5, len - 5, at + 5, depth + 1, s);
      return;
    case VL_FMT_HIDDEN: appendf(out, "length %u, flag %u, stored %u", vl_pcodeU2(p + 1), p[3], vl_pcodeU2(p + 4)); break;
    case VL_FMT_LOCALHIDDEN:
      appendf(out, "local %u, length %u, flag %u, stored %u", p[1], vl_pcodeU2(p + 2), p[4], vl_pcodeU2(p + 5));
      break;
  }
  // Trailing blanks of the name column are dropped when there are no operands.
  while (!out.empty() && out.back() == ' ') out.pop_back();
  out += '\n';
}

void listCode(std::string& out, const uint8_t* code, size_t length, size_t origin, int depth, const Names& s) {
  size_t pos = 0;
  while (pos < length) {
    const uint8_t* p = code + pos;
    size_t at = origin + pos;
    size_t avail = length - pos;
    if (*p >= VL_PCODE_COUNT) {
      appendf(out, "%05zu  %*s<unknown code %u>\n", at, depth * 2, "", *p);
      ++pos;
      continue;
    }
    if (vl_pcodeInfo[*p].format == VL_FMT_UNASSIGNED) {
      appendf(out, "%05zu  %*s<unassigned code %u>\n", at, depth * 2, "", *p);
      ++pos;
      continue;
    }
    size_t len = vl_pcodeLength(p, avail);
    if (len == 0) {
      appendf(out, "%05zu  %*s%s <truncated: %zu byte%s left>\n", at, depth * 2, "", vl_pcodeInfo[*p].name, avail,
              avail == 1 ? "" : "s");
      return;
    }
    listInstruction(out, p, len, at, depth, s);
    pos += len;
  }
}

}  // namespace

std::string vl_pcodeDisassemble(const uint8_t* code, size_t length, const char* const* symbolNames,
                                size_t symbolCount) {
  std::string out;
  if (!code) return out;
  listCode(out, code, length, 0, 0, Names{symbolNames, symbolCount});
  return out;
}

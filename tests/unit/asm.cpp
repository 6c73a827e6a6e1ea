// The test assembler (see asm.h).
#include "asm.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "vm/pcodes.h"

namespace {

struct Line {
  int number;
  std::vector<std::string> tokens;  // strings keep their quotes
};

[[noreturn]] void fail(int line, const std::string& what) {
  throw std::runtime_error("asm line " + std::to_string(line) + ": " + what);
}

std::vector<std::string> tokenize(const std::string& text, int number) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ';') break;
    if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '"') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      if (j >= text.size()) fail(number, "unterminated string");
      out.push_back(text.substr(i, j - i + 1));
      i = j + 1;
      continue;
    }
    size_t j = i;
    while (j < text.size() && !std::strchr(" \t,;\"\r", text[j])) ++j;
    out.push_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

std::string unquote(const std::string& tok, int line) {
  if (tok.size() < 2 || tok.front() != '"') fail(line, "expected a string, got " + tok);
  std::string s;
  for (size_t i = 1; i + 1 < tok.size(); ++i) {
    char c = tok[i];
    if (c != '\\') {
      s += c;
      continue;
    }
    char e = tok[++i];
    switch (e) {
      case 'n': s += '\n'; break;
      case 't': s += '\t'; break;
      case '0': s += '\0'; break;
      case 'x': {
        s += static_cast<char>(std::strtol(tok.substr(i + 1, 2).c_str(), nullptr, 16));
        i += 2;
        break;
      }
      default: s += e; break;
    }
  }
  return s;
}

bool isNumber(const std::string& t) {
  if (t.empty()) return false;
  char* end = nullptr;
  std::strtoll(t.c_str(), &end, 0);
  return *end == '\0';
}

int64_t number(const std::string& t, int line) {
  if (!isNumber(t)) fail(line, "expected a number, got " + t);
  return std::strtoll(t.c_str(), nullptr, 0);
}

class Assembler {
 public:
  explicit Assembler(const std::vector<std::string>& symbols) : symbols_(symbols) {}

  std::vector<uint8_t> run(const std::vector<Line>& lines, size_t begin, size_t end) {
    std::vector<uint8_t> out;
    std::map<std::string, size_t> labels;
    struct Fixup {
      size_t at, instr;
      int width;
      std::string label;
      int line;
    };
    std::vector<Fixup> fixups;

    for (size_t li = begin; li < end; ++li) {
      const Line& L = lines[li];
      std::vector<std::string> t = L.tokens;
      while (!t.empty() && t[0].size() > 1 && t[0].back() == ':') {
        labels[t[0].substr(0, t[0].size() - 1)] = out.size();
        t.erase(t.begin());
      }
      if (t.empty()) continue;
      if (t[0] == ".byte") {
        for (size_t k = 1; k < t.size(); ++k) out.push_back(static_cast<uint8_t>(number(t[k], L.number)));
        continue;
      }
      int code = opcode(t[0], L.number);
      size_t instr = out.size();
      out.push_back(static_cast<uint8_t>(code));
      auto arg = [&](size_t k) -> const std::string& {
        if (k >= t.size()) fail(L.number, "missing operand for " + t[0]);
        return t[k];
      };
      auto put = [&](int64_t v, int bytes) {
        for (int b = 0; b < bytes; ++b) out.push_back(static_cast<uint8_t>((static_cast<uint64_t>(v) >> (8 * b)) & 0xFF));
      };
      auto jump = [&](const std::string& tok, int width) {
        if (isNumber(tok)) {
          put(number(tok, L.number), width);
        } else {
          fixups.push_back({out.size(), instr, width, tok, L.number});
          put(0, width);
        }
      };
      auto putString = [&](const std::string& tok, int lenBytes) {
        std::string s = unquote(tok, L.number);
        put(static_cast<int64_t>(s.size() + 1), lenBytes);
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
      };
      // A block body: the lines up to the matching "}".
      auto blockBody = [&](size_t& cursor) {
        int depth = 1;
        size_t j = cursor + 1;
        for (; j < end; ++j) {
          for (const std::string& tok : lines[j].tokens) {
            if (tok == "{" || (tok.size() > 1 && tok.back() == '{')) ++depth;
            if (tok == "}") --depth;
          }
          if (depth == 0) break;
        }
        if (j >= end) fail(L.number, "block without its closing }");
        std::vector<uint8_t> body = Assembler(symbols_).run(lines, cursor + 1, j);
        cursor = j;
        return body;
      };

      switch (vl_pcodeInfo[code].format) {
        case VL_FMT_NONE:
        case VL_FMT_UNASSIGNED: break;
        case VL_FMT_U1:
        case VL_FMT_S1:
        case VL_FMT_LOCAL1: put(number(arg(1), L.number), 1); break;
        case VL_FMT_U2:
        case VL_FMT_S2:
        case VL_FMT_LOCAL2: put(number(arg(1), L.number), 2); break;
        case VL_FMT_I4: put(number(arg(1), L.number), 4); break;
        case VL_FMT_I8: put(number(arg(1), L.number), 8); break;
        case VL_FMT_SYM1: put(symbol(arg(1), L.number), 1); break;
        case VL_FMT_SYM2: put(symbol(arg(1), L.number), 2); break;
        case VL_FMT_JMP1: jump(arg(1), 1); break;
        case VL_FMT_JMP2: jump(arg(1), 2); break;
        case VL_FMT_JMP3: jump(arg(1), 3); break;
        case VL_FMT_PTR: put(number(arg(1), L.number), 8); break;
        case VL_FMT_STR1: putString(arg(1), 1); break;
        case VL_FMT_STR2: putString(arg(1), 2); break;
        case VL_FMT_ENTER:
          put(number(arg(1), L.number), 1);
          put(number(arg(2), L.number), 1);
          break;
        case VL_FMT_ENTERWIDE:
          put(number(arg(1), L.number), 2);
          put(number(arg(2), L.number), 1);
          break;
        case VL_FMT_LOCALINT:
          put(number(arg(1), L.number), 1);
          put(number(arg(2), L.number), 2);
          break;
        case VL_FMT_LOCALSTR:
          put(number(arg(1), L.number), 1);
          putString(arg(2), 2);
          break;
        case VL_FMT_SYM2U1:
          put(symbol(arg(1), L.number), 2);
          put(number(arg(2), L.number), 1);
          break;
        case VL_FMT_SYM2U2:
          put(symbol(arg(1), L.number), 2);
          put(number(arg(2), L.number), 2);
          break;
        case VL_FMT_DOUBLE: {
          double d = std::strtod(arg(1).c_str(), nullptr);
          uint64_t bits;
          std::memcpy(&bits, &d, sizeof bits);
          put(static_cast<int64_t>(bits), 8);
          put(number(arg(2), L.number), 1);
          put(number(arg(3), L.number), 1);
          break;
        }
        case VL_FMT_DBGLOCAL: {
          put(number(arg(1), L.number), 2);
          std::string s = unquote(arg(2), L.number);
          out.insert(out.end(), s.begin(), s.end());
          out.push_back(0);
          break;
        }
        case VL_FMT_DBGMODULE: {
          std::string s = unquote(arg(1), L.number);
          out.insert(out.end(), s.begin(), s.end());
          out.push_back(0);
          break;
        }
        case VL_FMT_DBGSTATIC: {
          put(number(arg(1), L.number), 1);
          put(number(arg(2), L.number), 2);
          std::string s = unquote(arg(3), L.number);
          out.insert(out.end(), s.begin(), s.end());
          out.push_back(0);
          break;
        }
        case VL_FMT_BLOCK1: {
          if (t.back() != "{") fail(L.number, "MAKEBLOCK1 expects {");
          std::vector<uint8_t> body = blockBody(li);
          if (body.size() + 2 > 255) fail(L.number, "block too long for MAKEBLOCK1");
          put(static_cast<int64_t>(body.size() + 2), 1);
          out.insert(out.end(), body.begin(), body.end());
          break;
        }
        case VL_FMT_BLOCK2: {
          if (t.back() != "{") fail(L.number, "MAKEBLOCK2 expects {");
          std::vector<int64_t> locals;
          for (size_t k = 2; k + 1 < t.size(); ++k) locals.push_back(number(t[k], L.number));
          int64_t params = number(arg(1), L.number);
          std::vector<uint8_t> body = blockBody(li);
          put(static_cast<int64_t>(7 + 2 * locals.size() + body.size()), 2);
          put(params, 2);
          put(static_cast<int64_t>(locals.size()), 2);
          for (int64_t l : locals) put(l, 2);
          out.insert(out.end(), body.begin(), body.end());
          break;
        }
        case VL_FMT_RTBLOCK: {
          if (t.back() != "{") fail(L.number, "RTBLOCK expects {");
          int64_t params = number(arg(1), L.number);
          std::vector<uint8_t> body = blockBody(li);
          put(static_cast<int64_t>(5 + body.size()), 2);
          put(params, 2);
          out.insert(out.end(), body.begin(), body.end());
          break;
        }
        case VL_FMT_HIDDEN:
        case VL_FMT_LOCALHIDDEN: {
          bool local = vl_pcodeInfo[code].format == VL_FMT_LOCALHIDDEN;
          size_t k = 1;
          if (local) put(number(arg(k++), L.number), 1);
          std::string s = unquote(arg(k), L.number);
          put(static_cast<int64_t>(s.size() + 1), 2);
          out.push_back(1);  // scrambled
          put(static_cast<int64_t>(s.size()), 2);
          for (char c : s) out.push_back(static_cast<uint8_t>(c) ^ 0x5A);
          break;
        }
      }
    }
    for (const Fixup& f : fixups) {
      auto it = labels.find(f.label);
      if (it == labels.end()) fail(f.line, "unknown label " + f.label);
      int64_t rel = static_cast<int64_t>(it->second) - static_cast<int64_t>(f.instr);
      for (int b = 0; b < f.width; ++b) out[f.at + b] = static_cast<uint8_t>((static_cast<uint64_t>(rel) >> (8 * b)) & 0xFF);
    }
    return out;
  }

 private:
  int opcode(const std::string& name, int line) {
    for (int c = 0; c < VL_PCODE_COUNT; ++c)
      if (name == vl_pcodeInfo[c].name) return c;
    fail(line, "unknown instruction " + name);
  }

  int64_t symbol(const std::string& tok, int line) {
    if (isNumber(tok)) return number(tok, line);
    for (size_t i = 0; i < symbols_.size(); ++i)
      if (symbols_[i] == tok) return static_cast<int64_t>(i);
    fail(line, "unknown symbol " + tok);
  }

  const std::vector<std::string>& symbols_;
};

}  // namespace

std::vector<uint8_t> vlAssemble(const std::string& text, const std::vector<std::string>& symbols) {
  std::vector<Line> lines;
  size_t start = 0;
  int number = 1;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    Line L{number++, tokenize(text.substr(start, nl - start), number - 1)};
    if (!L.tokens.empty()) lines.push_back(L);
    start = nl + 1;
  }
  return Assembler(symbols).run(lines, 0, lines.size());
}

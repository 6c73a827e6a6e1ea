// Compile errors: collected with their position so that every error of a file is reported, up to
// a limit, and the compilation as a whole fails when any was recorded.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct VlDiagnostic {
  int line;
  int col;
  std::string message;
};

class VlDiagnostics {
 public:
  explicit VlDiagnostics(size_t limit = 20) : m_limit(limit) {}

  void error(int line, int col, std::string message) {
    if (m_list.size() >= m_limit) {
      m_full = true;
      return;
    }
    m_list.push_back({line, col, std::move(message)});
    if (m_list.size() >= m_limit) m_full = true;
  }

  bool hasErrors() const { return !m_list.empty(); }
  // The limit was reached: the parser stops instead of producing more noise.
  bool full() const { return m_full; }
  const std::vector<VlDiagnostic>& list() const { return m_list; }

 private:
  size_t m_limit;
  bool m_full = false;
  std::vector<VlDiagnostic> m_list;
};

// The terminal back end: the screen buffer is shown on the terminal that standard output is.
// Keys are read in raw mode and decoded with the terminal database's key sequences.
//
// The back end keeps two copies: the buffer (what the driver wrote) and the shadow (what the
// terminal shows, cell by cell; unknown cells are always drawn). A write sends only cells that
// differ from the shadow. A write that is the whole screen moved up by k rows is sent as k
// terminal scrolls, so that the rows leaving the top go to the terminal's scrollback.
// When the terminal is smaller than the buffer, what lies outside it is not shown.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "syscon_int.h"
#include "syscon_tinfo.h"

namespace {

constexpr uint16_t kUnknown = 0xFFFF;  // shadow attribute of a cell whose content is unknown

// Attribute colour bits (blue 1, green 2, red 4) to the terminal's colour numbers (red 1,
// green 2, blue 4).
int ansiColor(int bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

class TtyConsole : public VlSysCon {
 public:
  TtyConsole(int hIn, int hOut, const VlTermCaps& caps) : m_in(hIn), m_out(hOut), m_caps(caps) {}

  bool start();

  bool info(VlConInfo* out) override;
  bool setBufferSize(int16_t rows, int16_t cols) override;
  bool setWindow(const VlConRect&) override { return true; }
  bool readOutput(VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) override;
  bool writeOutput(const VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) override;
  void setCursorInfo(bool visible, int size) override;
  void setCursorPos(int16_t row, int16_t col) override;
  uint32_t getMode() override { return m_mode; }
  void setMode(uint32_t mode) override { m_mode = mode; }
  int pendingInput() override {
    checkSignals();
    return m_input.pump();
  }
  int readInput(VlConInput* records, int max) override {
    checkSignals();
    return m_input.read(records, max);
  }
  bool inputEnded() override { return m_input.ended(); }
  void preExternal(int handle) override;
  void postExternal(int handle, const char* text, size_t len) override;
  void close() override;

 private:
  void enterRawMode();
  void armRestore();
  void queryTerminalSize();
  bool queryCursor(int* row, int* col);
  void checkSignals();
  void repaintAll();
  // Shows the buffer's cells of region (clipped to the visible terminal) on the terminal.
  void render(const VlConRect& region);
  bool tryScroll(const VlConRect& region);
  bool rowMatches(int newRow, int shownRow) const;
  void moveTo(int row, int col);
  void setAttr(uint16_t attr);
  void putCell(const VlConCell& c);
  void placeCursor();
  void flushOut();
  bool isOurTerminal(int handle) const;
  VlConCell& cell(int r, int c) { return m_cells[static_cast<size_t>(r) * m_cols + c]; }
  VlConCell& shown(int r, int c) { return m_shadow[static_cast<size_t>(r) * m_cols + c]; }
  const VlConCell& cell(int r, int c) const { return m_cells[static_cast<size_t>(r) * m_cols + c]; }
  const VlConCell& shown(int r, int c) const { return m_shadow[static_cast<size_t>(r) * m_cols + c]; }

  int m_in, m_out;
  VlTermCaps m_caps;
  bool m_inTty = false;
  termios m_savedModes{};
  bool m_haveModes = false;
  bool m_utf8 = false;
  int16_t m_rows = 0, m_cols = 0;          // the buffer
  int16_t m_termRows = 0, m_termCols = 0;  // the terminal
  std::vector<VlConCell> m_cells, m_shadow;
  int16_t m_curRow = 0, m_curCol = 0;
  bool m_curVisible = true;
  int m_curSize = 25;
  int m_termRow = -1, m_termCol = -1;  // where the terminal's cursor is (-1: not known)
  int m_termAttr = -1;                 // attribute in force on the terminal (-1: not known)
  int m_shownCursor = -1;              // 0 hidden, 1 normal, 2 very visible, -1 not known
  uint32_t m_mode = 0;
  VlConInputStream m_input;
  std::string m_outBuf;
};

bool TtyConsole::start() {
  m_utf8 = vl_sysconLocaleIsUtf8();
  m_inTty = ::isatty(m_in);
  m_input.open(m_in, !m_inTty, m_utf8);
  m_input.decoder().setBackspace(static_cast<uint8_t>(vl_tinfoKeys(&m_input.decoder())));
  if (m_inTty && tcgetattr(m_in, &m_savedModes) == 0) m_haveModes = true;
  enterRawMode();
  armRestore();

  queryTerminalSize();
  m_rows = m_termRows;
  m_cols = m_termCols;
  m_cells.assign(static_cast<size_t>(m_rows) * m_cols, VlConCell{' ', 0x07});
  m_shadow.assign(m_cells.size(), VlConCell{' ', kUnknown});

  m_outBuf += m_caps.smkx;
  int row = 0, col = 0;
  if (!queryCursor(&row, &col)) {
    // Where the terminal's cursor is cannot be learnt: start from a clean screen.
    m_outBuf += m_caps.sgr0 + m_caps.clear;
    std::fill(m_shadow.begin(), m_shadow.end(), VlConCell{' ', 0x07});
    m_termAttr = 0x07;
    m_termRow = m_termCol = 0;
  } else {
    m_termRow = row;
    m_termCol = col;
  }
  m_curRow = static_cast<int16_t>(std::min<int>(row, m_rows - 1));
  m_curCol = static_cast<int16_t>(std::min<int>(col, m_cols - 1));
  flushOut();
  return true;
}

void TtyConsole::enterRawMode() {
  if (!m_haveModes) return;
  termios raw = m_savedModes;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag |= CS8;
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  // Output processing stays on: text written straight to standard output still starts its
  // lines at the left edge.
  tcsetattr(m_in, TCSADRAIN, &raw);
}

void TtyConsole::armRestore() {
  VlConRestore r;
  r.fd = m_haveModes ? m_in : -1;
  r.modes = m_savedModes;
  r.outFd = m_out;
  std::string text = m_caps.sgr0 + m_caps.rmkx + m_caps.cnorm;
  r.textLen = std::min(text.size(), sizeof r.text);
  std::memcpy(r.text, text.data(), r.textLen);
  vl_sysconArmRestore(r);
}

void TtyConsole::queryTerminalSize() {
  winsize ws{};
  if (::ioctl(m_out, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    m_termRows = static_cast<int16_t>(std::min<int>(ws.ws_row, 0x7FFF));
    m_termCols = static_cast<int16_t>(std::min<int>(ws.ws_col, 0x7FFF));
  } else if (m_termRows <= 0) {
    m_termRows = 25;
    m_termCols = 80;
  }
}

bool TtyConsole::queryCursor(int* row, int* col) {
  if (!m_inTty || m_caps.cursorQuery.empty()) return false;
  flushOut();
  if (!vl_sysconWriteAll(m_out, m_caps.cursorQuery.data(), m_caps.cursorQuery.size())) return false;
  std::string got;
  uint64_t deadline = vl_sysconNowMs() + 300;
  bool found = false;
  while (!found && vl_sysconNowMs() < deadline) {
    char buf[64];
    ssize_t n = ::read(m_in, buf, sizeof buf);
    if (n > 0) {
      got.append(buf, static_cast<size_t>(n));
      size_t used = 0;
      size_t start = got.find("\x1b[");
      if (start != std::string::npos && m_caps.parseCursorReport(got.substr(start), &used, row, col)) {
        found = true;
        // Keys typed meanwhile stay keys.
        got.erase(start, used);
      }
    } else {
      usleep(5000);
    }
  }
  if (!got.empty()) m_input.unread(got);
  return found;
}

void TtyConsole::checkSignals() {
  if (vl_sysconContinued) {
    vl_sysconContinued = 0;
    enterRawMode();
    m_outBuf += m_caps.smkx;
    vl_sysconResized = 1;  // and repaint
  }
  if (vl_sysconResized) {
    vl_sysconResized = 0;
    queryTerminalSize();
    repaintAll();
  }
}

// Every cell is drawn again, and what lies beyond the buffer is erased. The screen is not
// cleared as a whole: some terminals keep a cleared screen in their history.
void TtyConsole::repaintAll() {
  m_termAttr = -1;
  m_termRow = m_termCol = -1;
  std::fill(m_shadow.begin(), m_shadow.end(), VlConCell{' ', kUnknown});
  m_shownCursor = -1;
  render(VlConRect{0, 0, static_cast<int16_t>(m_rows - 1), static_cast<int16_t>(m_cols - 1)});
  if (!m_caps.el.empty()) {
    m_outBuf += m_caps.sgr0;
    m_termAttr = -1;
    for (int r = 0; r < m_termRows; ++r) {
      if (r < m_rows && m_cols >= m_termCols) continue;
      m_outBuf += m_caps.cup(r, r < m_rows ? m_cols : 0);
      m_outBuf += m_caps.el;
    }
    m_termRow = m_termCol = -1;
  }
  placeCursor();
  flushOut();
}

bool TtyConsole::info(VlConInfo* out) {
  checkSignals();
  out->width = m_cols;
  out->height = m_rows;
  out->cursorRow = m_curRow;
  out->cursorCol = m_curCol;
  out->window = VlConRect{0, 0, static_cast<int16_t>(std::min(m_rows, m_termRows) - 1),
                          static_cast<int16_t>(std::min(m_cols, m_termCols) - 1)};
  out->maxRows = m_termRows;
  out->maxCols = m_termCols;
  return true;
}

bool TtyConsole::setBufferSize(int16_t rows, int16_t cols) {
  if (rows <= 0 || cols <= 0) return false;
  std::vector<VlConCell> cells(static_cast<size_t>(rows) * cols, VlConCell{' ', 0x07});
  std::vector<VlConCell> shadow(cells.size(), VlConCell{' ', kUnknown});
  for (int r = 0; r < std::min(rows, m_rows); ++r)
    for (int c = 0; c < std::min(cols, m_cols); ++c) {
      cells[static_cast<size_t>(r) * cols + c] = cell(r, c);
      shadow[static_cast<size_t>(r) * cols + c] = shown(r, c);
    }
  m_cells.swap(cells);
  m_shadow.swap(shadow);
  m_rows = rows;
  m_cols = cols;
  m_curRow = std::min<int16_t>(m_curRow, static_cast<int16_t>(rows - 1));
  m_curCol = std::min<int16_t>(m_curCol, static_cast<int16_t>(cols - 1));
  return true;
}

// Clips region to the buffer and to a caller's buffer of bufRows x bufCols.
bool clip(VlConRect* region, int16_t rows, int16_t cols, int16_t bufRows, int16_t bufCols) {
  region->top = std::max<int16_t>(region->top, 0);
  region->left = std::max<int16_t>(region->left, 0);
  region->bottom = std::min<int16_t>(region->bottom, static_cast<int16_t>(std::min(rows, bufRows) - 1));
  region->right = std::min<int16_t>(region->right, static_cast<int16_t>(std::min(cols, bufCols) - 1));
  return region->top <= region->bottom && region->left <= region->right;
}

bool TtyConsole::readOutput(VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) {
  if (!clip(region, m_rows, m_cols, bufRows, bufCols)) return false;
  for (int r = region->top; r <= region->bottom; ++r)
    for (int c = region->left; c <= region->right; ++c) cells[static_cast<size_t>(r) * bufCols + c] = cell(r, c);
  return true;
}

bool TtyConsole::writeOutput(const VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) {
  checkSignals();
  if (!clip(region, m_rows, m_cols, bufRows, bufCols)) return false;
  for (int r = region->top; r <= region->bottom; ++r)
    for (int c = region->left; c <= region->right; ++c) {
      VlConCell v = cells[static_cast<size_t>(r) * bufCols + c];
      cell(r, c) = VlConCell{static_cast<uint16_t>(v.ch & 0xFF), static_cast<uint16_t>(v.attr & 0xFF)};
    }
  render(*region);
  placeCursor();
  flushOut();
  return true;
}

bool TtyConsole::rowMatches(int newRow, int shownRow) const {
  for (int c = 0; c < m_cols; ++c) {
    const VlConCell& a = cell(newRow, c);
    const VlConCell& b = shown(shownRow, c);
    if (b.attr == kUnknown || a.ch != b.ch || a.attr != b.attr) return false;
  }
  return true;
}

bool TtyConsole::tryScroll(const VlConRect& region) {
  if (region.top != 0 || region.left != 0 || region.bottom != m_rows - 1 || region.right != m_cols - 1) return false;
  if (m_termRows != m_rows || m_termCols != m_cols || m_caps.ind.empty() || m_rows < 2) return false;
  int changed = 0;
  for (int r = 0; r < m_rows; ++r)
    if (!rowMatches(r, r)) ++changed;
  if (changed == 0) return false;
  for (int k = 1; k <= changed && k < m_rows; ++k) {
    bool ok = true;
    for (int r = 0; ok && r + k < m_rows; ++r) ok = rowMatches(r, r + k);
    if (!ok) continue;
    // The terminal scrolls in the colours in force: use plain ones, the new rows are drawn.
    setAttr(0x07);
    moveTo(m_rows - 1, 0);
    std::string many = k > 1 ? m_caps.indn(k) : "";
    if (!many.empty()) m_outBuf += many;
    else
      for (int i = 0; i < k; ++i) m_outBuf += m_caps.ind;
    m_termRow = m_termCol = -1;
    std::move(m_shadow.begin() + static_cast<ptrdiff_t>(k) * m_cols, m_shadow.end(), m_shadow.begin());
    std::fill(m_shadow.end() - static_cast<ptrdiff_t>(k) * m_cols, m_shadow.end(), VlConCell{' ', kUnknown});
    return true;
  }
  return false;
}

void TtyConsole::render(const VlConRect& region) {
  tryScroll(region);
  int bottom = std::min<int>(region.bottom, m_termRows - 1);
  int right = std::min<int>(region.right, m_termCols - 1);
  for (int r = region.top; r <= bottom; ++r) {
    for (int c = region.left; c <= right; ++c) {
      const VlConCell& want = cell(r, c);
      VlConCell& have = shown(r, c);
      if (have.attr == want.attr && have.ch == want.ch) continue;
      // The last cell of a terminal that scrolls as soon as it is written stays as it is.
      if (r == m_termRows - 1 && c == m_termCols - 1 && m_caps.autoMargins && !m_caps.eatNewline) continue;
      moveTo(r, c);
      setAttr(want.attr);
      putCell(want);
      have = want;
      if (++m_termCol >= m_termCols) m_termRow = m_termCol = -1;  // where it is now depends on the terminal
    }
  }
}

void TtyConsole::moveTo(int row, int col) {
  if (row == m_termRow && col == m_termCol) return;
  m_outBuf += m_caps.cup(row, col);
  m_termRow = row;
  m_termCol = col;
}

void TtyConsole::setAttr(uint16_t attr) {
  if (attr == m_termAttr) return;
  m_termAttr = attr;
  std::string s = m_caps.sgr0;
  int fg = attr & 0x07, bg = (attr >> 4) & 0x07;
  bool fgBright = attr & 0x08, bgBright = attr & 0x80;
  if (m_caps.colors >= 16) {
    s += m_caps.setaf(ansiColor(fg) + (fgBright ? 8 : 0));
    s += m_caps.setab(ansiColor(bg) + (bgBright ? 8 : 0));
  } else if (m_caps.colors >= 8) {
    if (fgBright) s += m_caps.bold;
    s += m_caps.setaf(ansiColor(fg));
    s += m_caps.setab(ansiColor(bg));
  } else if (fgBright) {
    s += m_caps.bold;
  }
  m_outBuf += s;
}

void TtyConsole::putCell(const VlConCell& c) {
  uint8_t ch = static_cast<uint8_t>(c.ch);
  if (m_utf8) {
    char buf[4];
    int n = vl_cp437ToUtf8(ch, buf);
    m_outBuf.append(buf, static_cast<size_t>(n));
    return;
  }
  // A terminal that speaks only ASCII: box characters as their nearest ASCII look.
  uint32_t u = vl_cp437ToUnicode(ch);
  char a = '?';
  if (u >= 0x20 && u < 0x7F) a = static_cast<char>(u);
  else if (u == 0x2500 || u == 0x2550) a = '-';
  else if (u == 0x2502 || u == 0x2551) a = '|';
  else if (u >= 0x2500 && u < 0x2580) a = '+';
  else if (u >= 0x2580 && u < 0x25A0) a = '#';
  m_outBuf += a;
}

void TtyConsole::placeCursor() {
  bool inside = m_curRow >= 0 && m_curCol >= 0 && m_curRow < std::min(m_rows, m_termRows) &&
                m_curCol < std::min(m_cols, m_termCols);
  int want = (!m_curVisible || !inside) ? 0 : (m_curSize >= 50 ? 2 : 1);
  if (want != 0) moveTo(m_curRow, m_curCol);
  if (want != m_shownCursor) {
    m_outBuf += want == 0 ? m_caps.civis : (want == 2 && !m_caps.cvvis.empty() ? m_caps.cvvis : m_caps.cnorm);
    m_shownCursor = want;
  }
}

void TtyConsole::setCursorInfo(bool visible, int size) {
  m_curVisible = visible;
  m_curSize = size;
  placeCursor();
  flushOut();
}

void TtyConsole::setCursorPos(int16_t row, int16_t col) {
  if (row < 0 || col < 0 || row >= m_rows || col >= m_cols) return;
  m_curRow = row;
  m_curCol = col;
  placeCursor();
  flushOut();
}

void TtyConsole::flushOut() {
  if (m_outBuf.empty()) return;
  vl_sysconWriteAll(m_out, m_outBuf.data(), m_outBuf.size());
  m_outBuf.clear();
}

bool TtyConsole::isOurTerminal(int handle) const {
  if (handle == m_out) return true;
  struct stat a{}, b{};
  return ::isatty(handle) && fstat(handle, &a) == 0 && fstat(m_out, &b) == 0 && a.st_rdev == b.st_rdev;
}

void TtyConsole::preExternal(int handle) {
  if (!isOurTerminal(handle)) return;
  // The text appears where the console's cursor is, in plain colours.
  setAttr(0x07);
  moveTo(m_curRow, m_curCol);
  flushOut();
}

void TtyConsole::postExternal(int handle, const char* text, size_t len) {
  if (!isOurTerminal(handle)) return;
  // Follow the text as the terminal lays it out, so that the cursor and the copies stay true.
  int row = m_curRow, col = m_curCol;
  auto lineFeed = [&]() {
    if (++row >= m_termRows) {
      row = m_termRows - 1;
      int shift = 1;
      std::move(m_shadow.begin() + static_cast<ptrdiff_t>(shift) * m_cols, m_shadow.end(), m_shadow.begin());
      std::fill(m_shadow.end() - static_cast<ptrdiff_t>(shift) * m_cols, m_shadow.end(), VlConCell{' ', kUnknown});
      std::move(m_cells.begin() + static_cast<ptrdiff_t>(shift) * m_cols, m_cells.end(), m_cells.begin());
      std::fill(m_cells.end() - static_cast<ptrdiff_t>(shift) * m_cols, m_cells.end(), VlConCell{' ', 0x07});
    }
  };
  for (size_t i = 0; i < len; ++i) {
    auto b = static_cast<uint8_t>(text[i]);
    if (b == '\n') {
      lineFeed();
      col = 0;
    } else if (b == '\r') {
      col = 0;
    } else if (b == '\b') {
      if (col > 0) --col;
    } else if (b == '\t') {
      col = std::min<int>((col / 8 + 1) * 8, m_termCols - 1);
    } else if (b >= 32 && (b < 0x80 || (b & 0xC0) == 0xC0)) {  // one cell per character
      if (col >= m_termCols) {
        lineFeed();
        col = 0;
      }
      if (row < m_rows && col < m_cols) {
        cell(row, col) = VlConCell{static_cast<uint16_t>(b < 0x80 ? b : '?'), 0x07};
        shown(row, col) = VlConCell{' ', kUnknown};
      }
      ++col;
    }
  }
  if (col >= m_termCols) col = m_termCols - 1;
  m_curRow = static_cast<int16_t>(std::min<int>(row, m_rows - 1));
  m_curCol = static_cast<int16_t>(std::min<int>(col, m_cols - 1));
  m_termRow = m_termCol = -1;
  m_termAttr = -1;
}

void TtyConsole::close() {
  m_curVisible = true;
  m_curSize = 25;
  placeCursor();
  // The shell goes on at the start of a line.
  if (m_termCol > 0) m_outBuf += "\r\n";
  m_outBuf += m_caps.sgr0 + m_caps.rmkx + m_caps.cnorm;
  flushOut();
  if (m_haveModes) tcsetattr(m_in, TCSADRAIN, &m_savedModes);
  vl_sysconDisarmRestore();
}

}  // namespace

VlSysCon* vl_sysconOpenTerminal(int hIn, int hOut) {
  VlTermCaps caps;
  if (!vl_tinfoLoad(hOut, &caps)) return nullptr;
  auto* con = new TtyConsole(hIn, hOut, caps);
  con->start();
  return con;
}

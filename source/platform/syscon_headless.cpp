// The headless back end: standard output is not a terminal (a pipe, a file, a build log), so
// the screen is an in-memory 25 x 80 buffer. Every row that scrolls off its top, and at the end
// every row down to the last non-blank one, goes to standard output as a line without trailing
// blanks, in UTF-8: the log reads as what a user would have seen. Keys are the bytes of
// standard input; once it has ended, no key can ever come.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "syscon_int.h"
#include "syscon_tinfo.h"

namespace {

class HeadlessConsole;
HeadlessConsole* s_active;  // for the last rows when the process dies

// Writes one row as a line; no allocation, so that it can run in a signal handler.
void emitRow(int fd, const VlConCell* row, int cols) {
  int len = cols;
  while (len > 0 && (row[len - 1].ch & 0xFF) == ' ') --len;
  while (len > 0 && (row[len - 1].ch & 0xFF) == 0) --len;  // a never-written cell is a blank
  char buf[1024];
  size_t n = 0;
  for (int c = 0; c < len; ++c) {
    if (n + 4 > sizeof buf) {
      vl_sysconWriteAll(fd, buf, n);
      n = 0;
    }
    n += static_cast<size_t>(vl_cp437ToUtf8(static_cast<uint8_t>(row[c].ch), buf + n));
  }
  buf[n++] = '\n';
  vl_sysconWriteAll(fd, buf, n);
}

class HeadlessConsole : public VlSysCon {
 public:
  HeadlessConsole(int hIn, int hOut) : m_in(hIn), m_out(hOut) {}

  void start() {
    m_cells.assign(static_cast<size_t>(m_rows) * m_cols, VlConCell{' ', 0x07});
    bool utf8 = vl_sysconLocaleIsUtf8();
    bool inTty = ::isatty(m_in);
    m_input.open(m_in, !inTty, utf8);
    VlTermCaps caps;
    vl_tinfoLoad(m_out, &caps);  // only for the key sequences a terminal on standard input sends
    m_input.decoder().setBackspace(static_cast<uint8_t>(vl_tinfoKeys(&m_input.decoder())));
    VlConRestore r;
    if (inTty && tcgetattr(m_in, &m_saved) == 0) {
      // Keys one at a time and without echo; Ctrl+C still interrupts.
      m_haveModes = true;
      termios t = m_saved;
      t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      t.c_cc[VMIN] = 0;
      t.c_cc[VTIME] = 0;
      tcsetattr(m_in, TCSADRAIN, &t);
      r.fd = m_in;
      r.modes = m_saved;
    }
    s_active = this;
    r.flush = [] {
      if (s_active) s_active->emitScreen();
    };
    vl_sysconArmRestore(r);
  }

  bool info(VlConInfo* out) override {
    out->width = m_cols;
    out->height = m_rows;
    out->cursorRow = m_curRow;
    out->cursorCol = m_curCol;
    out->window = VlConRect{0, 0, static_cast<int16_t>(m_rows - 1), static_cast<int16_t>(m_cols - 1)};
    out->maxRows = m_rows;
    out->maxCols = m_cols;
    return true;
  }

  bool setBufferSize(int16_t rows, int16_t cols) override {
    if (rows <= 0 || cols <= 0) return false;
    std::vector<VlConCell> cells(static_cast<size_t>(rows) * cols, VlConCell{' ', 0x07});
    for (int r = 0; r < std::min(rows, m_rows); ++r)
      for (int c = 0; c < std::min(cols, m_cols); ++c)
        cells[static_cast<size_t>(r) * cols + c] = m_cells[static_cast<size_t>(r) * m_cols + c];
    m_cells.swap(cells);
    m_rows = rows;
    m_cols = cols;
    return true;
  }

  bool setWindow(const VlConRect&) override { return true; }

  bool readOutput(VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) override {
    if (!clip(region, bufRows, bufCols)) return false;
    for (int r = region->top; r <= region->bottom; ++r)
      for (int c = region->left; c <= region->right; ++c)
        cells[static_cast<size_t>(r) * bufCols + c] = m_cells[static_cast<size_t>(r) * m_cols + c];
    return true;
  }

  bool writeOutput(const VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) override {
    if (!clip(region, bufRows, bufCols)) return false;
    for (int r = region->top; r <= region->bottom; ++r)
      for (int c = region->left; c <= region->right; ++c)
        m_cells[static_cast<size_t>(r) * m_cols + c] = cells[static_cast<size_t>(r) * bufCols + c];
    return true;
  }

  void setCursorInfo(bool, int) override {}
  void setCursorPos(int16_t row, int16_t col) override {
    if (row >= 0 && col >= 0 && row < m_rows && col < m_cols) {
      m_curRow = row;
      m_curCol = col;
    }
  }
  uint32_t getMode() override { return m_mode; }
  void setMode(uint32_t mode) override { m_mode = mode; }
  int pendingInput() override { return m_input.pump(); }
  int readInput(VlConInput* records, int max) override { return m_input.read(records, max); }
  bool inputEnded() override { return m_input.ended(); }

  void scrolledOff(const VlConCell* rows, int16_t count, int16_t cols) override {
    // When the whole screen goes, the blank rows below its last text are not lines of output.
    if (count >= m_rows) count = static_cast<int16_t>(lastTextRow(rows, count, cols) + 1);
    for (int i = 0; i < count; ++i) emitRow(m_out, rows + static_cast<size_t>(i) * cols, cols);
  }

  void close() override {
    vl_sysconDisarmRestore();
    emitScreen();
    if (m_haveModes) tcsetattr(m_in, TCSADRAIN, &m_saved);
    s_active = nullptr;
  }

  // Rows down to the last one that is not blank.
  void emitScreen() {
    int last = lastTextRow(m_cells.data(), m_rows, m_cols);
    for (int r = 0; r <= last; ++r) emitRow(m_out, &m_cells[static_cast<size_t>(r) * m_cols], m_cols);
  }

  static int lastTextRow(const VlConCell* cells, int rows, int cols) {
    int last = -1;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        uint16_t ch = cells[static_cast<size_t>(r) * cols + c].ch & 0xFF;
        if (ch != ' ' && ch != 0) {
          last = r;
          break;
        }
      }
    return last;
  }

 private:
  bool clip(VlConRect* region, int16_t bufRows, int16_t bufCols) const {
    region->top = std::max<int16_t>(region->top, 0);
    region->left = std::max<int16_t>(region->left, 0);
    region->bottom = std::min<int16_t>(region->bottom, static_cast<int16_t>(std::min(m_rows, bufRows) - 1));
    region->right = std::min<int16_t>(region->right, static_cast<int16_t>(std::min(m_cols, bufCols) - 1));
    return region->top <= region->bottom && region->left <= region->right;
  }

  int m_in, m_out;
  int16_t m_rows = 25, m_cols = 80;
  std::vector<VlConCell> m_cells;
  int16_t m_curRow = 0, m_curCol = 0;
  uint32_t m_mode = 0;
  VlConInputStream m_input;
  termios m_saved{};
  bool m_haveModes = false;
};

}  // namespace

VlSysCon* vl_sysconOpenHeadless(int hIn, int hOut) {
  auto* con = new HeadlessConsole(hIn, hOut);
  con->start();
  return con;
}

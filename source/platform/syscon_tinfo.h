// What the terminal back end needs from the terminal database: the output strings it sends and
// the key sequences the terminal sends. The database's own header is kept out of every other
// file (it defines macros with common names).
#pragma once

#include <string>

class VlKeyDecoder;

struct VlTermCaps {
  bool loaded = false;
  int colors = 0;
  bool autoMargins = false;  // writing the last column wraps
  bool eatNewline = false;   // ...but only when the next character arrives
  std::string sgr0, bold, blink, civis, cnorm, cvvis, clear, smkx, rmkx, ind, el;
  std::string cursorQuery;   // asks the terminal where its cursor is
  std::string cursorReport;  // the format of the answer (parameters: row, column)
  bool hasCup = false;

  std::string cup(int row, int col) const;
  std::string setaf(int color) const;
  std::string setab(int color) const;
  std::string indn(int n) const;  // empty when the terminal has no such capability
  // Reads a cursor report "row;col" answer from bytes; true and 0-based values when it is one.
  bool parseCursorReport(const std::string& bytes, size_t* used, int* row, int* col) const;
};

// Loads the entry of $TERM (once per process); false when there is none or it cannot move
// the cursor.
bool vl_tinfoLoad(int fd, VlTermCaps* caps);
// Adds the key sequences of the entry to the decoder; returns the Backspace byte.
int vl_tinfoKeys(VlKeyDecoder* keys);

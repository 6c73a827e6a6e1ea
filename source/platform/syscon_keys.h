// Turns the bytes a terminal (or a pipe) sends into key records: control bytes, Alt as an
// ESC prefix, UTF-8 characters (converted to code page 437) and the key sequences of a table
// that the terminal back end fills from the terminal database. Sequences nobody knows are
// dropped whole, never read as other keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "syscon.h"

class VlKeyDecoder {
 public:
  // How long a lone ESC (or an incomplete sequence) waits for the rest before it stands alone.
  static constexpr uint64_t ESCAPE_DELAY_MS = 40;

  // A sequence the terminal sends for a key: virtual key, modifier state and character.
  void addSequence(const std::string& seq, uint16_t vk, uint32_t state, uint8_t ch = 0);
  // The byte the terminal sends for Backspace (8 or 127; 127 is Backspace in any case).
  void setBackspace(uint8_t byte) { m_backspace = byte; }
  // Line input (a pipe or a file): a line feed is Enter and a CR LF pair one Enter.
  void setLineInput(bool on) { m_lineInput = on; }
  // Bytes from 128 up are UTF-8 (else code page 437 as they are).
  void setUtf8(bool on) { m_utf8 = on; }

  void feed(const uint8_t* bytes, size_t n, uint64_t nowMs);
  // Decodes what is complete into out (at most max records). An incomplete sequence waits for
  // more bytes until ESCAPE_DELAY_MS after it started, or is settled at once when `final`
  // (no more bytes can come).
  int decode(VlConInput* out, int max, uint64_t nowMs, bool final);
  bool hasPending() const { return m_pos < m_buf.size(); }
  size_t tableSize() const { return m_table.size(); }

 private:
  struct Entry {
    std::string seq;
    uint16_t vk;
    uint32_t state;
    uint8_t ch;
  };
  enum class Match { None, Partial, Full };
  // Looks for a table sequence at the start of [p, p + n): a full match sets *entry.
  Match matchTable(const uint8_t* p, size_t n, const Entry** entry) const;
  // Decodes one key at [p, p + n) into rec; returns the bytes used, 0 when more bytes are
  // needed, and sets *drop when the bytes are to be thrown away.
  size_t decodeOne(const uint8_t* p, size_t n, bool settle, VlConInput* rec, bool* drop) const;
  size_t decodePlain(const uint8_t* p, size_t n, bool settle, VlConInput* rec, bool* drop) const;

  std::vector<Entry> m_table;
  std::vector<uint8_t> m_buf;
  size_t m_pos = 0;
  uint64_t m_since = 0;  // when the byte at m_pos arrived
  uint8_t m_backspace = 127;
  bool m_lineInput = false;
  bool m_utf8 = true;
  bool m_lastWasCr = false;
};

// A key-down record.
VlConInput vl_keyRecord(uint16_t vk, uint8_t ch, uint32_t state);

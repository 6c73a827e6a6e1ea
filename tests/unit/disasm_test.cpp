// The disassembler: a sample procedure, and damaged code printed as such without reading past
// the buffer (the buffers are exact-size heap blocks, so the sanitizer sees any over-read).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asm.h"
#include "vm/disasm.h"
#include "vm/pcodes.h"

namespace {

std::string listing(const std::vector<uint8_t>& bytes, std::vector<const char*> names = {}) {
  // An exact-size copy: one byte too many read is a heap overflow.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  return vl_pcodeDisassemble(exact.get(), bytes.size(), names.data(), names.size());
}

TEST(Disassembler, SampleProcedure) {
  std::vector<uint8_t> code = vlAssemble(
      "ENTER 1 1\n"
      "LINEBASE 10\n"
      "PUTSYM1 QOUT\nPUTNIL\nPUTSTR1 \"Hi \\\"you\\\"\\n\"\nCALLP1 1\n"
      "loop: LOCALADDINT 2 1\n"
      "LOADLOCAL1 2\nPUTINT16 100\nLT\nIFSO1 loop\n"
      "MAKEBLOCK2 1 2 {\n"
      "  LOADLOCAL1 1\n"
      "  LOADLOCAL1 -1\n"
      "  ADD\n"
      "  BLOCKEXIT\n"
      "}\n"
      "STORELOCAL1 2\n"
      "PUTDOUBLE 1.5 255 1\n"
      "SEQOPEN rec\nPUTINT32 -70000\nSETRESULT\nSEQCLOSE done\n"
      "rec: SEQHANDLER\nDROP\n"
      "done: LINESTEP 4\nPROCEXIT",
      {"MAIN", "QOUT"});
  EXPECT_EQ(listing(code, {"MAIN", "QOUT"}),
            "00000  ENTER             locals 1, params 1\n"
            "00003  LINEBASE          10\n"
            "00006  PUTSYM1           1 (QOUT)\n"
            "00008  PUTNIL\n"
            "00009  PUTSTR1           \"Hi \\\"you\\\"\\x0A\"\n"
            "00021  CALLP1            1\n"
            "00023  LOCALADDINT       local 2, 1\n"
            "00027  LOADLOCAL1        local 2\n"
            "00029  PUTINT16          100\n"
            "00032  LT\n"
            "00033  IFSO1             -> 00023\n"
            "00035  MAKEBLOCK2        size 15, params 1, locals [2]\n"
            "00044    LOADLOCAL1        local 1\n"
            "00046    LOADLOCAL1        local -1\n"
            "00048    ADD\n"
            "00049    BLOCKEXIT\n"
            "00050  STORELOCAL1       local 2\n"
            "00052  PUTDOUBLE         1.5, width 255, decimals 1\n"
            "00063  SEQOPEN           -> 00077\n"
            "00067  PUTINT32          -70000\n"
            "00072  SETRESULT\n"
            "00073  SEQCLOSE          -> 00079\n"
            "00077  SEQHANDLER\n"
            "00078  DROP\n"
            "00079  LINESTEP          4\n"
            "00081  PROCEXIT\n");
}

TEST(Disassembler, UnknownAndTruncatedBytesArePrintedAsSuch) {
  std::vector<uint8_t> code = {VL_P_PUTNIL, 200, 131, VL_P_PUTSYM2, 9, 0, VL_P_PUTINT32, 1, 2};
  EXPECT_EQ(listing(code, {"ONLY"}),
            "00000  PUTNIL\n"
            "00001  <unknown code 200>\n"
            "00002  <unassigned code 131>\n"
            "00003  PUTSYM2           9 (?)\n"
            "00006  PUTINT32 <truncated: 3 bytes left>\n");
  // Every prefix of a sample, and blocks whose size runs past the end.
  std::vector<uint8_t> sample = vlAssemble(
      "PUTSTR2 \"abcdef\"\nMAKEBLOCK1 {\nPUTINT8 1\nBLOCKEXIT\n}\nDBGLOCAL 3 \"name\"\nPUTDOUBLE 2 10 2\n"
      "LOCALSETSTR 1 \"xy\"\nPUTSTRHIDDEN \"h\"\nDBGSTATIC 1 2 \"st\"\nDBGMODULE \"mod\"\nPUTINT64 -1\nENTERWIDE 300 2");
  std::vector<bool> boundary(sample.size() + 1, false);
  for (size_t at = 0; at < sample.size(); at += vl_pcodeLength(&sample[at], sample.size() - at)) boundary[at] = true;
  boundary[sample.size()] = true;
  for (size_t n = 0; n <= sample.size(); ++n) {
    std::string text = listing(std::vector<uint8_t>(sample.begin(), sample.begin() + static_cast<long>(n)));
    EXPECT_EQ(text.find("<truncated") == std::string::npos, static_cast<bool>(boundary[n])) << n << "\n" << text;
  }
  EXPECT_EQ(listing({VL_P_MAKEBLOCK1, 40, VL_P_PUTNIL}), "00000  MAKEBLOCK1 <truncated: 3 bytes left>\n");
  EXPECT_EQ(listing({}), "");
}

}  // namespace

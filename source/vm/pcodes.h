// The p-code instruction table (version 7). This one list feeds the executor's dispatch, the
// disassembler, the code generators and the verifier: add nothing about an instruction elsewhere.
//
// VL_OP(code, NAME, format, pops, pushes)  -- pops/pushes of -1 depend on the operands.
// Operands are little-endian; jump offsets are relative to the jump instruction's first byte;
// string operands carry a length that counts the terminating zero byte.
#pragma once

#include <cstddef>
#include <cstdint>

enum VlOpFmt : uint8_t {
  VL_FMT_NONE,       // code only
  VL_FMT_U1,         // U1 value
  VL_FMT_S1,         // S1 value
  VL_FMT_U2,         // U2 value
  VL_FMT_S2,         // S2 value
  VL_FMT_I4,         // I4 value
  VL_FMT_I8,         // I8 value
  VL_FMT_SYM1,       // U1 symbol index
  VL_FMT_SYM2,       // U2 symbol index
  VL_FMT_LOCAL1,     // S1 local number
  VL_FMT_LOCAL2,     // S2 local number
  VL_FMT_JMP1,       // S1 jump
  VL_FMT_JMP2,       // S2 jump
  VL_FMT_JMP3,       // S3 jump
  VL_FMT_PTR,        // address of a dynamic symbol (macro-compiled code only)
  VL_FMT_STR1,       // U1 length, bytes
  VL_FMT_STR2,       // U2 length, bytes
  VL_FMT_ENTER,      // U1 locals, U1 params
  VL_FMT_ENTERWIDE,  // U2 locals, U1 params
  VL_FMT_LOCALINT,   // U1 local, S2 value
  VL_FMT_LOCALSTR,   // U1 local, U2 length, bytes
  VL_FMT_SYM2U1,     // U2 symbol, U1 value
  VL_FMT_SYM2U2,     // U2 symbol, U2 count
  VL_FMT_DOUBLE,     // F8 value, U1 width, U1 decimals
  VL_FMT_DBGLOCAL,   // U2 index, zero-terminated name
  VL_FMT_DBGMODULE,  // zero-terminated name
  VL_FMT_DBGSTATIC,  // U1 flag, U2 index, zero-terminated name
  VL_FMT_BLOCK1,     // U1 size of the whole instruction, code
  VL_FMT_BLOCK2,     // U2 size of the whole instruction, U2 params, U2 n, n x U2 locals, code
  VL_FMT_RTBLOCK,    // U2 size of the whole instruction, U2 params, code
  VL_FMT_HIDDEN,     // U2 length, U1 flag, U2 stored size, stored bytes
  VL_FMT_LOCALHIDDEN,// U1 local, U2 length, U1 flag, U2 stored size, stored bytes
  VL_FMT_UNASSIGNED, // not an instruction
};

#define VL_PCODE_LIST(VL_OP)                        \
  VL_OP(0, LAND, NONE, 2, 1)                        \
  VL_OP(1, ELEMGET, NONE, 2, 1)                     \
  VL_OP(2, ELEMPUT, NONE, 3, 0)                     \
  VL_OP(3, DIMARRAY, U2, -1, 1)                     \
  VL_OP(4, MAKEARRAY, U2, -1, 1)                    \
  VL_OP(5, EQ, NONE, 2, 1)                          \
  VL_OP(6, BLOCKEXIT, NONE, 1, 0)                   \
  VL_OP(7, PROCEXIT, NONE, 0, 0)                    \
  VL_OP(8, EXACTEQ, NONE, 2, 1)                     \
  VL_OP(9, PUTFALSE, NONE, 0, 1)                    \
  VL_OP(10, LOOPCHECK, NONE, -1, -1)                \
  VL_OP(11, CALLF2, U2, -1, 1)                      \
  VL_OP(12, CALLF1, U1, -1, 1)                      \
  VL_OP(13, ENTER, ENTER, 0, -1)                    \
  VL_OP(14, FUNCADDR, NONE, 1, 1)                   \
  VL_OP(15, GTR, NONE, 2, 1)                        \
  VL_OP(16, GE, NONE, 2, 1)                         \
  VL_OP(17, DECR, NONE, 1, 1)                       \
  VL_OP(18, DIV, NONE, 2, 1)                        \
  VL_OP(19, CALLP2, U2, -1, 0)                      \
  VL_OP(20, CALLP1, U1, -1, 0)                      \
  VL_OP(21, DUP, NONE, 1, 2)                        \
  VL_OP(22, DUP2, NONE, 2, 4)                       \
  VL_OP(23, INCR, NONE, 1, 1)                       \
  VL_OP(24, CONTAINS, NONE, 2, 1)                   \
  VL_OP(25, GOTO1, JMP1, 0, 0)                      \
  VL_OP(26, GOTO2, JMP2, 0, 0)                      \
  VL_OP(27, GOTO3, JMP3, 0, 0)                      \
  VL_OP(28, IFNOT1, JMP1, 1, 0)                     \
  VL_OP(29, IFNOT2, JMP2, 1, 0)                     \
  VL_OP(30, IFNOT3, JMP3, 1, 0)                     \
  VL_OP(31, IFSO1, JMP1, 1, 0)                      \
  VL_OP(32, IFSO2, JMP2, 1, 0)                      \
  VL_OP(33, IFSO3, JMP3, 1, 0)                      \
  VL_OP(34, LE, NONE, 2, 1)                         \
  VL_OP(35, LT, NONE, 2, 1)                         \
  VL_OP(36, SETLINE, U2, 0, 0)                      \
  VL_OP(37, DBGLOCAL, DBGLOCAL, 0, 0)               \
  VL_OP(38, MACSTORE, U1, 2, 0)                     \
  VL_OP(39, MACSTOREALIAS, U1, 3, 0)                \
  VL_OP(40, MACLOAD, U1, 1, 1)                      \
  VL_OP(41, MACLOADARGS, U1, 1, -1)                 \
  VL_OP(42, MACLOADLIST, U1, 1, -1)                 \
  VL_OP(43, MACLOADINDEX, U1, 1, -1)                \
  VL_OP(44, MACLOADEXPR, U1, 1, 1)                  \
  VL_OP(45, MACLOADALIAS, U1, 2, 1)                 \
  VL_OP(46, MACSYMBOL, NONE, 1, 1)                  \
  VL_OP(47, MACTEXT, NONE, 1, 1)                    \
  VL_OP(48, PUTMSG, SYM2, 0, 1)                     \
  VL_OP(49, SUB, NONE, 2, 1)                        \
  VL_OP(50, MOD, NONE, 2, 1)                        \
  VL_OP(51, DBGMODULE, DBGMODULE, 0, 0)             \
  VL_OP(52, RTMSG, PTR, 0, 1)                       \
  VL_OP(53, RTSTOREALIASFIELD, PTR, 2, 0)           \
  VL_OP(54, RTSTOREALIASVAR, PTR, 2, 0)             \
  VL_OP(55, RTSTOREFIELD, PTR, 1, 0)                \
  VL_OP(56, RTSTOREMEMVAR, PTR, 1, 0)               \
  VL_OP(57, RTLOADALIASFIELD, PTR, 1, 1)            \
  VL_OP(58, RTLOADALIASVAR, PTR, 1, 1)              \
  VL_OP(59, RTBLOCK, RTBLOCK, 0, 1)                 \
  VL_OP(60, RTLOADFIELD, PTR, 0, 1)                 \
  VL_OP(61, RTLOADMEMVAR, PTR, 0, 1)                \
  VL_OP(62, RTMEMVARREF, PTR, 0, 1)                 \
  VL_OP(63, RTSYMBOL, PTR, 0, 1)                    \
  VL_OP(64, RTLOADVAR, PTR, 0, 1)                   \
  VL_OP(65, MUL, NONE, 2, 1)                        \
  VL_OP(66, NEG, NONE, 1, 1)                        \
  VL_OP(67, NOP, NONE, 0, 0)                        \
  VL_OP(68, LNOT, NONE, 1, 1)                       \
  VL_OP(69, NE, NONE, 2, 1)                         \
  VL_OP(70, LOR, NONE, 2, 1)                        \
  VL_OP(71, PARAMPRIVATE, SYM2U1, 0, 0)             \
  VL_OP(72, ADD, NONE, 2, 1)                        \
  VL_OP(73, DROP, NONE, 1, 0)                       \
  VL_OP(74, STOREALIAS, NONE, 1, 0)                 \
  VL_OP(75, STOREALIASFIELD2, SYM2, 2, 0)           \
  VL_OP(76, STOREALIASFIELD1, SYM1, 2, 0)           \
  VL_OP(77, STOREALIASVAR, SYM2, 2, 0)              \
  VL_OP(78, STOREFIELD, SYM2, 1, 0)                 \
  VL_OP(79, STORELOCAL2, LOCAL2, 1, 0)              \
  VL_OP(80, STORELOCAL1, LOCAL1, 1, 0)              \
  VL_OP(81, STOREMEMVAR, SYM2, 1, 0)                \
  VL_OP(82, STORESTATIC, U2, 1, 0)                  \
  VL_OP(83, STOREVAR, SYM2, 1, 0)                   \
  VL_OP(84, POW, NONE, 2, 1)                        \
  VL_OP(85, LOADALIAS, NONE, 0, 1)                  \
  VL_OP(86, LOADALIASFIELD2, SYM2, 1, 1)            \
  VL_OP(87, LOADALIASFIELD1, SYM1, 1, 1)            \
  VL_OP(88, LOADALIASVAR, SYM2, 1, 1)               \
  VL_OP(89, MAKEBLOCK2, BLOCK2, 0, 1)               \
  VL_OP(90, MAKEBLOCK1, BLOCK1, 0, 1)               \
  VL_OP(91, LOADFIELD, SYM2, 0, 1)                  \
  VL_OP(92, PUTINT8, S1, 0, 1)                      \
  VL_OP(93, PUTINT16, S2, 0, 1)                     \
  VL_OP(94, LOADLOCAL2, LOCAL2, 0, 1)               \
  VL_OP(95, LOADLOCAL1, LOCAL1, 0, 1)               \
  VL_OP(96, LOCALREF, LOCAL2, 0, 1)                 \
  VL_OP(97, PUTINT32, I4, 0, 1)                     \
  VL_OP(98, LOADMEMVAR, SYM2, 0, 1)                 \
  VL_OP(99, MEMVARREF, SYM2, 0, 1)                  \
  VL_OP(100, PUTNIL, NONE, 0, 1)                    \
  VL_OP(101, PUTDOUBLE, DOUBLE, 0, 1)               \
  VL_OP(102, LOADSELF, NONE, 0, 1)                  \
  VL_OP(103, LOADSTATIC, U2, 0, 1)                  \
  VL_OP(104, STATICREF, U2, 0, 1)                   \
  VL_OP(105, PUTSTR2, STR2, 0, 1)                   \
  VL_OP(106, PUTSTR1, STR1, 0, 1)                   \
  VL_OP(107, PUTSYM2, SYM2, 0, 1)                   \
  VL_OP(108, PUTSYM1, SYM1, 0, 1)                   \
  VL_OP(109, LOADVAR, SYM2, 0, 1)                   \
  VL_OP(110, SETRESULT, NONE, 1, 0)                 \
  VL_OP(111, SEND2, U2, -1, -1)                     \
  VL_OP(112, SEND1, U1, -1, -1)                     \
  VL_OP(113, SEQOPEN, JMP3, 0, 1)                   \
  VL_OP(114, SEQCLOSE, JMP3, 1, 0)                  \
  VL_OP(115, SEQHANDLER, NONE, 0, 0)                \
  VL_OP(116, STATICBASE, SYM2, 0, 0)                \
  VL_OP(117, STATICCOUNT, SYM2U2, 0, 0)             \
  VL_OP(118, DBGSTATIC, DBGSTATIC, 0, 0)            \
  VL_OP(119, ALIASSWAP, NONE, 2, 1)                 \
  VL_OP(120, PUTTRUE, NONE, 0, 1)                   \
  VL_OP(121, PUTZERO, NONE, 0, 1)                   \
  VL_OP(122, PUTONE, NONE, 0, 1)                    \
  VL_OP(123, MACLISTOPEN, NONE, 0, 1)               \
  VL_OP(124, MACLISTCLOSE, NONE, 1, 0)              \
  VL_OP(125, LOCALADDINT, LOCALINT, 0, 0)           \
  VL_OP(126, LOCALSETINT, LOCALINT, 0, 0)           \
  VL_OP(127, LOCALSETSTR, LOCALSTR, 0, 0)           \
  VL_OP(128, ADDINT16, S2, 1, 1)                    \
  VL_OP(129, STRLEFT, U2, 1, 1)                     \
  VL_OP(130, STRRIGHT, U2, 1, 1)                    \
  VL_OP(131, UNASSIGNED131, UNASSIGNED, 0, 0)       \
  VL_OP(132, RTSTRING, STR2, 0, 1)                  \
  VL_OP(133, LINEBASE, U2, 0, 0)                    \
  VL_OP(134, LINESTEP, U1, 0, 0)                    \
  VL_OP(135, WITHOPEN, NONE, 1, 0)                  \
  VL_OP(136, WITHSEND2, U2, -1, -1)                 \
  VL_OP(137, WITHSEND1, U1, -1, -1)                 \
  VL_OP(138, WITHCLOSE, NONE, 0, 0)                 \
  VL_OP(139, EACHOPEN, NONE, 2, 0)                  \
  VL_OP(140, EACHSTEP, NONE, 0, 1)                  \
  VL_OP(141, EACHCLOSE, NONE, 0, 0)                 \
  VL_OP(142, LOADGLOBAL, U1, 0, 1)                  \
  VL_OP(143, STOREGLOBAL, U1, 1, 0)                 \
  VL_OP(144, GLOBALREF, U1, 0, 1)                   \
  VL_OP(145, EACHINDEX, NONE, 0, 1)                 \
  VL_OP(146, CASEVALUE, I4, 0, 1)                   \
  VL_OP(147, REGEXFULL, NONE, 2, 1)                 \
  VL_OP(148, REGEXFIND, NONE, 2, 1)                 \
  VL_OP(149, MACREF, NONE, 1, 1)                    \
  VL_OP(150, INSTVARREF, NONE, 2, 1)                \
  VL_OP(151, CLASSMODULE, NONE, 1, 0)               \
  VL_OP(152, BAND, NONE, 2, 1)                      \
  VL_OP(153, BOR, NONE, 2, 1)                       \
  VL_OP(154, BXOR, NONE, 2, 1)                      \
  VL_OP(155, SHR, NONE, 2, 1)                       \
  VL_OP(156, SHL, NONE, 2, 1)                       \
  VL_OP(157, ENTERWIDE, ENTERWIDE, 0, -1)           \
  VL_OP(158, LOADWITH, NONE, 0, 1)                  \
  VL_OP(159, PUTINT64, I8, 0, 1)                    \
  VL_OP(160, PUTSTRHIDDEN, HIDDEN, 0, 1)            \
  VL_OP(161, LOCALSETSTRHIDDEN, LOCALHIDDEN, 0, 0)  \
  VL_OP(162, TRYOPEN, JMP3, 0, 1)                   \
  VL_OP(163, TRYCLOSE, JMP3, 1, 0)                  \
  VL_OP(164, TRYHANDLER, JMP3, 0, 0)                \
  VL_OP(165, FINALLYAT, NONE, 0, 0)                 \
  VL_OP(166, FINALLYEXIT, NONE, 0, 0)

enum VlPcode : uint8_t {
#define VL_OP_ENUM(code, name, fmt, pops, pushes) VL_P_##name = code,
  VL_PCODE_LIST(VL_OP_ENUM)
#undef VL_OP_ENUM
};

inline constexpr int VL_PCODE_COUNT = 167;

struct VlOpInfo {
  const char* name;
  VlOpFmt format;
  int8_t pops;
  int8_t pushes;
};

extern const VlOpInfo vl_pcodeInfo[VL_PCODE_COUNT];

// Length of the instruction at p given `avail` bytes from p on; 0 when the instruction is
// unknown, unassigned or does not fit in the bytes available.
size_t vl_pcodeLength(const uint8_t* p, size_t avail);

// Little-endian operand readers.
inline uint16_t vl_pcodeU2(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t vl_pcodeS2(const uint8_t* p) { return static_cast<int16_t>(vl_pcodeU2(p)); }
inline int32_t vl_pcodeS3(const uint8_t* p) {
  int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
  return (v & 0x800000) ? v - 0x1000000 : v;
}
inline int32_t vl_pcodeI4(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
inline int64_t vl_pcodeI8(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}
double vl_pcodeF8(const uint8_t* p);
void* vl_pcodePtr(const uint8_t* p);

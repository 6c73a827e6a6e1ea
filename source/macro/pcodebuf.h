// A growing p-code buffer with little-endian operand writers and jump patching.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "vm/pcodes.h"

class VlPcodeBuf {
 public:
  std::vector<uint8_t> code;

  size_t size() const { return code.size(); }
  void op(VlPcode p) { code.push_back(static_cast<uint8_t>(p)); }
  void u1(unsigned v) { code.push_back(static_cast<uint8_t>(v)); }
  void u2(unsigned v) {
    code.push_back(static_cast<uint8_t>(v));
    code.push_back(static_cast<uint8_t>(v >> 8));
  }
  void s3(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    code.push_back(static_cast<uint8_t>(u));
    code.push_back(static_cast<uint8_t>(u >> 8));
    code.push_back(static_cast<uint8_t>(u >> 16));
  }
  void i4(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  void i8(int64_t v) {
    uint64_t u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) code.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  void f8(double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    i8(static_cast<int64_t>(u));
  }
  void ptr(const void* p) { i8(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p))); }
  void bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    code.insert(code.end(), b, b + n);
  }
  void append(const VlPcodeBuf& other) { code.insert(code.end(), other.code.begin(), other.code.end()); }

  void putU2At(size_t at, unsigned v) {
    code[at] = static_cast<uint8_t>(v);
    code[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void putS3At(size_t at, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    code[at] = static_cast<uint8_t>(u);
    code[at + 1] = static_cast<uint8_t>(u >> 8);
    code[at + 2] = static_cast<uint8_t>(u >> 16);
  }
};

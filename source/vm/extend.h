// The extend interface: how native functions see their call. Parameter -1 is the return value,
// 0 is self, 1..count the arguments. References are read through; for an array argument the
// getters take a 1-based element number as a second argument.
#pragma once

#include <cstddef>
#include <cstdint>

#include "errapi.h"
#include "item.h"
#include "stack.h"
#include "symbols.h"

VlItem* vl_param(int n, VlType mask);
VlItem* vl_paramError(int n);
int vl_pcount();
VlType vl_parinfo(int n);
uint32_t vl_parinfa(int n, uint32_t index);
bool vl_extIsArray(int n);
bool vl_extIsNil(int n);
bool vl_extIsByRef(int n);

const char* vl_parc(int n, uint32_t index = 0);
const char* vl_parcx(int n, uint32_t index = 0);
size_t vl_parclen(int n, uint32_t index = 0);
size_t vl_parcsiz(int n, uint32_t index = 0);
const char* vl_pards(int n, uint32_t index = 0);
char* vl_pardsbuff(char* buffer9, int n, uint32_t index = 0);
int32_t vl_pardl(int n, uint32_t index = 0);
bool vl_parl(int n, uint32_t index = 0);
double vl_parnd(int n, uint32_t index = 0);
int32_t vl_parni(int n, uint32_t index = 0);
long vl_parnl(int n, uint32_t index = 0);
int64_t vl_parnll(int n, uint32_t index = 0);
int64_t vl_parnint(int n, uint32_t index = 0);
void* vl_parptr(int n, uint32_t index = 0);

void vl_ret();
void vl_retc(const char* text);
void vl_retclen(const char* text, size_t len);
void vl_retc_buffer(char* buffer, size_t len);  // takes ownership of len + 1 bytes
void vl_retds(const char* yyyymmdd);
void vl_retd(int year, int month, int day);
void vl_retdl(int32_t julian);
void vl_retl(bool v);
void vl_retnd(double v);
void vl_retni(int32_t v);
void vl_retnl(long v);
void vl_retnll(int64_t v);
void vl_retnint(int64_t v);
void vl_retnlen(double v, int width, int decimals);
void vl_retndlen(double v, int width, int decimals);
void vl_retnilen(int32_t v, int width);
void vl_retnllen(int64_t v, int width);
void vl_retnintlen(int64_t v, int width);
void vl_retptr(void* ptr);
void vl_retptrGC(void* ptr);
void vl_reta(uint32_t len);

bool vl_storc(const char* text, int n, uint32_t index = 0);
bool vl_storclen(const char* text, size_t len, int n, uint32_t index = 0);
bool vl_storclen_buffer(char* buffer, size_t len, int n, uint32_t index = 0);
bool vl_stords(const char* yyyymmdd, int n, uint32_t index = 0);
bool vl_stordl(int32_t julian, int n, uint32_t index = 0);
bool vl_storl(bool v, int n, uint32_t index = 0);
bool vl_storni(int32_t v, int n, uint32_t index = 0);
bool vl_stornl(long v, int n, uint32_t index = 0);
bool vl_stornd(double v, int n, uint32_t index = 0);
bool vl_stornll(int64_t v, int n, uint32_t index = 0);
bool vl_stornint(int64_t v, int n, uint32_t index = 0);
bool vl_storptr(void* ptr, int n, uint32_t index = 0);
bool vl_storItem(const VlItem* value, int n, uint32_t index = 0);

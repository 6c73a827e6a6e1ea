// The memory manager: every dynamic allocation of the run-time goes through these calls.
// vl_xgrab and vl_xrealloc never return on failure (internal error), so callers don't test them;
// only vl_xalloc lets the caller handle exhaustion.
#pragma once

#include <cstddef>
#include <cstdint>

void* vl_xgrab(size_t size);
void* vl_xalloc(size_t size);
void* vl_xrealloc(void* block, size_t size);
void vl_xfree(void* block);
uint32_t vl_xquery(uint16_t code);
void vl_xinit();
void vl_xexit();

// Copies len bytes into a new zero-terminated block.
char* vl_strndup(const char* text, size_t len);
char* vl_strdup(const char* text);

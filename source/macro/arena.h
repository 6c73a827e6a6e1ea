// The compiler's memory: one bump arena per compilation holds every token name, tree node and
// copied text, so a failed compilation (or a fuzzer's millionth input) frees everything at once.
// Only plain data lives here: nothing allocated in the arena has a destructor.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

class VlArena {
 public:
  VlArena() = default;
  VlArena(const VlArena&) = delete;
  VlArena& operator=(const VlArena&) = delete;
  ~VlArena() { release(); }

  void* alloc(size_t size) {
    size = (size + 15) & ~static_cast<size_t>(15);
    if (!m_chunk || m_used + size > m_chunk->size) grow(size);
    void* p = m_chunk->data() + m_used;
    m_used += size;
    return p;
  }

  template <typename T>
  T* make() {
    return new (alloc(sizeof(T))) T();
  }

  // A zero-terminated copy of len bytes.
  char* copy(const char* text, size_t len) {
    char* p = static_cast<char*>(alloc(len + 1));
    if (len) std::memcpy(p, text, len);
    p[len] = '\0';
    return p;
  }

  void release() {
    while (m_chunk) {
      Chunk* prev = m_chunk->prev;
      std::free(m_chunk);
      m_chunk = prev;
    }
    m_used = 0;
  }

 private:
  struct Chunk {
    Chunk* prev;
    size_t size;
    alignas(16) unsigned char bytes[16];
    unsigned char* data() { return bytes; }
  };

  void grow(size_t need) {
    size_t size = need > kChunk ? need : kChunk;
    auto* c = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + size));
    if (!c) throw std::bad_alloc();
    c->prev = m_chunk;
    c->size = size;
    m_chunk = c;
    m_used = 0;
  }

  static constexpr size_t kChunk = 64 * 1024;
  Chunk* m_chunk = nullptr;
  size_t m_used = 0;
};

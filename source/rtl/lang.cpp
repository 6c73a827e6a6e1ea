// The language module registry, the current module and the language-level functions
// VL_LANGMESSAGE and NATIONMSG.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../vm/errint.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "langapi.h"

extern const VlLang vl_langEN;

namespace {

// Constant-initialised, so modules may register from static initialisers in any order.
const VlLang* s_registry[VL_LANG_MAX_MODULES];
const VlLang* s_current;

const char* idOf(const VlLang* lang) { return lang->texts[VL_LANG_ID] ? lang->texts[VL_LANG_ID] : ""; }

}  // namespace

bool vl_langRegister(const VlLang* lang) {
  if (!lang) return false;
  int freeSlot = -1;
  for (int i = 0; i < VL_LANG_MAX_MODULES; ++i) {
    if (s_registry[i] && std::strcmp(idOf(s_registry[i]), idOf(lang)) == 0) {
      if (s_current == s_registry[i]) s_current = lang;
      s_registry[i] = lang;
      return true;
    }
    if (!s_registry[i] && freeSlot < 0) freeSlot = i;
  }
  if (freeSlot < 0) return false;
  s_registry[freeSlot] = lang;
  return true;
}

bool vl_langDeRegister(const char* id) {
  for (auto& slot : s_registry) {
    if (slot && std::strcmp(idOf(slot), id) == 0) {
      if (s_current == slot) s_current = nullptr;
      slot = nullptr;
      return true;
    }
  }
  return false;
}

const VlLang* vl_langFind(const char* id) {
  if (!id) return nullptr;
  for (const VlLang* lang : s_registry)
    if (lang && std::strcmp(idOf(lang), id) == 0) return lang;
  return nullptr;
}

const VlLang* vl_langSelect(const VlLang* lang) {
  if (!lang) vl_errInternal(9000, "invalid language selected", nullptr, nullptr);
  const VlLang* previous = s_current;
  s_current = lang;
  return previous;
}

const char* vl_langSelectID(const char* id) {
  const VlLang* previous = vl_langSelect(vl_langFind(id));
  return previous ? idOf(previous) : nullptr;
}

const char* vl_langID() { return s_current ? idOf(s_current) : nullptr; }

const char* vl_langDGetItem(int index) {
  if (!s_current || index < 0 || index >= VL_LANG_ITEMS) return nullptr;
  return s_current->texts[index];
}

char* vl_langName() {
  char buffer[256];
  auto text = [](int i) {
    const char* t = vl_langDGetItem(i);
    return t ? t : "";
  };
  std::snprintf(buffer, sizeof buffer, "Vellum Language: %s %s (%s)", text(0), text(1), text(2));
  return vl_strdup(buffer);
}

void vl_langSelectInit(const char* id) {
  if (!vl_langFind("EN")) vl_langRegister(&vl_langEN);
  vl_langSelect(vl_langFind(id));
}

const char* vl_langText(int index) {
  if (index < 0 || index >= VL_LANG_ITEMS) return "";
  const char* t = (s_current ? s_current : &vl_langEN)->texts[index];
  return t ? t : "";
}

const char* vl_langDGetErrorDesc(int genCode) {
  if (genCode < 0 || genCode >= VL_LANG_ERRDESC_COUNT) return "";
  return vl_langText(VL_LANG_ERRDESC + genCode);
}

const char* vl_langDGetInternalError(unsigned number) {
  if (number < 9000 || number >= 9000u + VL_LANG_INTERNAL_COUNT) return "";
  return vl_langText(VL_LANG_INTERNAL + static_cast<int>(number - 9000));
}

// VL_LANGMESSAGE(index) -> text of the current module, "" outside 0..117.
VL_FUNC(VL_LANGMESSAGE) {
  const VlItem* p = vl_param(1, VL_IT_NUMERIC);
  int64_t index = p && VL_IS_NUMERIC(p) ? vl_itemGetNLL(p) : -1;
  const char* text = index >= 0 && index < VL_LANG_ITEMS ? vl_langDGetItem(static_cast<int>(index)) : nullptr;
  vl_retc(text ? text : "");
}

// NATIONMSG(n) -> national message n (1..13).
VL_FUNC(NATIONMSG) {
  if (vl_pcount() == 0) {
    vl_retc("Invalid argument");
    return;
  }
  const VlItem* p = vl_param(1, VL_IT_NUMERIC);
  int64_t n = p && VL_IS_NUMERIC(p) ? vl_itemGetNLL(p) : 0;
  const char* text = n >= 1 && n <= 13 ? vl_langDGetItem(VL_LANG_NATMSG - 1 + static_cast<int>(n)) : nullptr;
  vl_retc(text ? text : "");
}

VL_NATIVE_MODULE(lang, VL_FUNCENTRY(VL_LANGMESSAGE), VL_FUNCENTRY(NATIONMSG));

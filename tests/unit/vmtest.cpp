// Helpers for tests of the virtual machine (see vmtest.h).
#include "vmtest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "asm.h"
#include "vm/arrays.h"
#include "vm/classes.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

Val::Val(const Val& o) {
  it.type = VL_IT_NIL;
  vl_itemCopy(&it, &o.it);
}

Val& Val::operator=(const Val& o) {
  if (this != &o) vl_itemCopy(&it, &o.it);
  return *this;
}

Val::~Val() { vl_itemClear(&it); }

Val Val::i(int32_t v) {
  Val r;
  vl_itemPutNI(&r.it, v);
  return r;
}

Val Val::l(int64_t v) {
  Val r;
  vl_itemPutNLL(&r.it, v);
  return r;
}

Val Val::d(double v, int decimals) {
  Val r;
  vl_itemPutNDLen(&r.it, v, 0, decimals);
  return r;
}

Val Val::s(const std::string& text) {
  Val r;
  vl_itemPutCL(&r.it, text.data(), text.size());
  return r;
}

Val Val::memo(const std::string& text) {
  Val r = s(text);
  vl_itemSetCMemo(&r.it);
  return r;
}

Val Val::date(int y, int m, int d) {
  Val r;
  vl_itemPutD(&r.it, y, m, d);
  return r;
}

Val Val::b(bool v) {
  Val r;
  vl_itemPutL(&r.it, v);
  return r;
}

Val Val::arr(const std::vector<Val>& elements) {
  Val r;
  vl_arrayNew(&r.it, static_cast<uint32_t>(elements.size()));
  for (size_t k = 0; k < elements.size(); ++k) vl_arraySet(&r.it, static_cast<uint32_t>(k + 1), &elements[k].it);
  return r;
}

Val Val::from(const VlItem* item) {
  Val r;
  if (item) vl_itemCopy(&r.it, item);
  return r;
}

int32_t Val::ni() const { return vl_itemGetNI(&it); }
std::string Val::text() const { return std::string(vl_itemGetCPtr(&it), vl_itemGetCLen(&it)); }
bool Val::lg() const { return vl_itemGetL(&it); }

std::string describe(const VlItem* v) {
  char buf[160];
  switch (v->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_NIL: return "NIL";
    case VL_IT_INTEGER: std::snprintf(buf, sizeof buf, "int:%d:w%u", v->u.i32, v->n16); return buf;
    case VL_IT_LONG: std::snprintf(buf, sizeof buf, "long:%lld:w%u", static_cast<long long>(v->u.i64), v->n16); return buf;
    case VL_IT_DOUBLE: std::snprintf(buf, sizeof buf, "dbl:%.10g:w%u:d%u", v->u.dbl, v->n16, v->n32); return buf;
    case VL_IT_DATE: {
      char ds[9];
      return std::string("date:") + vl_itemGetDS(v, ds);
    }
    case VL_IT_LOGICAL: return v->u.i32 ? ".T." : ".F.";
    case VL_IT_STRING: {
      std::string text;
      for (uint32_t k = 0; k < v->n32; ++k) {
        unsigned char c = static_cast<unsigned char>(v->u.str.text[k]);
        if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
        else {
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          text += buf;
        }
      }
      std::string out = VL_IS_MEMO(v) ? "memo:\"" : "str:\"";
      out += text;
      out += '"';
      return out;
    }
    case VL_IT_ARRAY:
      if (vl_arrayIsObject(v)) return std::string("object:") + vl_clsName(vl_arrayClass(v));
      return std::string("array[").append(std::to_string(vl_arrayLen(v))).append("]");
    case VL_IT_BLOCK: return "block";
    case VL_IT_HASH: return "hash";
    case VL_IT_SYMBOL: return std::string("symbol:") + v->u.sym.sym->name;
    case VL_IT_POINTER: return "pointer";
    default:
      if (VL_IS_BYREF(v)) return "ref";
      return std::string("type:").append(std::to_string(v->type));
  }
}

namespace {

// Modules live as long as the process: the VM keeps pointers into their symbol tables.
struct OwnedModule {
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> code;
  std::vector<VlPcodeFunc> funcs;
  std::unique_ptr<VlSymbol[]> symbols;
};
std::vector<std::unique_ptr<OwnedModule>>& modules() {
  static std::vector<std::unique_ptr<OwnedModule>> s_modules;
  return s_modules;
}
int s_procCounter;

}  // namespace

std::vector<VlSymbol*> vlModule(const std::vector<std::pair<std::string, std::string>>& procs,
                                const std::vector<std::string>& symbols) {
  auto m = std::make_unique<OwnedModule>();
  for (const auto& p : procs) m->names.push_back(p.first);
  for (const auto& s : symbols) m->names.push_back(s);
  for (const auto& p : procs) m->code.push_back(vlAssemble(p.second, m->names));
  m->funcs.resize(procs.size());
  m->symbols = std::make_unique<VlSymbol[]>(m->names.size());
  for (size_t k = 0; k < m->names.size(); ++k) {
    VlSymbol& s = m->symbols[k];
    s.name = m->names[k].c_str();
    if (k < procs.size()) {
      m->funcs[k] = VlPcodeFunc{m->code[k].data(), m->symbols.get(), nullptr, static_cast<uint32_t>(m->code[k].size())};
      s.scope = VL_FS_PUBLIC | VL_FS_PCODEFUNC;
      s.value.pcodeFunc = &m->funcs[k];
      s.dynsym = VL_SYM_DEFINED;
    } else {
      s.scope = VL_FS_PUBLIC | VL_FS_MESSAGE;
      s.value.func = nullptr;
      s.dynsym = nullptr;
    }
  }
  std::string file = std::string("vmtest_").append(std::to_string(++s_procCounter)).append(".prg");
  vl_vmProcessSymbols(m->symbols.get(), static_cast<uint16_t>(m->names.size()), file.c_str(), VL_PCODE_VERSION);
  std::vector<VlSymbol*> out;
  for (size_t k = 0; k < procs.size(); ++k) out.push_back(&m->symbols[k]);
  modules().push_back(std::move(m));
  return out;
}

VlSymbol* vlProc(const std::string& text, const std::vector<std::string>& symbols) {
  std::string name = std::string("VLT_PROC").append(std::to_string(s_procCounter + 1));
  return vlModule({{name, text}}, symbols)[0];
}

Val vlCall(VlSymbol* proc, const std::vector<Val>& args) {
  int32_t top = vl_stackTopOffset();
  vl_vmPushSymbol(proc);
  vl_vmPushNil();
  for (const Val& a : args) vl_vmPush(&a.it);
  vl_itemClear(&vl_stack.ret);
  vl_vmDo(static_cast<uint16_t>(args.size()));
  EXPECT_EQ(vl_stackTopOffset(), top) << "the call leaves the stack as it found it";
  Val r = Val::from(&vl_stack.ret);
  vl_itemClear(&vl_stack.ret);
  return r;
}

Val vlCallName(const char* name, const std::vector<Val>& args) {
  VlDynSym* d = vl_dynsymFindName(name);
  if (!d) {
    ADD_FAILURE() << "no function " << name;
    return Val();
  }
  return vlCall(d->symbol, args);
}

Val vlSend(const Val& object, const char* message) { return Val::from(vl_objSendMsg(&object.it, message, 0)); }

ErrorCatcher::ErrorCatcher() {
  record_.handler = VlErrorHandler{handle, nullptr, nullptr, nullptr, nullptr};
  record_.owner = this;
  previous_ = vl_errorHandler(&record_.handler);
}

ErrorCatcher::~ErrorCatcher() { vl_errorHandler(previous_); }

VlItem* ErrorCatcher::handle(VlErrorHandler* h) {
  ErrorCatcher* self = reinterpret_cast<Record*>(h)->owner;
  Val error = Val::from(h->error);
  self->lastError = error;
  std::string text = vlSend(error, "SUBSYSTEM").text();
  text.append(" ").append(std::to_string(vlSend(error, "GENCODE").ni())).append("/");
  text.append(std::to_string(vlSend(error, "SUBCODE").ni())).append(" ").append(vlSend(error, "OPERATION").text()).append(" [");
  Val args = vlSend(error, "ARGS");
  for (uint32_t k = 1; k <= vl_arrayLen(&args.it); ++k) {
    if (k > 1) text += ",";
    text += describe(vl_arrayGetItemPtr(&args.it, k));
  }
  text += "]";
  self->errors.push_back(text);
  if (vlSend(error, "CANSUBSTITUTE").lg()) return vl_itemNew(&self->substitute.it);
  vl_vmRequestBreak(&error.it);
  return vl_itemNew(nullptr);
}

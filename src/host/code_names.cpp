// Names for the library's codes, from the library's own tables, so hosts and
// the tool need no private headers.
#include "format/property_codes.h"
#include "frame/result_codes.h"
#include "qdparse_host.h"

namespace {

struct PropertyEntry {
  uint16_t code;
  const char* name;
  const char* layout;
};

constexpr PropertyEntry kProperties[] = {
#define QDH_PROPERTY_ENTRY(code, name, layout) {code, #name, layout},
    QD_PROPERTY_LIST(QDH_PROPERTY_ENTRY)
#undef QDH_PROPERTY_ENTRY
};

const PropertyEntry* FindProperty(uint16_t code) {
  for (const PropertyEntry& e : kProperties) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

}  // namespace

extern "C" {

const char* qdhResultName(uint32_t code) {
  const qd::ResultCodeEntry* e = qd::FindResultCode(code);
  return e != nullptr ? e->name : nullptr;
}

const char* qdhResultText(uint32_t code) {
  const qd::ResultCodeEntry* e = qd::FindResultCode(code);
  return e != nullptr ? e->text : nullptr;
}

const char* qdhPropertyName(uint16_t code) {
  const PropertyEntry* e = FindProperty(code);
  return e != nullptr ? e->name : nullptr;
}

const char* qdhPropertyLayout(uint16_t code) {
  const PropertyEntry* e = FindProperty(code);
  return e != nullptr ? e->layout : nullptr;
}

}  // extern "C"

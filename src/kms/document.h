// An engine document as the C API collects it, and its translation into a Xapian document.
// Stored values are kept as the caller's bytes (GBK) in the document data:
//   repeated { varint name length, name, varint value length, value }
// so that KMS_Get_Field returns exactly what was added, whatever its size.
#ifndef TOMEVA_KMS_DOCUMENT_H_
#define TOMEVA_KMS_DOCUMENT_H_

#include <xapian.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kms/field_registry.h"

namespace tomeva::kms {

struct FieldValue {
  std::string name;   // GBK, as given
  std::string value;  // GBK, as given
  bool stored = false;
  bool indexed = false;
  bool tokenized = false;
};

struct PendingDocument {
  std::vector<FieldValue> fields;
  std::string key;    // empty: no key
  std::string batch;  // empty: visible at once (see batch.h)
};

inline constexpr char kKeyPrefix[] = "Q";

// The term that identifies a document by its key ("Q" + key; long keys are hashed to fit).
std::string KeyTerm(std::string_view key);

// Builds the Xapian document with its key term (the writer adds its batch's term); new field names
// are entered into `registry` (setting `*changed`).
Xapian::Document BuildDocument(const PendingDocument& pending, FieldRegistry* registry,
                               bool* changed);

// The first stored value of `name` in document data: exact name first, then a name equal without
// regard to ASCII case. nullopt when there is none or the data is damaged.
std::optional<std::string> FindStoredField(std::string_view data, std::string_view name);

// Every stored (name, value) of document data, in the order added. False when the data is damaged
// (what was read before the damage is kept).
bool ReadStoredFields(std::string_view data,
                      std::vector<std::pair<std::string, std::string>>* fields);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_DOCUMENT_H_

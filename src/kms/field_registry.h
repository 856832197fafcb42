// Which field names an index knows and the term prefix of each. "content" has no prefix (the
// default field); every other searchable field gets the prefix "Z<n>:" in the order the index first
// saw it. Lower-case content terms never begin with "Z", and the ":" ends the prefix, so prefixes
// cannot be confused with each other or with content terms. The table is kept in the database's
// metadata under kFieldsKey, one line per field: name TAB prefix TAB ("t" tokenised | "w" whole).
//
// Field names are exact at index time ("KeyWords" and "keywords" would be two fields). At query
// time a name matches exactly when the index has that exact name, and otherwise matches every
// field whose name equals it without regard to ASCII case.
#ifndef TOMEVA_KMS_FIELD_REGISTRY_H_
#define TOMEVA_KMS_FIELD_REGISTRY_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kms/terms.h"

namespace tomeva::kms {

inline constexpr char kFieldsKey[] = "tomeva.fields";
// The index's TermScheme as a decimal number. Indexes without it that hold documents were
// written with kCharPositions.
inline constexpr char kTermSchemeKey[] = "tomeva.terms";
inline constexpr char kContentField[] = "content";

struct FieldInfo {
  std::string name;
  std::string prefix;
  bool tokenized = true;
};

class FieldRegistry {
 public:
  FieldRegistry() = default;

  // Reads the metadata text; lines that do not parse are skipped.
  static FieldRegistry Parse(std::string_view text);
  std::string Serialize() const;

  // The field's entry, created on first use. `*added` tells whether the table changed.
  const FieldInfo& Intern(std::string_view name, bool tokenized, bool* added);

  // The fields a query name stands for, as described above. "content" in any case is the
  // unprefixed field even when no document has used it yet. Empty when the name is unknown.
  std::vector<FieldInfo> Resolve(std::string_view name) const;

  // Every field, in the order the index first saw them.
  const std::vector<FieldInfo>& all() const { return fields_; }

  // How the index's text fields are turned into terms.
  TermScheme scheme() const { return scheme_; }
  void set_scheme(TermScheme scheme) { scheme_ = scheme; }

  // The terms of the batches that wait for publication as of the revision the table was read
  // from: a search excludes their documents. Not part of the table's text.
  const std::vector<std::string>& hidden_terms() const { return hidden_terms_; }
  void set_hidden_terms(std::vector<std::string> terms) { hidden_terms_ = std::move(terms); }

 private:
  std::vector<FieldInfo> fields_;
  TermScheme scheme_ = kCurrentTermScheme;
  std::vector<std::string> hidden_terms_;
};

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_FIELD_REGISTRY_H_

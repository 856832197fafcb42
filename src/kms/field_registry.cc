#include "kms/field_registry.h"

#include "base/mbstring.h"

namespace tomeva::kms {

FieldRegistry FieldRegistry::Parse(std::string_view text) {
  FieldRegistry r;
  for (const std::string& line : Split(text, "\n")) {
    std::vector<std::string> parts = Split(line, "\t");
    if (parts.size() != 3 || parts[0].empty()) continue;
    r.fields_.push_back({parts[0], parts[1], parts[2] != "w"});
  }
  return r;
}

std::string FieldRegistry::Serialize() const {
  std::string out;
  for (const FieldInfo& f : fields_) {
    out += f.name + "\t" + f.prefix + "\t" + (f.tokenized ? "t" : "w") + "\n";
  }
  return out;
}

const FieldInfo& FieldRegistry::Intern(std::string_view name, bool tokenized, bool* added) {
  *added = false;
  for (const FieldInfo& f : fields_) {
    if (f.name == name) return f;
  }
  std::string prefix;
  if (name != kContentField) {
    // Numbered after the prefixed fields already present, so a prefix is never reused.
    size_t prefixed = 0;
    for (const FieldInfo& f : fields_) prefixed += f.prefix.empty() ? 0 : 1;
    prefix = "Z" + std::to_string(prefixed + 1) + ":";
  }
  fields_.push_back({std::string(name), prefix, tokenized});
  *added = true;
  return fields_.back();
}

std::vector<FieldInfo> FieldRegistry::Resolve(std::string_view name) const {
  for (const FieldInfo& f : fields_) {
    if (f.name == name) return {f};
  }
  std::vector<FieldInfo> out;
  bool has_content = false;
  for (const FieldInfo& f : fields_) {
    if (EqualsNoCase(f.name, name)) {
      out.push_back(f);
      has_content = has_content || f.prefix.empty();
    }
  }
  if (!has_content && EqualsNoCase(name, kContentField)) out.push_back({kContentField, "", true});
  return out;
}

}  // namespace tomeva::kms

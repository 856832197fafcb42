#include "core/records/book_def.h"

#include "base/mbstring.h"

namespace tomeva {
namespace {

std::string LookupTrimmed(const AttributeMap& attributes, const char* name) {
  auto it = attributes.find(name);
  return it == attributes.end() ? std::string() : Trim(it->second);
}

}  // namespace

std::string EscapeRecordValue(std::string_view value) {
  std::string out = ReplaceAll(value, "&", "&amp;");
  out = ReplaceAll(out, "<", "&lt;");
  return ReplaceAll(out, ">", "&gt;");
}

void CBookDef::AddFieldDefinition(const AttributeMap& attributes) {
  auto field = std::make_unique<CFieldDef>();
  field->Init(LookupTrimmed(attributes, "Name"),
              LookupTrimmed(attributes, "Is4Search") == "TRUE" ? 1 : 0,
              LookupTrimmed(attributes, "IsDateSearch") == "TRUE" ? 1 : 0,
              LookupTrimmed(attributes, "Column"), LookupTrimmed(attributes, "ColTag"));
  fields_.push_back(std::move(field));
}

void CBookDef::ClearValues() {
  for (auto& f : fields_) f->SetValue("");
}

std::string CBookDef::BuildRecordXml() const {
  std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n";
  for (const auto& f : fields_) {
    std::string_view value = TrimView(f->GetValue());
    if (f->GetName().empty() || value.empty()) continue;
    xml += '\t';
    xml += '<';
    xml += f->GetName();
    xml += '>';
    xml += EscapeRecordValue(value);
    xml += "</";
    xml += f->GetName();
    xml += ">\n";
  }
  xml += "</record>\n";
  return xml;
}

const std::string& CBookDef::GetValueAt(int position) const {
  static const std::string empty;
  return (position >= 0 && position < kValueCount) ? values_[position] : empty;
}

void CBookDef::SetValueAt(int position, std::string_view value) {
  if (position >= 0 && position < kValueCount) values_[position] = std::string(value);
}

}  // namespace tomeva

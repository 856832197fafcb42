#include "core/records/index_config.h"

#include <cstdio>

#include "base/gbk.h"
#include "base/texts.h"

namespace tomeva {

void CIndexConfig::Set(std::string_view config_path, std::string_view index_directory) {
  SetConfigFile(config_path);
  index_directory_ = std::string(index_directory);
}

int CIndexConfig::SetConfigFile(std::string_view path) {
  config_path_ = std::string(path);
  if (config_path_.empty()) return 0;
  return Reload();
}

int CIndexConfig::Reload() {
  auto doc = std::make_unique<CXmlDocument>();
  if (doc->Load(config_path_)) {
    document_ = std::move(doc);
    return 1;
  }
  config_path_ = document_ ? document_->path() : std::string();
  return 0;
}

int CIndexConfig::LoadDefinitions() {
  if (!document_ && !Reload()) {
    std::printf("%s\n", TextUtf8(kTextConfigMissing));
    std::fflush(stdout);
    return 0;
  }
  for (CXmlNode* book = document_->root().first_child(); book != nullptr;
       book = book->next_sibling()) {
    auto def = std::make_unique<CBookDef>();
    for (CXmlNode* field = book->first_child(); field != nullptr; field = field->next_sibling()) {
      def->AddFieldDefinition(field->attributes());
    }
    books_.push_back(std::move(def));
  }
  return 1;
}

std::string BuildFieldDefinitionText(std::string_view dir, std::string_view name) {
  struct FieldLine {
    const char* name;
    const char* desc_utf8;
    const char* search;
    const char* column;
  };
  static constexpr FieldLine kFields[] = {
      {"FdName", "题名", "TRUE", "title"},       {"FdAuthor", "作者", "TRUE", "author"},
      {"FdContent", "内容", "TRUE", ""},         {"KeyWords", "关键词", "TRUE", "KeyWords"},
      {"FdImgInfo", "附图信息", "FALSE", ""},    {"FdCat", "类别", "TRUE", "f15"},
      {"FdHtmlFile", "html文件", "FALSE", ""},   {"FdLink", "链接信息", "FALSE", ""},
  };
  std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\"?> \r\n";
  text += " <Library><Book Dir=\"";
  text += dir;
  text += "\"  name=\"";
  text += name;
  text += "\"  BookNO=\"ISBN90001-39020-2903\" ver=\"2.0\">\r\n";
  bool first = true;
  for (const FieldLine& f : kFields) {
    if (first) text += '\t';
    first = false;
    text += "<Field Name=\"";
    text += f.name;
    text += "\" Desc=\"";
    text += Utf8ToGbk(f.desc_utf8);
    text += "\" Is4Search=\"";
    text += f.search;
    text += "\" Column=\"";
    text += f.column;
    text += "\" ColTag=\"";
    text += f.column;
    text += "\"/>\r\n";
  }
  text += "</Book>\r\n</Library>";
  return text;
}

}  // namespace tomeva

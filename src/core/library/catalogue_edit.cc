#include "core/library/catalogue_edit.h"

#include <set>

#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/library/catalogue.h"

namespace tomeva {
namespace {

constexpr std::string_view kBooksEnd = "</books>";

}  // namespace

std::string BuildBookLines(std::string_view dir, std::string_view category, std::string_view name) {
  const std::string c(category);
  std::string entry = "<book dir=\"";
  entry += dir;
  entry += "\"  category=\"" + c + "\"   name=\"";
  entry += name;
  entry += "\" ver=\"2.0\"/>\r\n";
  static const char* const kLabels[][2] = {{"FdName", "题名"},
                                           {"FdAuthor", "作者"},
                                           {"KeyWords", "内容摘要"},
                                           {"FdContent", "内容"},
                                           {"FdImgInfo", "附图信息"}};
  for (const auto& label : kLabels) {
    entry += "<Xml2HtmlTags category=\"" + c + "\" xml_tag=\"" + label[0] + "\" html_tag=\"" +
             Utf8ToGbk(label[1]) + "\"/>\r\n";
  }
  return entry;
}

std::string BuildBookEntry(std::string_view dir, int category, std::string_view name) {
  return BuildBookLines(dir, std::to_string(category), name) + std::string(kBooksEnd);
}

std::optional<std::string> AppendBookEntry(std::string_view catalogue, std::string_view dir,
                                           int category, std::string_view name) {
  size_t end = MbFind(catalogue, kBooksEnd);
  if (end == kNpos) return std::nullopt;
  std::string text(catalogue.substr(0, end));
  text += BuildBookEntry(dir, category, name);
  return text;
}

std::optional<std::string> MoveSpecialBookLastText(std::string_view catalogue) {
  constexpr std::string_view kSpecial = "dir=\"99999\"";
  size_t at = MbFind(catalogue, kSpecial);
  if (at == kNpos) return std::nullopt;
  size_t open = MbFindLastChar(catalogue.substr(0, at), '<');
  if (open == kNpos) return std::nullopt;
  size_t close = MbFind(catalogue, "/>", at);
  if (close == kNpos) return std::nullopt;
  size_t after = close + 2;
  size_t end = MbFind(catalogue, kBooksEnd, after);
  if (end == kNpos) return std::nullopt;
  std::string text(catalogue.substr(0, open));
  text += catalogue.substr(after, end - after);
  text += "<book ";
  text += catalogue.substr(at, close - at);
  text += "/>";
  text += kBooksEnd;
  return text;
}

std::string BuildFragmentText(std::string_view dir, std::string_view name) {
  std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<books>\r\n<book dir=\"";
  text += dir;
  text += "\" name=\"";
  text += name;
  text += "\"/>\r\n</books>";
  return text;
}

int ChooseFreeCategory(const CXmlDocument& catalogue) {
  std::set<std::string> taken;
  for (CXmlNode* node = catalogue.root().first_child(); node != nullptr;
       node = node->next_sibling()) {
    if (node->tag() != "book") continue;
    auto it = node->attributes().find("category");
    if (it != node->attributes().end()) taken.insert(it->second);
  }
  // A new book needs a category of its own among those that carry labels, one per book the
  // catalogue can hold.
  for (int c = 1; c <= kMaxCatalogueBooks; ++c) {
    if (!taken.count(std::to_string(c))) return c;
  }
  return kMaxCatalogueBooks + 1;
}

std::vector<std::string> CatalogueBookNames(CXmlDocument& catalogue) {
  std::vector<std::string> raw;
  catalogue.GetAttributeStrings("book", &raw);
  std::vector<std::string> names;
  for (const std::string& text : raw) {
    AttributeMap attributes;
    ParseAttributes(text, &attributes);
    auto it = attributes.find("name");
    if (it != attributes.end() && !it->second.empty()) names.push_back(it->second);
  }
  return names;
}

int CountCatalogueBooks(CXmlDocument& catalogue) {
  std::vector<std::string> raw;
  catalogue.GetAttributeStrings("book", &raw);
  return static_cast<int>(raw.size());
}

}  // namespace tomeva

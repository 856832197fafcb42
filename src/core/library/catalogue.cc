#include "core/library/catalogue.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/library/chapter.h"

namespace tomeva {

int CategoryNumber(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsSpaceByte(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  long long value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

namespace {

// The library's own "product" book, which start-up keeps last in the catalogue.
constexpr std::string_view kSpecialBookDir = "99999";

AttributeMap AttributesOf(const std::string& text) {
  AttributeMap attributes;
  ParseAttributes(text, &attributes);
  return attributes;
}

bool IsSpecialBook(const std::string& text) {
  const AttributeMap attributes = AttributesOf(text);
  auto dir = attributes.find("dir");
  return dir != attributes.end() && dir->second == kSpecialBookDir;
}

}  // namespace

bool Catalogue::LoadCatalogue(std::string_view library_dir) {
  library_dir_ = std::string(library_dir);
  entries_.clear();
  rows_.clear();
  overflow_ = 0;
  document_.root().Clear();
  if (!document_.Load(JoinPath(library_dir_, "bookconfig.xml"), 1)) return false;
  std::vector<std::string> all;
  document_.GetAttributeStrings("book", &all);
  if (static_cast<int>(all.size()) > kMaxCatalogueBooks) {
    overflow_ = static_cast<int>(all.size()) - kMaxCatalogueBooks;
    // The product book is the one every library has; it stays, and a book from the end of the
    // list makes room for it. Start-up keeps it last, so this is the usual case.
    auto kept_end = all.begin() + kMaxCatalogueBooks;
    if (std::none_of(all.begin(), kept_end, IsSpecialBook)) {
      auto special = std::find_if(kept_end, all.end(), IsSpecialBook);
      if (special != all.end()) *(kept_end - 1) = std::move(*special);
    }
    all.resize(kMaxCatalogueBooks);
  }
  for (std::string& text : all) {
    const AttributeMap attributes = AttributesOf(text);
    BookRow row;
    auto dir = attributes.find("dir");
    auto category = attributes.find("category");
    if (dir != attributes.end() && category != attributes.end() && !dir->second.empty() &&
        !category->second.empty()) {
      // A folder that could lead out of the library is never handed out, not even as the
      // text it was written as; the book keeps its category.
      if (IsPlainRelativePath(dir->second)) row.folder = dir->second;
      row.category = category->second;
    }
    entries_.push_back(std::move(text));
    rows_.push_back(std::move(row));
  }
  return true;
}

int Catalogue::FindBookByCategory(int n) const {
  for (size_t k = 0; k < rows_.size(); ++k) {
    if (rows_[k].category.empty()) continue;
    if (CategoryNumber(rows_[k].category) == n) return static_cast<int>(k);
  }
  return -1;
}

std::string Catalogue::BookFolder(int k) const {
  if (k < 1 || k > static_cast<int>(rows_.size())) return std::string();
  const std::string& folder = rows_[k - 1].folder;
  if (!IsPlainRelativePath(folder)) return std::string();
  // "/" throughout, so that the book's paths compare equal however the catalogue wrote them.
  return JoinPath(library_dir_, NormalizeSeparators(folder));
}

std::string Catalogue::BookAttribute(int k, std::string_view attribute) const {
  if (k < 1 || k > static_cast<int>(entries_.size())) return std::string();
  AttributeMap attributes;
  ParseAttributes(entries_[k - 1], &attributes);
  auto it = attributes.find(std::string(attribute));
  return it == attributes.end() ? std::string() : it->second;
}

std::string Catalogue::GetNodePage(int k, const std::vector<int>& path) const {
  const std::string folder = BookFolder(k);
  if (folder.empty()) return JoinPath(library_dir_, "home.htm");
  return tomeva::GetNodePage(library_dir_, folder, path);
}

std::string Catalogue::GetNodePdf(int k, const std::vector<int>& path) const {
  const std::string folder = BookFolder(k);
  return folder.empty() ? std::string() : tomeva::GetNodePdf(folder, path);
}

std::string Catalogue::BookName(int k) const { return BookAttribute(k, "name"); }

std::string Catalogue::OverflowMessage() const {
  if (overflow_ == 0) return std::string();
  const std::string& format = Text(kTextTooManyBooks);
  std::vector<char> buffer(format.size() + 64);
  std::snprintf(buffer.data(), buffer.size(), format.c_str(), book_count() + overflow_,
                kMaxCatalogueBooks, overflow_);
  return buffer.data();
}

}  // namespace tomeva

// The library catalogue bookconfig.xml as the document holds it while the program runs: the
// loaded (scrambled) document, the book entry list and the book table. Book numbers are 1-based
// positions of the `book` elements in the file. Not shared between threads.
#ifndef TOMEVA_CORE_LIBRARY_CATALOGUE_H_
#define TOMEVA_CORE_LIBRARY_CATALOGUE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_document.h"

namespace tomeva {

// Most books a library holds. Category numbers 1..49 are the ones that carry result-page labels,
// and the import gives every new book a category of its own from that range, so a 50th book
// could not be told apart from the others in search results.
inline constexpr int kMaxCatalogueBooks = 49;
// Places of the book-restricted search: the rows of the book list, the per-book results and the
// book checks of a history entry. They count one more than the catalogue holds books because they
// are sized like the book table, whose row 0 no book uses (book numbers start at 1); the last
// place is never a book's.
inline constexpr int kBookPlaces = kMaxCatalogueBooks + 1;

struct BookRow {
  std::string category;  // category text as written ("" when the entry has none)
  // The book's folder inside the library as written (either separator); "" when the entry has none
  // or it is not a plain relative path (see IsPlainRelativePath).
  std::string folder;
};

class Catalogue {
 public:
  // Loads library_dir/bookconfig.xml (scrambled) and fills both lists. A missing or unreadable
  // catalogue leaves both empty and returns false. A catalogue with more than kMaxCatalogueBooks
  // books keeps kMaxCatalogueBooks of them in both lists and records how many were left out (see
  // overflow_count and OverflowMessage); nothing is read or written past the table. The ones
  // left out are taken from the end, but never the product book (dir="99999"): when it is not
  // among the first kMaxCatalogueBooks, it takes the last place (book kMaxCatalogueBooks) and the
  // books from kMaxCatalogueBooks on are left out. Book numbers are positions in these lists.
  bool LoadCatalogue(std::string_view library_dir);

  // 0-based position of the first book whose category text, read as a decimal integer (leading
  // digits, "7a" reads as 7, no digits as 0), equals n; -1 when none does.
  int FindBookByCategory(int n) const;

  // library_dir/<folder> of book k (1-based), with "/" as the separator throughout; "" for a
  // number outside the list or a book entry without a usable folder (empty, or not a plain
  // relative path such as "12" or "books\tang").
  std::string BookFolder(int k) const;

  // The raw attribute text of each `book` element, in file order: entries()[k-1] is book k.
  const std::vector<std::string>& entries() const { return entries_; }
  // rows()[k-1] is book k's category and folder. Always as long as entries(): an entry missing
  // `dir` or `category` gets an empty row, so the books after it keep their own rows.
  const std::vector<BookRow>& rows() const { return rows_; }
  int book_count() const { return static_cast<int>(entries_.size()); }

  // The page and the PDF of a node of book k's table of contents (see chapter.h); the start page
  // and no PDF for a book without a folder.
  std::string GetNodePage(int k, const std::vector<int>& path) const;
  std::string GetNodePdf(int k, const std::vector<int>& path) const;

  // Attribute `name` of book k's entry, "" when missing.
  std::string BookName(int k) const;
  std::string BookAttribute(int k, std::string_view attribute) const;

  // Books of the file that were left out because the table is full; 0 normally.
  int overflow_count() const { return overflow_; }
  // The text to tell the user when books were left out (GBK), "" when none were.
  std::string OverflowMessage() const;

  const std::string& library_dir() const { return library_dir_; }
  CXmlDocument& document() { return document_; }

 private:
  std::string library_dir_;
  CXmlDocument document_;
  std::vector<std::string> entries_;
  std::vector<BookRow> rows_;
  int overflow_ = 0;
};

// Reads a category text as the catalogue compares it: optional white space and sign, then the
// leading decimal digits; 0 when there are none. Saturates instead of overflowing.
int CategoryNumber(std::string_view text);

}  // namespace tomeva

#endif  // TOMEVA_CORE_LIBRARY_CATALOGUE_H_

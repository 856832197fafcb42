// Text edits of the catalogue (the plain, unscrambled text of bookconfig.xml) and of one-book
// fragments. The callers read and write the scrambled files with ReadScrambledFile and
// WriteScrambledFile, which replace a file atomically.
#ifndef TOMEVA_CORE_LIBRARY_CATALOGUE_EDIT_H_
#define TOMEVA_CORE_LIBRARY_CATALOGUE_EDIT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml/xml_document.h"

namespace tomeva {

// A book's lines of the catalogue: the `book` line and the five `Xml2HtmlTags` label lines of its
// category, each ended by CR LF. `name` goes in as it is (the caller escapes it when needed).
std::string BuildBookLines(std::string_view dir, std::string_view category, std::string_view name);

// The entry the import appends for a new book: its lines, followed by "</books>".
std::string BuildBookEntry(std::string_view dir, int category, std::string_view name);

// The catalogue text with the new entry: everything before the first "</books>", then the entry.
// Whatever followed "</books>" is dropped. Nothing (std::nullopt) when the text has no
// "</books>": cutting there would lose the catalogue.
std::optional<std::string> AppendBookEntry(std::string_view catalogue, std::string_view dir,
                                           int category, std::string_view name);

// The catalogue text with the entry whose dir is "99999" moved to the end of the book list (see
// docs/formats/catalogue.md). std::nullopt when there is no such entry or the text around it is
// not complete ("<" before it, "/>" after it, "</books>" after that), so the file is left alone.
std::optional<std::string> MoveSpecialBookLastText(std::string_view catalogue);

// A one-book fragment for the Update folder: declaration, <books>, one `book` with dir and name,
// </books>; lines joined by CR LF, no line end after the last.
std::string BuildFragmentText(std::string_view dir, std::string_view name);

// The smallest category from 1 to 49 that no `book` child of the catalogue's root (tag exactly
// "book") has as its `category` text; 50 when all are taken.
int ChooseFreeCategory(const CXmlDocument& catalogue);

// The `name` of every `book` element anywhere in the catalogue (tag case ignored), empty names
// left out.
std::vector<std::string> CatalogueBookNames(CXmlDocument& catalogue);

// Number of `book` elements of the catalogue, counted as Catalogue::LoadCatalogue counts them.
int CountCatalogueBooks(CXmlDocument& catalogue);

}  // namespace tomeva

#endif  // TOMEVA_CORE_LIBRARY_CATALOGUE_EDIT_H_

// The record pages of the right-hand view, built as strings: the result-page configuration and
// the field labels loaded at start-up, the record table with its rows, the online full-text
// links, the link lists (FdLink) and image lists of a record, the library-mode record page, the
// search-mode record page and the no-result page. Nothing here touches a window; the document
// hands the results to its HTML view.
//
// All texts are GBK. Paths are built with "/". Record values are mark-up (a field's "&lt" becomes
// "<"), but they come with book packages from outside: every generated record page, frame mark-up
// included, and the no-result page pass through FilterMarkup (core/views/markup_filter.h) before
// they are handed out, so no record can bring script, frames or addresses outside the library.
// The row and link builders below give their mark-up unfiltered; the page renderers filter it.
// Bad input never fails: a record that does not parse gives empty field values and so an empty
// table.
#ifndef TOMEVA_CORE_VIEWS_PAGE_RENDER_H_
#define TOMEVA_CORE_VIEWS_PAGE_RENDER_H_

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/library/catalogue.h"
#include "core/xml/xml_document.h"

namespace tomeva {

// Frame mark-up and colours of generated pages (SearchResultConfig.xml).
struct ResultPageConfig {
  std::string style;        // style-sheet text
  std::string bodytop;      // mark-up before the record table
  std::string bodybottom;   // mark-up after it
  std::string bodybkcolor;  // the body's BGCOLOR
};

// Field labels per category number 0..kMaxCatalogueBooks (each book has a category of its own
// among them): (xml_tag, html_tag) in catalogue order.
inline constexpr int kLabelCategories = kMaxCatalogueBooks + 1;
using FieldLabelList = std::vector<std::pair<std::string, std::string>>;
using FieldLabels = std::array<FieldLabelList, kLabelCategories>;

// Online full-text link settings of System.xml.
struct LinkSettings {
  std::string url_base;   // URLBase
  std::string url_base2;  // URLBase2
  std::string user;
  std::string pass;
};

// Fixed mark-up of the record table.
inline constexpr char kTableStart[] =
    "<center><table border='1' cellpadding='10' cellspacing='0' width='90%' height='32' "
    "bordercolorlight='#1941a5' bordercolordark='#1941a5'>";
inline constexpr char kTableEnd[] = "</table></center>";
inline constexpr char kAlternateRowColour[] = "#c4daf1";
// Colours of keywords 0..12 (only the first 13 keywords are painted).
inline constexpr int kPaintedKeywords = 13;
extern const char* const kKeywordColours[19];

// Reads `config_path` (plain XML). In every value "@&lt@" becomes "<" and "@&gt@" ">"; in the
// frame mark-up "@@dir@@" becomes "FILE://" + library_dir + "/". A missing or unreadable file
// gives four empty values.
ResultPageConfig LoadResultPageConfig(std::string_view config_path, std::string_view library_dir);

// The labels of every `Xml2HtmlTags` element of the catalogue whose category reads as 0..49 and
// whose xml_tag and html_tag are non-empty.
FieldLabels LoadFieldLabels(CXmlDocument& catalogue);

// URLBase, URLBase2, user and pass of a loaded System.xml ("" when missing).
LinkSettings ReadLinkSettings(CXmlDocument& system_xml);

// Everything the row builders need besides the record.
struct RenderContext {
  const ResultPageConfig* config = nullptr;
  const FieldLabels* labels = nullptr;
  LinkSettings links;
  std::string library_dir;  // the library folder
  std::string app_dir;      // the application folder (trailing separator)
  bool search_mode = false;
  int record_index = 0;  // 0-based hit number (search mode only)
};

// What every record page of a library is rendered with, loaded once at start-up.
struct PageResources {
  ResultPageConfig config;
  FieldLabels labels;
  LinkSettings links;
  std::string library_dir;
  std::string app_dir;  // trailing separator

  // The context of a library-mode page, or (search_mode) of the page of hit `record_index`. It
  // points into this object, which must outlive it.
  RenderContext Context(bool search_mode, int record_index = 0) const;
};

// The table rows of a record of category `category`: in search mode the hit-number heading
// first, then one row per labelled non-empty field (even label positions coloured), then the
// online PDF and HTML links, each URLBase + URLBase2 + the record's address. The links never
// carry the user name and password (the page is kept in a scratch file any page's script might
// read): CredentialedAddress adds them when the program opens such a link itself. A category
// outside 0..49 has no labels.
std::string BuildRecordRows(CXmlDocument& record, int category, const RenderContext& ctx);

// Appends the row of one field to `page` (nothing for an empty value or the tag "f4"; a picture
// for "f2"; the bare value for an empty tag).
void AppendFieldRow(CXmlDocument& record, std::string* page, std::string_view tag,
                    std::string_view label, std::string_view colour, std::string_view folder);

// Turns the anchor texts of a "*"-separated (anchor, target) list into links. Flags before the
// first "_" of a target: first character "$" = the address is used as it is, second character
// "!" = a new window. Relative addresses are taken in app_dir + book_folder.
void ApplyLinkSpec(std::string* page, std::string_view link_spec, std::string_view book_folder,
                   std::string_view app_dir);

// Replaces the row of the "附图信息" field, a "*"-separated list of (picture, target, caption)
// triples, by one row per picture. Flags anywhere in a target: "$" absolute, "!" new window.
void ExpandImageList(std::string* page, std::string_view book_folder, std::string_view app_dir);

// `text` made safe to stand as text in a page: "&", "<", ">", '"' and "'" become character
// references, a byte that is not GBK becomes "?" (base/gbk.h), every other byte stays. GBK in
// and out (no GBK trail byte is one of those five).
std::string EscapeHtml(std::string_view text);

// `address` as the program opens it when it is a full-text link of BuildRecordRows: when System.xml
// names a user, an address that starts with URLBase + URLBase2 and has URLBase's own scheme
// (http or https), host and port gets "&username=" + user + "&password=" + pass after URLBase,
// as the links used to carry them. Every other address is returned unchanged, so a record's link
// to another site never receives them. Whoever opens a link of a record page outside the view
// (the browser window) calls this first.
std::string CredentialedAddress(const LinkSettings& links, std::string_view address);

// The page shown for a search without hits: string 145 with the advanced-search bar shown,
// else 144, with the query text (at most 100 bytes, cut at a character boundary) in it as text:
// whatever the user typed shows as typed, mark-up characters included.
std::string NoResultPage(bool advanced_bar_shown, std::string_view query_text);

// The page shown instead of the no-result page when index `index_path` could not be searched
// (missing, unreadable or damaged; `reason` as the engine gave it): it names the index and says
// that the search did not run and that browsing the library still works. GBK; both are put in as
// text. A reason that is the result set's kTextIndexServerUnreachable (a station's index server
// out of reach) gives kTextIndexServerPage instead: the index is not damaged, and the next search
// connects again.
std::string IndexFailurePage(std::string_view index_path, std::string_view reason);

// What is wrong with a record file that a record page was asked for.
enum class RecordFileProblem {
  kMissing,  // there is no such file
  kBroken,   // it cannot be read or does not parse
  kPageMissing,  // the page file a record names is missing
};
// The page shown in place of the record table (or the record's page) when the record file or page
// file `path` has `problem`: it names the file (as text) and says that the rest of the library is
// not affected. GBK.
std::string RecordFileProblemPage(RecordFileProblem problem, std::string_view path);

// The hit-number heading of hit `record_index` (0-based).
std::string HitNumberHeading(int record_index);

// What a record page comes to: generated mark-up, or a file (page or PDF) to load.
struct RecordPage {
  bool generated = false;
  std::string html;      // the generated page (generated)
  std::string location;  // the file to navigate to (!generated)
  bool is_pdf = false;   // location ends in ".pdf" and the file exists
};

// `page`, or, when it names a page file that does not exist (not a PDF, which the viewer reports
// itself, nor a web address), the generated page that names the missing file
// (RecordFileProblemPage). A "#" or "?" part of the location is not part of the file name.
RecordPage ReplaceMissingPageFile(RecordPage page);

// The library-mode page of a record file: `FdHtmlFile` names a file in the book folder to load
// (resolved with ResolvePageInside of base/path_guard.h, a "#" or "?" part kept); a name
// that leads out of the book's folder, or that held a byte that was not GBK (NameText of
// core/xml), gives, like a missing file, the generated page that names it
// (RecordFileProblemPage, kPageMissing), never a file elsewhere. Otherwise the record table
// framed by bodytop + "<p></p>" ... bodybottom with its links and image list, filtered.
// `folder` is the book's folder name as the catalogue writes it.
RecordPage RenderBrowseRecord(CXmlDocument& record, int category, std::string_view folder,
                              const RenderContext& ctx);

// The search-mode page of a hit: as above, framed by bodytop + "<weird>" ... "</weird>" +
// bodybottom with the hit-number heading; a named file is looked for in the folder part between
// the folder text's first character and its first "\" when the folder text holds one (inside
// that folder as above; inside the library folder when that part is empty).
RecordPage RenderSearchRecord(CXmlDocument& record, int category, std::string_view folder,
                              const RenderContext& ctx);

// The folder used for a hit's named file (see RenderSearchRecord).
std::string SearchHitFolder(std::string_view folder);

}  // namespace tomeva

#endif  // TOMEVA_CORE_VIEWS_PAGE_RENDER_H_

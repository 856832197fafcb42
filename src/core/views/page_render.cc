#include "core/views/page_render.h"

#include <cstdio>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/path_guard.h"
#include "base/texts.h"
#include "core/library/catalogue.h"
#include "core/settings/settings.h"
#include "core/views/markup_filter.h"

namespace tomeva {

const char* const kKeywordColours[19] = {
    "blue",      "blue",    "blue",      "blue",       "blue",     "blue",       "orange",
    "blue",      "green",   "red",       "purple",     "yellow",   "darkorange", "darkblue",
    "darkgreen", "darkred", "lightblue", "lightgreen", "lightgrey"};

namespace {

// The label of the field that carries an image list, and the label of each picture row.
const std::string& ImageListLabel() {
  static const std::string label = Utf8ToGbk("附图信息");
  return label;
}
const std::string& PictureLabel() {
  static const std::string label = Utf8ToGbk("图片");
  return label;
}

// The cell AppendFieldRow writes for the image-list field's label.
std::string ImageListCell() {
  return "<td width='20%'><font size=2><strong>" + ImageListLabel() +
         "</strong></font></td><td width='70%'>";
}

std::string Unstar(std::string_view text) { return ReplaceAll(text, "&st;", "*"); }

// Fills the single "%s" of a fixed text.
std::string FormatOne(const std::string& format, std::string_view value) {
  size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + std::string(value) + format.substr(at + 2);
}

// Fills the two "%s" of a fixed text. Both are found in the text itself, so a "%s" inside the
// first value is never taken for the second place.
std::string FormatTwo(const std::string& format, std::string_view first, std::string_view second) {
  const size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + std::string(first) + FormatOne(format.substr(at + 2), second);
}

bool EndsWithPdf(std::string_view path) {
  return path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".pdf");
}

}  // namespace

ResultPageConfig LoadResultPageConfig(std::string_view config_path, std::string_view library_dir) {
  ResultPageConfig config;
  CXmlDocument doc;
  if (doc.Load(config_path) != 1) return config;
  auto read = [&doc](const char* name) {
    std::string value = doc.GetText(name);
    value = ReplaceAll(value, "@&lt@", "<");
    return ReplaceAll(value, "@&gt@", ">");
  };
  config.style = read("style");
  config.bodytop = read("bodytop");
  config.bodybottom = read("bodybottom");
  config.bodybkcolor = read("bodybkcolor");
  const std::string dir = "FILE://" + std::string(library_dir) + "/";
  config.bodytop = ReplaceAll(config.bodytop, "@@dir@@", dir);
  config.bodybottom = ReplaceAll(config.bodybottom, "@@dir@@", dir);
  return config;
}

FieldLabels LoadFieldLabels(CXmlDocument& catalogue) {
  FieldLabels labels;
  std::vector<std::string> entries;
  catalogue.GetAttributeStrings("Xml2HtmlTags", &entries);
  for (const std::string& entry : entries) {
    AttributeMap attrs;
    ParseAttributes(entry, &attrs);
    auto get = [&attrs](const char* name) {
      auto it = attrs.find(name);
      return it == attrs.end() ? std::string() : it->second;
    };
    std::string category = get("category");
    std::string xml_tag = get("xml_tag");
    std::string html_tag = get("html_tag");
    if (category.empty() || xml_tag.empty() || html_tag.empty()) continue;
    int c = CategoryNumber(category);
    if (c < 0 || c >= kLabelCategories) continue;
    labels[c].emplace_back(std::move(xml_tag), std::move(html_tag));
  }
  return labels;
}

LinkSettings ReadLinkSettings(CXmlDocument& system_xml) {
  LinkSettings links;
  links.url_base = ReadSettingText(system_xml, "URLBase");
  links.url_base2 = ReadSettingText(system_xml, "URLBase2");
  links.user = ReadSettingText(system_xml, "user");
  links.pass = ReadSettingText(system_xml, "pass");
  return links;
}

RenderContext PageResources::Context(bool search_mode, int record_index) const {
  RenderContext ctx;
  ctx.config = &config;
  ctx.labels = &labels;
  ctx.links = links;
  ctx.library_dir = library_dir;
  ctx.app_dir = app_dir;
  ctx.search_mode = search_mode;
  ctx.record_index = record_index;
  return ctx;
}

std::string HitNumberHeading(int record_index) {
  char number[32];
  std::snprintf(number, sizeof number, "%d. ", record_index + 1);
  return std::string("<p><CENTER><Strong>") + number + "</Strong></CENTER>";
}

std::string BuildRecordRows(CXmlDocument& record, int category, const RenderContext& ctx) {
  std::string rows;
  if (ctx.search_mode) rows = HitNumberHeading(ctx.record_index);
  if (ctx.labels != nullptr && category >= 0 && category < kLabelCategories) {
    int count = 0;
    for (const auto& [xml_tag, html_tag] : (*ctx.labels)[category]) {
      // The colours follow the label list, not the rows that end up shown.
      const char* colour = count % 2 == 0 ? kAlternateRowColour : "";
      AppendFieldRow(record, &rows, xml_tag, html_tag, colour, ctx.library_dir);
      ++count;
    }
  }
  std::string pdf = record.GetText("PDF");
  std::string url1 = record.GetText("URL1");
  if (pdf.empty()) {
    pdf = record.GetText("URL");
  } else {
    url1 = record.GetText("URL");
  }
  // The page carries no user name or password: it is kept in a file and read by whatever script
  // a page brings. CredentialedAddress puts them in when the program itself opens the link.
  const LinkSettings& l = ctx.links;
  auto address = [&l](const std::string& x) { return l.url_base + l.url_base2 + x; };
  if (!pdf.empty()) rows += "<tr><td>" + FormatOne(Text(kTextViewPdf), address(pdf)) + "</td></tr>";
  if (!url1.empty()) {
    rows += "<tr><td>" + FormatOne(Text(kTextViewHtml), address(url1)) + "</td></tr>";
  }
  return rows;
}

void AppendFieldRow(CXmlDocument& record, std::string* page, std::string_view tag,
                    std::string_view label, std::string_view colour, std::string_view folder) {
  std::string value = StripChildElements(record.GetText(tag));
  if (value.empty()) return;
  value = ReplaceAll(value, "\n", "<BR>");
  value = ReplaceAll(value, "&lt", "<");
  value = ReplaceAll(value, "&gt", ">");
  if (tag == "f2") {
    *page += "<image src=\"FILE://" + std::string(folder) + "/" + value + "\"/><br>";
    return;
  }
  if (tag == "f4") return;
  if (tag.empty()) {
    *page += value;
    return;
  }
  *page += colour.empty() ? std::string("<tr>") : "<tr bgcolor=\"" + std::string(colour) + "\">";
  *page += "<td width='20%'><font size=2><strong>" + std::string(label) +
           "</strong></font></td><td width='70%'>" + value + "</td></tr>";
}

void ApplyLinkSpec(std::string* page, std::string_view link_spec, std::string_view book_folder,
                   std::string_view app_dir) {
  const std::string base = std::string(app_dir) + std::string(book_folder);
  std::string rest(link_spec);
  while (true) {
    size_t star = MbFindChar(rest, '*');
    if (star == kNpos) break;
    std::string anchor = Unstar(rest.substr(0, star));
    rest = rest.substr(star + 1);
    size_t next = MbFindChar(rest, '*');
    bool last = next == kNpos;
    std::string target = Unstar(last ? rest : rest.substr(0, next));
    rest = last ? std::string() : rest.substr(next + 1);
    size_t underscore = MbFindChar(target, '_');
    std::string flags = underscore == kNpos ? std::string() : target.substr(0, underscore);
    std::string address = underscore == kNpos ? target : target.substr(underscore + 1);
    // An empty anchor would be found everywhere and never end the scan; it links nothing.
    if (!anchor.empty()) {
      std::string link = "<a href=\"";
      if (flags.empty() || flags[0] != '$') link += base + "/";
      link += address;
      link += (flags.size() > 1 && flags[1] == '!') ? "\" target=_blank>" : "\">";
      link += anchor + "</a>";
      std::string out;
      size_t from = 0;
      for (size_t at = MbFind(*page, anchor); at != kNpos; at = MbFind(*page, anchor, from)) {
        out.append(*page, from, at - from);
        out += link;
        from = at + anchor.size();
      }
      out.append(*page, from, std::string::npos);
      *page = std::move(out);
    }
    if (last) break;
  }
}

void ExpandImageList(std::string* page, std::string_view book_folder, std::string_view app_dir) {
  const std::string cell = ImageListCell();
  size_t at = MbFind(*page, cell);
  if (at == kNpos) return;
  size_t list_start = at + cell.size();
  size_t list_end = MbFind(*page, "</td>", list_start);
  if (list_end == kNpos || list_end == list_start) return;
  const std::string list = page->substr(list_start, list_end - list_start);
  const std::string base = std::string(app_dir) + std::string(book_folder);

  std::string out = page->substr(0, at);
  std::string_view rest = list;
  auto take = [&rest](bool* had_star) {
    size_t star = MbFindChar(rest, '*');
    *had_star = star != kNpos;
    std::string part(rest.substr(0, star));
    rest = *had_star ? rest.substr(star + 1) : std::string_view();
    return part;
  };
  for (int v = 1;; ++v) {
    bool more = false;
    out += "<tr><td width='20%'><font size=2><strong>" + PictureLabel() + std::to_string(v) +
           "</strong></font></td><td width='70%'>";
    std::string file = take(&more);
    std::string target = more ? take(&more) : std::string();
    if (!target.empty()) {
      size_t underscore = MbFindChar(target, '_');
      std::string flags = underscore == kNpos ? std::string() : target.substr(0, underscore);
      std::string address = underscore == kNpos ? target : target.substr(underscore + 1);
      out += "<a href=\"";
      if (flags.find('$') == std::string::npos) out += base + "/";
      out += address;
      out += flags.find('!') != std::string::npos ? "\" target=_blank>" : "\">";
    }
    out += "<img src=\"" + base + "/" + file + "\" border=1>";
    if (!target.empty()) out += "</a>";
    out += "<p>";
    std::string caption = more ? Unstar(take(&more)) : std::string();
    out += caption + "</p></td></tr>";
    if (!more) break;
  }
  const std::string tail = list + "</td></tr>";
  size_t after = MbFind(*page, tail, at);
  if (after != kNpos) out += page->substr(after + tail.size());
  *page = std::move(out);
}

std::string EscapeHtml(std::string_view text) {
  // A byte that is not GBK becomes the stand-in: a lone lead byte at the end of the text would
  // otherwise take the first byte of whatever mark-up follows it into its character.
  std::string repaired;
  if (!IsValidGbk(text)) {
    repaired = ValidGbk(text);
    text = repaired;
  }
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string NoResultPage(bool advanced_bar_shown, std::string_view query_text) {
  // Cut before escaping, so that the cut can never fall inside a character reference.
  std::string_view query = query_text.substr(0, GbkBoundaryAtOrBefore(query_text, 100));
  return FilterMarkup(FormatOne(Text(advanced_bar_shown ? kTextNoResultAdvanced : kTextNoResult),
                                EscapeHtml(query)),
                      {});
}

namespace {

// "scheme://host:port" of an address, "" when it has none.
std::string_view Origin(std::string_view address) {
  const size_t colon = address.find("://");
  if (colon == std::string_view::npos) return {};
  const size_t end = address.find_first_of("/?#\\", colon + 3);
  return address.substr(0, end);
}

}  // namespace

std::string CredentialedAddress(const LinkSettings& links, std::string_view address) {
  if (links.user.empty() || links.url_base.empty()) return std::string(address);
  const std::string prefix = links.url_base + links.url_base2;
  if (!StartsWith(address, prefix)) return std::string(address);
  const std::string_view origin = Origin(links.url_base);
  const std::string scheme = ToLowerAscii(origin.substr(0, origin.find(':')));
  // Only to the full-text server itself, and only where nobody on the way can read them off.
  if (origin.empty() || Origin(address) != origin || (scheme != "http" && scheme != "https"))
    return std::string(address);
  return links.url_base + "&username=" + links.user + "&password=" + links.pass +
         std::string(address.substr(links.url_base.size()));
}

std::string IndexFailurePage(std::string_view index_path, std::string_view reason) {
  // A station whose index server did not answer: its index is not damaged, only out of reach.
  const std::string& unreachable = Text(kTextIndexServerUnreachable);
  const std::string lead = unreachable.substr(0, unreachable.find("%s"));
  if (!lead.empty() && StartsWith(reason, lead)) {
    return FormatOne(Text(kTextIndexServerPage), EscapeHtml(reason));
  }
  return FormatTwo(Text(kTextIndexDamaged), EscapeHtml(index_path), EscapeHtml(reason));
}

std::string RecordFileProblemPage(RecordFileProblem problem, std::string_view path) {
  const TextId text = problem == RecordFileProblem::kMissing     ? kTextRecordFileMissing
                      : problem == RecordFileProblem::kPageMissing ? kTextPageFileMissing
                                                                   : kTextRecordFileBroken;
  return FormatOne(Text(text), EscapeHtml(path));
}

RecordPage ReplaceMissingPageFile(RecordPage page) {
  if (page.generated || page.is_pdf) return page;
  const std::string& location = page.location;
  if (location.find("://") != std::string::npos) return page;
  const std::string file = location.substr(0, location.find_first_of("#?"));
  if (EndsWith(ToLowerAscii(file), ".pdf") || FileExists(file)) return page;
  RecordPage problem;
  problem.generated = true;
  problem.html = RecordFileProblemPage(RecordFileProblem::kPageMissing, file);
  return problem;
}

namespace {

// The framed record table with its links and image list, as both modes generate it.
std::string GeneratedPage(CXmlDocument& record, int category, std::string_view folder,
                          const RenderContext& ctx, std::string_view open_mark,
                          std::string_view close_mark) {
  std::string page = std::string(kTableStart) + BuildRecordRows(record, category, ctx) + kTableEnd;
  const ResultPageConfig empty;
  const ResultPageConfig& config = ctx.config != nullptr ? *ctx.config : empty;
  page =
      config.bodytop + std::string(open_mark) + page + std::string(close_mark) + config.bodybottom;
  std::string link_spec = record.GetText("FdLink");
  if (!link_spec.empty()) ApplyLinkSpec(&page, link_spec, folder, ctx.app_dir);
  ExpandImageList(&page, folder, ctx.app_dir);
  // Last, over the whole page: a record's link list (FdLink) can put a record's text anywhere
  // in it, the frame mark-up included.
  return FilterMarkup(page, {ctx.library_dir, ctx.app_dir});
}

// The page file a record names (its first FdHtmlFile), "" for none. `refused`: the name held a
// byte that was not GBK; the text returned is then only fit to be shown.
std::string NamedFileOf(CXmlDocument& record, bool* refused) {
  *refused = false;
  std::vector<CXmlNode*> nodes;
  record.root().FindNodes("FdHtmlFile", 2, &nodes);
  if (nodes.empty()) return std::string();
  const std::optional<std::string> name = NameText(*nodes.front());
  *refused = !name;
  return StripChildElements(name ? *name : nodes.front()->text());
}

// The location of a record's named file: inside the book's folder, or the page that says it
// cannot be shown (as for a missing one) when the name leads elsewhere or was `refused`.
RecordPage NamedFilePage(std::string_view library_dir, std::string_view folder,
                         const std::string& html, bool refused) {
  RecordPage result;
  const std::string book = JoinPath(library_dir, folder);
  // A hit whose folder text gives no folder names a file of the library itself.
  std::optional<std::string> location;
  if (!refused) location = ResolvePageInside(book, html, folder.empty());
  if (!location) {
    result.generated = true;
    result.html = RecordFileProblemPage(RecordFileProblem::kPageMissing, JoinPath(book, html));
    return result;
  }
  result.location = std::move(*location);
  result.is_pdf = EndsWithPdf(result.location) && FileExists(result.location);
  return result;
}

}  // namespace

RecordPage RenderBrowseRecord(CXmlDocument& record, int category, std::string_view folder,
                              const RenderContext& ctx) {
  RecordPage result;
  bool refused = false;
  const std::string html = NamedFileOf(record, &refused);
  if (html.empty()) {
    result.generated = true;
    result.html = GeneratedPage(record, category, folder, ctx, "<p></p>", "");
    return result;
  }
  return NamedFilePage(ctx.library_dir, folder, html, refused);
}

std::string SearchHitFolder(std::string_view folder) {
  size_t k = MbFindChar(folder, '\\');
  if (k == kNpos) return std::string(folder);
  // Kept as stored pages expect it: the characters after the first, up to the "\".
  if (k <= 1) return std::string();
  return std::string(folder.substr(1, k - 1));
}

RecordPage RenderSearchRecord(CXmlDocument& record, int category, std::string_view folder,
                              const RenderContext& ctx) {
  RecordPage result;
  bool refused = false;
  const std::string html = NamedFileOf(record, &refused);
  if (html.empty()) {
    result.generated = true;
    result.html = GeneratedPage(record, category, folder, ctx, "<weird>", "</weird>");
    return result;
  }
  return NamedFilePage(ctx.library_dir, SearchHitFolder(folder), html, refused);
}

}  // namespace tomeva

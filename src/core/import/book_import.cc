#include "core/import/book_import.h"


#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/engine/engine.h"
#include "core/library/catalogue.h"
#include "core/library/catalogue_edit.h"
#include "core/records/index_config.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"

namespace tomeva {
namespace {

constexpr char kMarkerSuffix[] = ".imported";
constexpr char kClearedPrefix[] = ".cleared-";

// A book's folder may be a sub-folder path ("books\tang"); files about it that sit beside the
// folders of Update/ (its marker, its emptied contents) need one flat name. A "/" cannot be a
// trail byte of a double-byte character, nor can "%", so bytes are replaced one by one.
std::string FlatName(const std::string& dir) {
  const std::string path = NormalizeSeparators(dir);
  if (path.find('/') == std::string::npos) return path;
  std::string flat;
  for (char c : path) {
    if (c == '/') flat += "%2F";
    else if (c == '%') flat += "%25";
    else flat += c;
  }
  return flat;
}

bool SameDir(const std::string& a, const std::string& b) {
  return NormalizeSeparators(a) == NormalizeSeparators(b);
}

// What the installation folder holds of its own: its folders, the settings and catalogue files,
// the pages and help it shows, the files it writes while running, the viewer with its plug-in
// folder, and the program with its companions. A new book in a folder of one of these names would
// write over the installation itself (a book "SearchDB" replaced the index's stub).
constexpr std::string_view kInstallationNames[] = {
    "SearchDB",       "Update",          "viewer",          "help",
    "images",         "plug_ins",        "bookconfig.xml",  "System.xml",
    "ContactInfo.xml", "SearchResultConfig.xml", "version.xml", "home.htm",
    "Tomeva.htm",     "Tomeva.chm",      "publisher.htm",   "sr.htm",
    "temp.xml",       "VazeZududi.api",  "update.pub",      "tomeva",
    "tomeva-help",    "tomeva-browser",  "tomeva-tool",
};

// The components of a path, "\" and "/" both separators, ASCII letters folded to lower case
// (GBK-aware: trail bytes are kept), "." dropped and ".." taken back: books are authored on
// case-insensitive file systems, where "searchdb\" and "SearchDB" are one folder.
std::vector<std::string> FoldedComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  auto end_part = [&] {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (size_t pos = 0; pos < path.size();) {
    const size_t len = GbkCharLen(path, pos);
    const char c = path[pos];
    if (len == 1 && (c == '/' || c == '\\')) {
      end_part();
    } else if (len == 1 && c >= 'A' && c <= 'Z') {
      part += static_cast<char>(c - 'A' + 'a');
    } else {
      part.append(path.substr(pos, len));
    }
    pos += len;
  }
  end_part();
  return parts;
}

// True when one folder is the other or lies inside it.
bool Overlap(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  const size_t n = std::min(a.size(), b.size());
  return n > 0 && std::equal(a.begin(), a.begin() + n, b.begin());
}

// The index folder System.xml names (SearchDataDir, "." rule applied), relative to the
// installation when it lies inside it; empty when it does not or is not named.
std::vector<std::string> IndexFolderInside(const std::string& app_dir) {
  CXmlDocument system_xml;
  if (!system_xml.Load(JoinPath(app_dir, "System.xml"), 0, kSmallFileLimit)) return {};
  const std::string value = Trim(system_xml.GetText("SearchDataDir"));
  if (value.empty()) return {};
  const std::string norm = NormalizeSeparators(value);
  std::string path = norm[0] == '/' ? norm : JoinPath(app_dir, norm);
  // Through links as well: a SearchDataDir spelt by another way to the same folder.
  if (char* real = ::realpath(ResolvePath(path).c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  const std::vector<std::string> app = FoldedComponents(app_dir);
  std::vector<std::string> index = FoldedComponents(path);
  if (index.size() <= app.size() || !std::equal(app.begin(), app.end(), index.begin())) return {};
  index.erase(index.begin(), index.begin() + static_cast<std::ptrdiff_t>(app.size()));
  return index;
}

// The folders a new book may not use: the installation's own and those of the catalogue's books.
class FolderRules {
 public:
  FolderRules(const std::vector<std::string>& index_folder, CXmlDocument& catalogue) {
    for (std::string_view name : kInstallationNames) reserved_.push_back(FoldedComponents(name));
    if (!index_folder.empty()) reserved_.push_back(index_folder);
    std::vector<std::string> raw;
    catalogue.GetAttributeStrings("book", &raw);
    for (const std::string& text : raw) {
      AttributeMap attributes;
      ParseAttributes(text, &attributes);
      std::vector<std::string> dir = FoldedComponents(attributes["dir"]);
      if (!dir.empty()) books_.push_back(std::move(dir));
    }
  }

  // The text that says why `dir` (IsPlainRelativePath) is refused, or 0 when it may be used.
  int Refusal(const std::string& dir) const {
    const std::vector<std::string> folded = FoldedComponents(dir);
    for (const auto& r : reserved_) {
      if (Overlap(folded, r)) return kTextBookDirReserved;
    }
    for (const auto& b : books_) {
      if (Overlap(folded, b)) return kTextBookDirInCatalogue;
    }
    return 0;
  }

 private:
  std::vector<std::vector<std::string>> reserved_;
  std::vector<std::vector<std::string>> books_;
};

// A folder or file name as it may be shown: control bytes would garble the message, and a byte
// that is not GBK the whole text in the window.
std::string Shown(const std::string& text) {
  std::string out = ValidGbk(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// Reads a fragment of Update/ (scrambled, at most kSmallFileLimit). A fragment is part of a
// package: one that is a link is not read, as a link could pass any file of this machine off as
// one. False when it cannot be read or does not parse.
bool LoadFragment(const std::string& path, CXmlDocument* fragment) {
  std::string bytes;
  if (!ReadWholeFileNoFollow(path, &bytes, kSmallFileLimit)) {
    fragment->root().Clear();
    return false;
  }
  return fragment->ParseText(UnscrambleCatalogueText(bytes)) == 1;
}

// What lstat says an entry is; -1 when it cannot be looked at.
int EntryType(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & S_IFMT);
}

// Empties Update/<dir> once its book is committed. The folder is renamed aside in one step and an
// empty one put in its place; the files themselves are deleted later by ClearImportLeftovers,
// away from the import's own time (deleting thousands of files is slow on some disks). When the
// rename is not possible the files are deleted here.
void ClearUpdateFolder(const std::string& app_dir, const std::string& dir) {
  const std::string update = JoinPath(app_dir, "Update");
  const std::string folder = ResolvePath(JoinPath(update, dir));
  if (!DirectoryExists(folder)) {
    // A run stopped between moving the folder aside and putting the empty one in its place.
    MakeDirectories(folder);
    return;
  }
  for (int n = 0; n < 1000; ++n) {
    std::string aside =
        JoinPath(update, kClearedPrefix + FlatName(dir) + (n ? "." + std::to_string(n) : ""));
    if (DirectoryExists(aside) || FileExists(aside)) continue;
    if (RenamePath(folder, aside)) {
      MakeDirectories(folder);
      return;
    }
    break;
  }
  DeleteTree(folder);
}

enum class BookOutcome {
  kImported,   // added to the catalogue by this run
  kCompleted,  // committed by an earlier, interrupted run; its Update folder is now emptied
  kSkipped,    // left alone for good (a different book with that name, a refused folder name)
  kFailed,     // not imported now; the fragment stays so that the next start tries again
  kHidden,     // in the catalogue, but its records are not yet searchable; the next run finishes
};

std::string AbsoluteDir(std::string_view dir) {
  std::string path = ResolvePath(dir.empty() ? std::string_view(".") : dir);
  char* real = ::realpath(path.c_str(), nullptr);
  if (real != nullptr) {
    path = real;
    std::free(real);
  }
  return path;
}

// Forwards to the caller's sink and keeps the messages for the result.
class Reporter {
 public:
  Reporter(ImportStatusSink* sink, ImportResult* result) : sink_(sink), result_(result) {}
  void Status(const std::string& text) {
    if (sink_) sink_->SetStatus(text);
  }
  void Detail(const std::string& text) {
    if (sink_) sink_->SetDetail(text);
  }
  void Problem(std::string message) {
    if (sink_) sink_->Report(message);
    result_->messages.push_back(std::move(message));
  }
  ImportStatusSink* sink() const { return sink_; }

 private:
  ImportStatusSink* sink_;
  ImportResult* result_;
};

// Calls Finished exactly once, also on an early return.
class FinishGuard {
 public:
  FinishGuard(ImportStatusSink* sink, const ImportResult* result) : sink_(sink), result_(result) {}
  ~FinishGuard() {
    if (sink_) sink_->Finished(*result_);
  }

 private:
  ImportStatusSink* sink_;
  const ImportResult* result_;
};

// Fills a record carrier from one record file of the Update folder. Returns false when the record
// must be left out (no file path can be given to it).
bool ReadRecord(CXmlDocument& doc, bool newer_format, const std::string& app_dir,
                const std::string& dir, const std::string& name, const FolderRules& rules,
                const std::string& file_name, int category, CBookDef* carrier,
                std::string* record_dir, Reporter* reporter) {
  std::string f15;
  bool has_f15 = false;
  const CXmlNode* page_file = nullptr;  // the last FdHtmlFile
  for (CXmlNode* field = doc.root().first_child(); field != nullptr;
       field = field->next_sibling()) {
    const std::string& tag = field->tag();
    const std::string& text = field->text();
    if (newer_format) {
      if (tag == "FdName") carrier->SetValueAt(0, text);
      else if (tag == "FdAuthor") carrier->SetValueAt(1, text);
      else if (tag == "FdContent") carrier->SetValueAt(2, text);
      else if (tag == "KeyWords") carrier->SetValueAt(3, text);
      else if (tag == "FdImgInfo") carrier->SetValueAt(4, text);
      else if (tag == "FdHtmlFile") page_file = field;
      else if (tag == "FdLink") carrier->SetValueAt(7, text);
    } else {
      if (tag == "f0") carrier->SetValueAt(0, text);
      else if (tag == "f5") carrier->SetValueAt(2, text);
      else if (tag == "f2") carrier->SetValueAt(4, text + "**");
      else if (tag == "f15") {
        f15 = text;
        has_f15 = true;
      }
    }
  }
  if (page_file != nullptr) {
    // The page file's name is refused rather than used with a byte the reader replaced.
    const std::optional<std::string> page = NameText(*page_file);
    if (!page) {
      reporter->Problem(TextWith(kTextRecordNameNotGbk, {name, Shown(file_name)}));
      return false;
    }
    carrier->SetValueAt(6, *page);
  }
  carrier->SetValueAt(5, std::to_string(category));
  if (newer_format) {
    *record_dir = dir;
  } else {
    // An older record names its own folder; without one it has nowhere to go.
    if (!has_f15) return false;
    std::string folder = Trim(f15);
    if (!IsPlainRelativePath(folder)) {
      reporter->Problem(TextWith(kTextBadRecordDir, file_name));
      return false;
    }
    // Its own book's folder is the usual case; any other must be free to take the record, or
    // the record would overwrite another book's record file or land in the index folder.
    if (FoldedComponents(folder) != FoldedComponents(dir) && rules.Refusal(folder) != 0) {
      reporter->Problem(TextWith(kTextRecordDirRefused, {name, file_name, Shown(folder)}));
      return false;
    }
    *record_dir = folder;
  }
  carrier->set_record_file_path(JoinPath(JoinPath(app_dir, *record_dir), file_name));
  return true;
}

// True when the catalogue already has this very book (same name and folder).
bool CatalogueHasBook(CXmlDocument& catalogue, const std::string& dir, const std::string& name) {
  std::vector<std::string> raw;
  catalogue.GetAttributeStrings("book", &raw);
  for (const std::string& text : raw) {
    AttributeMap attributes;
    ParseAttributes(text, &attributes);
    if (attributes["name"] == name && SameDir(attributes["dir"], dir)) return true;
  }
  return false;
}

BookOutcome ImportOneBook(Engine& engine, const std::string& app_dir, const std::vector<std::string>& index_folder,
                          const std::string& dir, const std::string& name, bool newer_format,
                          Reporter* reporter) {
  if (!IsPlainRelativePath(dir)) {
    reporter->Problem(TextWith(kTextBookDirNotPlain, {name, Shown(dir)}));
    return BookOutcome::kFailed;
  }
  const std::string marker = JoinPath(JoinPath(app_dir, "Update"), FlatName(dir) + kMarkerSuffix);
  const std::string catalogue_path = JoinPath(app_dir, "bookconfig.xml");

  CXmlDocument catalogue;
  catalogue.Load(catalogue_path, 1);
  if (FileExists(marker) && CatalogueHasBook(catalogue, dir, name)) {
    // Committed by a run that stopped before it cleared the Update folder (also for a book
    // without a name, which the name check below cannot see).
    ClearUpdateFolder(app_dir, dir);
    return BookOutcome::kCompleted;
  }
  for (const std::string& existing : CatalogueBookNames(catalogue)) {
    if (existing == name) return BookOutcome::kSkipped;
  }

  reporter->Status(Text(kTextImportFound) + name);
  reporter->Detail(name);

  std::string plain;
  if (!ReadScrambledFile(catalogue_path, &plain)) {
    reporter->Problem(TextWith(kTextCatalogueUnreadable, name));
    return BookOutcome::kFailed;
  }
  if (MbFind(plain, "</books>") == kNpos) {
    reporter->Problem(TextWith(kTextCatalogueNoEnd, name));
    return BookOutcome::kFailed;
  }
  if (CountCatalogueBooks(catalogue) >= kMaxCatalogueBooks) {
    reporter->Problem(TextWith(kTextCatalogueFull, name));
    return BookOutcome::kFailed;
  }

  // The book's folder must be its own: not one of the installation's, not another book's, and
  // not one that is already there, unless an earlier run of this very import made it (its
  // marker, written before any folder is made, says so). The package itself is read only from
  // real folders: a link in its place could name any folder of this machine.
  const FolderRules rules(index_folder, catalogue);
  if (const int refusal = rules.Refusal(dir); refusal != 0) {
    reporter->Problem(TextWith(refusal, {name, Shown(dir)}));
    return BookOutcome::kFailed;
  }
  if (!HasNoLinkBelow(app_dir, dir)) {
    reporter->Problem(TextWith(kTextBookDirIsLink, {name, Shown(dir)}));
    return BookOutcome::kFailed;
  }
  if (!HasNoLinkBelow(app_dir, "Update") ||
      !HasNoLinkBelow(JoinPath(app_dir, "Update"), dir)) {
    reporter->Problem(TextWith(kTextBookDirIsLink, {name, "Update/" + Shown(dir)}));
    return BookOutcome::kFailed;
  }
  // From here on the package is read only through its folder opened here, each component not a
  // link: whatever is renamed or linked into Update/ meanwhile, the import reads the folder it
  // checked, and a file in it swapped for a link is never followed (the book fails and waits).
  // A book without a folder in Update/ has no files to bring.
  OpenFolder package;
  if (!package.Open(app_dir, JoinPath("Update", dir)) && errno != ENOENT) {
    reporter->Problem(TextWith(kTextBookDirIsLink, {name, "Update/" + Shown(dir)}));
    return BookOutcome::kFailed;
  }
  std::vector<std::string> entries;
  if (package.is_open() && !ListOpenFolder(package, &entries)) {
    reporter->Problem(TextWith(kTextBookCopyFailed, name));
    return BookOutcome::kFailed;
  }
  const bool claimed = FileExists(marker);
  if (!claimed && EntryType(ResolvePath(JoinPath(app_dir, dir))) != -1) {
    reporter->Problem(TextWith(kTextBookDirExists, {name, Shown(dir)}));
    return BookOutcome::kFailed;
  }
  if (!claimed && !ReplaceFileAtomically(marker, dir)) {
    reporter->Problem(TextWith(kTextBookCopyFailed, name));
    return BookOutcome::kFailed;
  }
  const std::string temp_xml = JoinPath(app_dir, "temp.xml");
  if (!ReplaceFileAtomically(temp_xml, BuildFieldDefinitionText(dir, name))) {
    reporter->Problem(TextWith(kTextBookDefinitionsFailed, name));
    return BookOutcome::kFailed;
  }
  const int category = ChooseFreeCategory(catalogue);

  reporter->Status(Text(kTextImportAnalysing));
  std::vector<std::unique_ptr<CBookDef>> carriers;
  std::set<std::string> record_dirs = {dir};
  // Links of the package, at any depth: neither read nor copied, and named to the user.
  std::vector<std::string> links;
  for (const std::string& file_name : entries) {
    if (!IsRecordFileName(file_name)) continue;
    const int type = EntryTypeAt(package, file_name);
    if (type == S_IFLNK) links.push_back(JoinPath(dir, file_name));
    if (type != S_IFREG) continue;
    if (!IsValidGbk(file_name)) {
      // The name becomes the record's path in the index and in chapter.xml: refused, not
      // repaired into the name of another file.
      reporter->Problem(TextWith(kTextRecordNameNotGbk, {name, Shown(file_name)}));
      continue;
    }
    std::string bytes;
    if (!ReadWholeFileAt(package, file_name, &bytes)) {
      // Left out, a record that only could not be read now would be gone once the Update folder
      // is emptied: the book waits for the next run instead. A record that turned into a link
      // since it was looked at above is someone's attempt to bring in another file.
      reporter->Problem(TextWith(errno == ELOOP ? kTextRecordBecameLink : kTextRecordUnreadable,
                                 {name, file_name}));
      return BookOutcome::kFailed;
    }
    CXmlDocument doc;
    if (!doc.ParseText(bytes)) {
      // Read but not a record: it never will be one, so the book goes in without it, and the
      // user is told which file was left out.
      reporter->Problem(TextWith(kTextRecordNotARecord, {name, file_name}));
      continue;
    }
    auto carrier = std::make_unique<CBookDef>();
    std::string record_dir;
    if (!ReadRecord(doc, newer_format, app_dir, dir, name, rules, file_name, category,
                    carrier.get(), &record_dir, reporter)) {
      continue;
    }
    record_dirs.insert(record_dir);
    carriers.push_back(std::move(carrier));
  }
  std::string book_folder;
  for (const std::string& d : record_dirs) {
    // Never through a link: the record files written there must stay in the installation.
    if (!MakeFolderInAppDir(app_dir, d, SameDir(d, dir) ? &book_folder : nullptr)) {
      reporter->Problem(TextWith(kTextBookCopyFailed, name));
      return BookOutcome::kFailed;
    }
  }

  reporter->Status(Text(kTextImportIndexing));
  std::vector<CBookDef*> records;
  records.reserve(carriers.size());
  for (auto& c : carriers) records.push_back(c.get());
  CIndexConfig config;
  const std::string index = JoinPath(app_dir, "SearchDB");
  config.Set(temp_xml, index);
  // The book's documents go in as a batch of its own that no search finds until the catalogue
  // names the book; a book that fails from here on takes its batch out again, so its records are
  // never found, and never under the category the next book is given.
  auto give_up = [&](std::string message) {
    std::string reason;
    if (!engine.DiscardBatch(index, dir, &reason)) {
      // Left hidden; the next run's recovery discards it before any category is given out.
      message += " " + reason;
    }
    reporter->Problem(std::move(message));
    return BookOutcome::kFailed;
  };
  BuildFailure failure;
  if (!config.Build(engine, records, reporter->sink(), dir, &failure)) {
    if (failure.kind == BuildFailure::kDefinitions) {
      return give_up(TextWith(kTextBookDefinitionsFailed, name));
    }
    return give_up(TextWith(kTextBookIndexFailed, {name, failure.reason}));
  }
  carriers.clear();

  bool copied = true;
  for (const std::string& entry : entries) {
    const int type = EntryTypeAt(package, entry);
    if (type == S_IFDIR) {
      // Opened from the package, not through a link that took the folder's place since.
      OpenFolder folder;
      copied = folder.OpenChild(package, entry) &&
               CopyTreeIntoAppDir(app_dir, folder, JoinPath(dir, entry), &links) && copied;
    } else if (type == S_IFREG && !IsRecordFileName(entry)) {
      copied = CopyFileReplacing(package, entry, JoinPath(book_folder, entry)) && copied;
    } else if (type == S_IFLNK && !IsRecordFileName(entry)) {
      links.push_back(JoinPath(dir, entry));
    }
  }
  if (!links.empty()) {
    // One message for the book; a package of thousands of links is named by its first ones.
    constexpr size_t kLinksNamed = 20;
    const std::set<std::string> sorted(links.begin(), links.end());
    std::string list;
    size_t named = 0;
    for (const std::string& link : sorted) {
      if (named > 0) list += ", ";
      if (named == kLinksNamed) {
        list += "... (" + std::to_string(sorted.size()) + ")";
        break;
      }
      list += "Update/" + Shown(link);
      ++named;
    }
    reporter->Problem(TextWith(kTextBookLinksSkipped, {name, list}));
  }
  if (!copied) return give_up(TextWith(kTextBookCopyFailed, name));

  // Commit: the book's files are on disk, then the catalogue entry. Record files
  // are written without a flush each, so the library's file system is flushed once here: after
  // a power cut the catalogue never names a book whose files were still only in memory.
  if (!FlushFileSystem(app_dir)) return give_up(TextWith(kTextCatalogueWriteFailed, name));
  std::optional<std::string> updated = AppendBookEntry(plain, dir, category, name);
  if (!updated || !WriteScrambledFile(catalogue_path, *updated)) {
    // The marker stays: the folders made for this book are its own when it is tried again.
    return give_up(TextWith(kTextCatalogueWriteFailed, name));
  }
  // Committed. Its records become searchable now; should that fail, the book stays committed
  // and its Update folder and fragment stay too, so that the next run publishes the batch.
  std::string reason;
  if (!engine.PublishBatch(index, dir, &reason)) {
    reporter->Problem(TextWith(kTextBookPublishFailed, {name, reason}));
    return BookOutcome::kHidden;
  }
  ClearUpdateFolder(app_dir, dir);
  return BookOutcome::kImported;
}

// Batches left in the index by a run that stopped (or failed to take them out) before a book
// was finished: a batch whose book the catalogue names was committed and is published; any other
// is discarded, before a category is given to a new book. False when that could not be done.
bool FinishUnfinishedBooks(Engine& engine, const std::string& app_dir, Reporter* reporter) {
  const std::string index = JoinPath(app_dir, "SearchDB");
  std::string reason;
  std::optional<std::vector<std::string>> batches = engine.ListBatches(index, &reason);
  if (!batches) {
    reporter->Problem(TextWith(kTextUnfinishedBooksKept, reason));
    return false;
  }
  if (batches->empty()) return true;
  CXmlDocument catalogue;
  catalogue.Load(JoinPath(app_dir, "bookconfig.xml"), 1);
  std::set<std::string> committed;
  std::vector<std::string> raw;
  catalogue.GetAttributeStrings("book", &raw);
  for (const std::string& text : raw) {
    AttributeMap attributes;
    ParseAttributes(text, &attributes);
    committed.insert(NormalizeSeparators(attributes["dir"]));
  }
  for (const std::string& batch : *batches) {
    const bool ok = committed.count(NormalizeSeparators(batch))
                        ? engine.PublishBatch(index, batch, &reason)
                        : engine.DiscardBatch(index, batch, &reason);
    if (!ok) {
      reporter->Problem(TextWith(kTextUnfinishedBooksKept, reason));
      return false;
    }
  }
  return true;
}

// True for the temporary file of an atomic replace or copy (".<name>.tmpXXXXXX",
// ".<name>.copyXXXXXX"): what a run killed in the middle of a write leaves behind.
bool IsTemporaryFileName(const std::string& name) {
  if (name.size() < 8 || name[0] != '.') return false;
  const std::string suffix = name.substr(name.size() - 6);
  for (char c : suffix) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  const std::string head = name.substr(0, name.size() - 6);
  return EndsWith(head, ".tmp") || EndsWith(head, ".copy");
}

void RemoveTemporaryFiles(const std::string& dir) {
  for (const std::string& name : ListDirectory(dir)) {
    if (IsTemporaryFileName(name) && FileExists(JoinPath(dir, name))) {
      RemoveFile(JoinPath(dir, name));
    }
  }
}

// Markers of books whose fragment is gone were left by a run stopped between deleting the
// fragment and deleting its markers; temporary files by a run stopped in the middle of a write.
// Only one import runs at a time, so neither can belong to a write in progress.
void RemoveLeftoverFiles(const std::string& app_dir) {
  const std::string update = JoinPath(app_dir, "Update");
  std::set<std::string> pending_dirs;
  bool all_read = true;
  for (const std::string& name : ListPendingCatalogues(app_dir)) {
    CXmlDocument fragment;
    if (!LoadFragment(JoinPath(update, name), &fragment)) {
      all_read = false;  // its markers cannot be told from stale ones: all are kept this time
      continue;
    }
    for (CXmlNode* book = fragment.root().first_child(); book != nullptr;
         book = book->next_sibling()) {
      auto it = book->attributes().find("dir");
      if (it != book->attributes().end()) pending_dirs.insert(FlatName(it->second));
    }
  }
  for (const std::string& name : ListDirectory(update)) {
    if (!all_read || !EndsWith(name, kMarkerSuffix)) continue;
    std::string dir = name.substr(0, name.size() - (sizeof kMarkerSuffix - 1));
    if (!pending_dirs.count(dir)) RemoveFile(JoinPath(update, name));
  }
  RemoveTemporaryFiles(update);
  RemoveTemporaryFiles(app_dir);
}

}  // namespace

int ClearImportLeftovers(std::string_view app_dir) {
  const std::string update = ResolvePath(JoinPath(app_dir, "Update"));
  // Not while an import (of another program) is filling Update/.
  FileLock lock;
  if (!lock.TryLock(update)) return 0;
  int removed = 0;
  for (const std::string& name : ListDirectory(update)) {
    if (!StartsWith(name, kClearedPrefix)) continue;
    const std::string path = JoinPath(update, name);
    if (DeleteTree(path) && RemoveDirectory(path)) ++removed;
  }
  return removed;
}

ImportResult RunBookImport(Engine& engine, std::string_view app_dir_in, ImportStatusSink* sink) {
  ImportResult result;
  FinishGuard finish(sink, &result);
  Reporter reporter(sink, &result);
  const std::string app_dir = AbsoluteDir(app_dir_in);
  const std::string update = JoinPath(app_dir, "Update");
  // A station of a reading room searches the index kept on an index server: books are imported
  // there, where the index is written, and wait here untouched.
  if (const size_t waiting = ListPendingCatalogues(app_dir).size(); waiting > 0) {
    if (const std::string server = engine.IndexServer(JoinPath(app_dir, "SearchDB"));
        !server.empty()) {
      reporter.Problem(TextWith(kTextImportOnIndexServer, server));
      result.books_failed = static_cast<int>(waiting);
      return result;
    }
  }
  // Two imports into one library at once (a second program started meanwhile, or the tool)
  // would each rewrite the catalogue from what they read, and one book's entry would be lost.
  // The fragments stay in Update/ for the next start.
  FileLock lock;
  if (!ListPendingCatalogues(app_dir).empty() && !lock.TryLock(ResolvePath(update))) {
    reporter.Problem(Text(kTextImportBusy));
    return result;
  }

  if (!ListPendingCatalogues(app_dir).empty() && !FinishUnfinishedBooks(engine, app_dir, &reporter)) {
    // A category could still be held by an unfinished book's records: nothing is imported.
    return result;
  }

  const std::vector<std::string> index_folder = IndexFolderInside(app_dir);
  for (const std::string& fragment_name : ListPendingCatalogues(app_dir)) {
    const std::string fragment_path = JoinPath(update, fragment_name);
    CXmlDocument fragment;
    if (!LoadFragment(fragment_path, &fragment)) {
      reporter.Problem(TextWith(kTextFragmentUnreadable, fragment_name));
      ++result.books_failed;
      continue;
    }
    auto version = fragment.root().attributes().find("version");
    const bool newer_format =
        version != fragment.root().attributes().end() && !version->second.empty();
    bool imported = false;
    bool failed = false;
    std::vector<std::string> dirs;
    for (CXmlNode* book = fragment.root().first_child(); book != nullptr;
         book = book->next_sibling()) {
      if (book->tag() != "book") continue;
      auto dir_it = book->attributes().find("dir");
      auto name_it = book->attributes().find("name");
      std::string dir = dir_it == book->attributes().end() ? std::string() : dir_it->second;
      std::string name = name_it == book->attributes().end() ? std::string() : name_it->second;
      // The reader replaced a byte of the folder or book name that was not GBK: a lone lead
      // byte could have hidden a quote or a separator after it. Such a book is refused, never
      // imported under a repaired name, and waits.
      if (!NameAttribute(*book, "dir") || !NameAttribute(*book, "name")) {
        reporter.Problem(TextWith(kTextBookNameNotGbk, {Shown(name), Shown(dir)}));
        ++result.books_failed;
        failed = true;
        continue;
      }
      switch (ImportOneBook(engine, app_dir, index_folder, dir, name, newer_format, &reporter)) {
        case BookOutcome::kImported:
          ++result.books_imported;
          imported = true;
          break;
        case BookOutcome::kCompleted:
          imported = true;
          break;
        case BookOutcome::kSkipped:
          break;
        case BookOutcome::kHidden:
          ++result.books_imported;
          imported = true;
          failed = true;  // the fragment stays: the next run makes its records searchable
          break;
        case BookOutcome::kFailed:
          ++result.books_failed;
          failed = true;
          break;
      }
      if (IsPlainRelativePath(dir)) dirs.push_back(dir);
    }
    // A fragment goes only when none of its books still waits; the markers go after it.
    if (imported && !failed) {
      RemoveFile(fragment_path);
      for (const std::string& dir : dirs) {
        RemoveFile(JoinPath(update, FlatName(dir) + kMarkerSuffix));
      }
    }
    if (imported) result.library_changed = true;
  }
  RemoveLeftoverFiles(app_dir);

  if (result.library_changed) {
    RemoveFile(JoinPath(app_dir, "temp.xml"));
    reporter.Status(Text(kTextImportOptimising));
    reporter.Detail("");
    const std::string index = JoinPath(app_dir, "SearchDB");
    std::string reason;
    // Optimising only makes searches faster: the books are in whether or not it succeeds.
    bool optimised = engine.OpenIndex(index, 0, &reason);
    if (optimised) {
      optimised = engine.OptimizeIndex(index, &reason);
      std::string close_reason;
      if (!engine.CloseIndex(index, &close_reason) && optimised) {
        optimised = false;
        reason = close_reason;
      }
    }
    if (!optimised) reporter.Problem(TextWith(kTextIndexOptimiseFailed, reason));
    reporter.Status(Text(kTextImportDone));
  }
  return result;
}

}  // namespace tomeva

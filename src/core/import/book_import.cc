#include "core/import/book_import.h"


#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "core/base/file_tree.h"
#include "core/base/file_util.h"
#include "core/base/mbstring.h"
#include "core/base/texts.h"
#include "core/library/catalogue.h"
#include "core/library/catalogue_edit.h"
#include "core/records/index_config.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"
#include "kms/kms.h"

namespace tomeva {
namespace {

constexpr char kMarkerSuffix[] = ".imported";
constexpr char kClearedPrefix[] = ".cleared-";

// Empties Update/<dir> once its book is committed. The folder is renamed aside in one step and an
// empty one put in its place; the files themselves are deleted later by ClearImportLeftovers,
// away from the import's own time (deleting thousands of files is slow on some disks). When the
// rename is not possible the files are deleted here.
void ClearUpdateFolder(const std::string& app_dir, const std::string& dir) {
  const std::string update = JoinPath(app_dir, "Update");
  const std::string folder = ResolvePath(JoinPath(update, dir));
  if (!DirectoryExists(folder)) return;
  for (int n = 0; n < 1000; ++n) {
    std::string aside = JoinPath(update, kClearedPrefix + dir + (n ? "." + std::to_string(n) : ""));
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
                const std::string& dir, const std::string& file_name, int category,
                CBookDef* carrier, std::string* record_dir, Reporter* reporter) {
  std::string f15;
  bool has_f15 = false;
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
      else if (tag == "FdHtmlFile") carrier->SetValueAt(6, text);
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
  carrier->SetValueAt(5, std::to_string(category));
  if (newer_format) {
    *record_dir = dir;
  } else {
    // An older record names its own folder; without one it has nowhere to go.
    if (!has_f15) return false;
    std::string folder = Trim(f15);
    if (!IsPlainFolderName(folder)) {
      reporter->Problem(TextWith(kTextBadRecordDir, file_name));
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
    if (attributes["name"] == name && attributes["dir"] == dir) return true;
  }
  return false;
}

BookOutcome ImportOneBook(const std::string& app_dir, const std::string& dir,
                          const std::string& name, bool newer_format, Reporter* reporter) {
  if (!IsPlainFolderName(dir)) {
    reporter->Problem(TextWith(kTextBadBookDir, dir));
    return BookOutcome::kSkipped;
  }
  const std::string update_dir = JoinPath(JoinPath(app_dir, "Update"), dir);
  const std::string marker = JoinPath(JoinPath(app_dir, "Update"), dir + kMarkerSuffix);
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
  const std::string temp_xml = JoinPath(app_dir, "temp.xml");
  if (!ReplaceFileAtomically(temp_xml, BuildFieldDefinitionText(dir, name))) {
    reporter->Problem(TextWith(kTextCatalogueWriteFailed, name));
    return BookOutcome::kFailed;
  }
  const int category = ChooseFreeCategory(catalogue);

  reporter->Status(Text(kTextImportAnalysing));
  std::vector<std::unique_ptr<CBookDef>> carriers;
  std::set<std::string> record_dirs = {dir};
  const std::string source = ResolvePath(update_dir);
  for (const std::string& file_name : ListDirectory(source)) {
    if (!IsRecordFileName(file_name)) continue;
    const std::string path = JoinPath(source, file_name);
    if (!FileExists(path)) continue;
    CXmlDocument doc;
    if (!doc.Load(path)) continue;
    auto carrier = std::make_unique<CBookDef>();
    std::string record_dir;
    if (!ReadRecord(doc, newer_format, app_dir, dir, file_name, category, carrier.get(),
                    &record_dir, reporter)) {
      continue;
    }
    record_dirs.insert(record_dir);
    carriers.push_back(std::move(carrier));
  }
  for (const std::string& d : record_dirs) MakeDirectories(JoinPath(app_dir, d));

  reporter->Status(Text(kTextImportIndexing));
  std::vector<CBookDef*> records;
  records.reserve(carriers.size());
  for (auto& c : carriers) records.push_back(c.get());
  CIndexConfig config;
  config.Set(temp_xml, JoinPath(app_dir, "SearchDB"));
  if (!config.Build(records, reporter->sink())) {
    reporter->Problem(TextWith(kTextBookCopyFailed, name));
    return BookOutcome::kFailed;
  }
  carriers.clear();

  bool copied = true;
  for (const std::string& entry : ListDirectory(source)) {
    const std::string from = JoinPath(source, entry);
    if (DirectoryExists(from)) {
      copied = CopyTreeIntoAppDir(app_dir, from, JoinPath(dir, entry)) && copied;
    } else if (FileExists(from) && !IsRecordFileName(entry)) {
      copied = CopyFileReplacing(from, JoinPath(JoinPath(app_dir, dir), entry)) && copied;
    }
  }
  if (!copied) {
    reporter->Problem(TextWith(kTextBookCopyFailed, name));
    return BookOutcome::kFailed;
  }

  // Commit: the book's files are on disk, then the marker, then the catalogue entry. Record files
  // are written without a flush each, so the library's file system is flushed once here: after
  // a power cut the catalogue never names a book whose files were still only in memory.
  FlushFileSystem(app_dir);
  if (!ReplaceFileAtomically(marker, dir)) {
    reporter->Problem(TextWith(kTextCatalogueWriteFailed, name));
    return BookOutcome::kFailed;
  }
  std::optional<std::string> updated = AppendBookEntry(plain, dir, category, name);
  if (!updated || !WriteScrambledFile(catalogue_path, *updated)) {
    RemoveFile(marker);
    reporter->Problem(TextWith(kTextCatalogueWriteFailed, name));
    return BookOutcome::kFailed;
  }
  ClearUpdateFolder(app_dir, dir);
  return BookOutcome::kImported;
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
  for (const std::string& name : ListPendingCatalogues(app_dir)) {
    CXmlDocument fragment;
    if (!fragment.Load(JoinPath(update, name), 1)) continue;
    for (CXmlNode* book = fragment.root().first_child(); book != nullptr;
         book = book->next_sibling()) {
      auto it = book->attributes().find("dir");
      if (it != book->attributes().end()) pending_dirs.insert(it->second);
    }
  }
  for (const std::string& name : ListDirectory(update)) {
    if (!EndsWith(name, kMarkerSuffix)) continue;
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

ImportResult RunBookImport(std::string_view app_dir_in, ImportStatusSink* sink) {
  ImportResult result;
  FinishGuard finish(sink, &result);
  Reporter reporter(sink, &result);
  const std::string app_dir = AbsoluteDir(app_dir_in);
  const std::string update = JoinPath(app_dir, "Update");
  // Two imports into one library at once (a second program started meanwhile, or the tool)
  // would each rewrite the catalogue from what they read, and one book's entry would be lost.
  // The fragments stay in Update/ for the next start.
  FileLock lock;
  if (!ListPendingCatalogues(app_dir).empty() && !lock.TryLock(ResolvePath(update))) {
    reporter.Problem(Text(kTextImportBusy));
    return result;
  }

  for (const std::string& fragment_name : ListPendingCatalogues(app_dir)) {
    const std::string fragment_path = JoinPath(update, fragment_name);
    CXmlDocument fragment;
    if (!fragment.Load(fragment_path, 1)) continue;
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
      switch (ImportOneBook(app_dir, dir, name, newer_format, &reporter)) {
        case BookOutcome::kImported:
          ++result.books_imported;
          imported = true;
          break;
        case BookOutcome::kCompleted:
          imported = true;
          break;
        case BookOutcome::kSkipped:
          break;
        case BookOutcome::kFailed:
          failed = true;
          break;
      }
      if (IsPlainFolderName(dir)) dirs.push_back(dir);
    }
    // A fragment goes only when none of its books still waits; the markers go after it.
    if (imported && !failed) {
      RemoveFile(fragment_path);
      for (const std::string& dir : dirs) RemoveFile(JoinPath(update, dir + kMarkerSuffix));
    }
    if (imported) result.library_changed = true;
  }
  RemoveLeftoverFiles(app_dir);

  if (result.library_changed) {
    RemoveFile(JoinPath(app_dir, "temp.xml"));
    reporter.Status(Text(kTextImportOptimising));
    reporter.Detail("");
    const std::string index = JoinPath(app_dir, "SearchDB");
    KMS_Open(index.c_str(), 0);
    KMS_Optimize(index.c_str());
    KMS_Close(index.c_str());
    reporter.Status(Text(kTextImportDone));
  }
  return result;
}

}  // namespace tomeva

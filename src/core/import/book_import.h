// The import of new books from the installation's Update folder. For each one-book catalogue
// fragment Update/bookconfig*.xml it converts and indexes the book's record files, copies the
// book's other files into the installation, adds the book to the catalogue bookconfig.xml, and
// finally optimises the index. Every path is under the installation folder `app_dir` (the
// catalogue, the book folders, temp.xml, the index folder SearchDB and Update/).
//
// An import stopped at any moment (killed, power lost) is finished by the next run: the catalogue
// entry is the commit point of a book. A book's index documents go in as an uncommitted batch of
// the engine, invisible to searches, which is published once the entry is on disk and discarded
// when the book fails; a run first publishes or discards the batches an earlier run left. Everything a book needs (record files, index documents,
// copied files) is in place before its entry is added; indexing a record again replaces its
// document, so redoing an uncommitted book is harmless; the files in Update/<dir> are removed
// only after the entry is on disk. A marker file Update/<dir>.imported, written before the book's
// first folder is made and removed with the fragment, lets the next run tell its own book (whose
// folder it may then use again, and whose Update folder it empties once the book is committed)
// from a different book that only shares the name or the folder (left alone).
//
// A book's folder is refused, and the book left waiting with the user told why, when it is not a
// plain relative path, is one of the installation's own files or folders (the index folder, also
// the one System.xml names, Update, the viewer, help, the settings files ...), overlaps the folder
// of a book in the catalogue, already exists (unless its marker is there), or is reached through a
// symbolic link, in the installation or in Update/. Links inside a book's package are neither
// followed nor copied; the user is told which were left out. The package is read through its
// folder, opened once with no link on the way, and every file of it is opened from there without
// following a link: a file or folder swapped for a link after the import looked at it fails the
// book, which waits, and nothing outside the package is read.
//
// Texts are repaired as the XML reader repairs them (base/gbk.h): a byte that is not GBK becomes
// "?". Names are refused instead: a fragment's book whose folder or name held such a byte waits
// with the user told; a record whose file name, or whose page file (FdHtmlFile), held one is left
// out with the user told.
#ifndef TOMEVA_CORE_IMPORT_BOOK_IMPORT_H_
#define TOMEVA_CORE_IMPORT_BOOK_IMPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "core/records/book_def.h"

namespace tomeva {

class Engine;

struct ImportResult {
  int books_imported = 0;             // books added to the catalogue by this run
  int books_failed = 0;               // books not imported now; they stay waiting in Update/
  bool library_changed = false;       // a fragment was completed; the index was optimised
  std::vector<std::string> messages;  // problems reported to the user (GBK), in order
};

// What the import shows while it runs: the status line, the second line, the progress bar
// (ProgressSink: range and position, one step per record) and its end. Called on the thread that
// runs the import.
class ImportStatusSink : public ProgressSink {
 public:
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetDetail(const std::string& text) = 0;
  // A problem the user is told about (a refused book, a catalogue that cannot be changed).
  virtual void Report(const std::string& message) = 0;
  // Called exactly once, last, whatever happened: the dialog enables its OK button and signals
  // the completion event that start-up waits for.
  virtual void Finished(const ImportResult& result) = 0;
};

// Runs the import in `app_dir` (made absolute first), writing the index through `engine`.
// `sink` may be null. Never throws. One
// import runs per library at a time (a lock on the Update folder): when another process is
// importing, this one reports kTextImportBusy and leaves the new books waiting.
// The emptied Update/<dir> folders' former contents are left in Update/.cleared-<dir> folders
// for ClearImportLeftovers.
ImportResult RunBookImport(Engine& engine, std::string_view app_dir, ImportStatusSink* sink);

// Deletes the Update/.cleared-* folders an import left behind (also those of an import that was
// interrupted). Start-up runs it on a background thread once the main window is up; while an
// import holds the lock it does nothing. Returns the number of folders removed.
int ClearImportLeftovers(std::string_view app_dir);

// Names of the files in app_dir/Update matching "bookconfig*.xml" (ASCII case ignored; folders
// left out), in listing order.
std::vector<std::string> ListPendingCatalogues(std::string_view app_dir);

// True for a name matching "book_*.xml" (ASCII case ignored): a record file.
bool IsRecordFileName(std::string_view name);

}  // namespace tomeva

#endif  // TOMEVA_CORE_IMPORT_BOOK_IMPORT_H_

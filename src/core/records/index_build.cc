// Index building: turns record carriers into engine documents and record files. Kept apart from
// the definition loading, which reads files only.
#include <cerrno>
#include <cstring>
#include <string>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "core/engine/engine.h"
#include "core/records/book_def.h"
#include "core/records/index_config.h"

namespace tomeva {
namespace {
// The content field holds at most this many bytes; longer content is cut on a character
// boundary so that the engine never sees half a character.
constexpr size_t kMaxContentBytes = 51199;

}  // namespace

int CIndexConfig::Build(Engine& engine, const std::vector<CBookDef*>& records, ProgressSink* progress,
                        const std::string& batch, BuildFailure* failure) {
  if (!LoadDefinitions()) {
    if (failure != nullptr) {
      failure->kind = BuildFailure::kDefinitions;
      failure->reason = config_path_;
    }
    return 0;
  }
  for (auto& book : books_) {
    if (!book->BuildIndex(engine, index_directory_, records, progress, batch, failure)) return 0;
  }
  return 1;
}

int CBookDef::BuildIndex(Engine& engine, const std::string& index_directory,
                         const std::vector<CBookDef*>& records, ProgressSink* progress,
                         const std::string& batch, BuildFailure* failure) {
  std::string reason;
  if (!engine.OpenIndex(index_directory, 1, &reason)) {
    if (failure != nullptr) *failure = {BuildFailure::kIndex, reason};
    return 0;
  }
  const int n = static_cast<int>(records.size());
  // The whole count is given as the range: a progress bar that wrapped at 65,536 records would
  // show a large import as nearly finished at its start.
  if (progress) {
    progress->SetRange(n);
    progress->SetPosition(0);
  }
  for (int i = 0; i < n; ++i) {
    const CBookDef& record = *records[i];
    ClearValues();
    for (int j = 0; j < field_count() && j < kValueCount; ++j) {
      const std::string& value = record.GetValueAt(j);
      if (!value.empty()) fields_[j]->SetValue(value);
    }
    record_file_path_ = record.record_file_path();
    if (!IndexRecord(engine, index_directory, batch, failure)) {
      // The writer is let go without keeping its half of the book: the caller discards the
      // batch, and an index that is not left locked lets the next book or run go on.
      engine.CloseIndex(index_directory, nullptr);
      return 0;
    }
    if (progress) progress->SetPosition(i + 1);
  }
  if (!engine.CloseIndex(index_directory, &reason)) {
    if (failure != nullptr) *failure = {BuildFailure::kIndex, reason};
    return 0;
  }
  return 1;
}

int CBookDef::IndexRecord(Engine& engine, const std::string& index_directory,
                          const std::string& batch,
                          BuildFailure* failure) {
  auto fail = [failure](BuildFailure::Kind kind, std::string reason) {
    if (failure != nullptr) *failure = {kind, std::move(reason)};
    return 0;
  };
  const std::string text = BuildRecordXml();
  // The record file is what the tree and the record links open; a record whose file cannot be
  // written is not indexed either, so that no hit ever points at a missing file.
  // Record paths are named by the import itself, so no case lookup is needed; the index commit,
  // not the file system, is what makes a build durable.
  if (!record_file_path_.empty() &&
      !ReplaceFileAtomically(record_file_path_, text, {.sync = false, .resolve_case = false})) {
    return fail(BuildFailure::kRecordFile, record_file_path_ + ": " + std::strerror(errno));
  }

  IndexDocument doc;
  doc.fields.push_back({"xml", text, /*stored=*/true, /*indexed=*/false, /*tokenized=*/false});
  std::string content;
  for (const auto& f : fields_) {
    if (!f->IsForSearch()) continue;
    content += TrimView(f->GetValue());
    content += '\n';
  }
  if (content.size() > kMaxContentBytes) {
    content.resize(GbkBoundaryAtOrBefore(content, kMaxContentBytes));
  }
  doc.fields.push_back({"content", std::move(content)});
  for (const auto& f : fields_) {
    if (f->GetColumn().empty()) continue;
    if (f->IsDate()) {
      doc.fields.push_back({"date", Trim(f->GetDateValue())});
    } else {
      doc.fields.push_back({Trim(f->GetColumnTag()), Trim(f->GetValue())});
    }
  }
  // Re-indexing the same record file replaces its document, so an interrupted import can simply
  // be run again.
  doc.key = record_file_path_;
  doc.batch = batch;
  std::string reason;
  if (!engine.InsertDocument(index_directory, doc, &reason)) {
    return fail(BuildFailure::kIndex, reason);
  }
  return 1;
}

}  // namespace tomeva

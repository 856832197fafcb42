// Index building: turns record carriers into engine documents and record files. Kept apart from
// the definition loading so that programs which only read definitions need not link the engine.
#include <string>

#include "core/base/file_util.h"
#include "core/base/mbstring.h"
#include "core/records/book_def.h"
#include "core/records/index_config.h"
#include "kms/kms.h"

namespace tomeva {
namespace {

constexpr char kCharset[] = "gb2312";
// The content field holds at most this many bytes; longer content is cut on a character
// boundary so that the engine never sees half a character.
constexpr size_t kMaxContentBytes = 51199;

}  // namespace

int CIndexConfig::Build(const std::vector<CBookDef*>& records, ProgressSink* progress) {
  if (!LoadDefinitions()) return 0;
  for (auto& book : books_) book->BuildIndex(index_directory_, records, progress);
  return 1;
}

int CBookDef::BuildIndex(const std::string& index_directory,
                         const std::vector<CBookDef*>& records, ProgressSink* progress) {
  KMS_Init();
  KMS_Open(index_directory.c_str(), 1);
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
    IndexRecord(index_directory);
    if (progress) progress->SetPosition(i + 1);
  }
  KMS_Close(index_directory.c_str());
  return 1;
}

int CBookDef::IndexRecord(const std::string& index_directory) {
  const std::string text = BuildRecordXml();
  // The record file is what the tree and the record links open; a record whose file cannot be
  // written is not indexed either, so that no hit ever points at a missing file.
  // Record paths are named by the import itself, so no case lookup is needed; the index commit,
  // not the file system, is what makes a build durable.
  if (!record_file_path_.empty() &&
      !ReplaceFileAtomically(record_file_path_, text, {.sync = false, .resolve_case = false})) {
    return 0;
  }

  KmsDocument* doc = KMS_New_Document();
  if (doc == nullptr) return 0;
  if (KMS_Add_Field(doc, "xml", text.c_str(), kCharset, 1, 0, 0) != 0) {
    KMS_Free_Document(doc);
    return 0;
  }
  std::string content;
  for (const auto& f : fields_) {
    if (!f->IsForSearch()) continue;
    content += TrimView(f->GetValue());
    content += '\n';
  }
  if (content.size() > kMaxContentBytes) {
    content.resize(GbkBoundaryAtOrBefore(content, kMaxContentBytes));
  }
  KMS_Add_Field(doc, "content", content.c_str(), kCharset, 1, 1, 1);
  for (const auto& f : fields_) {
    if (f->GetColumn().empty()) continue;
    if (f->IsDate()) {
      KMS_Add_Field(doc, "date", Trim(f->GetDateValue()).c_str(), kCharset, 1, 1, 1);
    } else {
      KMS_Add_Field(doc, Trim(f->GetColumnTag()).c_str(), Trim(f->GetValue()).c_str(), kCharset,
                    1, 1, 1);
    }
  }
  // Re-indexing the same record file replaces its document, so an interrupted import can simply
  // be run again.
  if (!record_file_path_.empty()) KMS_Set_Key(doc, record_file_path_.c_str());
  int result = KMS_Insert_Document(index_directory.c_str(), doc) == 0 ? 1 : 0;
  KMS_Free_Document(doc);
  return result;
}

}  // namespace tomeva

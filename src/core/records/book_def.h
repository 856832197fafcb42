// A book definition of the field definition file (its ordered field definitions), which is also
// the carrier of one record's eight values and its record file path during an import.
#ifndef TOMEVA_CORE_RECORDS_BOOK_DEF_H_
#define TOMEVA_CORE_RECORDS_BOOK_DEF_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/field_def.h"
#include "core/xml/xml_document.h"

namespace tomeva {

class Engine;

// Receives the progress of a long operation: the range 0 .. `upper`, then positions. Called on
// the thread doing the work.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetRange(int upper) = 0;
  virtual void SetPosition(int position) = 0;
};

// Why an index build stopped. A build stops at its first failure.
struct BuildFailure {
  enum Kind { kNone, kDefinitions, kIndex, kRecordFile };
  Kind kind = kNone;
  std::string reason;  // GBK: the engine's reason, or the record file and the system's error
};

class CBookDef {
 public:
  // Number of record values a carrier holds, by value position: 0 title, 1 author, 2 body text,
  // 3 keywords, 4 figure information, 5 category, 6 HTML file, 7 link.
  static constexpr int kValueCount = 8;

  CBookDef() = default;
  CBookDef(const CBookDef&) = delete;
  CBookDef& operator=(const CBookDef&) = delete;

  // --- definition role ---
  // Appends a field definition built from the attributes Name, Column, ColTag (trimmed),
  // Is4Search and IsDateSearch (trimmed, compared exactly with "TRUE").
  void AddFieldDefinition(const AttributeMap& attributes);
  void ClearValues();
  // The record file text for the current values of the field definitions.
  std::string BuildRecordXml() const;
  int field_count() const { return static_cast<int>(fields_.size()); }
  CFieldDef& field(int i) { return *fields_[i]; }
  const CFieldDef& field(int i) const { return *fields_[i]; }

  // Indexes every record of `records` into the index folder through `engine` (see
  // index_build.cc) and commits. With a `batch` name every document goes into that uncommitted
  // batch of the engine (IndexDocument::batch):
  // no search finds the records until the caller publishes the batch, and a caller whose build
  // failed can discard it. 1 when every record's file was written and its document inserted and
  // committed; 0 at the first failure, described in `failure` when given. The writer is released
  // either way.
  int BuildIndex(Engine& engine, const std::string& index_directory,
                 const std::vector<CBookDef*>& records,
                 ProgressSink* progress, const std::string& batch = {},
                 BuildFailure* failure = nullptr);
  // Writes the current record's file and inserts its engine document into the open writer,
  // in `batch` when not empty. 1 = inserted; 0 with `failure` filled otherwise.
  int IndexRecord(Engine& engine, const std::string& index_directory,
                  const std::string& batch = {},
                  BuildFailure* failure = nullptr);

  // --- record carrier role ---
  // Value at a position 0..7 (see kValueCount); out-of-range positions read as "".
  const std::string& GetValueAt(int position) const;
  void SetValueAt(int position, std::string_view value);

  // Full path of the record file written for the current record.
  const std::string& record_file_path() const { return record_file_path_; }
  void set_record_file_path(std::string_view path) { record_file_path_ = std::string(path); }

 private:
  std::string values_[kValueCount];
  std::string record_file_path_;
  std::vector<std::unique_ptr<CFieldDef>> fields_;
};

// Escapes a record value for the record file: "&" → "&amp;", "<" → "&lt;", ">" → "&gt;".
std::string EscapeRecordValue(std::string_view value);

}  // namespace tomeva

#endif  // TOMEVA_CORE_RECORDS_BOOK_DEF_H_

// Sinks that record what a long task reports instead of showing it: the progress of an index
// build, and everything the new-book import tells its dialog. Texts are kept as UTF-8 so that
// tests compare them with literals.
#ifndef TOMEVA_TESTS_SUPPORT_RECORDING_SINKS_H_
#define TOMEVA_TESTS_SUPPORT_RECORDING_SINKS_H_

#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/import/book_import.h"
#include "core/records/book_def.h"

namespace tomeva::testing {

// Every range and position, in the order they were set.
class RecordingProgress : public ProgressSink {
 public:
  void SetRange(int upper) override { ranges.push_back(upper); }
  void SetPosition(int position) override { positions.push_back(position); }

  std::vector<int> ranges;
  std::vector<int> positions;
};

class RecordingImportSink : public ImportStatusSink {
 public:
  void SetStatus(const std::string& text) override { statuses.push_back(GbkToUtf8(text)); }
  void SetDetail(const std::string& text) override { details.push_back(GbkToUtf8(text)); }
  void Report(const std::string& message) override { reports.push_back(GbkToUtf8(message)); }
  void SetRange(int upper) override { ranges.push_back(upper); }
  void SetPosition(int position) override { last_position = position; }
  void Finished(const ImportResult&) override { ++finished; }

  std::vector<std::string> statuses;
  std::vector<std::string> details;
  std::vector<std::string> reports;
  std::vector<int> ranges;
  int last_position = -1;  // -1 until the first SetPosition
  int finished = 0;        // calls of Finished
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_SUPPORT_RECORDING_SINKS_H_

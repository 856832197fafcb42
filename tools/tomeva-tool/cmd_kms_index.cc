// `index DEFS.xml RECORDS_DIR INDEX_DIR`: builds the index from the record files of a folder.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/records/index_config.h"
#include "core/xml/xml_document.h"
#include "engine_kms/kms_engine.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

class StderrProgress : public ProgressSink {
 public:
  void SetRange(int upper) override { upper_ = upper; }
  void SetPosition(int position) override {
    if (position == upper_ || position % 500 == 0) {
      std::fprintf(stderr, "\rindexed %d of %d", position, upper_);
      if (position == upper_) std::fputc('\n', stderr);
    }
  }

 private:
  int upper_ = 0;
};

bool IsRecordFileName(const std::string& name) {
  std::string lower = ToLowerAscii(name);
  return StartsWith(lower, "book_") && EndsWith(lower, ".xml");
}

int RunIndex(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 3) return UsageError("usage: index DEFS.xml RECORDS_DIR INDEX_DIR");
  const std::string& defs = a.positional[0];
  const std::string& records_dir = a.positional[1];
  const std::string& index_dir = a.positional[2];

  // The definitions name the elements; a record file's element for field j becomes value j.
  CIndexConfig probe;
  probe.SetConfigFile(defs);
  if (!probe.LoadDefinitions() || probe.book_definitions().empty()) {
    return Failure("cannot load field definitions from " + defs);
  }
  const CBookDef& def = *probe.book_definitions()[0];

  std::vector<std::unique_ptr<CBookDef>> carriers;
  int unreadable = 0;
  for (const std::string& name : ListDirectory(records_dir)) {
    if (!IsRecordFileName(name)) continue;
    std::string path = JoinPath(records_dir, name);
    CXmlDocument doc;
    if (!doc.Load(path)) {
      ++unreadable;
      std::fprintf(stderr, "tomeva-tool: skipped %s (not a record file)\n", path.c_str());
      continue;
    }
    auto carrier = std::make_unique<CBookDef>();
    for (int j = 0; j < def.field_count() && j < CBookDef::kValueCount; ++j) {
      if (!def.field(j).GetName().empty()) {
        carrier->SetValueAt(j, doc.GetText(def.field(j).GetName()));
      }
    }
    carrier->set_record_file_path(path);
    carriers.push_back(std::move(carrier));
  }
  std::vector<CBookDef*> records;
  for (auto& c : carriers) records.push_back(c.get());

  MakeDirectories(index_dir);
  CIndexConfig config;
  config.Set(defs, index_dir);
  StderrProgress progress;
  KmsEngine engine;
  BuildFailure failure;
  if (!config.Build(engine, records, &progress, {}, &failure)) {
    switch (failure.kind) {
      case BuildFailure::kDefinitions:
        return Failure("cannot load field definitions from " + defs);
      case BuildFailure::kRecordFile:
        return Failure("cannot read a record file: " + GbkToUtf8(failure.reason));
      default:
        return Failure("cannot write the index " + index_dir + ": " + GbkToUtf8(failure.reason));
    }
  }
  std::printf("{\"records\":%zu,\"skipped\":%d,\"index\":%s}\n", records.size(), unreadable,
              JsonUtf8(index_dir).c_str());
  return 0;
}

CommandRegistrar index_cmd("index", "DEFS.xml RECORDS_DIR INDEX_DIR   build the index", &RunIndex);

}  // namespace
}  // namespace tomeva::tool

// The field definition file plus the index it drives: loads the book definitions and builds the
// index from a list of record carriers.
#ifndef TOMEVA_CORE_RECORDS_INDEX_CONFIG_H_
#define TOMEVA_CORE_RECORDS_INDEX_CONFIG_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/book_def.h"
#include "core/xml/xml_document.h"

namespace tomeva {

class CIndexConfig {
 public:
  CIndexConfig() = default;
  CIndexConfig(const CIndexConfig&) = delete;
  CIndexConfig& operator=(const CIndexConfig&) = delete;

  // SetConfigFile(config_path), then stores the index folder.
  void Set(std::string_view config_path, std::string_view index_directory);
  // Stores the path; "" returns 0 without loading; otherwise returns Reload().
  int SetConfigFile(std::string_view path);
  // Loads the file into a new document; on failure keeps the old one (the path goes back to it).
  int Reload();
  // Appends one book definition per child of the root. 0 (and "Config file missing!" on stdout)
  // when the file cannot be loaded.
  int LoadDefinitions();
  // Loads the definitions and indexes `records` once per book definition. 1 when all went in
  // and were committed; 0 when the definitions cannot be loaded (kDefinitions) or a build
  // failed, as `failure` tells when given. `batch` as for CBookDef::BuildIndex. Defined in
  // index_build.cc.
  int Build(Engine& engine, const std::vector<CBookDef*>& records, ProgressSink* progress,
            const std::string& batch = {}, BuildFailure* failure = nullptr);

  const std::string& config_path() const { return config_path_; }
  const std::string& index_directory() const { return index_directory_; }
  const std::vector<std::unique_ptr<CBookDef>>& book_definitions() const { return books_; }
  CXmlDocument* document() const { return document_.get(); }

 private:
  std::string config_path_;
  std::string index_directory_;
  std::unique_ptr<CXmlDocument> document_;
  std::vector<std::unique_ptr<CBookDef>> books_;
};

// The field definition file of an import, exactly as the system writes it (temp.xml).
std::string BuildFieldDefinitionText(std::string_view dir, std::string_view name);

}  // namespace tomeva

#endif  // TOMEVA_CORE_RECORDS_INDEX_CONFIG_H_

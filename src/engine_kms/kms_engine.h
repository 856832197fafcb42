// KmsEngine: core's Engine over the engine library's KMS_ functions, the one place outside the
// engine library that calls them. Its charset argument is always the same GBK name; its failures
// carry KMS_Last_Error's reason. Stateless: one object serves every thread.
#ifndef TOMEVA_ENGINE_KMS_KMS_ENGINE_H_
#define TOMEVA_ENGINE_KMS_KMS_ENGINE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/engine.h"

namespace tomeva {

class KmsEngine : public Engine {
 public:
  // Initialises the engine library (KMS_Init, which may run any number of times).
  KmsEngine();

  std::unique_ptr<IndexSearch> SearchIndex(const std::string& index, const std::string& expression,
                                           const std::string& default_field,
                                           std::string* reason) override;
  std::optional<std::vector<std::string>> QueryWords(std::string_view query) override;
  std::optional<QueryReading> ReadQuery(const std::string& index, const std::string& expression,
                                        const std::string& default_field) override;
  std::optional<FoldedText> Fold(std::string_view text) override;

  bool OpenIndex(const std::string& index, int mode, std::string* reason) override;
  bool InsertDocument(const std::string& index, const IndexDocument& doc,
                      std::string* reason) override;
  bool CloseIndex(const std::string& index, std::string* reason) override;
  bool OptimizeIndex(const std::string& index, std::string* reason) override;
  bool ReindexIndex(const std::string& index, std::string* reason) override;
  bool PublishBatch(const std::string& index, const std::string& batch,
                    std::string* reason) override;
  bool DiscardBatch(const std::string& index, const std::string& batch,
                    std::string* reason) override;
  std::optional<std::vector<std::string>> ListBatches(const std::string& index,
                                                      std::string* reason) override;
  std::string IndexServer(const std::string& index) override;
};

// The engine's reading lines (KMS_Query_Reading's text) as a QueryReading; `text` kept whole.
// Lines it does not know are left in the text only.
QueryReading ParseQueryReading(const std::string& text);

}  // namespace tomeva

#endif  // TOMEVA_ENGINE_KMS_KMS_ENGINE_H_

// The engine calls that change an index, each checked and each giving the reason of its failure,
// so that no caller can commit data the index did not take. Tests make them fail through the
// fault seam's engine site (core/base/fault_injection.h): an armed call fails without reaching the
// engine, with the armed errno's text as its reason.
//
// Reasons are GBK, one line. Paths name the index folder as the engine takes it.
#ifndef TOMEVA_CORE_RECORDS_INDEX_WRITES_H_
#define TOMEVA_CORE_RECORDS_INDEX_WRITES_H_

#include <optional>
#include <string>
#include <vector>

#include "kms/kms.h"

namespace tomeva {

// KMS_Open for writing (mode 1) or optimising (mode 0).
bool OpenIndex(const std::string& index, int mode, std::string* reason);
// KMS_Insert_Document through the open writer.
bool InsertDocument(const std::string& index, KmsDocument* doc, std::string* reason);
// KMS_Close: true when everything inserted since the open is committed.
bool CloseIndex(const std::string& index, std::string* reason);
// KMS_Optimize.
bool OptimizeIndex(const std::string& index, std::string* reason);
// KMS_Publish_Batch / KMS_Discard_Batch.
bool PublishBatch(const std::string& index, const std::string& batch, std::string* reason);
bool DiscardBatch(const std::string& index, const std::string& batch, std::string* reason);
// KMS_Get_Batches: the names of the batches in the index; nothing when it cannot be read. A
// missing index has no batches.
std::optional<std::vector<std::string>> ListBatches(const std::string& index,
                                                    std::string* reason);

}  // namespace tomeva

#endif  // TOMEVA_CORE_RECORDS_INDEX_WRITES_H_

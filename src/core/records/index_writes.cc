#include "core/records/index_writes.h"

#include <cerrno>
#include <cstring>

#include "core/base/fault_injection.h"
#include "core/base/file_util.h"

namespace tomeva {
namespace {

// True when the fault seam fails this call; the reason is the armed error's text.
bool Injected(std::string* reason) {
  if (!InjectedFault(FaultSite::kEngineWrite)) return false;
  if (reason != nullptr) *reason = std::strerror(errno);
  return true;
}

bool Checked(int status, std::string* reason) {
  if (status == 0) return true;
  if (reason != nullptr) {
    const char* why = KMS_Last_Error();
    *reason = why != nullptr && *why != '\0' ? why : "engine error";
  }
  return false;
}

}  // namespace

bool OpenIndex(const std::string& index, int mode, std::string* reason) {
  if (Injected(reason)) return false;
  return Checked(KMS_Open(index.c_str(), mode), reason);
}

bool InsertDocument(const std::string& index, KmsDocument* doc, std::string* reason) {
  if (Injected(reason)) return false;
  return Checked(KMS_Insert_Document(index.c_str(), doc), reason);
}

bool CloseIndex(const std::string& index, std::string* reason) {
  if (Injected(reason)) {
    // The writer is still let go: a failed commit must not leave the index locked for the next
    // book or the next run. What it held is not committed, as after a real failure.
    KMS_Close(index.c_str());
    return false;
  }
  return Checked(KMS_Close(index.c_str()), reason);
}

bool OptimizeIndex(const std::string& index, std::string* reason) {
  if (Injected(reason)) return false;
  return Checked(KMS_Optimize(index.c_str()), reason);
}

bool PublishBatch(const std::string& index, const std::string& batch, std::string* reason) {
  if (Injected(reason)) return false;
  return Checked(KMS_Publish_Batch(index.c_str(), batch.c_str()), reason);
}

bool DiscardBatch(const std::string& index, const std::string& batch, std::string* reason) {
  if (Injected(reason)) return false;
  return Checked(KMS_Discard_Batch(index.c_str(), batch.c_str()), reason);
}

std::optional<std::vector<std::string>> ListBatches(const std::string& index,
                                                    std::string* reason) {
  std::vector<std::string> names;
  // An index not built yet has nothing to recover.
  if (!DirectoryExists(index)) return names;
  char* list = KMS_Get_Batches(index.c_str());
  if (list == nullptr) {
    Checked(-1, reason);
    return std::nullopt;
  }
  std::string text(list);
  KMS_Free_Field(list);
  size_t start = 0;
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
    if (nl > start) names.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return names;
}

}  // namespace tomeva

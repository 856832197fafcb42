// The parts of the import that only look at the Update folder, kept apart from the import
// itself so that the start-up maintenance can use them without the engine.
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "core/import/book_import.h"

namespace tomeva {

bool IsRecordFileName(std::string_view name) {
  std::string lower = ToLowerAscii(name);
  return lower.size() >= 9 && StartsWith(lower, "book_") && EndsWith(lower, ".xml");
}

std::vector<std::string> ListPendingCatalogues(std::string_view app_dir) {
  const std::string update = JoinPath(app_dir, "Update");
  std::vector<std::string> names;
  for (const std::string& name : ListDirectory(ResolvePath(update))) {
    std::string lower = ToLowerAscii(name);
    if (!StartsWith(lower, "bookconfig") || !EndsWith(lower, ".xml") || lower.size() < 14) continue;
    if (FileExists(JoinPath(update, name))) names.push_back(name);
  }
  return names;
}

}  // namespace tomeva

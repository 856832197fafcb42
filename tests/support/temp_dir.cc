#include "support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace tomeva::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tomeva-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder from " + pattern + ": " +
                             std::strerror(errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  // Removed with the standard library rather than core's DeleteTree, so that a fault in the file
  // helpers under test cannot leave folders behind or reach outside this one.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace tomeva::testing

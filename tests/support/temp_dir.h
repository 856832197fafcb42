// A temporary folder for one test, removed with everything in it afterwards, and small helpers
// to put files into it.
#ifndef TOMEVA_TESTS_SUPPORT_TEMP_DIR_H_
#define TOMEVA_TESTS_SUPPORT_TEMP_DIR_H_

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/base/file_tree.h"
#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "core/xml/text_scrambler.h"

namespace tomeva::testing {

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tomeva-lib-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~TempDir() {
    DeleteTree(path_);
    RemoveDirectory(path_);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return JoinPath(path_, name); }

 private:
  std::string path_;
};

// Writes `utf8` converted to GBK (creating the folders on the way).
inline void WriteGbk(const std::string& path, const std::string& utf8) {
  MakeDirectories(DirName(path));
  ReplaceFileAtomically(path, Utf8ToGbk(utf8));
}

inline void WriteScrambledGbk(const std::string& path, const std::string& utf8) {
  MakeDirectories(DirName(path));
  WriteScrambledFile(path, Utf8ToGbk(utf8));
}

inline std::string ReadUtf8(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return GbkToUtf8(bytes);
}

inline std::string ReadScrambledUtf8(const std::string& path) {
  std::string plain;
  ReadScrambledFile(path, &plain);
  return GbkToUtf8(plain);
}

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_SUPPORT_TEMP_DIR_H_

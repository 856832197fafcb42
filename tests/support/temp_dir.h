// A temporary folder for one test, removed with everything in it afterwards, and small helpers
// to put GBK files into it and read them back as UTF-8.
#ifndef TOMEVA_TESTS_SUPPORT_TEMP_DIR_H_
#define TOMEVA_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>
#include <string_view>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "core/xml/text_scrambler.h"

namespace tomeva::testing {

// A fresh empty folder under the system's temporary folder ($TMPDIR, else /tmp), made by the
// constructor and removed with its contents by the destructor. Every object gets a folder of its
// own, so cases that CTest runs in parallel processes never share one. Throws
// std::runtime_error when the folder cannot be made (the case then fails with the reason).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing "/".
  const std::string& path() const { return path_; }
  // `name` inside the folder; `name` may hold "/" for deeper paths.
  std::string operator/(std::string_view name) const { return JoinPath(path_, name); }

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

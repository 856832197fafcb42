#include "core/base/file_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::ReadUtf8;
using testing::TempDir;
using testing::WriteGbk;

TEST(FileTreeTest, PlainFolderNames) {
  struct Case {
    const char* name;
    bool plain;
  } cases[] = {
      {"12", true},        {"唐诗", true},     {"a.b", true},    {"", false},
      {".", false},        {"..", false},      {"a..b", false},  {"a/b", false},
      {"/etc", false},     {"a\\b", false},    {"..\\x", false}, {"C:", false},
      {"x\ny", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPlainFolderName(Utf8ToGbk(c.name)), c.plain) << c.name;
  }
  // A GBK character whose trail byte is "\" is one character, not a separator.
  EXPECT_TRUE(IsPlainFolderName("\xD5\x5C"));
}

TEST(FileTreeTest, CopyTreeReplacesFilesAndLeavesLinksOut) {
  TempDir src, app;
  WriteGbk(src / "a.htm", "new a");
  WriteGbk(src / "pages/p1.htm", "p1");
  WriteGbk(src / "pages/deep/p2.htm", "p2");
  WriteGbk(app / "book/a.htm", "old a");
  WriteGbk(app / "book/keep.txt", "kept");
  TempDir outside;
  WriteGbk(outside / "secret.txt", "secret");
  ASSERT_EQ(::symlink(outside.path().c_str(), (src / "link").c_str()), 0);

  EXPECT_TRUE(CopyTreeIntoAppDir(app.path(), src.path(), "book"));
  EXPECT_EQ(ReadUtf8(app / "book/a.htm"), "new a");
  EXPECT_EQ(ReadUtf8(app / "book/pages/p1.htm"), "p1");
  EXPECT_EQ(ReadUtf8(app / "book/pages/deep/p2.htm"), "p2");
  EXPECT_EQ(ReadUtf8(app / "book/keep.txt"), "kept");
  EXPECT_FALSE(FileExists(app / "book/link/secret.txt"));
}

TEST(FileTreeTest, DeleteTreeEmptiesTheFolderButNotWhatLinksPointAt) {
  TempDir dir, outside;
  WriteGbk(outside / "precious.txt", "keep me");
  WriteGbk(dir / "a.txt", "a");
  WriteGbk(dir / "sub/b.txt", "b");
  WriteGbk(dir / "sub/deeper/c.txt", "c");
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "sub/link").c_str()), 0);

  EXPECT_TRUE(DeleteTree(dir.path()));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_TRUE(ListDirectory(dir.path()).empty());
  EXPECT_EQ(ReadUtf8(outside / "precious.txt"), "keep me");
  EXPECT_FALSE(DeleteTree(dir / "missing"));
}

}  // namespace
}  // namespace tomeva

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

TEST(FileTreeTest, PlainRelativePaths) {
  struct Case {
    const char* path;
    bool plain;
  } cases[] = {
      // One plain name, and plain names joined by either separator.
      {"12", true},
      {"唐诗", true},
      {"books\\tang", true},
      {"books/tang", true},
      {"a\\b/c\\唐诗", true},
      // Nothing, or a path that leaves the library or starts elsewhere.
      {"", false},
      {"/", false},
      {"\\", false},
      {"/books/tang", false},
      {"\\books\\tang", false},
      {"\\\\server\\share", false},
      {"C:\\books", false},
      {"C:books", false},
      {"books\\C:", false},
      {"..", false},
      {"../books", false},
      {"books\\..\\..\\etc", false},
      {"books/../tang", false},
      {".", false},
      {"./books", false},
      {"books/./tang", false},
      // Empty components.
      {"books\\", false},
      {"books/", false},
      {"books\\\\tang", false},
      {"books//tang", false},
      // A control byte in any component.
      {"books\\ta\nng", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPlainRelativePath(Utf8ToGbk(c.path)), c.plain) << c.path;
  }
  // A GBK character whose trail byte is "\" is one character, not a separator; a real
  // separator after it still splits.
  EXPECT_TRUE(IsPlainRelativePath("\xD5\x5C"));
  EXPECT_TRUE(IsPlainRelativePath("\xD5\x5C\\a"));
  EXPECT_FALSE(IsPlainRelativePath("\xD5\x5C\\"));
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

TEST(FileTreeTest, CopyTreeOfASourceThatCannotBeListedFails) {
  // A copy that could not see the source's files must not pass for the copy of an empty folder:
  // the migration deletes the source once it believes the copy whole.
  TempDir src, app;
  WriteGbk(src / "not-a-folder", "x");
  EXPECT_FALSE(CopyTreeIntoAppDir(app.path(), src / "not-a-folder", "book"));
  EXPECT_FALSE(CopyTreeIntoAppDir(app.path(), src / "missing", "book2"));
  MakeDirectories(src / "empty");
  EXPECT_TRUE(CopyTreeIntoAppDir(app.path(), src / "empty", "book3"));
  EXPECT_TRUE(DirectoryExists(app / "book3"));
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

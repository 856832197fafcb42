#include "base/file_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

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
  // "?" is what the XML reader puts in place of a byte that is not GBK.
  EXPECT_FALSE(IsPlainFolderName("a?b"));
  // Bytes that are not GBK: a lone lead byte would hide the byte after it from the walk.
  for (const std::string name : {"A\x81", "A\x81/x", "\xFF", "\x81\x30", "A\xD6"}) {
    EXPECT_FALSE(IsPlainFolderName(name)) << name;
    EXPECT_FALSE(IsPlainRelativePath(name)) << name;
    EXPECT_FALSE(IsPlainRelativePath("books/" + name)) << name;
  }
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

// Links in the source are named to the caller, at any depth, and never followed.
TEST(FileTreeTest, CopyTreeNamesTheLinksItLeavesOut) {
  TempDir src, app, outside;
  WriteGbk(outside / "passwd", "root:x:0:0");
  WriteGbk(src / "pages/p1.htm", "p1");
  ASSERT_EQ(::symlink((outside / "passwd").c_str(), (src / "cover.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (src / "pages/more").c_str()), 0);
  ASSERT_EQ(::symlink("/nowhere", (src / "pages/dangling").c_str()), 0);
  std::vector<std::string> links;
  EXPECT_TRUE(CopyTreeIntoAppDir(app.path(), src.path(), "book", &links));
  EXPECT_EQ(links, (std::vector<std::string>{"book/cover.jpg", "book/pages/dangling",
                                             "book/pages/more"}));
  EXPECT_EQ(ReadUtf8(app / "book/pages/p1.htm"), "p1");
  EXPECT_EQ(ListDirectory(app / "book"), std::vector<std::string>{"pages"});
  EXPECT_EQ(ListDirectory(app / "book/pages"), std::vector<std::string>{"p1.htm"});
}

// A link already in the installation, where the copy would write, never takes the copy outside:
// a folder reached through one is refused, and a file that is one is replaced, not written
// through.
TEST(FileTreeTest, CopyTreeNeverWritesThroughALinkInTheTarget) {
  struct Case {
    const char* name;
    const char* link;      // the link planted in the installation, pointing outside
    const char* relative;  // the copy's target folder
    bool copied;
  } cases[] = {
      {"the book's folder is a link", "book", "book", false},
      {"the book's folder differs in case only", "book", "BOOK", false},
      {"a parent folder is a link", "books", "books/tang", false},
      {"a sub-folder of the book is a link", "book/pages", "book", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir src, app, outside;
    WriteGbk(src / "a.htm", "a");
    WriteGbk(src / "pages/p1.htm", "p1");
    MakeDirectories(DirName(app / c.link));
    ASSERT_EQ(::symlink(outside.path().c_str(), (app / c.link).c_str()), 0);
    EXPECT_EQ(CopyTreeIntoAppDir(app.path(), src.path(), c.relative), c.copied);
    EXPECT_TRUE(ListDirectory(outside.path()).empty());
    EXPECT_FALSE(MakeFolderInAppDir(app.path(), c.link));
    EXPECT_FALSE(HasNoLinkBelow(app.path(), c.link));
  }
  // A file of the target that is a link is replaced by the copy; its target is untouched.
  TempDir src, app, outside;
  WriteGbk(src / "a.htm", "new");
  WriteGbk(outside / "a.htm", "outside");
  MakeDirectories(app / "book");
  ASSERT_EQ(::symlink((outside / "a.htm").c_str(), (app / "book/a.htm").c_str()), 0);
  EXPECT_TRUE(CopyTreeIntoAppDir(app.path(), src.path(), "book"));
  EXPECT_EQ(ReadUtf8(outside / "a.htm"), "outside");
  EXPECT_EQ(ReadUtf8(app / "book/a.htm"), "new");
  EXPECT_TRUE(HasNoLinkBelow(app.path(), "book"));
}

TEST(FileTreeTest, FolderInAppDirIsMadeOnlyThroughRealFolders) {
  TempDir app;
  WriteGbk(app / "file", "x");
  MakeDirectories(app / "Books/Tang");
  std::string resolved;
  // Made where missing, found without regard to case where present.
  ASSERT_TRUE(MakeFolderInAppDir(app.path(), "books\\song", &resolved));
  EXPECT_EQ(resolved, app / "Books/song");
  ASSERT_TRUE(MakeFolderInAppDir(app.path(), "BOOKS/tang", &resolved));
  EXPECT_EQ(resolved, app / "Books/Tang");
  EXPECT_TRUE(HasNoLinkBelow(app.path(), "books/tang/missing/deeper"));
  // A file in the way, or a path that is not plain.
  EXPECT_FALSE(MakeFolderInAppDir(app.path(), "file/sub"));
  EXPECT_FALSE(HasNoLinkBelow(app.path(), "file/sub"));
  EXPECT_FALSE(MakeFolderInAppDir(app.path(), "../escape"));
  EXPECT_FALSE(DirectoryExists(app / "../escape"));
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

#include "base/path_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;

// A station: `shared` is the shared library, `station` the installation folder whose top-level
// entries are links to it. Book 1 holds a page, a picture folder, a link out of the book (to
// /etc), a link to book 2 and a dangling link.
class PathGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteGbk(tmp_ / "shared/home.htm", "home");
    WriteGbk(tmp_ / "shared/1/Page.htm", "page");
    WriteGbk(tmp_ / "shared/1/img/a.png", "png");
    WriteGbk(tmp_ / "shared/2/secret.htm", "two");
    WriteGbk(tmp_ / "outside.htm", "outside");
    ASSERT_EQ(::symlink("/etc", (tmp_ / "shared/1/etc").c_str()), 0);
    ASSERT_EQ(::symlink((tmp_ / "shared/2").c_str(), (tmp_ / "shared/1/two").c_str()), 0);
    ASSERT_EQ(::symlink((tmp_ / "nowhere").c_str(), (tmp_ / "shared/1/dangling").c_str()), 0);
    MakeDirectories(tmp_ / "station");
    for (const char* entry : {"home.htm", "1", "2"}) {
      ASSERT_EQ(::symlink((tmp_ / "shared/" + entry).c_str(), (tmp_ / "station/" + entry).c_str()),
                0);
    }
    // A file of book 1 that is a link to a file outside the library.
    ASSERT_EQ(::symlink((tmp_ / "outside.htm").c_str(), (tmp_ / "shared/1/out.htm").c_str()), 0);
  }
  TempDir tmp_;
};

TEST_F(PathGuardTest, NamesInsideABookFolder) {
  const std::string book = tmp_ / "station/1";
  struct Case {
    const char* name;
    const char* expected;  // the path under the book, or null when refused
  } cases[] = {
      {"Page.htm", "Page.htm"},
      {"page.HTM", "Page.htm"},  // letter case resolved
      {"img\\a.png", "img/a.png"},
      {"img/../Page.htm", "Page.htm"},
      {"./img//a.png", "img/a.png"},
      {"new.htm", "new.htm"},  // missing, lexically inside: allowed
      {"img/missing/x.htm", "img/missing/x.htm"},
      // Out of the book.
      {"../2/secret.htm", nullptr},
      {"..\\..\\..\\..\\etc\\passwd", nullptr},
      {"../../../../etc/passwd", nullptr},
      {"img/../../home.htm", nullptr},
      {"/etc/passwd", nullptr},
      {"\\etc\\passwd", nullptr},
      {"\\\\server\\share\\x", nullptr},
      {"C:\\Windows\\win.ini", nullptr},
      {"C:x.htm", nullptr},
      {"file:///etc/passwd", nullptr},
      {"javascript:alert(1)", nullptr},
      {"http://example.com/", nullptr},
      {"Page.htm\n", nullptr},
      {"a\tb.htm", nullptr},
      {"", nullptr},
      {".", nullptr},
      {"img/..", nullptr},
      // Links inside the book that lead out of it, even into another book.
      {"etc/passwd", nullptr},
      {"etc", nullptr},
      {"two/secret.htm", nullptr},
      {"dangling", nullptr},
      {"dangling/x", nullptr},
      {"out.htm", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = ResolveInside(book, c.name);
    if (c.expected == nullptr) {
      EXPECT_FALSE(got.has_value()) << *got;
    } else {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, book + "/" + c.expected);
    }
  }
  // A NUL inside the name cuts nothing off: the whole name is refused.
  EXPECT_FALSE(ResolveInside(book, std::string_view("Page.htm\0/../../x", 17)).has_value());
  // A root that does not exist holds nothing.
  EXPECT_FALSE(ResolveInside(tmp_ / "station/9", "Page.htm").has_value());
}

TEST_F(PathGuardTest, TopLevelLinksOfAStationAreInsideTheLibrary) {
  const std::string station = tmp_ / "station";
  struct Case {
    const char* name;
    bool inside;
  } cases[] = {
      {"home.htm", true},        {"HOME.HTM", true},
      {"1/Page.htm", true},      {"2/secret.htm", true},
      {"1\\img\\a.png", true},   {"3/new.htm", true},
      {"1/etc/passwd", false},   {"1/two/secret.htm", false},
      {"../outside.htm", false}, {"1/../../outside.htm", false},
      {"1/out.htm", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ResolveInsideLibrary(station, c.name).has_value(), c.inside);
  }
  // The book rule is stricter: the station folder's own entries are links out of it.
  EXPECT_FALSE(ResolveInside(station, "1/Page.htm").has_value());
}

TEST_F(PathGuardTest, PageAddressesKeepTheirFragment) {
  const std::string book = tmp_ / "station/1";
  EXPECT_EQ(ResolvePageInside(book, "page.htm#p2").value_or("refused"), book + "/Page.htm#p2");
  EXPECT_EQ(ResolvePageInside(book, "Page.htm?a=1#b").value_or("refused"),
            book + "/Page.htm?a=1#b");
  // The fragment is not part of the name, so it cannot hide a climb; nor can it carry one.
  EXPECT_FALSE(ResolvePageInside(book, "../2/secret.htm#x").has_value());
  EXPECT_EQ(ResolvePageInside(book, "Page.htm#../../x").value_or("refused"),
            book + "/Page.htm#../../x");
  EXPECT_EQ(ResolvePageInside(tmp_ / "station", "home.htm#top", true).value_or("refused"),
            tmp_ / "station/home.htm#top");
}

TEST_F(PathGuardTest, LocalPathsAreInsideTheInstallationOrLibrary) {
  const std::vector<std::string> roots = {tmp_ / "station/", ""};
  struct Case {
    std::string path;
    bool inside;
  } cases[] = {
      {tmp_ / "station/home.htm", true},
      {tmp_ / "station/1/Page.htm", true},
      {tmp_ / "station/1/img/../Page.htm", true},
      {tmp_ / "station/1/missing.htm", true},
      // The shared library's own files, named as the file system resolves them.
      {tmp_ / "shared/1/Page.htm", true},
      {tmp_ / "shared/home.htm", true},
      // Out of it.
      {tmp_ / "outside.htm", false},
      {tmp_ / "station/../outside.htm", false},
      {tmp_ / "station/1/../../outside.htm", false},
      {tmp_ / "station/1/etc/passwd", false},
      {tmp_ / "station/1/out.htm", false},
      {"/etc/passwd", false},
      {"/", false},
      {"relative/home.htm", false},
      {"", false},
      {tmp_ / "station/home.htm\r", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsInsideLibrary(roots, c.path), c.inside);
  }
  // With no root at all nothing is inside.
  EXPECT_FALSE(IsInsideLibrary({}, tmp_ / "station/home.htm"));
  // A second root is its own: the library folder apart from the installation.
  EXPECT_TRUE(IsInsideLibrary({tmp_ / "elsewhere", tmp_ / "shared"}, tmp_ / "shared/1/Page.htm"));
}

}  // namespace
}  // namespace tomeva

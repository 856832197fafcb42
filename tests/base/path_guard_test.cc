#include "base/path_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;
using testing::WriteGbk;

// A station: `shared` is the shared library, chosen as a library root, `station` the
// installation folder whose top-level entries are links to it. Book 1 holds a page, a picture
// folder, a link out of the book (to /etc), a link to book 2 and a dangling link.
class PathGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetChosenLibraryRoots({tmp_ / "shared"});
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
  void TearDown() override { SetChosenLibraryRoots({}); }
  TempDir tmp_;
};

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
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

// A library copied from elsewhere may hold top-level links of any kind: only those into the
// library itself or into a chosen library root lead anywhere.
TEST_F(PathGuardTest, TopLevelLinksLeadOnlyIntoTheLibraryOrAChosenRoot) {
  const std::string lib = tmp_ / "lib";
  WriteGbk(lib + "/own/p.htm", "own");
  WriteGbk(tmp_ / "shared/b/p.htm", "chosen");
  WriteGbk(tmp_ / "other/p.htm", "other");
  const struct {
    const char* link;
    std::string target;
  } links[] = {
      {"etcl", "/etc"},        {"usrl", "/usr/share"},     {"rootl", "/"},
      {"procl", "/proc/self"}, {"otherl", tmp_ / "other"}, {"sharedl", tmp_ / "shared/b"},
      {"ownl", lib + "/own"},
  };
  for (const auto& l : links) {
    ASSERT_EQ(::symlink(l.target.c_str(), (lib + "/" + l.link).c_str()), 0) << l.link;
  }
  const struct {
    const char* name;
    bool inside;
  } cases[] = {
      {"etcl/hostname", false},      {"etcl/passwd", false},   {"usrl/common-licenses", false},
      {"rootl/etc/hostname", false}, {"procl/environ", false}, {"otherl/p.htm", false},
      {"sharedl/p.htm", true},       {"SHAREDL/P.HTM", true},  {"ownl/p.htm", true},
      {"own/p.htm", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ResolveInsideLibrary(lib, c.name).has_value(), c.inside);
    EXPECT_EQ(IsInsideLibrary({lib}, lib + "/" + c.name), c.inside);
  }
  // Named as the file system resolves them: a link's target is inside only when the link counts.
  EXPECT_FALSE(IsInsideLibrary({lib}, "/etc/hostname"));
  EXPECT_FALSE(IsInsideLibrary({lib}, tmp_ / "other/p.htm"));
  EXPECT_TRUE(IsInsideLibrary({lib}, tmp_ / "shared/b/p.htm"));

  // Without a chosen root only the library's own links lead anywhere; choosing a system folder,
  // an ancestor of one or the home folder chooses nothing.
  for (const std::vector<std::string>& chosen : std::vector<std::vector<std::string>>{
           {}, {"/"}, {"/etc"}, {"/usr"}, {"relative"}, {"/home"}}) {
    SetChosenLibraryRoots(chosen);
    EXPECT_FALSE(ResolveInsideLibrary(lib, "sharedl/p.htm").has_value());
    EXPECT_FALSE(ResolveInsideLibrary(lib, "etcl/hostname").has_value());
    EXPECT_FALSE(ResolveInsideLibrary(lib, "rootl/etc/hostname").has_value());
    EXPECT_TRUE(ResolveInsideLibrary(lib, "ownl/p.htm").has_value());
  }
  EXPECT_TRUE(ChosenLibraryRoots().empty());
}

TEST_F(PathGuardTest, NoSystemFolderHoldsALibrary) {
  ScopedEnv home("HOME", tmp_ / "home");
  MakeDirectories(tmp_ / "home/books");
  const struct {
    std::string folder;
    bool may;
  } cases[] = {
      {"/", false},
      {"/etc", false},
      {"/etc/ssl", false},
      {"/proc/self", false},
      {"/usr", false},
      {"/usr/share/books", false},
      {"/var/lib/books", false},
      {"/run/user", false},
      {"/root/books", false},
      {"/lib", false},
      {"/lib64", false},
      {"/libx32/x", false},
      {"/sbin", false},
      {tmp_ / "home", false},  // the home folder itself
      {"/home", false},        // every user's
      {"/home/someone/books", true},
      {tmp_.path(), false},  // an ancestor of it
      {tmp_ / "home/books", true},
      {"/library", true},
      {"/srv/library", true},
      {"/mnt/library", true},
      {"relative/books", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(MayHoldLibrary(c.folder), c.may);
  }
}

TEST_F(PathGuardTest, LibraryRootsAreReadFromTheirFile) {
  const std::string file = tmp_ / "library-roots";
  ScopedEnv named("TOMEVA_LIBRARY_ROOTS_FILE", file);
  EXPECT_TRUE(LoadChosenLibraryRoots().empty());  // no file: no roots
  WriteGbk(file, "# the reading room's share\r\n" + (tmp_ / "shared") +
                     "\r\n\n   \n  /mnt/library  \n/etc\n/\nrelative/books\n#/srv/off\n/srv/x");
  EXPECT_EQ(LoadChosenLibraryRoots(),
            (std::vector<std::string>{tmp_ / "shared", "/mnt/library", "/srv/x"}));
}

}  // namespace
}  // namespace tomeva

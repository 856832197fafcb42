#include "base/file_util.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

class FileUtilTest : public ::testing::Test {
 protected:
  void Write(const std::string& rel, const std::string& bytes) {
    std::ofstream(dir_ + "/" + rel, std::ios::binary) << bytes;
  }
  testing::TempDir tmp_;
  // The tests join paths with "\" as well as "/", so they use the folder as a plain string.
  const std::string dir_ = tmp_.path();
};

TEST_F(FileUtilTest, ResolvesBackslashesAndCaseOfEachComponent) {
  ASSERT_TRUE(MakeDirectories(dir_ + "/Books/Book1"));
  Write("Books/Book1/Chapter.XML", "x");
  struct Case {
    std::string asked;
    std::string want;
  };
  const Case cases[] = {
      {dir_ + "\\books\\BOOK1\\chapter.xml", dir_ + "/Books/Book1/Chapter.XML"},
      {dir_ + "/Books/Book1/Chapter.XML", dir_ + "/Books/Book1/Chapter.XML"},
      {dir_ + "/books/missing.xml", dir_ + "/books/missing.xml"},  // unresolvable: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvePath(c.asked), c.want);
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(dir_ + "\\BOOKS\\book1\\chapter.xml", &bytes));
  EXPECT_EQ(bytes, "x");
  EXPECT_TRUE(FileExists(dir_ + "/books/book1/CHAPTER.xml"));
  EXPECT_TRUE(DirectoryExists(dir_ + "/BOOKS"));
  EXPECT_FALSE(FileExists(dir_ + "/BOOKS"));
}

TEST_F(FileUtilTest, AtomicReplaceKeepsBytesAndLeavesNoTemporaries) {
  const std::string path = dir_ + "/bookconfig.xml";
  Write("bookconfig.xml", "old");
  std::string bytes("new\0with nul", 12);
  ASSERT_TRUE(ReplaceFileAtomically(path, bytes));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, bytes);
  EXPECT_EQ(ListDirectory(dir_), std::vector<std::string>{"bookconfig.xml"});
  // A folder that does not exist: failure reported, nothing created.
  EXPECT_FALSE(ReplaceFileAtomically(dir_ + "/no/such/file", "x"));
  EXPECT_FALSE(ReadWholeFile(dir_ + "/absent", &read));
  EXPECT_TRUE(read.empty());
}

// A file is read whole whatever its size says: empty, larger than one read, and a file whose
// size reads as 0 while it has content (the kernel's own files) or that is larger than the
// first guess.
TEST_F(FileUtilTest, ReadWholeFileReadsToTheEndWhateverTheSizeSays) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"empty", ""}, {"one byte", "x"}, {"big", big}};
  for (const auto& c : cases) {
    Write(c.name, c.bytes);
    std::string read = "left over";
    ASSERT_TRUE(ReadWholeFile(dir_ + "/" + c.name, &read)) << c.name;
    EXPECT_EQ(read, c.bytes) << c.name;
  }
  std::string status;
  ASSERT_TRUE(ReadWholeFile("/proc/self/status", &status));
  EXPECT_NE(status.find("Name:"), std::string::npos);
  EXPECT_EQ(status.back(), '\n');
  std::string maps;
  ASSERT_TRUE(ReadWholeFile("/proc/self/maps", &maps));
  EXPECT_EQ(maps.back(), '\n');
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Only regular files within the cap are read. Each read runs in a child process with an alarm and
// a memory limit, so that a read that would wait on a FIFO or read /dev/zero without end fails
// the case instead of hanging or exhausting the test machine.
TEST_F(FileUtilTest, ReadWholeFileReadsOnlyRegularFilesWithinTheCap) {
  Write("ten", "0123456789");
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir_ + "/zero").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/fifo").c_str(), (dir_ + "/to-fifo").c_str()), 0);
  ASSERT_TRUE(MakeDirectories(dir_ + "/folder"));
  enum Outcome { kRefused = 10, kRead = 11 };
  const struct {
    const char* name;
    std::string path;
    size_t cap;
    int want;
  } cases[] = {
      {"fifo without a writer", dir_ + "/fifo", kLargeFileLimit, kRefused},
      {"link to a fifo", dir_ + "/to-fifo", kLargeFileLimit, kRefused},
      {"link to /dev/zero", dir_ + "/zero", kLargeFileLimit, kRefused},
      {"/dev/zero itself", "/dev/zero", kSmallFileLimit, kRefused},
      {"folder", dir_ + "/folder", kLargeFileLimit, kRefused},
      {"file one byte past the cap", dir_ + "/ten", 9, kRefused},
      {"file exactly at the cap", dir_ + "/ten", 10, kRead},
      {"file under the small cap", dir_ + "/ten", kSmallFileLimit, kRead},
      // The kernel's files say 0 bytes; their real length is checked while reading.
      {"size-less file past the cap", "/proc/self/maps", 16, kRefused},
      {"absent file", dir_ + "/absent", kLargeFileLimit, kRefused},
  };
  for (const auto& c : cases) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(5);
      // AddressSanitizer reserves terabytes of address space for its shadow: there the alarm
      // alone stands guard.
      if (!kAddressSanitizer) {
        const rlimit memory = {rlim_t{1} << 30, rlim_t{1} << 30};
        ::setrlimit(RLIMIT_AS, &memory);
      }
      std::string bytes = "left over";
      const bool read = ReadWholeFile(c.path, &bytes, c.cap);
      // A refused read leaves nothing behind; a read gives the whole file.
      if (!read) ::_exit(bytes.empty() ? kRefused : 1);
      ::_exit(bytes == "0123456789" ? kRead : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << c.name << ": ended by signal "
                                   << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), c.want) << c.name;
  }
  // The same in this process: the cap is what the callers of small files rely on.
  std::string bytes;
  EXPECT_FALSE(ReadWholeFile(dir_ + "/ten", &bytes, 9));
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(ReadWholeFile(dir_ + "/ten", &bytes, kSmallFileLimit));
  EXPECT_EQ(bytes, "0123456789");
}

// An exclusive create never replaces what is there, leaves no temporary behind, and reports a
// folder it cannot write into.
TEST_F(FileUtilTest, ExclusiveCreateNeverReplaces) {
  const std::string stub = dir_ + "/stub";
  ASSERT_TRUE(CreateFileExclusively(stub, "generation 1"));
  EXPECT_FALSE(CreateFileExclusively(stub, "generation 2"));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(stub, &read));
  EXPECT_EQ(read, "generation 1");
  EXPECT_EQ(ListDirectory(dir_), std::vector<std::string>{"stub"});
  EXPECT_FALSE(CreateFileExclusively(dir_ + "/no/such/stub", "x"));
}

TEST_F(FileUtilTest, RenameAndFlushReportFailure) {
  ASSERT_TRUE(MakeDirectories(dir_ + "/Update/book1"));
  Write("Update/book1/r.xml", "r");
  EXPECT_TRUE(RenamePath(dir_ + "/Update/book1", dir_ + "/Update/.cleared-book1"));
  EXPECT_TRUE(FileExists(dir_ + "/Update/.cleared-book1/r.xml"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/Update/book1"));
  EXPECT_FALSE(RenamePath(dir_ + "/Update/book1", dir_ + "/elsewhere"));
  EXPECT_TRUE(FlushFileSystem(dir_));
  EXPECT_FALSE(FlushFileSystem(dir_ + "/absent"));
}

TEST_F(FileUtilTest, CaseLookupOnWriteIsOptionalButTheFolderIsAlwaysResolved) {
  ASSERT_TRUE(MakeDirectories(dir_ + "/Book"));
  Write("Book/Chapter.xml", "old");
  // With the lookup the differently-cased existing file is replaced...
  ASSERT_TRUE(ReplaceFileAtomically(dir_ + "/book/chapter.xml", "new"));
  EXPECT_EQ(ListDirectory(dir_ + "/Book"), std::vector<std::string>{"Chapter.xml"});
  // ...without it the exact name is written, still inside the resolved folder.
  ASSERT_TRUE(ReplaceFileAtomically(dir_ + "/BOOK/chapter.xml", "x", {.sync = false,
                                                                      .resolve_case = false}));
  EXPECT_EQ(ListDirectory(dir_ + "/Book"),
            (std::vector<std::string>{"Chapter.xml", "chapter.xml"}));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(dir_ + "/Book/Chapter.xml", &bytes));
  EXPECT_EQ(bytes, "new");
}

// A book package is read through its folder opened once: its entries are opened from there and
// never through a link, and a folder or link put in its place by its path afterwards changes
// nothing for those reads. A test's action runs at the read, named by the entry.
TEST_F(FileUtilTest, ReadsBelowAnOpenFolderNeverFollowALink) {
  ASSERT_TRUE(MakeDirectories(dir_ + "/Update/Pkg/sub"));
  ASSERT_TRUE(MakeDirectories(dir_ + "/elsewhere"));
  Write("Update/Pkg/book_1.xml", "inside");
  Write("outside.xml", "outside");
  Write("elsewhere/book_1.xml", "outside");
  ASSERT_EQ(::symlink((dir_ + "/outside.xml").c_str(), (dir_ + "/Update/Pkg/link.xml").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir_ + "/Update/Pkg/fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir_ + "/elsewhere").c_str(), (dir_ + "/Update/Lnk").c_str()), 0);

  const struct {
    const char* relative;
    int error;  // 0: opens
  } opens[] = {{"update\\pkg", 0},
               {"Update/Pkg/sub", 0},
               {"Update/Lnk", ELOOP},
               {"Update/missing", ENOENT},
               {"Update/../Update/Pkg", EINVAL},
               {"outside.xml", ENOTDIR}};
  for (const auto& c : opens) {
    OpenFolder folder;
    errno = 0;
    EXPECT_EQ(folder.Open(dir_, c.relative), c.error == 0) << c.relative;
    // A link opened with O_NOFOLLOW | O_DIRECTORY is reported as either.
    if (c.error == ELOOP) {
      EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << c.relative;
    } else if (c.error != 0) {
      EXPECT_EQ(errno, c.error) << c.relative;
    }
  }

  OpenFolder package;
  ASSERT_TRUE(package.Open(dir_, "Update/Pkg"));
  std::vector<std::string> seen;
  SetFaultAction(FaultSite::kFileRead, [&seen](std::string_view what) { seen.emplace_back(what); });
  const struct {
    const char* name;
    int type;
    int error;  // 0: read, giving "inside"
  } reads[] = {{"book_1.xml", S_IFREG, 0}, {"link.xml", S_IFLNK, ELOOP},
               {"sub", S_IFDIR, EISDIR},   {"fifo", S_IFIFO, EINVAL},
               {"missing", -1, ENOENT},    {"../outside.xml", -1, EINVAL}};
  for (const auto& c : reads) {
    std::string bytes = "left over";
    errno = 0;
    EXPECT_EQ(ReadWholeFileAt(package, c.name, &bytes), c.error == 0) << c.name;
    EXPECT_EQ(bytes, c.error == 0 ? "inside" : "") << c.name;
    if (c.error != 0) {
      EXPECT_EQ(errno, c.error) << c.name;
    }
    EXPECT_EQ(EntryTypeAt(package, c.name), c.type) << c.name;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"book_1.xml", "link.xml", "sub", "fifo", "missing",
                                            "../outside.xml"}));
  ClearFaults();
  std::string bytes;
  EXPECT_FALSE(ReadWholeFileAt(package, "book_1.xml", &bytes, 5));  // past the cap
  EXPECT_EQ(seen.size(), 6u);  // the action went with ClearFaults

  // The package swapped for a link to another folder after it was opened: the reads and the
  // listing still see the folder that was opened.
  ASSERT_TRUE(RenamePath(dir_ + "/Update/Pkg", dir_ + "/Update/Pkg.moved"));
  ASSERT_EQ(::symlink((dir_ + "/elsewhere").c_str(), (dir_ + "/Update/Pkg").c_str()), 0);
  ASSERT_TRUE(ReadWholeFileAt(package, "book_1.xml", &bytes));
  EXPECT_EQ(bytes, "inside");
  std::vector<std::string> names;
  ASSERT_TRUE(ListOpenFolder(package, &names));
  EXPECT_EQ(names, (std::vector<std::string>{"book_1.xml", "fifo", "link.xml", "sub"}));
  OpenFolder sub;
  EXPECT_TRUE(sub.OpenChild(package, "sub"));
  EXPECT_FALSE(sub.OpenChild(package, "link.xml"));

  // By path: a link as the file itself is refused, a file is read.
  EXPECT_FALSE(ReadWholeFileNoFollow(dir_ + "/Update/Pkg.moved/link.xml", &bytes));
  EXPECT_EQ(errno, ELOOP);
  ASSERT_TRUE(ReadWholeFileNoFollow(dir_ + "/update/pkg.moved/BOOK_1.xml", &bytes));
  EXPECT_EQ(bytes, "inside");
}

TEST(PathParts, SplitAtEitherSeparator) {
  EXPECT_EQ(BaseName("a\\b/c.pdf"), "c.pdf");
  EXPECT_EQ(DirName("a/b\\c.pdf"), "a/b");
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(JoinPath("a", "b"), "a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
}

}  // namespace
}  // namespace tomeva

namespace tomeva {
namespace {

// The injected faults: the armed call fails with the armed errno and leaves the file as it was;
// a sticky fault keeps failing; counting alone never fails.
TEST(FaultInjectionTest, ArmedCallFailsAndLeavesTheFileAlone) {
  testing::TempDir tmp;
  const std::string path = tmp / "bookconfig.xml";
  ASSERT_TRUE(ReplaceFileAtomically(path, "v1"));
  const struct {
    bool sticky;
    std::vector<bool> want;  // results of four writes with the second armed
  } cases[] = {{false, {true, false, true, true}}, {true, {true, false, false, false}}};
  for (const auto& c : cases) {
    ArmFault(FaultSite::kFileWrite, 2, ENOSPC, c.sticky);
    std::vector<bool> got;
    for (int i = 0; i < 4; ++i) {
      errno = 0;
      const bool ok = ReplaceFileAtomically(path, "v" + std::to_string(i + 2));
      got.push_back(ok);
      if (!ok) {
        EXPECT_EQ(errno, ENOSPC);
      }
    }
    EXPECT_EQ(got, c.want) << "sticky " << c.sticky;
    EXPECT_EQ(FaultSiteCalls(FaultSite::kFileWrite), 4);
    ClearFaults();
  }
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "v2");  // the last write of the sticky case that went through
  EXPECT_EQ(ListDirectory(tmp.path()), std::vector<std::string>{"bookconfig.xml"});

  ArmFault(FaultSite::kFileRead, 0, 0);  // count only
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(FaultSiteCalls(FaultSite::kFileRead), 1);
  ArmFault(FaultSite::kLock, 1, EWOULDBLOCK);
  FileLock lock;
  EXPECT_FALSE(lock.TryLock(tmp.path()));
  EXPECT_TRUE(lock.TryLock(tmp.path()));
  ClearFaults();
}

}  // namespace
}  // namespace tomeva

// `tomeva-tool init DIR` run as the maintainer runs it: a new or empty folder becomes a library
// that the settings load reads, whose guide and viewer are the data folder's, into which the
// sample's book 3 is imported and then found by a search; a folder that is not empty, one that
// cannot be made, a data folder without the viewer and a registry that cannot be written are
// refused with a message and exit code 1, leaving nothing half made.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_util.h"
#include "core/xml/text_scrambler.h"
#include "core/xml/xml_document.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs the tool with `args` (already quoted) and the environment assignments in `env`.
ToolRun RunTool(const std::string& env, const std::string& args, const TempDir& scratch) {
  const std::string out = scratch / "stdout", err = scratch / "stderr";
  const std::string command = "env -u TOMEVA_DATA_DIR " + env + " " + Quote(TOMEVA_TOOL) + " " +
                              args + " >" + Quote(out) + " 2>" + Quote(err);
  ToolRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  ReadWholeFile(out, &run.out);
  ReadWholeFile(err, &run.err);
  return run;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The sample library's books waiting for import, made once for all cases.
class ToolInitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new TempDir();
    const std::string command = Quote(MAKE_SAMPLE_LIBRARY) + " " + Quote(*sample_ / "lib") +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "the sample library could not be made";
  }
  static void TearDownTestSuite() {
    delete sample_;
    sample_ = nullptr;
  }
  static std::string SampleLibrary() { return *sample_ / "lib"; }

  static TempDir* sample_;
};

TempDir* ToolInitTest::sample_ = nullptr;

enum class Setup {
  kMissing,          // DIR does not exist
  kEmptyFolder,      // DIR is an empty folder
  kNotEmpty,         // DIR holds a file of the user's
  kUnderAFile,       // DIR's parent is a regular file: the folder cannot be made
  kNoViewer,         // the data folder lacks the viewer page
  kRegistryBlocked,  // the registry's folder lies under a regular file
};

struct Case {
  const char* name;
  Setup setup;
  int status;
  const char* message;    // part of the message on standard error ("" for success)
  bool library_written;   // the library's files are in DIR afterwards
};

// Cases are named in test output by their name, not their bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ToolInitCases : public ToolInitTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ToolInitCases, MakesALibraryOrRefusesWithoutLeavingHalfOfOne) {
  const Case& c = GetParam();
  TempDir temp;
  std::string dir = temp / "library";
  std::string data_dir = TOMEVA_BUILD_DATA;
  const std::string registry = temp / "registry";
  std::string registry_dir = registry;
  ASSERT_TRUE(FileExists(JoinPath(data_dir, "viewer/viewer.html"))) << "build's data folder";

  switch (c.setup) {
    case Setup::kMissing:
      break;
    case Setup::kEmptyFolder:
      ASSERT_TRUE(MakeDirectories(dir));
      break;
    case Setup::kNotEmpty:
      ASSERT_TRUE(MakeDirectories(dir));
      ASSERT_TRUE(ReplaceFileAtomically(temp / "library/notes.txt", "mine"));
      break;
    case Setup::kUnderAFile:
      ASSERT_TRUE(ReplaceFileAtomically(temp / "plain", "a file"));
      dir = temp / "plain/library";
      break;
    case Setup::kNoViewer:
      ASSERT_TRUE(MakeDirectories(temp / "data/help"));
      ASSERT_TRUE(ReplaceFileAtomically(temp / "data/help/Tomeva.htm", "<html></html>"));
      data_dir = temp / "data";
      break;
    case Setup::kRegistryBlocked:
      ASSERT_TRUE(ReplaceFileAtomically(temp / "plain", "a file"));
      registry_dir = temp / "plain/registry";
      break;
  }

  const ToolRun run = RunTool("TOMEVA_REGISTRY_DIR=" + Quote(registry_dir),
                          "init " + Quote(dir) + " --data-dir " + Quote(data_dir), temp);
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;

  if (c.setup == Setup::kNotEmpty) {
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"notes.txt"});
  } else if (!c.library_written) {
    EXPECT_FALSE(fs::exists(dir)) << "a refused library left " << dir;
  }
  if (c.status != 0 && c.setup != Setup::kRegistryBlocked) {
    EXPECT_FALSE(fs::exists(registry)) << "the viewer was registered for a refused library";
  }
  if (!c.library_written) return;

  EXPECT_EQ(Entries(dir),
            (std::vector<std::string>{"ContactInfo.xml", "SearchDB", "SearchResultConfig.xml",
                                      "System.xml", "Tomeva.htm", "Update", "bookconfig.xml",
                                      "home.htm"}));
  // The guide is the data folder's; the index is the library's own.
  CXmlDocument system_xml;
  ASSERT_TRUE(system_xml.Load(JoinPath(dir, "System.xml")));
  EXPECT_TRUE(FileExists(JoinPath(system_xml.GetText("path"), "Tomeva.htm")));
  EXPECT_EQ(system_xml.GetText("SearchDataDir"), "./SearchDB");
  std::string catalogue;
  ASSERT_TRUE(ReadScrambledFile(JoinPath(dir, "bookconfig.xml"), &catalogue));
  EXPECT_NE(catalogue.find("<books>"), std::string::npos);
  if (c.status != 0) return;

  std::string ini;
  ASSERT_TRUE(ReadWholeFile(JoinPath(registry, "HKLM.ini"), &ini));
  EXPECT_NE(ini.find("acrord32.exe\\%40=sz:" + JoinPath(data_dir, "viewer/viewer.html")),
            std::string::npos)
      << ini;

  const ToolRun empty = RunTool("", "search " + Quote(JoinPath(dir, "SearchDB")) + " '君子' --mode 2",
                            temp);
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_NE(empty.out.find("\"total\":0"), std::string::npos) << empty.out;

  // A book of the sample, delivered as a publisher delivers one, then imported and found.
  fs::copy(SampleLibrary() + "/Update/3", dir + "/Update/3", fs::copy_options::recursive);
  fs::copy_file(SampleLibrary() + "/Update/bookconfig3.xml", dir + "/Update/bookconfig3.xml");
  const ToolRun import = RunTool("", "import " + Quote(dir), temp);
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_NE(import.out.find("\"imported\":1"), std::string::npos) << import.out;
  const ToolRun found = RunTool("", "search " + Quote(JoinPath(dir, "SearchDB")) + " '君子' --mode 2",
                            temp);
  EXPECT_NE(found.out.find("\"total\":20"), std::string::npos) << found.out;
  const ToolRun books = RunTool("", "catalogue " + Quote(dir), temp);
  EXPECT_NE(books.out.find("诗经·国风"), std::string::npos) << books.out;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ToolInitCases,
    ::testing::Values(
        Case{"NewFolder", Setup::kMissing, 0, "", true},
        Case{"EmptyFolder", Setup::kEmptyFolder, 0, "", true},
        Case{"FolderWithAFile", Setup::kNotEmpty, 1, "is not empty", false},
        Case{"FolderThatCannotBeMade", Setup::kUnderAFile, 1, "cannot create the folder", false},
        Case{"DataFolderWithoutViewer", Setup::kNoViewer, 1, "lacks viewer/viewer.html", false},
        // The library is complete and kept; the user is told that PDFs will not open.
        Case{"RegistryNotWritable", Setup::kRegistryBlocked, 1, "could not be registered", true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A folder the user cannot write (for root every folder is writable, so it is skipped there).
TEST_F(ToolInitTest, ReadOnlyFolderIsRefusedAndLeftEmpty) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir temp;
  const std::string dir = temp / "library";
  ASSERT_TRUE(MakeDirectories(dir));
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  const ToolRun run = RunTool("TOMEVA_REGISTRY_DIR=" + Quote(temp / "registry"),
                          "init " + Quote(dir) + " --data-dir " + Quote(TOMEVA_BUILD_DATA), temp);
  ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot create the folder"), std::string::npos) << run.err;
  EXPECT_TRUE(Entries(dir).empty());
  EXPECT_FALSE(fs::exists(temp / "registry"));
}

}  // namespace
}  // namespace tomeva

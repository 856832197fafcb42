#include "platform/ini_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/file_util.h"
#include "base/gbk.h"
#include "platform/environment.h"
#include "support/registry_contract.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using testing::RegistryContractTest;
using testing::RegistryUnderTest;
using testing::TempDir;

RegistryUnderTest IniRegistryUnderTest() {
  RegistryUnderTest ini;
  ini.name = "Ini";
  ini.make = [](const std::string& dir) { return std::make_unique<IniRegistry>(dir); };
  ini.store = [](Registry& registry, RegRoot root, std::string_view key, std::string_view name,
                 RegType type, std::string_view text) {
    ASSERT_TRUE(static_cast<IniRegistry&>(registry).WriteValue(root, key, name, type, text));
  };
  return ini;
}

INSTANTIATE_TEST_SUITE_P(Ini, RegistryContractTest, ::testing::Values(IniRegistryUnderTest()),
                         testing::RegistryUnderTestName);

std::string ReadText(const std::string& path) {
  std::string text;
  ReadWholeFile(path, &text);
  return text;
}

// Runs `change` in a child process and waits for it; true when the child finished normally.
template <typename Change>
bool InChildProcess(Change change) {
  pid_t pid = ::fork();
  if (pid == 0) {
    change();
    ::_exit(0);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

class IniRegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(IniRegistryTest, ValuesSurviveInTheFilesOfTheirRoot) {
  const std::string gbk_value = Utf8ToGbk("D:\\老版本\\书局");
  {
    IniRegistry reg(dir_ / "registry");  // created on the first write
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath",
                                   gbk_value));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4.0.0.1"));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kCurrentUser, "Software\\x", "", "user default"));
    EXPECT_TRUE(reg.WriteValue(RegRoot::kLocalMachine, "SOFTWARE\\t", "exp", RegType::kExpandString,
                               "%HOME%/x"));
    EXPECT_TRUE(reg.WriteValue(RegRoot::kLocalMachine, "SOFTWARE\\t", "bin", RegType::kOther, "1"));
  }
  EXPECT_EQ(IniRegistry(dir_ / "registry").FilePath(RegRoot::kLocalMachine),
            dir_ / "registry/HKLM.ini");
  // The layout of docs/formats/registry.md: lower-cased key parts, "@" before value names, the
  // type before the UTF-8 text.
  const std::string hklm = ReadText(dir_ / "registry/HKLM.ini");
  for (const char* line : {"[software]", "lumq\\%40version=sz:4.0.0.1",
                           "norvalex\\ovrn\\%40apppath=sz:D:\\\\老版本\\\\书局",
                           "t\\%40exp=expand_sz:%HOME%/x", "t\\%40bin=binary:1"}) {
    EXPECT_NE(hklm.find(line), std::string::npos) << line << " not in\n" << hklm;
  }
  EXPECT_NE(ReadText(dir_ / "registry/HKCU.ini").find("x\\%40=sz:user default"), std::string::npos);

  IniRegistry reg(dir_ / "registry");  // a fresh object reads what the files hold
  struct Case {
    RegRoot root;
    std::string key;
    std::string name;
    std::string expected;
  } cases[] = {
      {RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", gbk_value},
      {RegRoot::kLocalMachine, "software\\NORVALEX\\ovrn", "apppath", gbk_value},
      {RegRoot::kCurrentUser, "Software\\x", "", "user default"},
      {RegRoot::kLocalMachine, "Software\\x", "", "DEF"},  // other root
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "exp", "%HOME%/x"},
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "bin", "DEF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reg.ReadRegString(c.root, c.key, c.name, "DEF"), c.expected)
        << c.key << "|" << c.name;
  }
}

// Every call reads the file afresh and writes it back at once: a registry object that has
// already read a value sees what another process changed afterwards, and the other way round.
TEST_F(IniRegistryTest, OtherProcessesSeeEachChangeAtOnce) {
  IniRegistry reg(dir_.path());
  ASSERT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4.0.0.1"));
  ASSERT_TRUE(
      reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "/old"));
  ASSERT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "-"), "4.0.0.1");

  ASSERT_TRUE(InChildProcess([&] {
    IniRegistry other(dir_.path());
    other.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4.0.0.12");
    other.DeleteKey(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex");
  }));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "-"),
            "4.0.0.12");
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "-"),
            "-");

  ASSERT_TRUE(reg.WriteRegString(RegRoot::kCurrentUser, "Software\\x", "seen", "yes"));
  ASSERT_TRUE(InChildProcess([&] {
    IniRegistry other(dir_.path());
    bool seen = other.ReadRegString(RegRoot::kCurrentUser, "Software\\x", "seen", "-") == "yes";
    ::_exit(seen ? 0 : 1);
  }));
}

TEST_F(IniRegistryTest, UnwritableFolderWritesNothing) {
  ReplaceFileAtomically(dir_ / "file", "x");  // a file where the registry folder should be
  IniRegistry reg(dir_ / "file/registry");
  EXPECT_FALSE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "-"), "-");
}

TEST_F(IniRegistryTest, EnvironmentPointsEveryRootElsewhere) {
  const std::string dir = dir_.path();
  struct Case {
    const char* variable;
    std::string (*root)();
  } cases[] = {{"TOMEVA_REGISTRY_DIR", &RegistryDir}, {"TOMEVA_RUNTIME_DIR", &RuntimeDir},
               {"TOMEVA_DESKTOP_DIR", &DesktopDir},   {"TOMEVA_PROGRAMS_DIR", &ProgramsDir},
               {"TOMEVA_SYSTEM_DIR", &SystemDir},     {"TOMEVA_PROC_DIR", &ProcDir}};
  for (const Case& c : cases) {
    const char* saved = std::getenv(c.variable);
    std::string keep = saved ? saved : "";
    ::setenv(c.variable, (dir + "/" + c.variable + "/").c_str(), 1);
    EXPECT_EQ(c.root(), dir + "/" + c.variable) << c.variable;
    if (saved) {
      ::setenv(c.variable, keep.c_str(), 1);
    } else {
      ::unsetenv(c.variable);
      EXPECT_NE(c.root(), dir + "/" + c.variable);
    }
  }
  ::setenv("TOMEVA_REGISTRY_DIR", dir.c_str(), 1);
  IniRegistry reg;
  reg.WriteRegString(RegRoot::kCurrentUser, "k", "v", "x");
  EXPECT_TRUE(FileExists(dir + "/HKCU.ini"));
  ::unsetenv("TOMEVA_REGISTRY_DIR");
}

}  // namespace
}  // namespace tomeva::platform

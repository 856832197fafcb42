#include "platform/ini_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/base/file_tree.h"
#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "platform/environment.h"

namespace tomeva::platform {
namespace {

class IniRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/tomeva-reg-XXXXXX";
    dir_ = ::mkdtemp(name);
  }
  void TearDown() override {
    DeleteTree(dir_);
    RemoveDirectory(dir_);
  }
  std::string dir_;
};

TEST_F(IniRegistryTest, ValuesSurviveInTheFilesOfTheirRoot) {
  const std::string gbk_value = Utf8ToGbk("D:\\老版本\\书局");
  {
    IniRegistry reg(dir_ + "/registry");  // created on the first write
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath",
                                   gbk_value));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kCurrentUser, "Software\\x", "", "user default"));
    EXPECT_TRUE(reg.WriteValue(RegRoot::kLocalMachine, "SOFTWARE\\t", "exp",
                               RegType::kExpandString, "%HOME%/x"));
    EXPECT_TRUE(reg.WriteValue(RegRoot::kLocalMachine, "SOFTWARE\\t", "bin", RegType::kOther, "1"));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\t", "long",
                                   std::string(256, 'x')));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\t", "max",
                                   std::string(255, 'x')));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\t", "@odd/name", "odd"));
    EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\t\\sub", "", "subkey"));
  }
  EXPECT_TRUE(FileExists(dir_ + "/registry/HKLM.ini"));
  EXPECT_TRUE(FileExists(dir_ + "/registry/HKCU.ini"));
  IniRegistry reg(dir_ + "/registry");  // a fresh object reads what the files hold
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
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "long", "DEF"},
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "max", std::string(255, 'x')},
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "@odd/name", "odd"},
      {RegRoot::kLocalMachine, "SOFTWARE\\t", "sub", "DEF"},  // a subkey is not a value
      {RegRoot::kLocalMachine, "SOFTWARE\\t\\sub", "", "subkey"},
      {RegRoot::kLocalMachine, "SOFTWARE\\none", "v", "DEF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reg.ReadRegString(c.root, c.key, c.name, "DEF"), c.expected) << c.key << "|" << c.name;
  }
}

TEST_F(IniRegistryTest, DeletingAKeyRemovesItsSubkeysOnly) {
  IniRegistry reg(dir_);
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "/old");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Deep", "v", "1");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex", "ovrn", "value of parent");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn2", "v", "2");
  EXPECT_TRUE(reg.DeleteKey(RegRoot::kLocalMachine, "SOFTWARE\\NORVALEX\\ovrn"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "-"),
            "-");
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Deep", "v", "-"),
            "-");
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex", "ovrn", "-"),
            "value of parent");
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn2", "v", "-"), "2");
  EXPECT_FALSE(reg.DeleteKey(RegRoot::kLocalMachine, ""));
  EXPECT_FALSE(reg.WriteRegString(RegRoot::kLocalMachine, "", "v", "x"));
}

TEST_F(IniRegistryTest, UnwritableFolderWritesNothing) {
  ReplaceFileAtomically(dir_ + "/file", "x");  // a file where the registry folder should be
  IniRegistry reg(dir_ + "/file/registry");
  EXPECT_FALSE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "-"), "-");
}

TEST_F(IniRegistryTest, EnvironmentPointsEveryRootElsewhere) {
  struct Case {
    const char* variable;
    std::string (*root)();
  } cases[] = {{"TOMEVA_REGISTRY_DIR", &RegistryDir}, {"TOMEVA_RUNTIME_DIR", &RuntimeDir},
               {"TOMEVA_DESKTOP_DIR", &DesktopDir},   {"TOMEVA_PROGRAMS_DIR", &ProgramsDir},
               {"TOMEVA_SYSTEM_DIR", &SystemDir},     {"TOMEVA_PROC_DIR", &ProcDir}};
  for (const Case& c : cases) {
    const char* saved = std::getenv(c.variable);
    std::string keep = saved ? saved : "";
    ::setenv(c.variable, (dir_ + "/" + c.variable + "/").c_str(), 1);
    EXPECT_EQ(c.root(), dir_ + "/" + c.variable) << c.variable;
    if (saved) {
      ::setenv(c.variable, keep.c_str(), 1);
    } else {
      ::unsetenv(c.variable);
      EXPECT_NE(c.root(), dir_ + "/" + c.variable);
    }
  }
  ::setenv("TOMEVA_REGISTRY_DIR", dir_.c_str(), 1);
  IniRegistry reg;
  reg.WriteRegString(RegRoot::kCurrentUser, "k", "v", "x");
  EXPECT_TRUE(FileExists(dir_ + "/HKCU.ini"));
  ::unsetenv("TOMEVA_REGISTRY_DIR");
}

}  // namespace
}  // namespace tomeva::platform

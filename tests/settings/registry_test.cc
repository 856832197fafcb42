#include "core/settings/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace tomeva {
namespace {

TEST(MemoryRegistryTest, ReadRulesOfStoredValues) {
  MemoryRegistry reg;
  const std::string k = "SOFTWARE\\Test";
  reg.SetValue(RegRoot::kLocalMachine, k, "plain", RegType::kString, "C:\\x");
  reg.SetValue(RegRoot::kLocalMachine, k, "expand", RegType::kExpandString, "%ProgramFiles%\\y");
  reg.SetValue(RegRoot::kLocalMachine, k, "binary", RegType::kOther, "\x01\x02");
  reg.SetValue(RegRoot::kLocalMachine, k, "max", RegType::kString, std::string(255, 'a'));
  reg.SetValue(RegRoot::kLocalMachine, k, "long", RegType::kString, std::string(256, 'a'));
  reg.SetValue(RegRoot::kLocalMachine, k, "", RegType::kString, "default value");
  struct Case {
    RegRoot root;
    std::string key;
    std::string name;
    std::string expected;
  } cases[] = {
      {RegRoot::kLocalMachine, k, "plain", "C:\\x"},
      {RegRoot::kLocalMachine, "software\\test", "PLAIN", "C:\\x"},  // case ignored
      {RegRoot::kLocalMachine, "SOFTWARE/Test\\", "plain", "C:\\x"},
      {RegRoot::kLocalMachine, k, "expand", "%ProgramFiles%\\y"},     // not expanded
      {RegRoot::kLocalMachine, k, "binary", "DEF"},
      {RegRoot::kLocalMachine, k, "max", std::string(255, 'a')},
      {RegRoot::kLocalMachine, k, "long", "DEF"},                     // does not fit the buffer
      {RegRoot::kLocalMachine, k, "", "default value"},
      {RegRoot::kLocalMachine, k, "absent", "DEF"},
      {RegRoot::kLocalMachine, "SOFTWARE\\Other", "plain", "DEF"},
      {RegRoot::kCurrentUser, k, "plain", "DEF"},                     // other root
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reg.ReadRegString(c.root, c.key, c.name, "DEF"), c.expected) << c.key << "|" << c.name;
  }
}

TEST(MemoryRegistryTest, WriteCreatesAndDeleteRemovesTheWholeKey) {
  MemoryRegistry reg;
  EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4.0.0.1"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", ""), "4.0.0.1");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "/old");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Sub", "v", "1");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrnX", "v", "kept");
  EXPECT_TRUE(reg.DeleteKey(RegRoot::kLocalMachine, "software\\norvalex\\OVRN"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Sub", "v", "-"),
            "-");
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrnX", "v", "-"),
            "kept");
  EXPECT_FALSE(reg.DeleteKey(RegRoot::kLocalMachine, ""));  // never a whole root
  EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\lumq"));
  reg.set_read_only(true);
  EXPECT_FALSE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\new", "v", "x"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\new"));
}

}  // namespace
}  // namespace tomeva

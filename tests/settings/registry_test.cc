#include "core/settings/registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/registry_contract.h"

namespace tomeva {
namespace {

using testing::RegistryContractTest;
using testing::RegistryUnderTest;

RegistryUnderTest MemoryRegistryUnderTest() {
  RegistryUnderTest memory;
  memory.name = "Memory";
  memory.make = [](const std::string&) { return std::make_unique<MemoryRegistry>(); };
  memory.store = [](Registry& registry, RegRoot root, std::string_view key, std::string_view name,
                    RegType type, std::string_view text) {
    static_cast<MemoryRegistry&>(registry).SetValue(root, key, name, type, text);
  };
  return memory;
}

INSTANTIATE_TEST_SUITE_P(Memory, RegistryContractTest, ::testing::Values(MemoryRegistryUnderTest()),
                         testing::RegistryUnderTestName);

TEST(MemoryRegistryTest, KeysExistWhileTheyOrKeysBelowHoldValues) {
  MemoryRegistry reg;
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Sub", "v", "1");
  reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\lumq", "version", "4.0.0.1");
  struct Case {
    RegRoot root;
    const char* key;
    bool exists;
  } cases[] = {
      {RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Sub", true},
      {RegRoot::kLocalMachine, "software\\NORVALEX", true},  // a key below holds a value
      {RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovr", false},
      {RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn\\Sub\\v", false},
      {RegRoot::kCurrentUser, "SOFTWARE\\lumq", false},
  };
  for (const Case& c : cases) EXPECT_EQ(reg.KeyExists(c.root, c.key), c.exists) << c.key;

  EXPECT_TRUE(reg.DeleteKey(RegRoot::kLocalMachine, "software\\norvalex\\OVRN"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex\\ovrn"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\Norvalex"));
  EXPECT_FALSE(reg.DeleteKey(RegRoot::kLocalMachine, ""));  // never a whole root
  EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\lumq"));
}

TEST(MemoryRegistryTest, ReadOnlyRegistryWritesNothing) {
  MemoryRegistry reg;
  reg.set_read_only(true);
  EXPECT_FALSE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\new", "v", "x"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\new"));
  EXPECT_EQ(reg.ReadRegString(RegRoot::kLocalMachine, "SOFTWARE\\new", "v", "-"), "-");
  reg.set_read_only(false);
  EXPECT_TRUE(reg.WriteRegString(RegRoot::kLocalMachine, "SOFTWARE\\new", "v", "x"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\new"));
}

}  // namespace
}  // namespace tomeva

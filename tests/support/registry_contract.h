// The behaviour every Registry shares, written once and run against each implementation: a test
// program links the tomeva_registry_contract object library and instantiates the suite with a
// maker of its registry:
//
//   INSTANTIATE_TEST_SUITE_P(Memory, RegistryContractTest,
//                            ::testing::Values(MemoryRegistryUnderTest()), RegistryUnderTestName);
//
// Cases that only one implementation has (its files, its switches) stay in that one's own tests.
#ifndef TOMEVA_TESTS_SUPPORT_REGISTRY_CONTRACT_H_
#define TOMEVA_TESTS_SUPPORT_REGISTRY_CONTRACT_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "core/settings/registry.h"
#include "support/temp_dir.h"

namespace tomeva::testing {

struct RegistryUnderTest {
  // Names the instantiation in the cases' names; letters and digits only.
  std::string name;
  // A fresh, empty registry. `dir` is an empty folder of the case for any files it keeps.
  std::function<std::unique_ptr<Registry>(const std::string& dir)> make;
  // Stores a value of any type in a registry `make` returned, as an installer or another program
  // would; ReadRegString must then apply its rules to it.
  std::function<void(Registry& registry, RegRoot root, std::string_view key,
                     std::string_view value_name, RegType type, std::string_view text)>
      store;
};

inline void PrintTo(const RegistryUnderTest& registry, std::ostream* out) { *out << registry.name; }

inline std::string RegistryUnderTestName(const ::testing::TestParamInfo<RegistryUnderTest>& info) {
  return info.param.name;
}

class RegistryContractTest : public ::testing::TestWithParam<RegistryUnderTest> {
 protected:
  // What the cases pass as the default, so that a missing value is told from any stored one.
  static constexpr const char* kMissing = "<missing>";

  void SetUp() override {
    registry_ = GetParam().make(dir_.path());
    ASSERT_NE(registry_, nullptr);
  }

  Registry& registry() { return *registry_; }
  std::string Read(RegRoot root, std::string_view key, std::string_view value_name) {
    return registry_->ReadRegString(root, key, value_name, kMissing);
  }
  void Store(RegRoot root, std::string_view key, std::string_view value_name, RegType type,
             std::string_view text) {
    GetParam().store(*registry_, root, key, value_name, type, text);
  }

 private:
  TempDir dir_;
  std::unique_ptr<Registry> registry_;
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_SUPPORT_REGISTRY_CONTRACT_H_

// The version the program records and shows, and the one the Debian package gets from
// scripts/deb-changelog.sh, are the project's VERSION.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "core/update/version_check.h"

namespace tomeva {
namespace {

TEST(VersionTest, ProgramAndPackageShareTheProjectsVersion) {
  EXPECT_STREQ(kBuiltInVersion, PROJECT_VERSION_TEXT);

  const std::string command = std::string("'") + PROJECT_SOURCE + "/scripts/deb-changelog.sh' '" +
                              PROJECT_SOURCE + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  EXPECT_EQ(pclose(pipe), 0);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(line),
            std::string("tomeva (") + PROJECT_VERSION_TEXT + ") unstable; urgency=medium\n");
}

}  // namespace
}  // namespace tomeva

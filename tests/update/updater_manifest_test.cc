// The updater's manifest and the versions it carries: what parses, what is refused, and how
// dotted versions compare.
#include "core/update/updater_manifest.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tomeva {
namespace {

const std::string kDigest(64, 'a');

std::string Manifest(const std::string& body) {
  return std::string(kManifestFirstLine) + "\n" + body;
}

TEST(UpdaterManifestTest, ParsesOnlyTheExactForm) {
  struct Case {
    const char* name;
    std::string text;
    bool parses;
  };
  const std::string good = "file setup.sh\nversion 4.0.0.2\nsha256 " + kDigest + "\n";
  const std::vector<Case> cases = {
      {"good", Manifest(good), true},
      {"any order, CR LF line ends",
       std::string(kManifestFirstLine) + "\r\nsha256 " + kDigest +
           "\r\nversion 4.1\r\nfile a.sh\r\n",
       true},
      {"no first line", good, false},
      {"another format", "tomeva-updater-manifest 2\n" + good, false},
      {"last line not ended", Manifest(good.substr(0, good.size() - 1)), false},
      {"an empty line more", Manifest(good + "\n"), false},
      {"a key twice", Manifest("file a\nfile b\nsha256 " + kDigest + "\n"), false},
      {"an unknown key", Manifest("file a\nversion 1\nsize 3\n"), false},
      {"two spaces", Manifest("file  a\nversion 1\nsha256 " + kDigest + "\n"), false},
      {"a name with a folder", Manifest("file d/a\nversion 1\nsha256 " + kDigest + "\n"), false},
      {"an empty name", Manifest("file \nversion 1\nsha256 " + kDigest + "\n"), false},
      {"a malformed version", Manifest("file a\nversion 4.0.0.x\nsha256 " + kDigest + "\n"), false},
      {"a short digest", Manifest("file a\nversion 1\nsha256 " + kDigest.substr(1) + "\n"), false},
      {"a digest that is not hexadecimal",
       Manifest("file a\nversion 1\nsha256 " + kDigest.substr(1) + "g\n"), false},
      {"too long", Manifest(good) + std::string(kMaxManifestBytes, '#'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseUpdaterManifest(c.text).has_value(), c.parses);
  }
  const std::optional<UpdaterManifest> manifest = ParseUpdaterManifest(
      Manifest("sha256 " + std::string(64, 'C') + "\nfile setup.sh\nversion 4.0.0.2\n"));
  ASSERT_TRUE(manifest.has_value());
  EXPECT_EQ(manifest->file, "setup.sh");
  EXPECT_EQ(manifest->version, "4.0.0.2");
  EXPECT_EQ(manifest->sha256, std::string(64, 'c'));
}

TEST(UpdaterManifestTest, VersionsAreDottedNumbersComparedNumerically) {
  for (const char* malformed : {"", ".", "4.", ".4", "4..0", "4.0.0.1 ", " 4", "+4", "-1", "4.a",
                                "1234567890", "1.2.3.4.5.6.7.8.9", "４.0"}) {
    SCOPED_TRACE(malformed);
    EXPECT_FALSE(ParseVersion(malformed).has_value());
  }
  struct Case {
    const char* older;
    const char* newer;
  };
  const std::vector<Case> ascending = {
      {"4.0.0.1", "4.0.0.2"},
      {"4.0.0.2", "4.0.1"},
      {"4.0.1", "4.0.10"},
      {"4.0.9", "4.0.10"},
      {"3.9.9.9", "4"},
      {"4", "4.0.0.1"},
      {"1.2.3.4.5.6.7.8", "1.2.3.4.5.6.7.9"},
      {"999999998", "999999999"},
  };
  for (const Case& c : ascending) {
    SCOPED_TRACE(std::string(c.older) + " < " + c.newer);
    const auto older = ParseVersion(c.older);
    const auto newer = ParseVersion(c.newer);
    ASSERT_TRUE(older.has_value() && newer.has_value());
    EXPECT_LT(CompareVersions(*older, *newer), 0);
    EXPECT_GT(CompareVersions(*newer, *older), 0);
  }
  for (const auto& [a, b] : std::vector<std::pair<const char*, const char*>>{
           {"4.0", "4.0.0"}, {"4.00.1", "4.0.1"}, {"0", "0.0.0.0"}}) {
    EXPECT_EQ(CompareVersions(*ParseVersion(a), *ParseVersion(b)), 0) << a << " " << b;
  }
}

}  // namespace
}  // namespace tomeva

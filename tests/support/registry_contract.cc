#include "support/registry_contract.h"

#include <string>

#include "base/gbk.h"

namespace tomeva::testing {
namespace {

constexpr RegRoot kLm = RegRoot::kLocalMachine;
constexpr RegRoot kCu = RegRoot::kCurrentUser;

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

struct Entry {
  RegRoot root;
  std::string key;
  std::string name;
  std::string expected;
};

// Every value is written first and read afterwards, so that one write clobbering another shows.
TEST_P(RegistryContractTest, GbkValuesReadBackAsWritten) {
  const Entry entries[] = {
      {kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath", G("D:\\老版本\\书局")},
      {kLm, "SOFTWARE\\lumq", "version", "4.0.0.1"},
      {kCu, "Software\\x", "", "user default"},
      // "誠" ends in the byte of "\": neither the key path nor the value may be cut there.
      {kLm, G("SOFTWARE\\书局\\誠"), G("名称誠"), G("表誠\\誠")},
      {kLm, "SOFTWARE\\t", "@odd/name", "odd"},
      {kLm, "SOFTWARE\\t", "100%", "%HOME% 50%25"},
      {kLm, "SOFTWARE\\t", "padded", "  two spaces each side  "},
      {kLm, "SOFTWARE\\t", "syntax", "a=b; c # d [e] \"q\" ,"},
      {kLm, "SOFTWARE\\t", "lines", "one\r\ntwo\tend"},
      {kLm, "SOFTWARE\\t", "empty", ""},
      {kLm, "SOFTWARE\\t\\sub", "", "subkey"},
  };
  for (const Entry& e : entries) {
    EXPECT_TRUE(registry().WriteRegString(e.root, e.key, e.name, e.expected)) << e.key;
  }
  for (const Entry& e : entries) {
    EXPECT_EQ(Read(e.root, e.key, e.name), e.expected) << e.key << "|" << e.name;
  }
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\lumq", "version", "4.0.0.2"));
  EXPECT_EQ(Read(kLm, "SOFTWARE\\lumq", "version"), "4.0.0.2");
}

TEST_P(RegistryContractTest, MissingValuesGiveTheDefaultAsGiven) {
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\t", "v", "value"));
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\t\\sub", "w", "deeper"));
  struct Case {
    RegRoot root;
    std::string key;
    std::string name;
    std::string default_value;
  } cases[] = {
      {kLm, "SOFTWARE\\none", "v", "DEF"},
      {kLm, "SOFTWARE\\t", "absent", "DEF"},
      {kLm, "SOFTWARE\\t", "", "DEF"},     // no default value was written
      {kLm, "SOFTWARE\\t", "sub", "DEF"},  // a subkey is not a value
      {kLm, "SOFTWARE\\t\\v", "", "DEF"},  // nor is a value a key
      {kLm, "SOFTWARE", "v", "DEF"},       // values are not inherited from below
      {kCu, "SOFTWARE\\t", "v", "DEF"},    // the other root
      {kLm, "", "v", "DEF"},
      {kLm, "SOFTWARE\\none", "v", G("默认值")},  // the default comes back byte for byte
      {kLm, "SOFTWARE\\none", "v", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(registry().ReadRegString(c.root, c.key, c.name, c.default_value), c.default_value)
        << c.key << "|" << c.name;
  }
}

TEST_P(RegistryContractTest, OnlyStringTypesReadAndExpandableOnesStayUnexpanded) {
  Store(kLm, "SOFTWARE\\Test", "plain", RegType::kString, "C:\\x");
  Store(kLm, "SOFTWARE\\Test", "expand", RegType::kExpandString, "%ProgramFiles%\\y");
  Store(kLm, "SOFTWARE\\Test", "binary", RegType::kOther, "\x01\x02");
  Store(kLm, "SOFTWARE\\Test", "long expand", RegType::kExpandString, std::string(256, 'e'));
  Store(kLm, "SOFTWARE\\Test", "", RegType::kString, "default value");
  const Entry cases[] = {
      {kLm, "SOFTWARE\\Test", "plain", "C:\\x"},
      {kLm, "SOFTWARE\\Test", "expand", "%ProgramFiles%\\y"},
      {kLm, "SOFTWARE\\Test", "binary", kMissing},
      {kLm, "SOFTWARE\\Test", "long expand", kMissing},
      {kLm, "SOFTWARE\\Test", "", "default value"},
  };
  for (const Entry& c : cases) EXPECT_EQ(Read(c.root, c.key, c.name), c.expected) << c.name;
}

// The reader's buffer holds 256 bytes with the terminating NUL: 255 bytes of text fit, 256 do
// not, whatever the characters. Such values are still stored.
TEST_P(RegistryContractTest, ValuesOf256BytesOrMoreReadAsMissing) {
  const std::string chinese_255 = [] {
    std::string s;
    while (s.size() < 254) s += G("书");
    return s + "x";
  }();
  const std::string chinese_256 = [] {
    std::string s;
    while (s.size() < 256) s += G("书");
    return s;
  }();
  ASSERT_EQ(chinese_255.size(), 255u);
  ASSERT_EQ(chinese_256.size(), 256u);
  const struct Case {
    std::string name;
    std::string value;
    bool fits;
  } cases[] = {
      {"one", "1", true},
      {"max", std::string(255, 'a'), true},
      {"max gbk", chinese_255, true},
      {"long", std::string(256, 'a'), false},
      {"long gbk", chinese_256, false},
      {"very long", std::string(1000, 'a'), false},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\t", c.name, c.value)) << c.name;
  }
  for (const Case& c : cases) {
    EXPECT_EQ(Read(kLm, "SOFTWARE\\t", c.name), c.fits ? c.value : kMissing) << c.name;
  }
}

TEST_P(RegistryContractTest, DeletingAKeyRemovesItsValuesAndSubkeysOnly) {
  const Entry before[] = {
      {kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "/old"},
      {kLm, "SOFTWARE\\Norvalex\\ovrn", "", "default of the key"},
      {kLm, "SOFTWARE\\Norvalex\\ovrn\\Sub", "v", "1"},
      {kLm, "SOFTWARE\\Norvalex\\ovrn\\Sub\\Deep", "v", "2"},
      {kLm, "SOFTWARE\\Norvalex", "ovrn", "value of the parent"},
      {kLm, "SOFTWARE\\Norvalex\\ovrn2", "v", "sibling"},
      {kLm, "SOFTWARE\\Norvalex\\ovrnX", "v", "sibling"},
      {kCu, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "other root"},
  };
  for (const Entry& e : before)
    ASSERT_TRUE(registry().WriteRegString(e.root, e.key, e.name, e.expected));
  EXPECT_TRUE(registry().DeleteKey(kLm, "software\\norvalex\\OVRN"));
  const Entry after[] = {
      {kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath", kMissing},
      {kLm, "SOFTWARE\\Norvalex\\ovrn", "", kMissing},
      {kLm, "SOFTWARE\\Norvalex\\ovrn\\Sub", "v", kMissing},
      {kLm, "SOFTWARE\\Norvalex\\ovrn\\Sub\\Deep", "v", kMissing},
      {kLm, "SOFTWARE\\Norvalex", "ovrn", "value of the parent"},
      {kLm, "SOFTWARE\\Norvalex\\ovrn2", "v", "sibling"},
      {kLm, "SOFTWARE\\Norvalex\\ovrnX", "v", "sibling"},
      {kCu, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "other root"},
  };
  for (const Entry& e : after) EXPECT_EQ(Read(e.root, e.key, e.name), e.expected) << e.key;

  EXPECT_TRUE(registry().DeleteKey(kLm, "SOFTWARE\\Norvalex\\ovrn"));  // already gone
  EXPECT_TRUE(registry().DeleteKey(kLm, "SOFTWARE\\never\\there"));
  // A deleted key can be made again, without its former values.
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\Norvalex\\ovrn", "v", "new"));
  EXPECT_EQ(Read(kLm, "SOFTWARE\\Norvalex\\ovrn", "v"), "new");
  EXPECT_EQ(Read(kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath"), kMissing);
}

TEST_P(RegistryContractTest, ARootItselfIsNeitherWrittenNorDeleted) {
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\lumq", "version", "4.0.0.1"));
  for (const char* root_path : {"", "\\", "/", "\\\\"}) {
    EXPECT_FALSE(registry().WriteRegString(kLm, root_path, "v", "x")) << root_path;
    EXPECT_FALSE(registry().DeleteKey(kLm, root_path)) << root_path;
    EXPECT_EQ(Read(kLm, root_path, "v"), kMissing) << root_path;
  }
  EXPECT_EQ(Read(kLm, "SOFTWARE\\lumq", "version"), "4.0.0.1");
}

TEST_P(RegistryContractTest, TheTwoRootsAreSeparate) {
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\lumq", "version", "machine"));
  ASSERT_TRUE(registry().WriteRegString(kCu, "SOFTWARE\\lumq", "version", "user"));
  ASSERT_TRUE(registry().WriteRegString(kCu, "SOFTWARE\\only user", "v", "user"));
  EXPECT_EQ(Read(kLm, "SOFTWARE\\lumq", "version"), "machine");
  EXPECT_EQ(Read(kCu, "SOFTWARE\\lumq", "version"), "user");
  EXPECT_EQ(Read(kLm, "SOFTWARE\\only user", "v"), kMissing);

  EXPECT_TRUE(registry().DeleteKey(kCu, "SOFTWARE"));
  EXPECT_EQ(Read(kCu, "SOFTWARE\\lumq", "version"), kMissing);
  EXPECT_EQ(Read(kLm, "SOFTWARE\\lumq", "version"), "machine");
}

// Key paths and value names compare without regard to the case of ASCII letters, "/" separates
// like "\" and empty parts do not count; the bytes of double-byte characters compare exactly.
TEST_P(RegistryContractTest, KeysAndNamesIgnoreTheCaseOfAsciiLettersOnly) {
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath", "first"));
  for (const char* key :
       {"software\\NORVALEX\\ovrn", "SOFTWARE/Norvalex/ovrn/", "\\SOFTWARE\\\\Norvalex\\ovrn"}) {
    for (const char* name : {"AppPath", "apppath", "APPPATH"}) {
      EXPECT_EQ(Read(kLm, key, name), "first") << key << "|" << name;
    }
  }
  // The same value under another spelling is replaced, not added beside.
  ASSERT_TRUE(registry().WriteRegString(kLm, "SOFTWARE\\NORVALEX\\OVRN", "APPPATH", "second"));
  EXPECT_EQ(Read(kLm, "SOFTWARE\\Norvalex\\ovrn", "AppPath"), "second");

  // "丄" and "乤" differ only in a second byte that looks like "A" and "a"; "Ａ" and "ａ" are
  // full-width letters, not ASCII ones.
  const Entry distinct[] = {
      {kLm, G("SOFTWARE\\丄"), "v", "upper-looking byte"},
      {kLm, G("SOFTWARE\\乤"), "v", "lower-looking byte"},
      {kLm, G("SOFTWARE\\Ａ"), "v", "full-width upper"},
      {kLm, G("SOFTWARE\\ａ"), "v", "full-width lower"},
      {kLm, "SOFTWARE\\names", G("名丄"), "name with upper-looking byte"},
      {kLm, "SOFTWARE\\names", G("名乤"), "name with lower-looking byte"},
  };
  for (const Entry& e : distinct)
    ASSERT_TRUE(registry().WriteRegString(e.root, e.key, e.name, e.expected));
  for (const Entry& e : distinct) EXPECT_EQ(Read(e.root, e.key, e.name), e.expected) << e.expected;
  // ASCII letters beside Chinese ones still ignore their case.
  ASSERT_TRUE(registry().WriteRegString(kLm, G("SOFTWARE\\书局A"), G("名B"), "mixed"));
  EXPECT_EQ(Read(kLm, G("software\\书局a"), G("名b")), "mixed");
}

}  // namespace
}  // namespace tomeva::testing

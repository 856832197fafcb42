// The engine through its C API, against real temporary indexes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "kms/kms.h"
#include "kms_test_util.h"
#include "support/temp_dir.h"

namespace tomeva::kms_test {
namespace {

using testing::TempDir;

// Code points of a UTF-8 text.
std::vector<std::u32string::value_type> CodePoints(const std::string& s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    char32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::string Utf8Of(const std::vector<char32_t>& cps, size_t from, size_t n) {
  std::string out;
  for (size_t i = from; i < from + n; ++i) {
    char32_t c = cps[i];
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

bool IsHan(char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; }

// A random run of `len` Chinese characters taken from one of `texts`, or "" when none was found.
std::string RandomSubstring(const std::vector<std::string>& texts, size_t len, std::mt19937* rng) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::vector<char32_t> cps = CodePoints(texts[(*rng)() % texts.size()]);
    if (cps.size() < len) continue;
    size_t start = (*rng)() % (cps.size() - len + 1);
    if (std::all_of(cps.begin() + start, cps.begin() + start + len, IsHan)) {
      return Utf8Of(cps, start, len);
    }
  }
  return "";
}

int BruteCount(const std::vector<std::string>& texts, const std::string& needle) {
  return static_cast<int>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(needle) != std::string::npos;
  }));
}

// One index of a generated corpus shared by the recall and query tests.
class CorpusIndexTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    records_ = new std::vector<bench::CorpusRecord>(bench::GenerateCorpus(3000, 20240501));
    ASSERT_EQ(records_->size(), 3000u) << "fortune files missing";
    ASSERT_EQ(BuildIndex(dir_->path(), *records_), 0) << KMS_Last_Error();
    contents_ = new std::vector<std::string>();
    titles_ = new std::vector<std::string>();
    for (const auto& r : *records_) {
      // Folded as the index reads them, so that needles drawn from them are folded too.
      contents_->push_back(FoldU(GbkToUtf8(ContentOf(r))));
      titles_->push_back(FoldU(GbkToUtf8(r.title)));
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete records_;
    delete contents_;
    delete titles_;
  }
  static const std::string& index() { return dir_->path(); }

  // Records whose content holds every needle, and (when not empty) whose category is `category`.
  static int BruteAll(const std::vector<std::string>& needles, const std::string& category = "") {
    int n = 0;
    for (size_t i = 0; i < records_->size(); ++i) {
      if (!category.empty() && (*records_)[i].category != category) continue;
      bool all = true;
      for (const auto& s : needles) all = all && (*contents_)[i].find(s) != std::string::npos;
      n += all ? 1 : 0;
    }
    return n;
  }

  static TempDir* dir_;
  static std::vector<bench::CorpusRecord>* records_;
  static std::vector<std::string>* contents_;
  static std::vector<std::string>* titles_;
};

TempDir* CorpusIndexTest::dir_ = nullptr;
std::vector<bench::CorpusRecord>* CorpusIndexTest::records_ = nullptr;
std::vector<std::string>* CorpusIndexTest::contents_ = nullptr;
std::vector<std::string>* CorpusIndexTest::titles_ = nullptr;

TEST_F(CorpusIndexTest, HitCountEqualsSubstringCountInContentAndTitle) {
  std::mt19937 rng(7);
  int checked = 0;
  for (int round = 0; round < 360; ++round) {
    size_t len = 1 + round % 6;
    bool in_title = round % 3 == 2;
    const auto& texts = in_title ? *titles_ : *contents_;
    std::string s = RandomSubstring(texts, len, &rng);
    if (s.empty()) continue;
    int expected = BruteCount(texts, s);
    std::string q = (in_title ? "title:\"" : "\"") + s + "\"";
    ASSERT_EQ(CountU(index(), q), expected) << q;
    // Unquoted runs of Chinese characters are matched as a whole as well.
    if (!in_title) {
      ASSERT_EQ(CountU(index(), s), expected) << s;
    }
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST_F(CorpusIndexTest, CategoryMatchesWholeNumbersOnly) {
  for (const char* cat : {"3", "13", "30", "1", "40"}) {
    int expected = static_cast<int>(std::count_if(records_->begin(), records_->end(),
                                                  [&](auto& r) { return r.category == cat; }));
    EXPECT_EQ(CountU(index(), std::string("f15:\"") + cat + "\""), expected) << cat;
    EXPECT_EQ(CountU(index(), std::string("f15:") + cat), expected) << cat;
  }
  EXPECT_EQ(CountU(index(), "f15:\"41\""), 0);
}

TEST_F(CorpusIndexTest, QueryFormsOfTheResultSetLayer) {
  // Pick two words that co-occur often enough to make the conjunctions meaningful.
  const std::string a = "\xE4\xB8\x8D";               // 不
  const std::string b = "\xE4\xBA\xBA";               // 人
  const std::string ab = "\xE5\xA4\xA9\xE4\xB8\x8B";  // 天下
  int only_a = BruteAll({a}), only_b = BruteAll({b}), both = BruteAll({a, b});
  ASSERT_GT(both, 0);
  struct Case {
    std::string query;
    const char* field;
    int expected;
  };
  const std::vector<Case> cases = {
      {"content:\"" + a + "\" AND \"" + b + "\"", "content", both},
      {"\"" + a + "\" AND \"" + b + "\"", nullptr, both},
      {a + " " + b, nullptr, both},  // implicit AND
      {a + " OR " + b, nullptr, only_a + only_b - both},
      {a + " or " + b, nullptr, only_a + only_b - both},  // connectives in any case
      {"(" + a + " OR " + b + ") AND " + ab, nullptr,
       BruteAll({ab, a}) + BruteAll({ab, b}) - BruteAll({ab, a, b})},
      {a + " NOT " + b, nullptr, only_a - both},
      {"f15:\"3\" AND content:\"" + a + "\" AND \"" + b + "\"", "content", BruteAll({a, b}, "3")},
      {"Content:\"" + ab + "\"", nullptr, BruteAll({ab})},  // field names ignore ASCII case
      {"nosuchfield:\"" + a + "\"", nullptr, 0},            // never leaks into content
      {"nosuchfield:\"" + a + "\" OR \"" + ab + "\"", nullptr, BruteAll({ab})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountU(index(), c.query, c.field), c.expected) << c.query;
  }
}

TEST_F(CorpusIndexTest, FieldPrefixAppliesToTheFirstTermAndTheRestGoToTheDefaultField) {
  std::mt19937 rng(11);
  std::string t = RandomSubstring(*titles_, 2, &rng);
  std::string c = "\xE4\xB8\x8D";  // 不
  int expected = 0;
  for (size_t i = 0; i < records_->size(); ++i) {
    expected +=
        (*titles_)[i].find(t) != std::string::npos && (*contents_)[i].find(c) != std::string::npos;
  }
  EXPECT_EQ(CountU(index(), "title:" + t + " AND " + c, "content"), expected);
  int title_both = 0;
  for (const auto& title : *titles_) {
    title_both += title.find(t) != std::string::npos && title.find(c) != std::string::npos;
  }
  EXPECT_EQ(CountU(index(), "title:" + t + " AND " + c, "title"), title_both);
  // The default field argument alone restricts bare terms.
  EXPECT_EQ(CountU(index(), "\"" + t + "\"", "title"), BruteCount(*titles_, t));
  EXPECT_EQ(CountU(index(), "\"" + t + "\"", "TITLE"), BruteCount(*titles_, t));
}

TEST_F(CorpusIndexTest, HitsComeInRankingOrderAndEveryHitHasItsRecord) {
  const std::string q = "\xE5\xB1\xB1";  // 山
  KmsSearch* s = KMS_Search(index().c_str(), Utf8ToGbk(q).c_str(), "gb2312", nullptr);
  ASSERT_NE(s, nullptr);
  int n = KMS_HitCount(s);
  ASSERT_EQ(n, BruteAll({q}));
  ASSERT_GT(n, 250);  // more than two ranking windows
  std::vector<std::string> seen;
  for (int i = 0; i < n; ++i) {
    KmsHit* h = KMS_Hit(s, i);
    ASSERT_NE(h, nullptr) << i;
    char* xml = KMS_Get_Field(h, "xml", "gb2312");
    ASSERT_NE(xml, nullptr);
    seen.push_back(xml);
    KMS_Free_Field(xml);
  }
  EXPECT_EQ(KMS_Hit(s, n), nullptr);
  EXPECT_EQ(KMS_Hit(s, -1), nullptr);
  // Asking again, out of order, gives the same records.
  for (int i : {n - 1, 0, 150, 99, 100}) {
    char* xml = KMS_Get_Field(KMS_Hit(s, i), "xml", "gb2312");
    EXPECT_EQ(std::string(xml), seen[i]);
    KMS_Free_Field(xml);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << "a record came twice";
  KMS_ClearSearch(s);
}

TEST_F(CorpusIndexTest, NastyQueriesAnswerWithoutFailing) {
  std::vector<std::string> queries = {
      "",
      " ",
      "\"",
      "\"\"",
      "\"\xD6\xD0",
      "AND",
      "OR",
      "NOT",
      "AND OR NOT",
      "((((",
      "))))",
      "title:",
      "title:\"",
      ":",
      "::::",
      "f15:\"3",
      "\"a\" AND",
      "OR \"b\"",
      "(a OR",
      "a OR )",
      std::string(1000, 'a'),
      std::string(32, '(') + "a",  // deeper is refused (kms_limits_test)
      std::string(500, ')'),
      "\xFF\xFE\x81\x30\x80",
      std::string("\xD6\xD0\x00\xB9\xFA", 5),
      "\xA3\xA8\xA3\xA9\xA1\xB0\xA1\xB1",  // full-width brackets and quotes
  };
  std::string long_chinese;
  for (int i = 0; i < 500; ++i) long_chinese += "\xD6\xD0";  // 1,000 bytes of 中
  queries.push_back(long_chinese);
  std::mt19937 rng(3);
  for (int i = 0; i < 200; ++i) {
    std::string r(1 + rng() % 64, '\0');
    for (char& c : r) c = static_cast<char>(1 + rng() % 255);
    queries.push_back(r);
  }
  for (const std::string& q : queries) {
    KmsSearch* s = KMS_Search(index().c_str(), q.c_str(), "gb2312", nullptr);
    ASSERT_NE(s, nullptr);
    int n = KMS_HitCount(s);
    ASSERT_GE(n, 0);
    if (n > 0) {
      ASSERT_NE(KMS_Hit(s, 0), nullptr);
    }
    KMS_ClearSearch(s);
  }
  EXPECT_EQ(Count(index(), ""), 0);
  EXPECT_EQ(Count(index(), "AND"), 0);
}

TEST(KmsApiTest, AsciiWordsMatchWholeWordsWithoutRegardToCase) {
  TempDir dir;
  const std::vector<std::string> texts = {"Hello World", "hello-world", "HelloWorld",
                                          "say HELLO",   "shell oh",    "ＨＥＬＬＯ full width",
                                          "world hello"};
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  for (const auto& t : texts) {
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "content", Utf8ToGbk(t).c_str(), "gb2312", 1, 1, 1);
    ASSERT_EQ(KMS_Insert_Document(dir.path().c_str(), d), 0);
    KMS_Free_Document(d);
  }
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  const std::vector<std::pair<std::string, int>> cases = {
      {"hello", 5},           {"HELLO", 5}, {"Hello", 5}, {"hell", 0}, {"helloworld", 1},
      {"\"hello world\"", 2},  // both spellings of the phrase, not "world hello"
      {"world", 3},           {"oh", 1},
  };
  for (const auto& [q, n] : cases) EXPECT_EQ(CountU(dir.path(), q), n) << q;
}

TEST(KmsApiTest, StoredFieldsComeBackByteForByte) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 51200 / 2; ++i) big += (i % 7 == 0) ? "\xD6\xD0" : "a\n";
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"xml", big},
      {"f15", "13"},
      {"empty", ""},
      {"gbk", "\xC0\xFA\xCA\xB7 \x5C\x7C"},  // 历史 and bytes a GBK trail byte can take
      {"KeyWords", "a\tb"},
  };
  KmsDocument* d = KMS_New_Document();
  for (const auto& [name, value] : fields) {
    ASSERT_EQ(KMS_Add_Field(d, name.c_str(), value.c_str(), "gb2312", 1, 1, 1), 0);
  }
  KMS_Add_Field(d, "hidden", "x", "gb2312", 0, 1, 1);  // searchable, not stored
  ASSERT_EQ(KMS_Insert_Document(dir.path().c_str(), d), 0);
  KMS_Free_Document(d);
  KmsSearch* s = KMS_Search(dir.path().c_str(), "f15:13", "gb2312", "content");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(KMS_HitCount(s), 1);
  KmsHit* h = KMS_Hit(s, 0);
  for (const auto& [name, value] : fields) {
    char* got = KMS_Get_Field(h, name.c_str(), "gb2312");
    ASSERT_NE(got, nullptr) << name;
    EXPECT_EQ(std::string(got), value) << name;
    KMS_Free_Field(got);
  }
  EXPECT_EQ(KMS_Get_Field(h, "hidden", "gb2312"), nullptr);
  EXPECT_EQ(KMS_Get_Field(h, "missing", "gb2312"), nullptr);
  KMS_ClearSearch(s);
  EXPECT_EQ(Count(dir.path(), "hidden:x"), 1);
  EXPECT_EQ(Count(dir.path(), "keywords:b"), 1);  // the exact name is KeyWords
}

TEST(KmsApiTest, EqualScoresKeepDocumentOrderAndHigherScoresComeFirst) {
  TempDir dir;
  const std::vector<std::string> texts = {"alpha beta", "alpha", "beta gamma", "alpha alpha alpha",
                                          "alpha beta"};
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  for (size_t i = 0; i < texts.size(); ++i) {
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "xml", std::to_string(i).c_str(), "gb2312", 1, 0, 0);
    KMS_Add_Field(d, "content", texts[i].c_str(), "gb2312", 0, 1, 1);
    ASSERT_EQ(KMS_Insert_Document(dir.path().c_str(), d), 0);
    KMS_Free_Document(d);
  }
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  EXPECT_EQ(HitXml(dir.path(), "alpha", 10), (std::vector<std::string>{"3", "1", "0", "4"}));
  EXPECT_EQ(HitXml(dir.path(), "\"alpha beta\"", 10), (std::vector<std::string>{"0", "4"}));
}

TEST(KmsApiTest, SameKeyReplacesTheDocument) {
  TempDir dir;
  auto records = bench::GenerateCorpus(3, 1);
  records[0].title = Utf8ToGbk("旧标题");
  records[1].title = Utf8ToGbk("新标题");
  ASSERT_EQ(KMS_Open(dir.path().c_str(), 1), 0);
  ASSERT_EQ(InsertRecord(dir.path(), records[0], 0, "book/a.xml"), 0);
  ASSERT_EQ(InsertRecord(dir.path(), records[2], 2, "book/c.xml"), 0);
  ASSERT_EQ(InsertRecord(dir.path(), records[1], 1, "book/a.xml"), 0);
  ASSERT_EQ(KMS_Close(dir.path().c_str()), 0);
  // Re-indexing in a later session replaces as well, and long keys work.
  std::string long_key(600, 'k');
  ASSERT_EQ(InsertRecord(dir.path(), records[2], 3, long_key.c_str()), 0);
  ASSERT_EQ(InsertRecord(dir.path(), records[2], 4, long_key.c_str()), 0);
  EXPECT_EQ(CountU(dir.path(), "title:旧标题"), 0);
  EXPECT_EQ(HitXml(dir.path(), "title:新标题", 5), std::vector<std::string>{XmlOf(1)});
  std::vector<std::string> by_key = HitXml(dir.path(), "f15:" + records[2].category, 10);
  EXPECT_EQ(std::count(by_key.begin(), by_key.end(), XmlOf(2)), 1);
  EXPECT_EQ(std::count(by_key.begin(), by_key.end(), XmlOf(3)), 0);
  EXPECT_EQ(std::count(by_key.begin(), by_key.end(), XmlOf(4)), 1);
}

TEST(KmsApiTest, MissingIndexGivesNullAndBadArgumentsGiveErrors) {
  TempDir dir;
  std::string missing = dir.path() + "/none";
  EXPECT_EQ(KMS_Search(missing.c_str(), "a", "gb2312", nullptr), nullptr);
  EXPECT_EQ(KMS_Search(nullptr, "a", "gb2312", nullptr), nullptr);
  EXPECT_EQ(KMS_Search("", "a", "gb2312", nullptr), nullptr);
  EXPECT_EQ(KMS_HitCount(nullptr), 0);
  EXPECT_EQ(KMS_Hit(nullptr, 0), nullptr);
  EXPECT_EQ(KMS_Get_Field(nullptr, "xml", "gb2312"), nullptr);
  KMS_ClearSearch(nullptr);
  KMS_Free_Field(nullptr);
  EXPECT_NE(KMS_Add_Field(nullptr, "a", "b", "gb2312", 1, 1, 1), 0);
  KmsDocument* d = KMS_New_Document();
  EXPECT_NE(KMS_Add_Field(d, "", "b", "gb2312", 1, 1, 1), 0);
  EXPECT_NE(KMS_Add_Field(d, "a\tb", "b", "gb2312", 1, 1, 1), 0);
  EXPECT_NE(KMS_Set_Key(d, nullptr), 0);
  EXPECT_NE(KMS_Insert_Document(missing.c_str(), nullptr), 0);
  KMS_Add_Field(d, "content", "a", "gb2312", 1, 1, 1);
  EXPECT_NE(KMS_Insert_Document("", d), 0);  // never the working directory
  EXPECT_NE(KMS_Insert_Document(nullptr, d), 0);
  KMS_Free_Document(d);
  // A file where the index folder should be cannot become an index.
  std::string file = dir.path() + "/file";
  FILE* f = std::fopen(file.c_str(), "w");
  std::fclose(f);
  d = KMS_New_Document();
  KMS_Add_Field(d, "content", "a", "gb2312", 1, 1, 1);
  EXPECT_NE(KMS_Insert_Document(file.c_str(), d), 0);
  KMS_Free_Document(d);
}

TEST(KmsKeywordsTest, SegmentsIntoWordsWithoutConnectivesOrPunctuation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"中国历史研究", "中国 历史 研究"},
      {"  中国，历史。 ", "中国 历史"},
      {"中国 AND 历史 or 研究 Not 文化", "中国 历史 研究 文化"},
      {"\"中国\" AND \"历史\"", "中国 历史"},
      {"title:中国 f15:\"3\"", "中国 3"},
      {"Hello, World!", "Hello World"},
      {"", ""},
      {"，。！", ""},
  };
  for (const auto& [in, out] : cases) {
    char* k = KMS_Get_Keywords(Utf8ToGbk(in).c_str(), "gb2312");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(GbkToUtf8(k), out) << in;
    KMS_Free_Keywords(k);
  }
  char* k = KMS_Get_Keywords(nullptr, "gb2312");
  ASSERT_NE(k, nullptr);
  EXPECT_STREQ(k, "");
  KMS_Free_Keywords(k);
  k = KMS_Get_Keywords("\xFF\xFE\x81", "gb2312");  // not GBK
  ASSERT_NE(k, nullptr);
  KMS_Free_Keywords(k);
}

// The symbols the engine indexes are words, bound to what they touch as the engine binds them;
// the punctuation it does not index separates.
TEST(KmsKeywordsTest, KeepsIndexedSymbolsJoinedToTheirNeighbours) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"①", "①"},
      {"第①章", "第①章"},
      {"温度30℃", "温度 30℃"},
      {"ⅰ", "ⅰ"},
      {"第ⅰ章", "第ⅰ章"},
      {"①②", "①②"},
      {"图① 图②", "图① 图②"},
      {"中国，①", "中国 ①"},
      {"① AND ② or ③", "① ② ③"},
      {"title:①", "①"},
      {"￥5", "￥5"},
      {"面积100㎡", "面积 100㎡"},
      // Not indexed: § and ※ are punctuation, full-width ＄ is read as ASCII $.
      {"§3", "3"},
      {"※", ""},
      {"注※重要", "注 重要"},
      {"＄5", "5"},
      {"第①章，历史。", "第①章 历史"},
  };
  for (const auto& [in, out] : cases) {
    char* k = KMS_Get_Keywords(Utf8ToGbk(in).c_str(), "gb2312");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(GbkToUtf8(k), out) << in;
    KMS_Free_Keywords(k);
  }
}

}  // namespace
}  // namespace tomeva::kms_test

namespace tomeva::kms_test {
namespace {

TEST(KmsApiTest, AnIndexDeletedAndBuiltAgainIsSeenAfresh) {
  TempDir dir;
  std::string index = dir.path() + "/SearchDB";
  for (const char* word : {"alpha", "beta", "gamma"}) {
    std::filesystem::remove_all(index);
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "xml", word, "gb2312", 1, 0, 0);
    KMS_Add_Field(d, "content", word, "gb2312", 0, 1, 1);
    ASSERT_EQ(KMS_Insert_Document(index.c_str(), d), 0);
    KMS_Free_Document(d);
    EXPECT_EQ(HitXml(index, word, 5), std::vector<std::string>{word});
    EXPECT_EQ(Count(index, "alpha OR beta OR gamma"), 1) << word;
  }
}

}  // namespace
}  // namespace tomeva::kms_test

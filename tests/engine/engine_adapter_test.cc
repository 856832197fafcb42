// The engine adapter: how it turns the engine's reading lines into a QueryReading, and what it
// reads of a real index.
#include "engine_kms/kms_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/engine/result_set.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

std::string G(const std::string& utf8) { return Utf8ToGbk(utf8); }

std::vector<std::string> Utf8(const std::vector<std::string>& gbk) {
  std::vector<std::string> out;
  for (const std::string& s : gbk) out.push_back(GbkToUtf8(s));
  return out;
}

TEST(ParseQueryReadingTest, EachLineGoesToItsPart) {
  using V = std::vector<std::string>;
  const struct {
    const char* text;
    const char* expression;
    V fields, phrases;
    const char* typed_run;
    V widened;
    bool unsearchable;
  } cases[] = {
      {"表达式：content:白 AND content:日\n字段：content\n短语：无\n优先：content:\"白日依山\"\n",
       "content:白 AND content:日", {"content"}, {}, "白日依山", {}, false},
      {"表达式：content:\"宜尔子孙\"\n字段：content，title\n短语：content:\"宜尔子孙\"\n"
       "繁简通查：宜尔子孙，长安\n",
       "content:\"宜尔子孙\"", {"content", "title"}, {"content:\"宜尔子孙\""}, "",
       {"宜尔子孙", "长安"}, false},
      {"表达式：（无检索词）\n字段：无\n短语：无\n不能检索：有的词含索引不收的字符，该词无结果\n",
       "", {}, {}, "", {}, true},
      {"优先：content:\"python 编程\"", "", {}, {}, "python 编程", {}, false},
      {"优先：没有引号\n表达式的样子：不是标签\n", "", {}, {}, "", {}, false},
      {"", "", {}, {}, "", {}, false},
  };
  for (const auto& c : cases) {
    const QueryReading r = ParseQueryReading(G(c.text));
    EXPECT_EQ(GbkToUtf8(r.expression), c.expression) << c.text;
    EXPECT_EQ(Utf8(r.fields), c.fields) << c.text;
    EXPECT_EQ(Utf8(r.phrases), c.phrases) << c.text;
    EXPECT_EQ(GbkToUtf8(r.typed_run), c.typed_run) << c.text;
    EXPECT_EQ(Utf8(r.widened), c.widened) << c.text;
    EXPECT_EQ(r.Widened(), !c.widened.empty()) << c.text;
    EXPECT_EQ(r.unsearchable, c.unsearchable) << c.text;
    EXPECT_EQ(GbkToUtf8(r.text), c.text);  // the lines the reader is shown stay as they were
  }
}

// The reading comes from the first index; without one, or from one that cannot be opened, there
// is none (and no crash). A search carries it: the typed run and the widening as data.
TEST(KmsEngineTest, ReadsTheQueryOnTheFirstIndexAndNothingWithoutOne) {
  testing::TempDir dir;
  const std::string index = dir / "index";
  KmsEngine engine;
  ASSERT_TRUE(engine.OpenIndex(index, 1, nullptr));
  IndexDocument doc;
  doc.fields.push_back({"xml", "<record/>", true, false, false});
  doc.fields.push_back({"content", G("宜爾子孫，白日依山盡")});
  ASSERT_TRUE(engine.InsertDocument(index, doc, nullptr));
  ASSERT_TRUE(engine.CloseIndex(index, nullptr));

  const std::optional<QueryReading> reading =
      engine.ReadQuery(index, G("content:宜尔子孙"), "content");
  ASSERT_TRUE(reading.has_value());
  EXPECT_NE(GbkToUtf8(reading->text).find("表达式："), std::string::npos) << reading->text;
  EXPECT_TRUE(reading->Widened());
  EXPECT_FALSE(engine.ReadQuery(dir / "no-index-here/x", "x", "content").has_value());

  CResultSet natural(engine, {index}, 1, kQueryNatural);
  natural.Search(G("白日依山"), "content", "");
  EXPECT_EQ(natural.GetTotalCount(), 1);
  EXPECT_EQ(GbkToUtf8(natural.reading().typed_run), "白日依山");
  CResultSet none(engine, {}, 1, kQueryNatural);
  none.Search(G("白日"), "content", "");
  EXPECT_TRUE(none.reading().text.empty());
}

// A search that ran carries how its expression was read: the same lines as reading the
// expression again, for every kind of expression, and a result set shows it without asking the
// engine for a second reading.
TEST(KmsEngineTest, ASearchCarriesItsReading) {
  struct CountingEngine : KmsEngine {
    std::optional<QueryReading> ReadQuery(const std::string& index, const std::string& expression,
                                          const std::string& default_field) override {
      ++readings;
      return KmsEngine::ReadQuery(index, expression, default_field);
    }
    int readings = 0;
  };
  testing::TempDir dir;
  const std::string index = dir / "index";
  CountingEngine engine;
  ASSERT_TRUE(engine.OpenIndex(index, 1, nullptr));
  IndexDocument doc;
  doc.fields.push_back({"xml", "<record/>", true, false, false});
  doc.fields.push_back({"title", G("静夜思")});
  doc.fields.push_back({"content", G("宜爾子孫，白日依山盡 temperature 30℃")});
  ASSERT_TRUE(engine.InsertDocument(index, doc, nullptr));
  ASSERT_TRUE(engine.CloseIndex(index, nullptr));

  for (const char* expression :
       {"content:白日依山", "content:\"宜尔子孙\"", "content:白日 OR title:静夜思",
        "title:静夜思 AND NOT content:月", "content:30℃", "content:(白日 AND 依山) OR 子孙",
        "content:"}) {
    std::string reason;
    std::unique_ptr<IndexSearch> search =
        engine.SearchIndex(index, G(expression), "content", &reason);
    ASSERT_NE(search, nullptr) << expression << ": " << reason;
    const std::optional<QueryReading> held = search->Reading();
    const std::optional<QueryReading> again = engine.ReadQuery(index, G(expression), "content");
    ASSERT_TRUE(held.has_value()) << expression;
    ASSERT_TRUE(again.has_value()) << expression;
    EXPECT_EQ(GbkToUtf8(held->text), GbkToUtf8(again->text)) << expression;
    EXPECT_EQ(held->typed_run, again->typed_run) << expression;
    EXPECT_EQ(held->widened, again->widened) << expression;
  }

  engine.readings = 0;
  CResultSet natural(engine, {index}, 1, kQueryNatural);
  natural.Search(G("白日依山"), "content", "");
  EXPECT_EQ(GbkToUtf8(natural.reading().typed_run), "白日依山");
  EXPECT_EQ(engine.readings, 0);
}

// An index write the engine refuses gives its reason; a batch listing of a folder without an
// index is empty, not a failure.
TEST(KmsEngineTest, WritesGiveTheEnginesReason) {
  testing::TempDir dir;
  testing::WriteGbk(dir / "file", "not a folder");
  const std::string unwritable = dir / "file/index";
  KmsEngine engine;
  IndexDocument doc;
  doc.fields.push_back({"content", "x"});
  const struct {
    const char* name;
    std::function<bool(std::string*)> write;
  } cases[] = {
      {"close of an index never opened",
       [&](std::string* r) { return engine.CloseIndex(dir / "never-opened", r); }},
      {"open under a file", [&](std::string* r) { return engine.OpenIndex(unwritable, 1, r); }},
      {"insert under a file",
       [&](std::string* r) { return engine.InsertDocument(unwritable, doc, r); }},
      {"optimise of no index", [&](std::string* r) { return engine.OptimizeIndex(unwritable, r); }},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_FALSE(c.write(&reason)) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
    EXPECT_FALSE(c.write(nullptr)) << c.name;  // no room for a reason: still a failure
  }
  std::string reason;
  const std::optional<std::vector<std::string>> batches = engine.ListBatches(dir / "none", &reason);
  ASSERT_TRUE(batches.has_value());
  EXPECT_TRUE(batches->empty());
  EXPECT_EQ(engine.IndexServer(dir / "none"), "");
}

}  // namespace
}  // namespace tomeva

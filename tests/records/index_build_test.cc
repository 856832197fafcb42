#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/records/index_config.h"
#include "engine_kms/kms_engine.h"
#include "support/recording_sinks.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

using testing::RecordingProgress;

class IndexBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReplaceFileAtomically(defs_, BuildFieldDefinitionText("838", G("唐诗"))));
  }

  CBookDef* AddRecord(std::vector<std::string> values) {
    auto r = std::make_unique<CBookDef>();
    for (size_t i = 0; i < values.size(); ++i) r->SetValueAt(static_cast<int>(i), values[i]);
    r->set_record_file_path(dir_ / ("book_" + std::to_string(carriers_.size() + 1) + ".xml"));
    carriers_.push_back(std::move(r));
    return carriers_.back().get();
  }
  int Build(ProgressSink* progress = nullptr, const std::string& defs = "") {
    std::vector<CBookDef*> records;
    for (auto& c : carriers_) records.push_back(c.get());
    CIndexConfig config;
    config.Set(defs.empty() ? defs_ : defs, index_);
    return config.Build(engine_, records, progress);
  }
  // Count of hits and the stored fields of hit 0.
  int Count(const std::string& query, std::string* xml = nullptr, std::string* content = nullptr,
            std::string* author = nullptr) {
    std::string reason;
    std::unique_ptr<IndexSearch> s = engine_.SearchIndex(index_, query, "content", &reason);
    if (s == nullptr) return -1;
    int n = s->HitCount();
    if (n > 0) {
      auto take = [&s](const char* name, std::string* out) {
        if (out) *out = s->Field(0, name).value_or("<null>");
      };
      take("xml", xml);
      take("content", content);
      take("author", author);
    }
    return n;
  }
  KmsEngine engine_;
  testing::TempDir dir_;
  const std::string defs_ = dir_ / "temp.xml";
  const std::string index_ = dir_ / "SearchDB";
  std::vector<std::unique_ptr<CBookDef>> carriers_;
};

TEST_F(IndexBuildTest, RecordsBecomeFilesAndSearchableDocuments) {
  AddRecord({G("春晓&夜雨"), "", G("春眠不觉晓，处处闻啼鸟。"), G("春天"), "", "3", "p1.htm"});
  AddRecord({G("静夜思"), G("李白"), G("床前明月光"), "", "", "13"});
  RecordingProgress progress;
  ASSERT_EQ(Build(&progress), 1);
  EXPECT_EQ(progress.ranges, std::vector<int>{2});
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2}));

  std::string file;
  ASSERT_TRUE(ReadWholeFile(dir_ / "book_1.xml", &file));
  EXPECT_NE(file.find(G("<FdName>春晓&amp;夜雨</FdName>")), std::string::npos);
  EXPECT_EQ(file.find("FdAuthor"), std::string::npos);  // empty value left out

  std::string xml, content, author;
  ASSERT_EQ(Count(G("title:\"春晓\""), &xml, &content, &author), 1);
  EXPECT_EQ(xml, file);
  // Content holds the search fields one per line, unescaped; the empty author leaves its line.
  EXPECT_EQ(content, G("春晓&夜雨\n\n春眠不觉晓，处处闻啼鸟。\n春天\n3\n"));
  EXPECT_EQ(author, "");
  EXPECT_EQ(Count(G("author:\"李白\"")), 1);
  EXPECT_EQ(Count(G("KeyWords:\"春天\"")), 1);
  EXPECT_EQ(Count("f15:\"3\""), 1);
  EXPECT_EQ(Count(G("\"明月\"")), 1);
  EXPECT_EQ(Count(G("\"p1\"")), 0);  // the HTML file field is not searched
}

TEST_F(IndexBuildTest, RebuildingReplacesInsteadOfDuplicating) {
  AddRecord({G("静夜思"), G("李白"), G("床前明月光")});
  AddRecord({G("月下独酌"), G("李白"), G("举杯邀明月")});
  ASSERT_EQ(Build(), 1);
  ASSERT_EQ(Build(), 1);  // an interrupted import is simply run again
  EXPECT_EQ(Count(G("\"明月\"")), 2);
  // Two book definitions in one file index the same records once each, not twice.
  std::string two = "<?xml version=\"1.0\"?><Library>"
                    "<Book><Field Name=\"FdName\" Is4Search=\"TRUE\" Column=\"title\" ColTag=\"title\"/></Book>"
                    "<Book><Field Name=\"FdName\" Is4Search=\"TRUE\" Column=\"title\" ColTag=\"title\"/></Book>"
                    "</Library>";
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "two.xml", two));
  ASSERT_EQ(Build(nullptr, dir_ / "two.xml"), 1);
  EXPECT_EQ(Count(G("title:\"李白\"")), 0);
  EXPECT_EQ(Count(G("title:\"静夜思\"")), 1);
}

TEST_F(IndexBuildTest, LongContentIsCutOnACharacterBoundary) {
  // Two empty lines and two ASCII bytes first, so that byte 51,199 falls inside a character.
  std::string body = "ab";
  while (body.size() < 60000) body += G("月");
  AddRecord({"", "", body});
  ASSERT_EQ(Build(), 1);
  std::string content;
  ASSERT_EQ(Count(G("\"月月\""), nullptr, &content), 1);
  EXPECT_LE(content.size(), 51199u);
  EXPECT_GE(content.size(), 51197u);
  EXPECT_EQ(GbkToUtf8(content).find("\xEF\xBF\xBD"), std::string::npos);  // no broken character
}

TEST_F(IndexBuildTest, MissingDefinitionsAndEmptyListsAreHandled) {
  RecordingProgress progress;
  ASSERT_EQ(Build(&progress), 1);  // no records: the index is opened and closed
  EXPECT_EQ(progress.ranges, std::vector<int>{0});
  EXPECT_EQ(Count(G("\"明月\"")), 0);
  AddRecord({G("静夜思")});
  EXPECT_EQ(Build(nullptr, dir_ / "absent.xml"), 0);
  EXPECT_FALSE(FileExists(dir_ / "book_1.xml"));
}

}  // namespace
}  // namespace tomeva

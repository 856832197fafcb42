#include "core/pdf/highlight_client.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/gbk.h"
#include "base/texts.h"
#include "core/engine/highlight.h"
#include "support/fake_engine.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::FakePlatform;
using testing::TempDir;

// A keyword string as the plug-in reads one (UTF-8 here), as words.
std::vector<std::string> Words(const std::string& utf8) { return SplitKeywords(Utf8ToGbk(utf8)); }
using testing::WriteGbk;

std::string LittleEndian(const std::vector<int32_t>& values) {
  std::string bytes;
  for (int32_t v : values) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(v >> shift));
  }
  return bytes;
}

TEST(HighlightDataTest, PositionsAndExecuteData) {
  struct Case {
    const char* name;
    std::string text;      // UTF-8
    std::string keywords;  // UTF-8
    int matches;
    std::vector<int32_t> values;
    int count;
  } cases[] = {
      {"two two-character keywords, each twice",
       "中国和人民，中国的人民",
       "人民 中国",
       4,
       {0, 2, 2, 2, 6, 2, 8, 2, 12, 2, 14, 2, 18, 2, 20, 2},
       16},
      {"three ASCII letters: three values of six sent",
       "xx ABC yy",
       "abc",
       1,
       {3, 1, 4, 1, 5, 1},
       3},
      {"mixed widths: the last pair is cut in half", "xa中y", "a中", 1, {1, 1, 2, 2}, 3},
      {"empty keyword string", "中国", "", 0, {}, 0},
      {"no match", "中国", "日本", 0, {}, 0},
      {"text ends at its first NUL", std::string("ab\0ab", 5), "ab", 1, {0, 1, 1, 1}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PdfHighlightData data = ComputeHighlightData(Utf8ToGbk(c.text), Words(c.keywords));
    EXPECT_EQ(data.matches, c.matches);
    EXPECT_EQ(data.values, c.values);
    EXPECT_EQ(data.count, c.count);
    EXPECT_EQ(data.PositionFileBytes(), LittleEndian(c.values));
    std::vector<int32_t> sent = {0x8080};
    sent.insert(sent.end(), c.values.begin(), c.values.begin() + c.count);
    EXPECT_EQ(data.ExecuteData(), LittleEndian(sent));
  }
}

// The words fill the plug-in's keyword table as its keyword string always did: a word holding
// "&" or "|" is two keywords there, and an empty word matches nothing.
TEST(HighlightDataTest, WordsFillTheKeywordTableAsTheKeywordStringDid) {
  const struct {
    std::vector<std::string> words;
    int matches;
  } cases[] = {{{"ab&cd"}, 2}, {{"ab|cd", "ef"}, 3}, {{"", "ef"}, 1}, {{""}, 0}, {{}, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ComputeHighlightData("ab cd ef", c.words).matches, c.matches) << c.words.size();
  }
}

TEST(HighlightDataTest, CountIsCutToThePluginsBuffer) {
  // One merged match of 200 single bytes: 200 values would be due, 99 fit in 1 x 400 + 1 bytes.
  const PdfHighlightData data = ComputeHighlightData(std::string(200, 'a'), {"aa"});
  EXPECT_EQ(data.matches, 1);
  EXPECT_EQ(data.values.size(), 400u);
  EXPECT_EQ(data.count, 99);
  EXPECT_EQ(data.ExecuteData().size(), 4u + 4 * 99);
}

TEST(PdfCompanionPathTest, ReplacesTheLastThreeCharacters) {
  struct Case {
    const char* pdf;
    const char* txt;
  } cases[] = {
      {"lib/tang/whole.pdf", "lib/tang/whole.txt"},
      {"lib/tang/Scan.PDF", "lib/tang/Scan.txt"},
      {"lib/tang/scanpdf2", "lib/tang/scanptxt"},  // no three-letter extension
      {"lib/tang/卷一.p", "lib/tang/卷txt"},       // a double-byte character is one character
      {"ab", "txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GbkToUtf8(PdfCompanionPath(Utf8ToGbk(c.pdf), "txt")), c.txt) << c.pdf;
  }
}

class HighlightInViewerTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteGbk(dir_ / "whole.txt", "中国和人民，中国的人民"); }
  void TearDown() override { ClearFaults(); }

  HighlightOutcome Run(const std::string& keywords) {
    return HighlightInViewer(platform_, dir_ / "whole.pdf", Words(keywords),
                             [this](const std::string& m) { told_.push_back(GbkToUtf8(m)); });
  }

  TempDir dir_;
  FakePlatform platform_;
  std::vector<std::string> told_;
};

TEST_F(HighlightInViewerTest, SendsThePositionsAndKeepsThePositionFile) {
  EXPECT_EQ(Run("人民 中国"), HighlightOutcome::kSent);
  ASSERT_EQ(platform_.executes.size(), 1u);
  const auto& call = platform_.executes[0];
  EXPECT_EQ(call.service, "HiliteService");
  EXPECT_EQ(call.topic, "PageNumber");
  EXPECT_EQ(call.timeout_ms, 15000);
  EXPECT_EQ(call.data.size(), 4u + 64);
  std::string positions;
  ASSERT_TRUE(ReadWholeFile(dir_ / "whole.idx", &positions));
  EXPECT_EQ(call.data, LittleEndian({0x8080}) + positions);
  EXPECT_TRUE(told_.empty());
}

TEST_F(HighlightInViewerTest, FailuresSendNothingOrAreTold) {
  struct Case {
    const char* name;
    const char* keywords;
    DdeResult answer;
    bool remove_text;
    HighlightOutcome outcome;
    size_t sent;
    const char* told;  // "" for nothing told
  } cases[] = {
      {"no text copy", "中国", DdeResult::kDone, true, HighlightOutcome::kNoText, 0, ""},
      {"no match", "日本", DdeResult::kDone, false, HighlightOutcome::kNoMatch, 0, ""},
      {"no server", "中国", DdeResult::kNoServer, false, HighlightOutcome::kNoServer, 1,
       "DdeClient: Failed to connect to server."},
      {"refused", "中国", DdeResult::kRefused, false, HighlightOutcome::kRefused, 1,
       "PDF阅读器没有接受这次的标记数据，这次没有在PDF中标出检索词。PDF照常显示。"},
      {"timed out", "中国", DdeResult::kTimedOut, false, HighlightOutcome::kTimedOut, 1,
       "PDF阅读器在15秒内没有回答，这次没有在PDF中标出检索词。PDF照常显示；可以再打开一次这个PDF重试。"},
      {"turned away", "中国", DdeResult::kBusy, false, HighlightOutcome::kBusy, 1,
       "PDF阅读器同时打开的连接太多，拒绝了这次的标记数据，这次没有在PDF中标出检索词。"
       "若一再出现，可能有别的程序占着阅读器的连接；请重新启动本程序。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.remove_text) RemoveFile(dir_ / "whole.txt");
    platform_.executes.clear();
    platform_.dde_result = c.answer;
    told_.clear();
    EXPECT_EQ(Run(c.keywords), c.outcome);
    EXPECT_EQ(platform_.executes.size(), c.sent);
    EXPECT_EQ(told_, std::string(c.told).empty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{c.told});
  }
}

TEST_F(HighlightInViewerTest, UnwritablePositionFileIsToldAndNothingSent) {
  ArmFault(FaultSite::kFileWrite, 1, EACCES, true);
  EXPECT_EQ(Run("中国"), HighlightOutcome::kPositionFileFailed);
  ClearFaults();
  EXPECT_TRUE(platform_.executes.empty());
  ASSERT_EQ(told_.size(), 1u);
  EXPECT_NE(told_[0].find(dir_ / "whole.idx"), std::string::npos) << told_[0];
  EXPECT_FALSE(FileExists(dir_ / "whole.idx"));
}

class PdfHighlighterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteGbk(dir_ / "viewer", "");
    WriteGbk(dir_ / "whole.txt", "中国和人民");
  }

  // A viewer that shows the document after `polls_until_shown` questions.
  PdfHighlighter::DocumentShown ShownAfter(int polls_until_shown) {
    return [this, polls_until_shown](const std::string&) {
      std::lock_guard<std::mutex> lock(mutex_);
      return ++polls_ > polls_until_shown;
    };
  }
  HighlightMessageSink Tell() {
    return [this](const std::string& m) {
      std::lock_guard<std::mutex> lock(mutex_);
      told_.push_back(m);
    };
  }

  TempDir dir_;
  FakePlatform platform_;
  std::mutex mutex_;
  int polls_ = 0;
  std::vector<std::string> told_;
};

TEST_F(PdfHighlighterTest, WorkerSendsOnceTheDocumentIsShown) {
  PdfHighlighter highlighter(&platform_, ShownAfter(2), Tell(), {std::chrono::milliseconds(1), 10});
  EXPECT_TRUE(highlighter.StartHighlight(dir_ / "viewer", dir_ / "whole.pdf", Words("中国")));
  highlighter.WaitForWorkers();
  EXPECT_EQ(polls_, 3);
  EXPECT_EQ(platform_.executes.size(), 1u);
  EXPECT_TRUE(told_.empty());
}

// The worker widens the words with the forms the engine finds in the text copy, folding it
// once: with "x" folded as "a", the copy's "xb" is a form of "ab", and both are marked. Without
// an engine only "ab" is.
TEST_F(PdfHighlighterTest, WorkerMatchesEveryFormTheEngineFindsInTheCopy) {
  WriteGbk(dir_ / "whole.txt", "ab and xb");
  for (const bool with_engine : {true, false}) {
    SCOPED_TRACE(with_engine);
    platform_.executes.clear();
    testing::FakeEngine engine;
    engine.folds = {{'x', 'a'}};
    PdfHighlighter highlighter(&platform_, nullptr, Tell(), {std::chrono::milliseconds(1), 10});
    if (with_engine) highlighter.AttachEngine(&engine);
    EXPECT_TRUE(highlighter.StartHighlight(dir_ / "viewer", dir_ / "whole.pdf", {"ab"}));
    highlighter.WaitForWorkers();
    ASSERT_EQ(platform_.executes.size(), 1u);
    // Header, then offset and width of each character marked: two of each match.
    EXPECT_EQ(platform_.executes[0].data.size(), 4u + 4 * (with_engine ? 4 : 2));
    EXPECT_EQ(engine.fold_calls, with_engine ? 2 : 0);  // the copy, then "ab"
  }
}

TEST_F(PdfHighlighterTest, NothingIsSentWithoutKeywordsViewerOrShownDocument) {
  struct Case {
    const char* name;
    const char* viewer;
    const char* keywords;
    int polls_until_shown;
    bool started;
    int polls;
    std::vector<std::string> told;
  } cases[] = {
      {"empty keywords: the worker still waits", "viewer", "", 0, true, 1, {}},
      {"never shown within the bound", "viewer", "中国", 100, true, 3, {}},
      {"no viewer installed", "missing", "中国", 0, false, 0, {Text(kTextViewerMissing)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    polls_ = 0;
    told_.clear();
    PdfHighlighter highlighter(&platform_, ShownAfter(c.polls_until_shown), Tell(),
                               {std::chrono::milliseconds(1), 3});
    EXPECT_EQ(
        highlighter.StartHighlight(dir_ / c.viewer, dir_ / "whole.pdf", Words(c.keywords)),
        c.started);
    highlighter.WaitForWorkers();
    EXPECT_EQ(polls_, c.polls);
    EXPECT_TRUE(platform_.executes.empty());
    EXPECT_EQ(told_, c.told);
  }
}

TEST_F(PdfHighlighterTest, DestructionStopsAWaitingWorkerAtOnce) {
  const auto begin = std::chrono::steady_clock::now();
  {
    PdfHighlighter highlighter(&platform_, ShownAfter(1000), Tell(),
                               {std::chrono::seconds(10), 100});
    EXPECT_TRUE(highlighter.StartHighlight(dir_ / "viewer", dir_ / "whole.pdf", {"x"}));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_TRUE(platform_.executes.empty());
}

}  // namespace
}  // namespace tomeva

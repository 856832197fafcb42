// Engines for tests. FakeEngine keeps its indexes in memory: each a list of stored records that
// every expression finds, in order; it folds by a table of single bytes the test chooses, reads
// a query as the test says and takes the query's words apart at spaces. A test may also give
// every search a result set of its own making. FaultyEngine passes every call to another engine
// and fails the index writes a test arms, as a full disk or a failed commit would.
#ifndef TOMEVA_TESTS_SUPPORT_FAKE_ENGINE_H_
#define TOMEVA_TESTS_SUPPORT_FAKE_ENGINE_H_

#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine/engine.h"

namespace tomeva::testing {

class FakeEngine : public Engine {
 public:
  using Record = std::map<std::string, std::string>;  // stored field name -> value

  // When set, every search gives what this returns for the query, field, condition and mode.
  std::function<std::unique_ptr<SearchResults>(const std::string& query, const std::string& field,
                                               const std::string& condition, QueryMode mode)>
      results;
  // The indexes that can be searched, by path; a path not listed cannot be.
  std::map<std::string, std::vector<Record>> indexes;
  // Index servers by index path (IndexServer).
  std::map<std::string, std::string> servers;
  // What ReadQuery gives for any expression on a listed index.
  QueryReading reading;
  // Bytes folded to others (besides ASCII letters to lower case).
  std::map<char, char> folds;
  // A query longer than this has no words (QueryWords refuses it).
  size_t max_query = 65536;
  // Indexes that stop answering the searches already run on them ("lost <index>" their reason).
  std::set<std::string> lost;

  // What was asked: the expressions searched ("index|expression|field"), the texts folded.
  std::vector<std::string> searched;
  std::vector<std::string> read_queries;
  int fold_calls = 0;
  // The writes: "open|index|mode", "insert|index|key", "close|index", ... in order, and the
  // documents inserted.
  std::vector<std::string> writes;
  std::vector<IndexDocument> inserted;

  template <typename F>
  void SetResults(F make) {
    results = std::move(make);
  }

  std::unique_ptr<SearchResults> Search(const std::vector<std::string>& index_paths,
                                        const SearchRequest& request) override {
    if (results) return results(request.query, request.field, request.condition, request.mode);
    return Engine::Search(index_paths, request);
  }

  std::unique_ptr<IndexSearch> SearchIndex(const std::string& index, const std::string& expression,
                                           const std::string& default_field,
                                           std::string* reason) override {
    searched.push_back(index + "|" + expression + "|" + default_field);
    auto found = indexes.find(index);
    if (found == indexes.end()) {
      *reason = "no index " + index;
      return nullptr;
    }
    return std::make_unique<Hits>(this, index, found->second);
  }

  std::optional<std::vector<std::string>> QueryWords(std::string_view query) override {
    if (query.size() > max_query) return std::nullopt;
    std::vector<std::string> words;
    size_t start = 0;
    while (start < query.size()) {
      size_t end = query.find(' ', start);
      if (end == std::string_view::npos) end = query.size();
      if (end > start) words.emplace_back(query.substr(start, end - start));
      start = end + 1;
    }
    return words;
  }

  std::optional<QueryReading> ReadQuery(const std::string& index, const std::string& expression,
                                        const std::string& default_field) override {
    read_queries.push_back(index + "|" + expression + "|" + default_field);
    if (indexes.count(index) == 0) return std::nullopt;
    return reading;
  }

  std::optional<FoldedText> Fold(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++fold_calls;
    FoldedText out;
    text = text.substr(0, text.find('\0'));
    for (size_t i = 0; i < text.size(); ++i) {
      auto fold = folds.find(text[i]);
      const char c = fold != folds.end() ? fold->second : text[i];
      out.folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out.offsets.push_back(static_cast<int>(i));
    }
    out.offsets.push_back(static_cast<int>(text.size()));
    return out;
  }

  bool OpenIndex(const std::string& index, int mode, std::string*) override {
    writes.push_back("open|" + index + "|" + std::to_string(mode));
    return true;
  }
  bool InsertDocument(const std::string& index, const IndexDocument& doc, std::string*) override {
    writes.push_back("insert|" + index + "|" + doc.key);
    inserted.push_back(doc);
    return true;
  }
  bool CloseIndex(const std::string& index, std::string*) override {
    writes.push_back("close|" + index);
    return true;
  }
  bool OptimizeIndex(const std::string& index, std::string*) override {
    writes.push_back("optimize|" + index);
    return true;
  }
  bool ReindexIndex(const std::string& index, std::string*) override {
    writes.push_back("reindex|" + index);
    return true;
  }
  bool PublishBatch(const std::string& index, const std::string& batch, std::string*) override {
    writes.push_back("publish|" + index + "|" + batch);
    return true;
  }
  bool DiscardBatch(const std::string& index, const std::string& batch, std::string*) override {
    writes.push_back("discard|" + index + "|" + batch);
    return true;
  }
  std::optional<std::vector<std::string>> ListBatches(const std::string&, std::string*) override {
    return std::vector<std::string>{};
  }
  std::string IndexServer(const std::string& index) override {
    auto found = servers.find(index);
    return found != servers.end() ? found->second : std::string();
  }

 private:
  class Hits : public IndexSearch {
   public:
    Hits(const FakeEngine* engine, std::string index, std::vector<Record> records)
        : engine_(engine), index_(std::move(index)), records_(std::move(records)) {}
    int HitCount() const override { return Lost() ? 0 : static_cast<int>(records_.size()); }
    std::optional<std::string> Lost() const override {
      if (engine_->lost.count(index_) == 0) return std::nullopt;
      return "lost " + index_;
    }
    std::optional<std::string> Field(int n, const std::string& name) override {
      if (n < 0 || n >= HitCount()) return std::nullopt;
      auto found = records_[n].find(name);
      if (found == records_[n].end()) return std::nullopt;
      return found->second;
    }

   private:
    const FakeEngine* engine_;
    std::string index_;
    std::vector<Record> records_;
  };

  std::mutex mutex_;
};

class FaultyEngine : public Engine {
 public:
  // Every call goes on to `inner`, which must outlive this engine.
  explicit FaultyEngine(Engine& inner) : inner_(inner) {}

  // The `nth` index write (1-based) from now on fails with `reason`, and with `sticky` so does
  // every one after it; nth = 0 only counts the writes (to learn how many an operation makes).
  void FailWrite(int nth, bool sticky = false, std::string reason = "Input/output error") {
    std::lock_guard<std::mutex> lock(mutex_);
    nth_ = nth;
    sticky_ = sticky;
    reason_ = std::move(reason);
    calls_ = 0;
  }
  // Index writes seen since the last FailWrite.
  int write_calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  std::unique_ptr<IndexSearch> SearchIndex(const std::string& index, const std::string& expression,
                                           const std::string& default_field,
                                           std::string* reason) override {
    return inner_.SearchIndex(index, expression, default_field, reason);
  }
  std::optional<std::vector<std::string>> QueryWords(std::string_view query) override {
    return inner_.QueryWords(query);
  }
  std::optional<QueryReading> ReadQuery(const std::string& index, const std::string& expression,
                                        const std::string& default_field) override {
    return inner_.ReadQuery(index, expression, default_field);
  }
  std::optional<FoldedText> Fold(std::string_view text) override { return inner_.Fold(text); }

  bool OpenIndex(const std::string& index, int mode, std::string* reason) override {
    return !Injected(reason) && inner_.OpenIndex(index, mode, reason);
  }
  bool InsertDocument(const std::string& index, const IndexDocument& doc,
                      std::string* reason) override {
    return !Injected(reason) && inner_.InsertDocument(index, doc, reason);
  }
  bool CloseIndex(const std::string& index, std::string* reason) override {
    if (Injected(reason)) {
      // The writer is let go all the same, as after a commit that failed for real: nothing it
      // held is committed, and the index is not left locked.
      inner_.CloseIndex(index, nullptr);
      return false;
    }
    return inner_.CloseIndex(index, reason);
  }
  bool OptimizeIndex(const std::string& index, std::string* reason) override {
    return !Injected(reason) && inner_.OptimizeIndex(index, reason);
  }
  bool ReindexIndex(const std::string& index, std::string* reason) override {
    return !Injected(reason) && inner_.ReindexIndex(index, reason);
  }
  bool PublishBatch(const std::string& index, const std::string& batch,
                    std::string* reason) override {
    return !Injected(reason) && inner_.PublishBatch(index, batch, reason);
  }
  bool DiscardBatch(const std::string& index, const std::string& batch,
                    std::string* reason) override {
    return !Injected(reason) && inner_.DiscardBatch(index, batch, reason);
  }
  std::optional<std::vector<std::string>> ListBatches(const std::string& index,
                                                      std::string* reason) override {
    return inner_.ListBatches(index, reason);
  }
  std::string IndexServer(const std::string& index) override { return inner_.IndexServer(index); }

 private:
  // Counts one write; true (with the armed reason) when it is to fail.
  bool Injected(std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    const bool fail = nth_ > 0 && (calls_ == nth_ || (sticky_ && calls_ > nth_));
    if (fail && reason != nullptr) *reason = reason_;
    return fail;
  }

  Engine& inner_;
  mutable std::mutex mutex_;
  int nth_ = 0;
  bool sticky_ = false;
  std::string reason_;
  int calls_ = 0;
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_SUPPORT_FAKE_ENGINE_H_

// bench_kms_fold: the folding term scheme against the pair scheme it replaces (the engine as it
// was), in the same run, through the KMS_ functions: index build time and size, and the query
// time of the engine benchmark's mix (bench_kms: 1 to 4 characters, phrases, AND, OR, a field, a
// category) plus the typed runs of the automatic mode (bare words joined by AND, which the
// folding scheme ranks by the run). Both indexes hold the same generated records.
//
// Records: env TOMEVA_BENCH_RECORDS (default 50,000). Each query benchmark runs the whole mix
// (pages 0 and 5, exact counts) per iteration; compare the two schemes' times for the ratio.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "corpus.h"
#include "kms/kms.h"

namespace {

using tomeva::GbkToUtf8;
using tomeva::Utf8ToGbk;

constexpr int kOld = 2, kFolded = 3;

std::vector<tomeva::bench::CorpusRecord>& Records() {
  static auto* recs = new std::vector<tomeva::bench::CorpusRecord>(
      tomeva::bench::GenerateCorpus(tomeva::bench::RecordCountFromEnv(50000), 20240501));
  return *recs;
}

std::string Root() {
  static std::string root = [] {
    std::string r = std::filesystem::temp_directory_path() / "bench_kms_fold_XXXXXX";
    if (mkdtemp(r.data()) == nullptr) std::abort();
    return r;
  }();
  return root;
}

std::string ContentOf(const tomeva::bench::CorpusRecord& r) {
  return r.title + "\n" + r.author + "\n" + r.body + "\n" + r.category + "\n";
}

uint64_t FolderSize(const std::string& path) {
  uint64_t total = 0;
  std::error_code ec;
  for (auto& e : std::filesystem::recursive_directory_iterator(path, ec)) {
    if (e.is_regular_file(ec)) total += e.file_size(ec);
  }
  return total;
}

// Builds an index of every record in `scheme` (the fields bench_kms adds). False on a failure.
bool Build(const std::string& dir, int scheme) {
  std::filesystem::remove_all(dir);
  setenv("TOMEVA_KMS_TERM_SCHEME", std::to_string(scheme).c_str(), 1);
  bool ok = KMS_Open(dir.c_str(), 1) == 0;
  const auto& recs = Records();
  for (size_t i = 0; ok && i < recs.size(); ++i) {
    const auto& r = recs[i];
    KmsDocument* d = KMS_New_Document();
    std::string xml = "<record><id>" + std::to_string(i) + "</id></record>";
    ok = KMS_Add_Field(d, "xml", xml.c_str(), "gb2312", 1, 0, 0) == 0 &&
         KMS_Add_Field(d, "content", ContentOf(r).c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "title", r.title.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "author", r.author.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "f15", r.category.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Insert_Document(dir.c_str(), d) == 0;
    KMS_Free_Document(d);
  }
  ok = KMS_Close(dir.c_str()) == 0 && ok;
  unsetenv("TOMEVA_KMS_TERM_SCHEME");
  return ok;
}

std::string IndexFor(int scheme) {
  static std::map<int, std::string> built;
  auto it = built.find(scheme);
  if (it != built.end()) return it->second;
  std::string dir = Root() + "/query" + std::to_string(scheme);
  if (!Build(dir, scheme)) std::abort();
  return built[scheme] = dir;
}

// A run of `chars` CJK characters from the records' contents (UTF-8).
std::string RandomRun(const std::vector<std::string>& texts, size_t chars, std::mt19937_64* rng) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string& t = texts[(*rng)() % texts.size()];
    if (t.size() < chars * 3) continue;
    size_t start = (*rng)() % (t.size() - chars * 3 + 1);
    start -= start % 3;
    std::string s = t.substr(start, chars * 3);
    bool ok = s.size() == chars * 3;
    for (size_t i = 0; ok && i < s.size(); i += 3) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      ok = c >= 0xE4 && c <= 0xE9;
    }
    if (ok) return s;
  }
  return "\xE5\xB1\xB1";
}

// The queries (GBK) of a kind: "mix" is bench_kms's mix, "typed" the automatic mode's
// expressions of typed runs of 4 to 7 characters.
const std::vector<std::string>& Queries(const std::string& kind) {
  static std::map<std::string, std::vector<std::string>> by_kind = [] {
    std::vector<std::string> contents, titles;
    for (const auto& r : Records()) {
      contents.push_back(GbkToUtf8(ContentOf(r)));
      titles.push_back(GbkToUtf8(r.title));
    }
    std::mt19937_64 rng(7);
    auto q = [](const std::string& s) { return "\"" + s + "\""; };
    auto run = [&](size_t n) { return RandomRun(contents, n, &rng); };
    std::map<std::string, std::vector<std::string>> out;
    for (int i = 0; i < 16; ++i) {
      auto& mix = out["mix"];
      mix.push_back(q(run(1)));
      mix.push_back(q(run(2)));
      mix.push_back(q(run(3)));
      mix.push_back(q(run(4)));
      mix.push_back(q(run(5 + i % 2)));
      mix.push_back(q(run(2)) + " AND " + q(run(2 + i % 2)));
      mix.push_back(q(run(2)) + " OR " + q(run(3)));
      mix.push_back("title:" + q(RandomRun(titles, 2, &rng)));
      mix.push_back("f15:\"" + std::to_string(1 + i % 40) + "\" AND " + q(run(2)) + " AND " +
                    q(run(3)));
      // What the automatic mode sends for a typed run: its words joined by AND.
      std::string typed = Utf8ToGbk(run(4 + i % 4));
      char* words = KMS_Get_Keywords(typed.c_str(), "gb2312");
      std::string expr = "content:";
      std::string w = words != nullptr ? words : "";
      KMS_Free_Keywords(words);
      // A GBK trail byte is never a space, so the spaces are the separators of the words.
      for (char c : w) expr += c == ' ' ? std::string(" AND ") : std::string(1, c);
      out["typed"].push_back(expr);
    }
    for (auto& s : out["mix"]) s = Utf8ToGbk(s);
    return out;
  }();
  return by_kind[kind];
}

int Page(const std::string& dir, const std::string& gbk, int page) {
  KmsSearch* s = KMS_Search(dir.c_str(), gbk.c_str(), "gb2312", "content");
  int n = KMS_HitCount(s);
  for (int i = page * 10; i < std::min(n, page * 10 + 10); ++i) {
    char* v = KMS_Get_Field(KMS_Hit(s, i), "xml", "gb2312");
    benchmark::DoNotOptimize(v);
    KMS_Free_Field(v);
  }
  KMS_ClearSearch(s);
  return n;
}

void BM_Build(benchmark::State& state) {
  const int scheme = static_cast<int>(state.range(0));
  const std::string dir = Root() + "/build" + std::to_string(scheme);
  Records();
  for (auto _ : state) {
    if (!Build(dir, scheme)) {
      state.SkipWithError("build failed");
      return;
    }
  }
  state.counters["bytes"] = static_cast<double>(FolderSize(dir));
  state.counters["records"] = static_cast<double>(Records().size());
  std::filesystem::remove_all(dir);
}

void RunQueries(benchmark::State& state, const std::string& kind) {
  const std::string dir = IndexFor(static_cast<int>(state.range(0)));
  const auto& queries = Queries(kind);
  long hits = 0;
  for (const auto& gbk : queries) hits += Page(dir, gbk, 0);  // warm the caches
  for (auto _ : state) {
    for (const auto& gbk : queries) {
      benchmark::DoNotOptimize(Page(dir, gbk, 0));
      benchmark::DoNotOptimize(Page(dir, gbk, 5));
    }
  }
  state.counters["queries"] = static_cast<double>(queries.size());
  state.counters["hits"] = static_cast<double>(hits);
}

void BM_QueryMix(benchmark::State& state) { RunQueries(state, "mix"); }
void BM_QueryTyped(benchmark::State& state) { RunQueries(state, "typed"); }

BENCHMARK(BM_Build)->Arg(kOld)->Arg(kFolded)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryMix)->Arg(kOld)->Arg(kFolded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryTyped)->Arg(kOld)->Arg(kFolded)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  KMS_Init();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (Records().empty()) {
    std::fprintf(stderr, "bench_kms_fold: no records (fortune files missing)\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(Root(), ec);
  return 0;
}

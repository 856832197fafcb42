// bench_remote: a reading room's searches through Xapian's remote backend against the same
// searches on the index itself, in one run. Page fetch: search, exact count, and the "xml" and
// "f15" fields of the hits of pages 0 and 5, for a mix of queries (1 to 4 characters, phrases,
// AND, OR, a field, a category), once on the index folder and once on a station folder whose stub
// names xapian-tcpsrv serving that folder on loopback. Stations: 1 and 16 threads searching the
// server at once, each search on a connection of its own, in queries per second.
//
// Records: env TOMEVA_BENCH_RECORDS (default 200,000). The index is optimised, as a library's is
// after an import. Prints the remote/local ratio of the page fetch and the 16/1 ratio of the
// stations' throughput at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "corpus.h"
#include "kms/kms.h"
#include "kms/remote_test_server.h"

namespace {

using tomeva::GbkToUtf8;
using tomeva::Utf8ToGbk;

std::vector<tomeva::bench::CorpusRecord>& Records() {
  static auto* recs = new std::vector<tomeva::bench::CorpusRecord>(
      tomeva::bench::GenerateCorpus(tomeva::bench::RecordCountFromEnv(200000), 20240501));
  return *recs;
}

struct Room {
  std::string root, index, station;
  std::unique_ptr<tomeva::kms_test::IndexServer> server;
};
Room& TheRoom() {
  static Room room;
  return room;
}

std::string ContentOf(const tomeva::bench::CorpusRecord& r) {
  return r.title + "\n" + r.author + "\n" + r.body + "\n" + r.category + "\n";
}

bool Build(const std::string& dir) {
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
  return ok && KMS_Open(dir.c_str(), 0) == 0 && KMS_Optimize(dir.c_str()) == 0 &&
         KMS_Close(dir.c_str()) == 0;
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

const std::vector<std::string>& Queries() {
  static const std::vector<std::string> queries = [] {
    std::vector<std::string> contents, titles;
    const auto& recs = Records();
    for (size_t i = 0; i < recs.size(); i += 50) {
      contents.push_back(GbkToUtf8(ContentOf(recs[i])));
      titles.push_back(GbkToUtf8(recs[i].title));
    }
    std::mt19937_64 rng(11);
    auto q = [](const std::string& s) { return "\"" + s + "\""; };
    auto run = [&](size_t n) { return RandomRun(contents, n, &rng); };
    std::vector<std::string> out;
    for (int i = 0; i < 4; ++i) {
      out.push_back(q(run(1)));
      out.push_back(q(run(2)));
      out.push_back(q(run(3)));
      out.push_back(q(run(4)));
      out.push_back(q(run(2)) + " AND " + q(run(2)));
      out.push_back(q(run(2)) + " OR " + q(run(3)));
      out.push_back("title:" + q(RandomRun(titles, 2, &rng)));
      out.push_back("f15:\"" + std::to_string(1 + i * 7) + "\" AND " + q(run(2)));
    }
    for (auto& s : out) s = Utf8ToGbk(s);
    return out;
  }();
  return queries;
}

// One page of a search as the result set fetches it: count, then each hit's record and category.
int Page(const std::string& index, const std::string& gbk, int page) {
  KmsSearch* s = KMS_Search(index.c_str(), gbk.c_str(), "gb2312", "content");
  if (s == nullptr) return -1;
  const int n = KMS_HitCount(s);
  for (int i = page * 10; i < std::min(n, page * 10 + 10); ++i) {
    KmsHit* hit = KMS_Hit(s, i);
    char* xml = KMS_Get_Field(hit, "xml", "gb2312");
    char* cat = KMS_Get_Field(hit, "f15", "gb2312");
    benchmark::DoNotOptimize(xml);
    KMS_Free_Field(xml);
    KMS_Free_Field(cat);
  }
  KMS_ClearSearch(s);
  return n;
}

void BM_PageFetch(benchmark::State& state, bool remote) {
  const std::string& index = remote ? TheRoom().station : TheRoom().index;
  long hits = 0;
  for (const auto& gbk : Queries()) hits += Page(index, gbk, 0);  // warm the caches
  for (auto _ : state) {
    for (const auto& gbk : Queries()) {
      if (Page(index, gbk, 0) < 0 || Page(index, gbk, 5) < 0) {
        state.SkipWithError(GbkToUtf8(KMS_Last_Error()).c_str());
        return;
      }
    }
  }
  state.counters["fetches"] = static_cast<double>(2 * Queries().size());
  state.counters["hits"] = static_cast<double>(hits);
}

// Stations searching the server at once: each thread is a station; a query is page 0 of one
// query of the mix.
void BM_Stations(benchmark::State& state) {
  const std::string& station = TheRoom().station;
  const auto& queries = Queries();
  size_t next = static_cast<size_t>(state.thread_index()) * 7;
  int64_t done = 0;
  for (auto _ : state) {
    if (Page(station, queries[next++ % queries.size()], 0) < 0) {
      state.SkipWithError(GbkToUtf8(KMS_Last_Error()).c_str());
      return;
    }
    ++done;
  }
  state.counters["qps"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_PageFetch, local, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PageFetch, remote, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stations)
    ->Threads(1)
    ->Threads(16)
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time and rate for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      times[run.benchmark_name()] = run.GetAdjustedRealTime();
      auto qps = run.counters.find("qps");
      if (qps != run.counters.end()) rates[run.benchmark_name()] = qps->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times, rates;
};

}  // namespace

int main(int argc, char** argv) {
  KMS_Init();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (Records().empty()) {
    std::fprintf(stderr, "bench_remote: no records (fortune files missing)\n");
    return 1;
  }
  Room& room = TheRoom();
  room.root = std::filesystem::temp_directory_path() / "bench_remote_XXXXXX";
  if (mkdtemp(room.root.data()) == nullptr) return 1;
  room.index = room.root + "/SearchDB";
  room.station = room.root + "/station";
  std::fprintf(stderr, "bench_remote: building %zu records\n", Records().size());
  if (!Build(room.index)) {
    std::fprintf(stderr, "bench_remote: build failed: %s\n", GbkToUtf8(KMS_Last_Error()).c_str());
    return 1;
  }
  room.server = std::make_unique<tomeva::kms_test::IndexServer>(room.index);
  if (!room.server->Start() ||
      !tomeva::kms_test::MakeStation(room.station, room.server->StubLine())) {
    std::fprintf(stderr, "bench_remote: xapian-tcpsrv does not start (xapian-tools)\n");
    return 1;
  }
  // Each station has its connection before the clock starts, as stations that have been up a
  // while do: sixteen connections made at the same moment would wait on the server's short
  // listen queue (SYN-ACK retransmission), which is no part of searching.
  std::vector<KmsSearch*> held;
  for (int i = 0; i < 16; ++i) {
    held.push_back(KMS_Search(room.station.c_str(), Queries()[0].c_str(), "gb2312", "content"));
  }
  for (KmsSearch* s : held) KMS_ClearSearch(s);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  room.server->Kill();
  std::error_code ec;
  std::filesystem::remove_all(room.root, ec);

  auto& t = reporter.times;
  auto& r = reporter.rates;
  const std::string local = "BM_PageFetch/local", remote = "BM_PageFetch/remote";
  std::string one, sixteen;
  for (const auto& [name, rate] : r) {
    if (name.ends_with("/threads:1")) one = name;
    if (name.ends_with("/threads:16")) sixteen = name;
  }
  if (t.count(local) && t.count(remote) && t[local] > 0) {
    std::printf("page fetch, remote on loopback / local: %.2fx (target <= 2x), %zu records\n",
                t[remote] / t[local], Records().size());
  }
  if (!one.empty() && !sixteen.empty() && r[one] > 0) {
    std::printf("stations: 1 = %.0f q/s, 16 at once = %.0f q/s, ratio %.2fx\n", r[one], r[sixteen],
                r[sixteen] / r[one]);
  }
  return 0;
}

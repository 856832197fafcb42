// Keyword location in positions mode over a 20 MB GBK text (the Chinese poems of the fortunes
// package, converted to GBK and repeated) with 1, 5 and 20 keywords, against GNU grep
// (`LC_ALL=C grep -F -o -i -f KEYWORDS TEXT | wc -l`, run as a child process) on the same file.
// Definitions differ a little: grep -o reports non-overlapping leftmost-longest byte matches, also
// across character boundaries, while ours are whole-character matches with overlaps merged.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/engine/highlight.h"

namespace {

constexpr size_t kTextBytes = 20 * 1024 * 1024;
const char* const kPoemFiles[] = {"/usr/share/games/fortunes/tang300",
                                  "/usr/share/games/fortunes/song100",
                                  "/usr/share/games/fortunes/chinese"};
// Chinese words and English words of mixed case that occur in the poems.
const char* const kKeywordsUtf8[] = {"明月", "春风", "the", "故人", "Love", "天下", "白云",
                                     "山",   "水",   "归",  "江南", "长安", "and",  "You",
                                     "秋",   "花",   "夜",  "酒",   "千里", "人生"};
const int kKeywordCounts[] = {1, 5, 20};

struct Corpus {
  std::string text;
  std::string dir;
  std::string text_path;
  std::vector<std::string> keywords;  // GBK
};

Corpus& TheCorpus() {
  static Corpus corpus = [] {
    Corpus c;
    std::string poems;
    for (const char* path : kPoemFiles) {
      std::string utf8;
      if (!tomeva::ReadWholeFile(path, &utf8)) {
        std::fprintf(stderr, "bench_highlight: cannot read %s (package fortunes-zh)\n", path);
        std::exit(1);
      }
      poems += tomeva::Utf8ToGbk(utf8);  // the files are UTF-8
    }
    while (c.text.size() < kTextBytes) c.text += poems;
    c.text.resize(tomeva::GbkBoundaryAtOrBefore(c.text, kTextBytes));
    char dir_template[] = "/tmp/bench_highlight.XXXXXX";
    if (mkdtemp(dir_template) == nullptr) std::exit(1);
    c.dir = dir_template;
    c.text_path = c.dir + "/text.gbk";
    if (!tomeva::ReplaceFileAtomically(c.text_path, c.text)) std::exit(1);
    for (const char* k : kKeywordsUtf8) c.keywords.push_back(tomeva::Utf8ToGbk(k));
    for (int n : kKeywordCounts) {
      std::string lines;
      for (int i = 0; i < n; ++i) lines += c.keywords[i] + "\n";
      if (!tomeva::ReplaceFileAtomically(c.dir + "/k" + std::to_string(n), lines)) std::exit(1);
    }
    return c;
  }();
  return corpus;
}

std::vector<std::string> FirstKeywords(int n) {
  const auto& all = TheCorpus().keywords;
  return std::vector<std::string>(all.begin(), all.begin() + n);
}

// Runs grep on the corpus file; returns the number of lines it printed.
long RunGrep(int n) {
  const Corpus& c = TheCorpus();
  const std::string command = "LC_ALL=C grep -F -o -i -f '" + c.dir + "/k" + std::to_string(n) +
                              "' '" + c.text_path + "' | wc -l";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  long count = -1;
  if (std::fscanf(pipe, "%ld", &count) != 1) count = -1;
  pclose(pipe);
  return count;
}

size_t FullCall(int n) {
  Corpus& c = TheCorpus();
  char keywords[tomeva::kMaxKeywords][tomeva::kKeywordEntrySize] = {};
  for (int i = 0; i < n; ++i) std::strcpy(keywords[i], c.keywords[i].c_str());
  std::vector<int> starts(tomeva::kMaxReportedMatches), lengths(tomeva::kMaxReportedMatches);
  int count = 0;
  char* result = nullptr;
  tomeva::HighLightKeyWords(c.text.data(), keywords, n, 1, &result, 0, starts.data(),
                            lengths.data(), &count);
  const size_t size = result != nullptr ? std::strlen(result) : 0;
  std::free(result);
  return size;
}

void BM_Match(benchmark::State& state) {
  const auto keywords = FirstKeywords(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(tomeva::FindKeywordMatches(TheCorpus().text, keywords, false));
  }
  state.SetBytesProcessed(state.iterations() * TheCorpus().text.size());
}

void BM_FullCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FullCall(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(state.iterations() * TheCorpus().text.size());
}

void BM_Grep(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(RunGrep(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(state.iterations() * TheCorpus().text.size());
}

BENCHMARK(BM_Match)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullCall)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Grep)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// Median wall-clock milliseconds of `runs` calls.
template <typename Fn>
double MedianMs(int runs, Fn fn) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// CPU milliseconds (user + system) used so far by this process or by its waited-for children.
double CpuMs(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void PrintSummary() {
  const Corpus& c = TheCorpus();
  std::printf("\nkeyword location, positions mode, %zu bytes of GBK text, median of 7 runs\n",
              c.text.size());
  std::printf("%8s %10s %10s %10s %12s %9s %9s %11s %11s\n", "keywords", "match ms", "full ms",
              "grep ms", "match/grep", "full/grep", "ours", "grep -o", "ours(C 500)");
  for (int n : kKeywordCounts) {
    const auto keywords = FirstKeywords(n);
    size_t ours = 0;
    long grep_count = 0;
    const double match_ms =
        MedianMs(7, [&] { ours = tomeva::FindKeywordMatches(c.text, keywords, false).size(); });
    const double full_ms = MedianMs(7, [&] { FullCall(n); });
    const double grep_ms = MedianMs(7, [&] { grep_count = RunGrep(n); });
    std::printf("%8d %10.2f %10.2f %10.2f %12.2f %9.2f %9zu %11ld %11d\n", n, match_ms, full_ms,
                grep_ms, match_ms / grep_ms, full_ms / grep_ms, ours, grep_count,
                std::min<int>(static_cast<int>(ours), tomeva::kMaxReportedMatches));
  }
  // On a busy machine wall time is noisy; CPU time compares the work done.
  std::printf("\nCPU time per run (mean of 7): keywords, full call ms, grep (with wc) ms, ratio\n");
  for (int n : kKeywordCounts) {
    const double self0 = CpuMs(RUSAGE_SELF);
    for (int i = 0; i < 7; ++i) FullCall(n);
    const double full_cpu = (CpuMs(RUSAGE_SELF) - self0) / 7;
    const double children0 = CpuMs(RUSAGE_CHILDREN);
    for (int i = 0; i < 7; ++i) RunGrep(n);
    const double grep_cpu = (CpuMs(RUSAGE_CHILDREN) - children0) / 7;
    std::printf("%8d %10.2f %10.2f %8.2f\n", n, full_cpu, grep_cpu, full_cpu / grep_cpu);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheCorpus();
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  const std::string dir = TheCorpus().dir;
  for (const char* name : {"/text.gbk", "/k1", "/k5", "/k20"}) std::remove((dir + name).c_str());
  rmdir(dir.c_str());
  return 0;
}

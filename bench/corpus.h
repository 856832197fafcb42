// A deterministic corpus of library records for benchmarks and engine tests, scaled from the
// Chinese poems and sayings of the fortunes-zh data files. Every record has a title, an author,
// a body and a category number; texts are GBK like every record of the system.
#ifndef TOMEVA_BENCH_CORPUS_H_
#define TOMEVA_BENCH_CORPUS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tomeva::bench {

struct CorpusRecord {
  std::string title;     // GBK
  std::string author;    // GBK
  std::string body;      // GBK, several lines
  std::string category;  // decimal, "1" … "40"
};

// The folder holding tang300.u8, song100.u8 and chinese.u8 (env TOMEVA_FORTUNES_DIR, default
// /usr/share/games/fortunes).
std::string FortunesDir();

// `count` records from the same `seed` are always the same. Returns an empty vector when the
// source files cannot be read.
std::vector<CorpusRecord> GenerateCorpus(size_t count, uint64_t seed);

// The record count for a run: env TOMEVA_BENCH_RECORDS when set to a positive number, else
// `fallback`.
size_t RecordCountFromEnv(size_t fallback);

}  // namespace tomeva::bench

#endif  // TOMEVA_BENCH_CORPUS_H_

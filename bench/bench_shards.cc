// bench_shards: search over an index split into shards, one per core, against the same records in
// one index, on the same records and query mix as bench_kms.
//
// The records are written once into one index folder and once round-robin into K shard folders
// (record i into shard i % K, K = the machine's cores or TOMEVA_KMS_THREADS), every folder written
// and optimised through the KMS_ functions. Round-robin shards joined in order number their
// documents as the one index does (document d of shard s is (d - 1) * K + s + 1), so equal scores
// keep their order. Each query of the mix is then searched:
//   one      the engine on the one index folder (the baseline)
//   xapian   Xapian used directly on the one index: the engine's parser, BM25, exact count
//   station  the engine on a station folder whose stub names K xapian-tcpsrv on loopback, one per
//            shard: Xapian sends the query to every server before it waits for any, so the shards
//            match at the same time, each server on its own core
//   shards   Xapian used directly on one database made of the K shard folders (one thread)
//   xap-srv  Xapian used directly on the K servers joined into one database, connections kept
//            open and not reopened, the page's records asked for at once (MSet::fetch): Xapian's
//            own remote search without the engine's reopen before each search (its remote
//            backend still reads the records one round trip each)
//   threads  K threads, each ranking its own shard with that shard's own statistics, merged by
//            weight and document number: a bound on what a local parallel match could take, not a
//            way of searching (BM25 reads the collection's statistics, and Xapian gives a match
//            on one shard only that shard's; the scores differ, and so does the order)
// Every way but the last must give the one index's count and first 60 records in the same order
// for every query; the program prints each difference and exits with 2 on any. So that a check
// that passes means something, a station naming the same servers in reverse order (the same
// counts, documents numbered otherwise, so equal scores in another order) must be caught too.
//
// Latency is wall time (the station's work happens in the servers), page 0 with its exact count
// and its records' "xml" fields, median and p99 by kind of query, with the ratios station/xapian
// and station/one. Then where the station's time goes: the search against the fetch of the
// records, one round trip to a server, a search without hits, and the busier shard's own match;
// and the cores each way keeps busy (this process and the servers, against the whole machine).
//
// Records: env TOMEVA_BENCH_RECORDS, or --records N, or --large (1,000,000); default 200,000.
// --dir DIR keeps the indexes in DIR and uses them again in a later run of the same size and
// shard count. --reps N: timed runs of each query by each way in a pass (default 5). --loop
// SECONDS: after the figures, searches the station for that long (to profile the servers from
// outside).
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <xapian.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "corpus.h"
#include "kms/document.h"
#include "kms/field_registry.h"
#include "kms/index_store.h"
#include "kms/kms.h"
#include "kms/query_parser.h"
#include "kms/remote_test_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using tomeva::GbkToUtf8;
using tomeva::Utf8ToGbk;
using tomeva::bench::CorpusRecord;

constexpr int kCompared = 60;  // hits compared per query: the engine's first ranking window
constexpr int kPage = 10;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

double Mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0 : sum / v.size();
}

unsigned ShardCount() {
  if (const char* env = std::getenv("TOMEVA_KMS_THREADS"); env != nullptr && std::atoi(env) > 0) {
    return static_cast<unsigned>(std::atoi(env));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// ---- records and queries, as bench_kms makes them ----

std::string RecordXml(const CorpusRecord& r, size_t id) {
  return "<record><id>" + std::to_string(id) + "</id><title>" + r.title + "</title><author>" +
         r.author + "</author><text>" + r.body + "</text><f15>" + r.category + "</f15></record>";
}

std::string ContentOf(const CorpusRecord& r) {
  return r.title + "\n" + r.author + "\n" + r.body + "\n" + r.category + "\n";
}

// The record number in a record's xml; -1 when it has none.
long RecordId(const std::string& xml) {
  const size_t at = xml.find("<id>");
  return at == std::string::npos ? -1 : std::atol(xml.c_str() + at + 4);
}

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
      ok = c >= 0xE4 && c <= 0xE9;  // U+4E00..U+9FFF
    }
    if (ok) return s;
  }
  return "\xE5\xB1\xB1";  // 山
}

struct BenchQuery {
  std::string kind;
  std::string utf8, gbk;
};

const std::vector<std::string> kKinds = {"1ch", "2ch", "3ch",   "4ch",    "phrase",
                                         "and", "or",  "field", "cat+and"};

// Sixteen queries of each kind, drawn from the records' own texts.
std::vector<BenchQuery> QueryMix(const std::vector<CorpusRecord>& recs) {
  std::vector<std::string> contents, titles;
  for (size_t i = 0; i < std::min<size_t>(recs.size(), 20000); ++i) {
    contents.push_back(GbkToUtf8(ContentOf(recs[i])));
    titles.push_back(GbkToUtf8(recs[i].title));
  }
  std::mt19937_64 rng(7);
  auto q = [](const std::string& s) { return "\"" + s + "\""; };
  auto run = [&](size_t n) { return q(RandomRun(contents, n, &rng)); };
  std::vector<BenchQuery> mix;
  auto add = [&](const char* kind, const std::string& utf8) {
    mix.push_back({kind, utf8, Utf8ToGbk(utf8)});
  };
  for (int i = 0; i < 16; ++i) {
    add("1ch", run(1));
    add("2ch", run(2));
    add("3ch", run(3));
    add("4ch", run(4));
    add("phrase", run(5 + i % 2));
    // Each term drawn in its own statement: the draws keep their order on every compiler.
    std::string a = run(2);
    add("and", a + " AND " + run(2 + i % 2));
    a = run(2);
    add("or", a + " OR " + run(3));
    add("field", "title:" + q(RandomRun(titles, 2, &rng)));
    a = run(2);
    add("cat+and", "f15:\"" + std::to_string(1 + i % 40) + "\" AND " + a + " AND " + run(3));
  }
  return mix;
}

// ---- building ----

// Writes records first, first + step, ... into the index folder and optimises it.
bool BuildIndex(const std::string& dir, const std::vector<CorpusRecord>& recs, size_t first,
                size_t step) {
  bool ok = KMS_Open(dir.c_str(), 1) == 0;
  for (size_t i = first; ok && i < recs.size(); i += step) {
    const CorpusRecord& r = recs[i];
    KmsDocument* d = KMS_New_Document();
    ok = KMS_Add_Field(d, "xml", RecordXml(r, i).c_str(), "gb2312", 1, 0, 0) == 0 &&
         KMS_Add_Field(d, "content", ContentOf(r).c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "title", r.title.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "author", r.author.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Add_Field(d, "f15", r.category.c_str(), "gb2312", 1, 1, 1) == 0 &&
         KMS_Insert_Document(dir.c_str(), d) == 0;
    KMS_Free_Document(d);
  }
  ok = KMS_Close(dir.c_str()) == 0 && ok;
  ok = ok && KMS_Open(dir.c_str(), 0) == 0 && KMS_Optimize(dir.c_str()) == 0 &&
       KMS_Close(dir.c_str()) == 0;
  if (!ok)
    std::fprintf(stderr, "building %s: %s\n", dir.c_str(), GbkToUtf8(KMS_Last_Error()).c_str());
  return ok;
}

Xapian::Database OpenGeneration(const std::string& index_folder) {
  std::optional<std::string> gen = tomeva::kms::CurrentGeneration(index_folder);
  if (!gen) throw std::runtime_error("no index in " + index_folder);
  return Xapian::Database(*gen);
}

// ---- one search of each way ----

// What a way answers for a query: the count and the record numbers of the first hits in order.
struct Answer {
  long count = -1;
  std::vector<long> ids;
  std::string error;
  bool operator==(const Answer& o) const { return count == o.count && ids == o.ids; }
};

// Milliseconds of one page: ranking with the exact count, then reading the records of the page.
struct Timing {
  double search = 0, fetch = 0;
};

Answer EngineSearch(const std::string& folder, const std::string& gbk, int hits, Timing* t) {
  Answer a;
  const auto t0 = Clock::now();
  KmsSearch* s = KMS_Search(folder.c_str(), gbk.c_str(), "gb2312", "content");
  if (s == nullptr) {
    a.error = GbkToUtf8(KMS_Last_Error());
    return a;
  }
  a.count = KMS_HitCount(s);
  const auto t1 = Clock::now();
  for (int i = 0; i < std::min<long>(a.count, hits); ++i) {
    char* xml = KMS_Get_Field(KMS_Hit(s, i), "xml", "gb2312");
    a.ids.push_back(xml ? RecordId(xml) : -1);
    KMS_Free_Field(xml);
  }
  KMS_ClearSearch(s);
  if (t) *t = {Ms(t1 - t0), Ms(Clock::now() - t1)};
  return a;
}

Xapian::Enquire RankingOn(Xapian::Database& db, const tomeva::kms::FieldRegistry& fields,
                          const std::string& utf8) {
  Xapian::Enquire e(db);
  e.set_query(tomeva::kms::ParseQuery(utf8, "content", fields));
  e.set_weighting_scheme(Xapian::BM25Weight());
  e.set_docid_order(Xapian::Enquire::ASCENDING);
  return e;
}

long IdOfData(const std::string& data) {
  std::optional<std::string> xml = tomeva::kms::FindStoredField(data, "xml");
  return xml ? RecordId(*xml) : -1;
}

// `prefetch`: the records of the page are asked for at once, before the first is read (on
// servers, one round trip for all rather than one each).
Answer XapianSearch(Xapian::Database& db, const tomeva::kms::FieldRegistry& fields,
                    const std::string& utf8, int hits, Timing* t, bool prefetch = false) {
  Answer a;
  const auto t0 = Clock::now();
  Xapian::MSet m = RankingOn(db, fields, utf8).get_mset(0, hits, db.get_doccount());
  a.count = m.get_matches_estimated();
  const auto t1 = Clock::now();
  if (prefetch) m.fetch();
  for (auto it = m.begin(); it != m.end(); ++it)
    a.ids.push_back(IdOfData(it.get_document().get_data()));
  if (t) *t = {Ms(t1 - t0), Ms(Clock::now() - t1)};
  return a;
}

// K threads, one per shard, each waiting for the next job; a job runs on every shard at once.
class ShardPool {
 public:
  explicit ShardPool(size_t n) {
    for (size_t i = 0; i < n; ++i) threads_.emplace_back([this, i] { Loop(i); });
  }
  ~ShardPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  void RunAll(const std::function<void(size_t)>& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &job;
    pending_ = threads_.size();
    ++round_;
    wake_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void Loop(size_t i) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(size_t)>* job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || round_ != seen; });
        if (stop_) return;
        seen = round_;
        job = job_;
      }
      (*job)(i);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  const std::function<void(size_t)>* job_ = nullptr;
  size_t pending_ = 0;
  uint64_t round_ = 0;
  bool stop_ = false;
};

double ThreadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The match of the shard that took longest, wall and CPU milliseconds.
struct ShardWork {
  double wall = 0, cpu = 0;
};

// Each shard ranked by its own thread on its own statistics, merged by weight, then by the
// document number the shards would have joined in order.
Answer ThreadsSearch(ShardPool& pool, std::vector<Xapian::Database>& shards,
                     const tomeva::kms::FieldRegistry& fields, const std::string& utf8, int hits,
                     Timing* t, ShardWork* busiest) {
  const size_t k = shards.size();
  std::vector<Xapian::MSet> msets(k);
  std::vector<ShardWork> work(k);
  std::vector<std::string> errors(k);
  const auto t0 = Clock::now();
  pool.RunAll([&](size_t s) {
    const auto m0 = Clock::now();
    const double c0 = ThreadCpuMs();
    try {
      // Queries are parsed in each thread: Xapian's query objects are not shared between threads.
      msets[s] = RankingOn(shards[s], fields, utf8).get_mset(0, hits, shards[s].get_doccount());
    } catch (const Xapian::Error& e) {
      errors[s] = e.get_description();
    }
    work[s] = {Ms(Clock::now() - m0), ThreadCpuMs() - c0};
  });
  Answer a;
  for (const std::string& e : errors) {
    if (!e.empty()) a.error = e;
  }
  if (!a.error.empty()) return a;
  struct Hit {
    double weight;
    Xapian::docid joined;
    size_t shard;
    Xapian::MSetIterator it;
  };
  std::vector<Hit> merged;
  a.count = 0;
  for (size_t s = 0; s < k; ++s) {
    a.count += msets[s].get_matches_estimated();
    for (auto it = msets[s].begin(); it != msets[s].end(); ++it) {
      merged.push_back({it.get_weight(), static_cast<Xapian::docid>((*it - 1) * k + s + 1), s, it});
    }
  }
  std::sort(merged.begin(), merged.end(), [](const Hit& x, const Hit& y) {
    return x.weight != y.weight ? x.weight > y.weight : x.joined < y.joined;
  });
  if (merged.size() > static_cast<size_t>(hits)) merged.resize(hits);
  const auto t1 = Clock::now();
  for (const Hit& h : merged) a.ids.push_back(IdOfData(h.it.get_document().get_data()));
  if (t) *t = {Ms(t1 - t0), Ms(Clock::now() - t1)};
  if (busiest) {
    *busiest =
        *std::max_element(work.begin(), work.end(),
                          [](const ShardWork& x, const ShardWork& y) { return x.cpu < y.cpu; });
  }
  return a;
}

// ---- CPU use ----

double ProcessCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Milliseconds on a CPU of each index server this process started, with the processes it forked
// for connections (each kept connection is one), from the scheduler's own accounting; by server.
std::map<pid_t, double> ServersCpuMs() {
  std::map<pid_t, pid_t> parent;
  std::set<pid_t> servers;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t ppid;
    rest >> state >> ppid;
    const pid_t pid = std::stoi(name);
    parent[pid] = ppid;
    if (ppid == getpid() && line.substr(open + 1, close - open - 1) == "xapian-tcpsrv") {
      servers.insert(pid);
    }
  }
  std::map<pid_t, double> ms;
  for (const auto& [pid, ppid] : parent) {
    const pid_t server = servers.count(pid) ? pid : servers.count(ppid) ? ppid : 0;
    if (server == 0) continue;
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    if (in >> ns) ms[server] += ns / 1e6;
  }
  return ms;
}

// Busy and total jiffies of the whole machine.
std::pair<double, double> MachineJiffies() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  double v[8] = {};
  in >> cpu;
  for (double& x : v) in >> x;
  const double idle = v[3] + v[4];
  double total = 0;
  for (double x : v) total += x;
  return {total - idle, total};
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

// ---- the ways and their figures ----

enum Way { kOne, kXapian, kStation, kShards, kServers, kThreads, kWays };
const char* const kWayNames[kWays] = {"one", "xapian", "station", "shards", "xap-srv", "threads"};

struct WayStats {
  std::map<std::string, std::vector<double>> total;  // by kind
  std::vector<double> search, fetch;
  std::vector<double> cpu;  // the calling thread's, per search
  std::map<pid_t, double> server_cpu_ms;
  size_t runs = 0;
  double wall_ms = 0, own_cpu_ms = 0, machine_busy = 0, machine_total = 0;
  double ServersMs() const {
    double sum = 0;
    for (const auto& [pid, ms] : server_cpu_ms) sum += ms;
    return sum;
  }
  double BusiestServerMs() const {
    double most = 0;
    for (const auto& [pid, ms] : server_cpu_ms) most = std::max(most, ms);
    return most;
  }
};

std::vector<double> AllKinds(const WayStats& w) {
  std::vector<double> all;
  for (const auto& [kind, v] : w.total) all.insert(all.end(), v.begin(), v.end());
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  size_t records = tomeva::bench::RecordCountFromEnv(200000);
  std::string keep_dir;
  int loop_seconds = 0;
  int reps = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large") == 0) records = 1000000;
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) records = std::atoll(argv[++i]);
    if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) keep_dir = argv[++i];
    if (std::strcmp(argv[i], "--loop") == 0 && i + 1 < argc) loop_seconds = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc)
      reps = std::max(1, std::atoi(argv[++i]));
  }
  const unsigned k = ShardCount();
  std::string base = keep_dir;
  if (base.empty()) {
    base = (std::filesystem::temp_directory_path() / "bench_shards.XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr) return 1;
  } else if (!tomeva::MakeDirectories(base)) {
    std::fprintf(stderr, "cannot make %s\n", base.c_str());
    return 1;
  }
  std::printf("bench_shards: %zu records, %u shards, in %s; load average %s\n", records, k,
              base.c_str(), LoadAverage().c_str());
  KMS_Init();
  std::vector<CorpusRecord> recs = tomeva::bench::GenerateCorpus(records, 42);
  if (recs.empty()) {
    std::fprintf(stderr, "no corpus (fortune files missing?)\n");
    return 1;
  }

  const std::string one_dir = base + "/one", station_dir = base + "/station",
                    reversed_dir = base + "/station-reversed";
  std::vector<std::string> shard_dirs;
  for (unsigned s = 0; s < k; ++s) shard_dirs.push_back(base + "/shard" + std::to_string(s));
  // A kept folder is used again only when a whole build of this size and shard count finished.
  const std::string ready_file = base + "/ready",
                    ready = std::to_string(records) + " " + std::to_string(k) + "\n";
  std::string found;
  if (!tomeva::ReadWholeFile(ready_file, &found) || found != ready) {
    std::error_code ec;
    std::filesystem::remove(ready_file, ec);
    std::filesystem::remove_all(one_dir, ec);
    for (const std::string& d : shard_dirs) std::filesystem::remove_all(d, ec);
    auto t0 = Clock::now();
    if (!BuildIndex(one_dir, recs, 0, 1)) return 1;
    const double one_ms = Ms(Clock::now() - t0);
    t0 = Clock::now();
    std::vector<char> ok(k, 0);
    std::vector<std::thread> writers;
    for (unsigned s = 0; s < k; ++s) {
      writers.emplace_back([&, s] { ok[s] = BuildIndex(shard_dirs[s], recs, s, k); });
    }
    for (std::thread& w : writers) w.join();
    const double shards_ms = Ms(Clock::now() - t0);
    if (std::count(ok.begin(), ok.end(), 0) > 0) return 1;
    std::printf(
        "built and optimised: one index %.0f records/s, %u shards written at once %.0f records/s "
        "(%.2fx); load average %s\n",
        records / one_ms * 1e3, k, records / shards_ms * 1e3, one_ms / shards_ms,
        LoadAverage().c_str());
    if (!tomeva::ReplaceFileAtomically(ready_file, ready)) return 1;
  } else {
    std::printf("indexes of an earlier run used again\n");
  }

  // The servers, one per shard, and the station that names them all.
  std::vector<std::unique_ptr<tomeva::kms_test::IndexServer>> servers;
  std::string stub, reversed_stub;
  for (const std::string& d : shard_dirs) {
    servers.push_back(std::make_unique<tomeva::kms_test::IndexServer>(d));
    if (!servers.back()->Start()) {
      std::fprintf(stderr, "xapian-tcpsrv does not start (xapian-tools)\n");
      return 1;
    }
    stub += servers.back()->StubLine();
    reversed_stub = servers.back()->StubLine() + reversed_stub;
  }
  std::error_code ec;
  std::filesystem::remove_all(station_dir, ec);
  std::filesystem::remove_all(reversed_dir, ec);
  if (!tomeva::kms_test::MakeStation(station_dir, stub) ||
      !tomeva::kms_test::MakeStation(reversed_dir, reversed_stub)) {
    return 1;
  }

  Xapian::Database one_db = OpenGeneration(one_dir);
  const tomeva::kms::FieldRegistry fields = tomeva::kms::LoadFieldRegistry(one_db);
  Xapian::Database joined;
  std::vector<Xapian::Database> shard_dbs;
  for (const std::string& d : shard_dirs) {
    shard_dbs.push_back(OpenGeneration(d));
    joined.add_database(OpenGeneration(d));
    // One field table read on every shard: a query built from it means the same on each.
    if (shard_dbs.back().get_metadata(tomeva::kms::kFieldsKey) !=
        one_db.get_metadata(tomeva::kms::kFieldsKey)) {
      std::fprintf(stderr, "%s has another field table than the one index\n", d.c_str());
      return 1;
    }
  }
  if (joined.get_doccount() != one_db.get_doccount()) {
    std::fprintf(stderr, "the shards hold %u documents, the one index %u\n", joined.get_doccount(),
                 one_db.get_doccount());
    return 1;
  }
  Xapian::Database on_servers;
  for (const auto& server : servers)
    on_servers.add_database(Xapian::Remote::open("127.0.0.1", server->port()));
  ShardPool pool(k);

  const std::vector<BenchQuery> mix = QueryMix(recs);
  // One search of a way, page 0 or the compared window.
  auto search = [&](Way w, const BenchQuery& q, int hits, Timing* t, ShardWork* busiest) {
    switch (w) {
      case kOne:
        return EngineSearch(one_dir, q.gbk, hits, t);
      case kXapian:
        return XapianSearch(one_db, fields, q.utf8, hits, t);
      case kStation:
        return EngineSearch(station_dir, q.gbk, hits, t);
      case kShards:
        return XapianSearch(joined, fields, q.utf8, hits, t);
      case kServers:
        return XapianSearch(on_servers, fields, q.utf8, hits, t, true);
      default:
        return ThreadsSearch(pool, shard_dbs, fields, q.utf8, hits, t, busiest);
    }
  };

  // Exactness: every way against the one index, count and the first 60 records in order.
  int differ[kWays] = {};
  int reversed_differ = 0;
  for (const BenchQuery& q : mix) {
    const Answer base_answer = search(kOne, q, kCompared, nullptr, nullptr);
    if (base_answer.count < 0) {
      std::printf("the one index fails %s: %s\n", q.utf8.c_str(), base_answer.error.c_str());
      ++differ[kOne];
      continue;
    }
    reversed_differ += !(EngineSearch(reversed_dir, q.gbk, kCompared, nullptr) == base_answer);
    for (Way w : {kXapian, kStation, kShards, kServers, kThreads}) {
      const Answer a = search(w, q, kCompared, nullptr, nullptr);
      if (a == base_answer) continue;
      ++differ[w];
      if (w == kThreads) continue;  // expected: reported as a count only
      size_t at = 0;
      while (at < std::min(a.ids.size(), base_answer.ids.size()) &&
             a.ids[at] == base_answer.ids[at]) {
        ++at;
      }
      std::printf(
          "%s differs from one index for %s: count %ld against %ld, first other hit at %zu%s%s\n",
          kWayNames[w], q.utf8.c_str(), a.count, base_answer.count, at, a.error.empty() ? "" : ": ",
          a.error.c_str());
    }
  }
  int exact_failures =
      differ[kOne] + differ[kXapian] + differ[kStation] + differ[kShards] + differ[kServers];
  std::printf(
      "exactness over %zu queries (count and first %d records in order, against the one index): "
      "xapian %d, station %d, shards %d, xap-srv %d differ%s; threads on their shards' own "
      "statistics %d differ (not exact, timed as a bound only)\n",
      mix.size(), kCompared, differ[kXapian], differ[kStation], differ[kShards], differ[kServers],
      differ[kOne] ? " (the one index itself failed some)" : "", differ[kThreads]);
  std::printf("the servers named in reverse order: %d differ%s\n", reversed_differ,
              k > 1 && reversed_differ == 0 ? ": the check cannot see shards out of order" : "");
  if (k > 1 && reversed_differ == 0) ++exact_failures;

  // Timed: two passes; in each, every query by every way in turn (who goes first moves along),
  // one untimed run then `reps` timed ones, page 0 with its exact count.
  WayStats stats[kWays];
  std::vector<double> busiest_ms, busiest_cpu;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t qi = 0; qi < mix.size(); ++qi) {
      const BenchQuery& q = mix[qi];
      for (int n = 0; n < kWays; ++n) {
        const Way w = static_cast<Way>((n + qi + pass) % kWays);
        WayStats& st = stats[w];
        search(w, q, kPage, nullptr, nullptr);
        const bool remote = w == kStation || w == kServers;
        const std::map<pid_t, double> servers0 =
            remote ? ServersCpuMs() : std::map<pid_t, double>();
        const auto [busy0, total0] = MachineJiffies();
        const double cpu0 = ProcessCpuMs();
        const auto w0 = Clock::now();
        for (int r = 0; r < reps; ++r) {
          Timing t;
          ShardWork busiest;
          const double c0 = ThreadCpuMs();
          search(w, q, kPage, &t, &busiest);
          st.cpu.push_back(ThreadCpuMs() - c0);
          ++st.runs;
          st.total[q.kind].push_back(t.search + t.fetch);
          st.search.push_back(t.search);
          st.fetch.push_back(t.fetch);
          if (w == kThreads) {
            busiest_ms.push_back(busiest.wall);
            busiest_cpu.push_back(busiest.cpu);
          }
        }
        st.wall_ms += Ms(Clock::now() - w0);
        st.own_cpu_ms += ProcessCpuMs() - cpu0;
        const auto [busy1, total1] = MachineJiffies();
        st.machine_busy += busy1 - busy0;
        st.machine_total += total1 - total0;
        if (remote) {
          for (const auto& [pid, ms] : ServersCpuMs()) {
            auto before = servers0.find(pid);
            st.server_cpu_ms[pid] += ms - (before == servers0.end() ? 0 : before->second);
          }
        }
      }
    }
  }

  std::printf(
      "\nlatency in ms (wall), median / p99, page 0 with exact count; %zu queries x %d "
      "runs x 2 passes; load average %s\n",
      mix.size(), reps, LoadAverage().c_str());
  std::printf("%-8s", "query");
  for (int w = 0; w < kWays; ++w) std::printf(" %13s", kWayNames[w]);
  std::printf(" %13s %13s\n", "station/xap", "station/one");
  auto row = [&](const std::string& label, const std::vector<double>* v) {
    std::printf("%-8s", label.c_str());
    for (int w = 0; w < kWays; ++w) {
      std::printf(" %6.2f/%6.2f", Percentile(v[w], .5), Percentile(v[w], .99));
    }
    std::printf("  %5.2f/%5.2fx  %5.2f/%5.2fx\n",
                Percentile(v[kStation], .5) / Percentile(v[kXapian], .5),
                Percentile(v[kStation], .99) / Percentile(v[kXapian], .99),
                Percentile(v[kStation], .5) / Percentile(v[kOne], .5),
                Percentile(v[kStation], .99) / Percentile(v[kOne], .99));
  };
  for (const std::string& kind : kKinds) {
    std::vector<double> v[kWays];
    for (int w = 0; w < kWays; ++w) v[w] = stats[w].total[kind];
    row(kind, v);
  }
  std::vector<double> all[kWays];
  for (int w = 0; w < kWays; ++w) all[w] = AllKinds(stats[w]);
  row("all", all);

  // Where the time goes.
  std::printf("\nsplit, median / p99 ms: ranking with exact count | reading the page's records\n");
  for (int w = 0; w < kWays; ++w) {
    std::printf("  %-8s %6.2f/%7.2f | %5.2f/%6.2f\n", kWayNames[w], Percentile(stats[w].search, .5),
                Percentile(stats[w].search, .99), Percentile(stats[w].fetch, .5),
                Percentile(stats[w].fetch, .99));
  }
  std::printf(
      "  the busier shard's own match (threads): wall %.2f/%.2f, CPU %.2f/%.2f (mean %.3f); one "
      "database's whole search (xapian), CPU %.2f/%.2f (mean %.3f)\n",
      Percentile(busiest_ms, .5), Percentile(busiest_ms, .99), Percentile(busiest_cpu, .5),
      Percentile(busiest_cpu, .99), Mean(busiest_cpu), Percentile(stats[kXapian].cpu, .5),
      Percentile(stats[kXapian].cpu, .99), Mean(stats[kXapian].cpu));
  {
    // Fixed costs of the station: one round trip to a server (reopen, and one record), and a
    // search that finds nothing (every round trip of a search, no matching).
    Xapian::Database remote = Xapian::Remote::open("127.0.0.1", servers[0]->port());
    std::vector<double> reopen, record, empty_one, empty_station;
    const BenchQuery none{"none", "f15:\"999\"", "f15:\"999\""};
    for (int i = 0; i < 300; ++i) {
      auto t0 = Clock::now();
      remote.reopen();
      reopen.push_back(Ms(Clock::now() - t0));
      t0 = Clock::now();
      remote.get_document(1 + i % 1000).get_data();
      record.push_back(Ms(Clock::now() - t0));
      Timing t;
      EngineSearch(one_dir, none.gbk, kPage, &t);
      empty_one.push_back(t.search);
      EngineSearch(station_dir, none.gbk, kPage, &t);
      empty_station.push_back(t.search);
    }
    std::printf(
        "  round trip to one server, median: reopen %.3f ms, one record %.3f ms; a search "
        "without hits: one index %.3f ms, station %.3f ms\n",
        Percentile(reopen, .5), Percentile(record, .5), Percentile(empty_one, .5),
        Percentile(empty_station, .5));
  }
  std::printf(
      "\ncores busy while timed: this process + its servers | whole machine, of %u; CPU ms per "
      "search: this process + all servers (the busiest)\n",
      std::thread::hardware_concurrency());
  for (int w = 0; w < kWays; ++w) {
    const WayStats& st = stats[w];
    std::printf("  %-8s %.2f + %.2f | %.2f;  %.3f + %.3f (%.3f)\n", kWayNames[w],
                st.own_cpu_ms / st.wall_ms, st.ServersMs() / st.wall_ms,
                st.machine_total > 0
                    ? st.machine_busy / st.machine_total * std::thread::hardware_concurrency()
                    : 0.0,
                st.own_cpu_ms / st.runs, st.ServersMs() / st.runs, st.BusiestServerMs() / st.runs);
  }

  if (loop_seconds > 0) {
    std::printf("\nsearching the station for %d s (pid %d)\n", loop_seconds, getpid());
    const auto end = Clock::now() + std::chrono::seconds(loop_seconds);
    size_t n = 0;
    while (Clock::now() < end) EngineSearch(station_dir, mix[n++ % mix.size()].gbk, kPage, nullptr);
    std::printf("%zu searches\n", n);
  }

  for (auto& s : servers) s->Kill();
  std::printf(
      "\nstation/xapian median %.2fx, p99 %.2fx; station/one median %.2fx, p99 %.2fx; "
      "exactness failures %d\n",
      Percentile(all[kStation], .5) / Percentile(all[kXapian], .5),
      Percentile(all[kStation], .99) / Percentile(all[kXapian], .99),
      Percentile(all[kStation], .5) / Percentile(all[kOne], .5),
      Percentile(all[kStation], .99) / Percentile(all[kOne], .99), exact_failures);
  if (keep_dir.empty() && !std::getenv("TOMEVA_BENCH_KEEP")) std::filesystem::remove_all(base, ec);
  return exact_failures == 0 ? 0 : 2;
}

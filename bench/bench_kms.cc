// bench_kms: the engine (KMS_ functions) side by side with Xapian used directly (same terms, same
// parsed queries, no KMS layer) and with SQLite FTS5 (trigram tokenizer; LIKE for terms shorter
// than three characters), on the same generated records and the same query mix. Prints build
// throughput, page-0 and page-5 latency with exact counts (median, p99), ratios and index sizes.
//
// Records: env TOMEVA_BENCH_RECORDS, or --records N, or --large (1,000,000); default 200,000.
#include <sqlite3.h>
#include <stdlib.h>
#include <xapian.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/gbk.h"
#include "corpus.h"
#include "kms/field_registry.h"
#include "kms/index_store.h"
#include "kms/kms.h"
#include "kms/query_parser.h"
#include "kms/terms.h"

namespace {

using Clock = std::chrono::steady_clock;
using tomeva::GbkToUtf8;
using tomeva::Utf8ToGbk;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Query latencies are taken as the calling thread's CPU time: the machines these runs share are
// often busy, and wall time would mostly measure the scheduler. Everything the three engines do
// for a query happens on this thread, from the page cache.
double ThreadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One term of a query: UTF-8 text and the field it is restricted to ("" = content).
struct Term {
  std::string text;
  std::string field;
  size_t chars = 0;
};

// A query of the mix: one term, or two joined by AND / OR.
struct BenchQuery {
  std::string kind;  // "1ch", "2ch", "3ch", "4ch", "phrase", "and", "or", "field", "cat+and"
  std::vector<Term> terms;
  bool use_or = false;
  std::string category;  // f15 condition, "" = none
};

size_t CharCount(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
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

std::string KmsQueryText(const BenchQuery& q) {
  std::string out;
  if (!q.category.empty()) out = "f15:\"" + q.category + "\" AND ";
  for (size_t i = 0; i < q.terms.size(); ++i) {
    if (i > 0) out += q.use_or ? " OR " : " AND ";
    if (!q.terms[i].field.empty()) out += q.terms[i].field + ":";
    out += "\"" + q.terms[i].text + "\"";
  }
  return out;
}

struct Stats {
  std::vector<double> page0, page5;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

uint64_t FolderSize(const std::string& path) {
  uint64_t total = 0;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) return std::filesystem::file_size(path, ec);
  for (auto& e : std::filesystem::recursive_directory_iterator(path, ec)) {
    if (e.is_regular_file(ec)) total += e.file_size(ec);
  }
  return total;
}

std::string RecordXml(const tomeva::bench::CorpusRecord& r, size_t id) {
  return "<record><id>" + std::to_string(id) + "</id><title>" + r.title + "</title><author>" +
         r.author + "</author><text>" + r.body + "</text><f15>" + r.category + "</f15></record>";
}

std::string ContentOf(const tomeva::bench::CorpusRecord& r) {
  return r.title + "\n" + r.author + "\n" + r.body + "\n" + r.category + "\n";
}

// ---- the engine ----
double BuildKms(const std::string& dir, const std::vector<tomeva::bench::CorpusRecord>& recs) {
  auto t0 = Clock::now();
  KMS_Init();
  KMS_Open(dir.c_str(), 1);
  for (size_t i = 0; i < recs.size(); ++i) {
    const auto& r = recs[i];
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "xml", RecordXml(r, i).c_str(), "gb2312", 1, 0, 0);
    KMS_Add_Field(d, "content", ContentOf(r).c_str(), "gb2312", 1, 1, 1);
    KMS_Add_Field(d, "title", r.title.c_str(), "gb2312", 1, 1, 1);
    KMS_Add_Field(d, "author", r.author.c_str(), "gb2312", 1, 1, 1);
    KMS_Add_Field(d, "f15", r.category.c_str(), "gb2312", 1, 1, 1);
    KMS_Insert_Document(dir.c_str(), d);
    KMS_Free_Document(d);
  }
  KMS_Close(dir.c_str());
  return Ms(Clock::now() - t0);
}

int PageKms(const std::string& dir, const std::string& gbk_query, int page, size_t* bytes) {
  KmsSearch* s = KMS_Search(dir.c_str(), gbk_query.c_str(), "gb2312", "content");
  int n = KMS_HitCount(s);
  for (int i = page * 10; i < std::min(n, page * 10 + 10); ++i) {
    KmsHit* h = KMS_Hit(s, i);
    char* xml = KMS_Get_Field(h, "xml", "gb2312");
    char* f15 = KMS_Get_Field(h, "f15", "gb2312");
    *bytes += xml ? std::strlen(xml) : 0;
    KMS_Free_Field(xml);
    KMS_Free_Field(f15);
  }
  KMS_ClearSearch(s);
  return n;
}

// ---- Xapian directly, with the engine's terms and parser ----
double BuildXapian(const std::string& dir, const std::vector<tomeva::bench::CorpusRecord>& recs,
                   tomeva::kms::FieldRegistry* fields) {
  auto t0 = Clock::now();
  Xapian::WritableDatabase db(dir, Xapian::DB_CREATE_OR_OVERWRITE);
  bool added;
  std::string pc = fields->Intern("content", true, &added).prefix;
  std::string pt = fields->Intern("title", true, &added).prefix;
  std::string pa = fields->Intern("author", true, &added).prefix;
  std::string pf = fields->Intern("f15", true, &added).prefix;
  for (size_t i = 0; i < recs.size(); ++i) {
    const auto& r = recs[i];
    Xapian::Document doc;
    uint32_t pos;
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(ContentOf(r)), pc, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.title), pt, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.author), pa, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(r.category, pf, fields->scheme(), &pos, &doc);
    // The same stored values as the engine keeps (every field is added as stored).
    doc.set_data(RecordXml(r, i) + '\0' + ContentOf(r) + '\0' + r.title + '\0' + r.author + '\0' +
                 r.category);
    db.add_document(doc);
    if ((i + 1) % 5000 == 0) db.commit();
  }
  db.commit();
  return Ms(Clock::now() - t0);
}

// The documents of BuildXapian built and dropped, never written: the share of a build that term
// generation takes, and so what generating terms on other cores could save at most.
double TermsOnly(const std::vector<tomeva::bench::CorpusRecord>& recs,
                 tomeva::kms::FieldRegistry* fields, size_t* sink) {
  auto t0 = Clock::now();
  bool added;
  std::string pc = fields->Intern("content", true, &added).prefix;
  std::string pt = fields->Intern("title", true, &added).prefix;
  std::string pa = fields->Intern("author", true, &added).prefix;
  std::string pf = fields->Intern("f15", true, &added).prefix;
  for (size_t i = 0; i < recs.size(); ++i) {
    const auto& r = recs[i];
    Xapian::Document doc;
    uint32_t pos;
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(ContentOf(r)), pc, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.title), pt, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.author), pa, fields->scheme(), &pos, &doc);
    pos = 1, tomeva::kms::IndexText(r.category, pf, fields->scheme(), &pos, &doc);
    doc.set_data(RecordXml(r, i) + '\0' + ContentOf(r) + '\0' + r.title + '\0' + r.author + '\0' +
                 r.category);
    *sink += doc.termlist_count();
  }
  return Ms(Clock::now() - t0);
}

// Threads for the sharded build: the machine's cores, or TOMEVA_KMS_THREADS.
unsigned ShardThreads() {
  if (const char* env = std::getenv("TOMEVA_KMS_THREADS"); env != nullptr && std::atoi(env) > 0) {
    return static_cast<unsigned>(std::atoi(env));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// BuildXapian's documents written by `threads` writers at once, each a contiguous range of the
// records into its own shard, then merged by Xapian's compactor into `dir`: shards are taken in
// order and renumbered one after the other, so every document keeps the id (and so the place
// among equal scores) that one writer gives it. Returns the milliseconds of writing and merging.
double BuildXapianSharded(const std::string& dir,
                          const std::vector<tomeva::bench::CorpusRecord>& recs,
                          tomeva::kms::FieldRegistry* fields, unsigned threads,
                          double* merge_ms) {
  auto t0 = Clock::now();
  bool added;
  const std::string pc = fields->Intern("content", true, &added).prefix;
  const std::string pt = fields->Intern("title", true, &added).prefix;
  const std::string pa = fields->Intern("author", true, &added).prefix;
  const std::string pf = fields->Intern("f15", true, &added).prefix;
  const tomeva::kms::TermScheme scheme = fields->scheme();
  auto shard = [&](unsigned k) { return dir + ".shard" + std::to_string(k); };
  std::vector<std::thread> workers;
  for (unsigned k = 0; k < threads; ++k) {
    workers.emplace_back([&, k] {
      Xapian::WritableDatabase db(shard(k), Xapian::DB_CREATE_OR_OVERWRITE);
      const size_t first = recs.size() * k / threads, end = recs.size() * (k + 1) / threads;
      for (size_t i = first; i < end; ++i) {
        const auto& r = recs[i];
        Xapian::Document doc;
        uint32_t pos;
        pos = 1, tomeva::kms::IndexText(GbkToUtf8(ContentOf(r)), pc, scheme, &pos, &doc);
        pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.title), pt, scheme, &pos, &doc);
        pos = 1, tomeva::kms::IndexText(GbkToUtf8(r.author), pa, scheme, &pos, &doc);
        pos = 1, tomeva::kms::IndexText(r.category, pf, scheme, &pos, &doc);
        doc.set_data(RecordXml(r, i) + '\0' + ContentOf(r) + '\0' + r.title + '\0' + r.author +
                     '\0' + r.category);
        db.add_document(doc);
        if ((i - first + 1) % 5000 == 0) db.commit();
      }
      db.commit();
    });
  }
  for (std::thread& w : workers) w.join();
  auto m0 = Clock::now();
  Xapian::Database all;
  for (unsigned k = 0; k < threads; ++k) all.add_database(Xapian::Database(shard(k)));
  all.compact(dir);
  *merge_ms = Ms(Clock::now() - m0);
  std::error_code ec;
  for (unsigned k = 0; k < threads; ++k) std::filesystem::remove_all(shard(k), ec);
  return Ms(Clock::now() - t0);
}

int PageXapian(Xapian::Database& db, const tomeva::kms::FieldRegistry& fields,
               const std::string& utf8_query, int page, size_t* bytes) {
  Xapian::Enquire e(db);
  e.set_query(tomeva::kms::ParseQuery(utf8_query, "content", fields));
  Xapian::MSet m = e.get_mset(page * 10, 10, db.get_doccount());
  for (auto it = m.begin(); it != m.end(); ++it) *bytes += it.get_document().get_data().size();
  return static_cast<int>(m.get_matches_estimated());
}

// The count and the first 60 document ids of a query, in rank order.
std::vector<Xapian::docid> PageXapianIds(Xapian::Database& db,
                                         const tomeva::kms::FieldRegistry& fields,
                                         const std::string& utf8_query) {
  Xapian::Enquire e(db);
  e.set_query(tomeva::kms::ParseQuery(utf8_query, "content", fields));
  e.set_docid_order(Xapian::Enquire::ASCENDING);
  Xapian::MSet m = e.get_mset(0, 60, db.get_doccount());
  std::vector<Xapian::docid> ids = {m.get_matches_estimated()};
  for (auto it = m.begin(); it != m.end(); ++it) ids.push_back(*it);
  return ids;
}

// ---- SQLite FTS5 ----
// FTS5 knows nothing of traditional and simplified forms: it is given the text and the query
// terms as the engine reads them (folded), so that both count the same records.
std::string FoldedUtf8(const std::string& gbk) {
  char* folded = KMS_Fold_Text(gbk.c_str(), "GBK", nullptr);
  if (folded == nullptr) return GbkToUtf8(gbk);
  std::string utf8 = GbkToUtf8(folded);
  KMS_Free_Field(folded);
  return utf8;
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
    sqlite3_free(err);
  }
}

double BuildSqlite(const std::string& file, const std::vector<tomeva::bench::CorpusRecord>& recs,
                   sqlite3** out) {
  auto t0 = Clock::now();
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  Exec(db,
       "CREATE VIRTUAL TABLE r USING fts5(content, title, author, f15 UNINDEXED, "
       "xml UNINDEXED, tokenize='trigram')");
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO r(content,title,author,f15,xml) VALUES(?,?,?,?,?)", -1, &ins,
                     nullptr);
  Exec(db, "BEGIN");
  for (size_t i = 0; i < recs.size(); ++i) {
    const auto& r = recs[i];
    std::string v[5] = {FoldedUtf8(ContentOf(r)), FoldedUtf8(r.title), FoldedUtf8(r.author),
                        r.category, GbkToUtf8(RecordXml(r, i))};
    for (int k = 0; k < 5; ++k) sqlite3_bind_text(ins, k + 1, v[k].data(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
    if ((i + 1) % 5000 == 0) {
      Exec(db, "COMMIT");
      Exec(db, "BEGIN");
    }
  }
  Exec(db, "COMMIT");
  sqlite3_finalize(ins);
  *out = db;
  return Ms(Clock::now() - t0);
}

// The WHERE clause and its parameters: FTS5 MATCH for terms of three or more characters, LIKE
// for shorter ones (the trigram tokenizer cannot look them up). A title restriction is a column
// filter; the category a comparison on the unindexed column.
std::string SqliteWhere(const BenchQuery& q, std::vector<std::string>* params, bool* ranked) {
  std::string where;
  std::string match;
  *ranked = false;
  std::vector<std::string> parts;
  for (const Term& term : q.terms) {
    Term t = term;
    t.text = FoldedUtf8(Utf8ToGbk(term.text));
    std::string col = t.field.empty() ? "content" : t.field;
    if (t.chars >= 3 && !q.use_or) {
      if (!match.empty()) match += " AND ";
      match += col + ":\"" + t.text + "\"";
    } else if (t.chars >= 3) {
      parts.push_back("rowid IN (SELECT rowid FROM r WHERE r MATCH ?)");
      params->push_back(col + ":\"" + t.text + "\"");
    } else {
      // The FTS5 table answers LIKE itself and finds nothing below three characters; the
      // expression makes SQLite scan the column instead.
      parts.push_back("(" + col + " || '') LIKE ?");
      params->push_back("%" + t.text + "%");
    }
  }
  std::string joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += q.use_or ? " OR " : " AND ";
    joined += parts[i];
  }
  if (!match.empty()) {
    where = "r MATCH ?";
    params->insert(params->begin(), match);
    *ranked = true;
  }
  if (!joined.empty()) where += (where.empty() ? "(" : " AND (") + joined + ")";
  if (!q.category.empty()) {
    where += " AND f15 = ?";
    params->push_back(q.category);
  }
  return where;
}

int PageSqlite(sqlite3* db, const BenchQuery& q, int page, size_t* bytes) {
  std::vector<std::string> params;
  bool ranked;
  std::string where = SqliteWhere(q, &params, &ranked);
  auto run = [&](const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s in %s\n", sqlite3_errmsg(db), sql.c_str());
      return;
    }
    for (size_t i = 0; i < params.size(); ++i) {
      sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    while (sqlite3_step(st) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
  };
  int count = 0;
  run("SELECT count(*) FROM r WHERE " + where,
      [&](sqlite3_stmt* st) { count = sqlite3_column_int(st, 0); });
  run("SELECT xml, f15 FROM r WHERE " + where + (ranked ? " ORDER BY rank" : "") +
          " LIMIT 10 OFFSET " + std::to_string(page * 10),
      [&](sqlite3_stmt* st) { *bytes += sqlite3_column_bytes(st, 0); });
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  size_t records = tomeva::bench::RecordCountFromEnv(200000);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large") == 0) records = 1000000;
    if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) records = std::atoll(argv[++i]);
  }
  std::string base = (std::filesystem::temp_directory_path() / "bench_kms.XXXXXX").string();
  if (::mkdtemp(base.data()) == nullptr) return 1;
  std::printf("bench_kms: %zu records in %s\n", records, base.c_str());

  auto t0 = Clock::now();
  std::vector<tomeva::bench::CorpusRecord> recs = tomeva::bench::GenerateCorpus(records, 42);
  if (recs.empty()) {
    std::fprintf(stderr, "no corpus (fortune files missing?)\n");
    return 1;
  }
  std::printf("corpus generated in %.0f ms\n", Ms(Clock::now() - t0));

  std::string kms_dir = base + "/kms", xap_dir = base + "/xapian", sql_file = base + "/fts5.db";
  tomeva::kms::FieldRegistry fields;
  double kms_build = BuildKms(kms_dir, recs);
  double xap_build = BuildXapian(xap_dir, recs, &fields);
  const unsigned threads = ShardThreads();
  double shard_merge = 0;
  const std::string shard_dir = base + "/xapian-shards";
  double shard_build = BuildXapianSharded(shard_dir, recs, &fields, threads, &shard_merge);
  size_t term_sink = 0;
  double terms_only = TermsOnly(recs, &fields, &term_sink);
  sqlite3* sdb = nullptr;
  double sql_build = BuildSqlite(sql_file, recs, &sdb);
  std::printf("\nbuild (records/s): engine %.0f, xapian %.0f, fts5 %.0f (engine/fts5 %.2fx)\n",
              records / kms_build * 1000, records / xap_build * 1000, records / sql_build * 1000,
              sql_build / kms_build);
  std::printf(
      "xapian in %u shards written at once, then merged: %.0f records/s (merge %.0f ms); "
      "against one writer %.2fx, fts5/sharded %.2fx\n",
      threads, records / shard_build * 1000, shard_merge, xap_build / shard_build,
      sql_build / shard_build);
  std::printf("term generation alone: %.0f ms, %.0f%% of xapian's build (%zu terms)\n",
              terms_only, 100 * terms_only / xap_build, term_sink);
  std::printf("index size (MB): engine %.1f, xapian %.1f, fts5 %.1f\n", FolderSize(kms_dir) / 1e6,
              FolderSize(xap_dir) / 1e6,
              FolderSize(sql_file) / 1e6 + FolderSize(sql_file + "-wal") / 1e6);
  // A library's index is optimised after every import, so the queries run on compacted indexes.
  auto c0 = Clock::now();
  KMS_Optimize(kms_dir.c_str());
  double kms_compact = Ms(Clock::now() - c0);
  c0 = Clock::now();
  Xapian::Database(xap_dir).compact(xap_dir + ".compact");
  double xap_compact = Ms(Clock::now() - c0);
  xap_dir += ".compact";
  c0 = Clock::now();
  Exec(sdb, "INSERT INTO r(r) VALUES('optimize'); PRAGMA wal_checkpoint(TRUNCATE);");
  double sql_compact = Ms(Clock::now() - c0);
  std::printf("one writer and compaction against shards and merge: %.2fx\n",
              (xap_build + xap_compact) / shard_build);
  std::printf("compacted (MB): engine %.1f, xapian %.1f, fts5 %.1f (took %.0f, %.0f, %.0f ms)\n",
              FolderSize(kms_dir) / 1e6, FolderSize(xap_dir) / 1e6,
              FolderSize(sql_file) / 1e6 + FolderSize(sql_file + "-wal") / 1e6, kms_compact,
              xap_compact, sql_compact);
  // Where the engine's bytes go: the tables of its compacted generation.
  if (auto gen = tomeva::kms::CurrentGeneration(kms_dir)) {
    std::printf("engine tables (MB):");
    for (const char* table : {"position", "postlist", "termlist", "docdata"}) {
      std::printf(" %s %.1f", table, FolderSize(*gen + "/" + table + ".glass") / 1e6);
    }
    std::printf(" (compacted size / fts5 %.2fx)\n",
                FolderSize(kms_dir) /
                    double(FolderSize(sql_file) + FolderSize(sql_file + "-wal")));
  }

  // The query mix, drawn from the records themselves.
  std::vector<std::string> contents, titles;
  for (size_t i = 0; i < std::min<size_t>(recs.size(), 20000); ++i) {
    contents.push_back(GbkToUtf8(ContentOf(recs[i])));
    titles.push_back(GbkToUtf8(recs[i].title));
  }
  std::mt19937_64 rng(7);
  std::vector<BenchQuery> mix;
  auto term = [&](size_t chars, const std::string& field = "") {
    std::string t = RandomRun(field.empty() ? contents : titles, chars, &rng);
    return Term{t, field, CharCount(t)};
  };
  auto add = [&](const char* kind, std::vector<Term> terms, bool use_or = false,
                 std::string category = "") {
    mix.push_back(BenchQuery{kind, std::move(terms), use_or, std::move(category)});
  };
  // Sixteen queries of each kind: the medians of a kind move by a fifth from run to run with eight.
  for (int i = 0; i < 16; ++i) {
    add("1ch", {term(1)});
    add("2ch", {term(2)});
    add("3ch", {term(3)});
    add("4ch", {term(4)});
    add("phrase", {term(5 + i % 2)});
    add("and", {term(2), term(2 + i % 2)});
    add("or", {term(2), term(3)}, true);
    add("field", {term(2, "title")});
    add("cat+and", {term(2), term(3)}, false, std::to_string(1 + i % 40));
  }

  Xapian::Database xdb(xap_dir);
  Xapian::Database sdb_shards(shard_dir);
  int shard_mismatches = 0;
  std::map<std::string, Stats> kms_stats, xap_stats, sql_stats;
  std::map<std::string, Stats> kms_cpu, xap_cpu, sql_cpu;  // the calling thread's CPU time
  int mismatches = 0;
  size_t sink = 0;
  // Pass 0 checks that the three agree on every count and warms the caches. In the two timed
  // passes each engine runs each query three times in a row (SQLite once: its scans of short
  // terms take seconds at this size), and the engines take turns going first. The engine and
  // Xapian run the query once untimed before their timed runs: with three engines in turn one of
  // them always follows SQLite, whose full scans empty the CPU caches, and on queries of a few
  // tens of microseconds that alone would decide the ratio.
  for (const BenchQuery& q : mix) {
    std::string text = KmsQueryText(q);
    int nk = PageKms(kms_dir, Utf8ToGbk(text), 0, &sink);
    int nx = PageXapian(xdb, fields, text, 0, &sink);
    int ns = PageSqlite(sdb, q, 0, &sink);
    // The merged shards must give the one database's hits in the same order.
    if (PageXapianIds(sdb_shards, fields, text) != PageXapianIds(xdb, fields, text)) {
      ++shard_mismatches;
      std::printf("merged shards differ for %s\n", text.c_str());
    }
    if (nk != nx || nk != ns) {
      ++mismatches;
      std::printf("count differs for %s: engine %d xapian %d fts5 %d\n", text.c_str(), nk, nx, ns);
    }
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (const BenchQuery& q : mix) {
      std::string text = KmsQueryText(q);
      std::string gbk = Utf8ToGbk(text);
      for (int page : {0, 5}) {
        std::function<void()> runs[3] = {
            [&] { PageKms(kms_dir, gbk, page, &sink); },
            [&] { PageXapian(xdb, fields, text, page, &sink); },
            [&] { PageSqlite(sdb, q, page, &sink); },
        };
        std::map<std::string, Stats>* stats[3] = {&kms_stats, &xap_stats, &sql_stats};
        std::map<std::string, Stats>* cpu_stats[3] = {&kms_cpu, &xap_cpu, &sql_cpu};
        for (int k = 0; k < 3; ++k) {
          int e = (k + pass) % 3;
          if (e != 2) runs[e]();
          for (int rep = 0; rep < (e == 2 ? 1 : 3); ++rep) {
            const double a = ThreadCpuMs();
            const auto w = Clock::now();
            runs[e]();
            const double wall = Ms(Clock::now() - w);
            const double cpu = ThreadCpuMs() - a;
            Stats& st = (*stats[e])[q.kind];
            (page == 0 ? st.page0 : st.page5).push_back(wall);
            Stats& ct = (*cpu_stats[e])[q.kind];
            (page == 0 ? ct.page0 : ct.page5).push_back(cpu);
          }
        }
      }
    }
  }

  // Wall time: the engine ranks a large index on every core, which the calling thread's CPU
  // time would not show. Run on a quiet machine.
  std::printf("\nlatency in ms (wall), median / p99 (page 0 | page 5), exact counts\n");
  std::printf("%-8s %-23s %-23s %-23s %8s %8s\n", "query", "engine", "xapian", "fts5", "eng/xap",
              "fts5/eng");
  auto all = [](std::map<std::string, Stats>& m, const std::vector<std::string>& kinds) {
    Stats out;
    for (const auto& k : kinds) {
      out.page0.insert(out.page0.end(), m[k].page0.begin(), m[k].page0.end());
      out.page5.insert(out.page5.end(), m[k].page5.begin(), m[k].page5.end());
    }
    return out;
  };
  auto row = [&](const std::string& label, Stats k, Stats x, Stats s) {
    std::vector<double> kb = k.page0, xb = x.page0, sb = s.page0;
    kb.insert(kb.end(), k.page5.begin(), k.page5.end());
    xb.insert(xb.end(), x.page5.begin(), x.page5.end());
    sb.insert(sb.end(), s.page5.begin(), s.page5.end());
    std::printf(
        "%-8s %5.2f/%6.2f|%4.2f/%6.2f %5.2f/%6.2f|%4.2f/%6.2f %6.1f/%6.1f|%5.1f/%6.1f %7.2fx "
        "%7.1fx\n",
        label.c_str(), Percentile(k.page0, .5), Percentile(k.page0, .99), Percentile(k.page5, .5),
        Percentile(k.page5, .99), Percentile(x.page0, .5), Percentile(x.page0, .99),
        Percentile(x.page5, .5), Percentile(x.page5, .99), Percentile(s.page0, .5),
        Percentile(s.page0, .99), Percentile(s.page5, .5), Percentile(s.page5, .99),
        Percentile(kb, .5) / Percentile(xb, .5), Percentile(sb, .5) / Percentile(kb, .5));
  };
  std::vector<std::string> kinds = {"1ch", "2ch", "3ch",   "4ch",    "phrase",
                                    "and", "or",  "field", "cat+and"};
  for (const auto& k : kinds) row(k, kms_stats[k], xap_stats[k], sql_stats[k]);
  std::vector<std::string> rest;
  for (const auto& k : kinds) {
    if (k != "2ch") rest.push_back(k);
  }
  row("rest", all(kms_stats, rest), all(xap_stats, rest), all(sql_stats, rest));
  row("all", all(kms_stats, kinds), all(xap_stats, kinds), all(sql_stats, kinds));
  std::printf("calling thread's CPU time:\n");
  row("all cpu", all(kms_cpu, kinds), all(xap_cpu, kinds), all(sql_cpu, kinds));
  std::printf("\nbuild time ratio engine/xapian %.2fx; count mismatches %d; merged shards "
              "differing from one database %d; (%zu bytes read)\n",
              kms_build / xap_build, mismatches, shard_mismatches, sink);
  sqlite3_close(sdb);
  std::error_code ec;
  if (!std::getenv("TOMEVA_BENCH_KEEP")) std::filesystem::remove_all(base, ec);
  return mismatches == 0 && shard_mismatches == 0 ? 0 : 2;
}

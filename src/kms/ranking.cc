#include "kms/ranking.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

namespace tomeva::kms {
namespace {

// The document ids [first, last] of a database, as a filter: it gives no weight, and the query it
// filters decides which documents match (ids the database lacks are never among them).
class IdRange : public Xapian::PostingSource {
 public:
  IdRange(Xapian::docid first, Xapian::docid last) : first_(first), last_(last) {}

  void init(const Xapian::Database& db) override {
    current_ = 0;
    const Xapian::doccount span = last_ - first_ + 1;
    size_ = std::min<Xapian::doccount>(span, db.get_doccount());
  }
  Xapian::doccount get_termfreq_min() const override { return 0; }
  Xapian::doccount get_termfreq_est() const override { return size_; }
  Xapian::doccount get_termfreq_max() const override { return size_; }
  void next(double) override { current_ = current_ < first_ ? first_ : current_ + 1; }
  void skip_to(Xapian::docid id, double) override { current_ = std::max({current_, id, first_}); }
  bool at_end() const override { return current_ > last_; }
  Xapian::docid get_docid() const override { return current_; }
  Xapian::PostingSource* clone() const override { return new IdRange(first_, last_); }

 private:
  Xapian::docid first_, last_;
  Xapian::docid current_ = 0;
  Xapian::doccount size_ = 0;
};

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* env = std::getenv(name);
  if (env != nullptr) {
    const long n = std::atol(env);
    if (n > 0) return static_cast<unsigned>(std::min(n, 1L << 30));
  }
  return fallback;
}

}  // namespace

unsigned SearchThreads() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min(16u, EnvNumber("TOMEVA_KMS_SEARCH_THREADS", cores));
}

Xapian::doccount MinPostingsPerPart() { return EnvNumber("TOMEVA_KMS_SEARCH_PART_POSTINGS", 2500); }

Xapian::doccount PostingsWalked(const Xapian::Query& query, const Xapian::Database& db) {
  const Xapian::doccount all = db.get_doccount();
  const size_t n = query.get_num_subqueries();
  switch (query.get_type()) {
    case Xapian::Query::LEAF_TERM:
      return query.get_terms_begin() == query.get_terms_end()
                 ? all
                 : db.get_termfreq(*query.get_terms_begin());
    case Xapian::Query::LEAF_MATCH_NOTHING:
      return 0;
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_PHRASE:
    case Xapian::Query::OP_NEAR: {
      Xapian::doccount least = all;
      for (size_t i = 0; i < n; ++i)
        least = std::min(least, PostingsWalked(query.get_subquery(i), db));
      if (query.get_type() == Xapian::Query::OP_AND) return least;
      // Each candidate's positions are read from a table of their own: about four postings' work.
      return static_cast<Xapian::doccount>(std::min<uint64_t>(uint64_t{least} * 4, all));
    }
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_XOR:
    case Xapian::Query::OP_SYNONYM:
    case Xapian::Query::OP_ELITE_SET:
    case Xapian::Query::OP_MAX: {
      Xapian::doccount sum = 0;
      for (size_t i = 0; i < n && sum < all; ++i) sum += PostingsWalked(query.get_subquery(i), db);
      return std::min(sum, all);
    }
    case Xapian::Query::OP_AND_NOT:
    case Xapian::Query::OP_FILTER:
    case Xapian::Query::OP_AND_MAYBE:
    case Xapian::Query::OP_SCALE_WEIGHT:
      return n == 0 ? all : PostingsWalked(query.get_subquery(0), db);
    default:
      return all;
  }
}

unsigned PartsFor(const Xapian::Query& query, const Xapian::Database& db) {
  if (SearchThreads() == 1) return 1;
  const Xapian::doccount by_work = PostingsWalked(query, db) / MinPostingsPerPart();
  return static_cast<unsigned>(
      std::max<Xapian::doccount>(1, std::min<Xapian::doccount>(SearchThreads(), by_work)));
}

struct Ranking::Part {
  Xapian::Database* db;
  Xapian::Enquire enquire;
  explicit Part(Xapian::Database* d) : db(d), enquire(*d) {}
};

Ranking::Ranking(const std::vector<Xapian::Database*>& dbs, const Xapian::Query& query) {
  const size_t n = dbs.size();
  // Parts of equal spans of ids; the last takes what is left. The handles are of one revision,
  // which has no id past its last.
  const Xapian::docid last = n > 1 ? dbs[0]->get_lastdocid() : 0;
  const Xapian::docid span = n > 1 ? std::max<Xapian::docid>(1, last / n) : 0;
  // A query's parts are counted without locks: every thread ranks a copy of its own.
  const std::string copy = n > 1 ? query.serialise() : std::string();
  for (size_t k = 0; k < n; ++k) {
    auto part = std::make_unique<Part>(dbs[k]);
    if (n == 1) {
      part->enquire.set_query(query);
    } else {
      const Xapian::Query own = k == 0 ? query : Xapian::Query::unserialise(copy);
      const Xapian::docid from = 1 + static_cast<Xapian::docid>(k) * span;
      const Xapian::docid to = k + 1 == n ? last : from + span - 1;
      Xapian::Query range((new IdRange(from, to))->release());
      part->enquire.set_query(Xapian::Query(Xapian::Query::OP_FILTER, own, range));
    }
    part->enquire.set_weighting_scheme(Xapian::BM25Weight());
    part->enquire.set_docid_order(Xapian::Enquire::ASCENDING);  // equal scores keep document order
    parts_.push_back(std::move(part));
  }
}

Ranking::~Ranking() = default;

Ranking::Window Ranking::Rank(Xapian::doccount first, Xapian::doccount size, bool exact_count) {
  Window window;
  if (parts_.size() == 1) {
    Part& part = *parts_[0];
    // Checking every document makes the count exact rather than an estimate.
    const Xapian::MSet mset =
        part.enquire.get_mset(first, size, exact_count ? part.db->get_doccount() : 0);
    for (auto it = mset.begin(); it != mset.end(); ++it) window.ids.push_back(*it);
    window.count = std::min(mset.get_matches_estimated(), part.db->get_doccount());
    return window;
  }
  // Each part ranks its best first + size; the merged list holds the best first + size of all.
  std::vector<Xapian::MSet> msets(parts_.size());
  std::vector<std::exception_ptr> errors(parts_.size());
  auto rank = [&](size_t k) {
    try {
      Part& part = *parts_[k];
      msets[k] = part.enquire.get_mset(0, first + size, exact_count ? part.db->get_doccount() : 0);
    } catch (...) {
      errors[k] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (size_t k = 1; k < parts_.size(); ++k) threads.emplace_back(rank, k);
  rank(0);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
  struct Hit {
    double weight;
    Xapian::docid id;
  };
  std::vector<Hit> hits;
  for (const Xapian::MSet& mset : msets) {
    for (auto it = mset.begin(); it != mset.end(); ++it) hits.push_back({it.get_weight(), *it});
    window.count += mset.get_matches_estimated();
  }
  const size_t end = std::min<size_t>(hits.size(), first + size);
  std::partial_sort(hits.begin(), hits.begin() + end, hits.end(), [](const Hit& a, const Hit& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.id < b.id;
  });
  for (size_t i = first; i < end; ++i) window.ids.push_back(hits[i].id);
  window.count = std::min(window.count, parts_[0]->db->get_doccount());
  return window;
}

}  // namespace tomeva::kms

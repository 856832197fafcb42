// Ranking a query on every core. A search over a large local index ranks its document ids in
// parts at once, each part on a database handle of its own (Xapian's handles are not shared
// between threads), and merges the parts' hits. Every part weighs documents with the statistics of
// the whole index (they are the same database), so a document's weight is the same as in one
// ranking, bit for bit; the parts' hits merged by weight, then document id, are exactly the hits
// one ranking gives, and the parts' exact counts sum to its exact count.
#ifndef TOMEVA_KMS_RANKING_H_
#define TOMEVA_KMS_RANKING_H_

#include <xapian.h>

#include <memory>
#include <vector>

namespace tomeva::kms {

// Threads a search ranks on: the machine's cores, or the environment's TOMEVA_KMS_SEARCH_THREADS
// (1 ranks on the calling thread only); at most 16.
unsigned SearchThreads();

// Postings a part is to walk at least: a thread costs more than it saves on a short ranking.
// TOMEVA_KMS_SEARCH_PART_POSTINGS changes it, for tests.
Xapian::doccount MinPostingsPerPart();

// Roughly how many postings' work a ranking of `query` on `db` is: a term's list, the shortest
// list of an AND (the others are skipped through), four times that of a phrase (its candidates'
// positions are read), the sum of an OR's, the left side of AND_NOT, FILTER and AND_MAYBE; any
// other kind counts as every document.
Xapian::doccount PostingsWalked(const Xapian::Query& query, const Xapian::Database& db);

// How many parts a ranking of `query` on the local `db` takes: one per thread, as long as each
// part walks MinPostingsPerPart() postings.
unsigned PartsFor(const Xapian::Query& query, const Xapian::Database& db);

class Ranking {
 public:
  // Ranks `query` (BM25, equal weights in document order) on `dbs`: handles of the same revision
  // of one index, one per part (one handle: one ranking, as Xapian does it). The handles must
  // outlive the ranking.
  Ranking(const std::vector<Xapian::Database*>& dbs, const Xapian::Query& query);
  ~Ranking();

  struct Window {
    std::vector<Xapian::docid> ids;  // the hits from `first` on, in rank order
    Xapian::doccount count = 0;      // the number of hits; exact when asked for
  };
  // The hits [first, first + size). With `exact_count` every matching document is counted.
  // Throws what Xapian throws (on any part).
  Window Rank(Xapian::doccount first, Xapian::doccount size, bool exact_count);

  size_t parts() const { return parts_.size(); }

 private:
  struct Part;
  std::vector<std::unique_ptr<Part>> parts_;
};

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_RANKING_H_

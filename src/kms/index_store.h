// The index folder and its generations. An index folder holds a stub file (kStubName, in the
// format Xapian itself reads, "glass gen.N") naming the generation sub-folder that is the current
// database. Compaction writes generation N+1 beside it and then replaces the stub with rename(2),
// so every reader sees either the old or the new generation, whole; a process killed at any point
// leaves the stub naming a complete database. Sub-folders the stub does not name are leftovers of
// an interrupted compaction or of a replaced generation and are removed by the next writer.
//
// Writers: one Xapian writer per index and process, bracketed by Open/Close. Readers: read-only
// databases are pooled per generation and reopened before each use, so that a search sees the
// last commit without opening files again. All functions are thread-safe and let Xapian
// exceptions through; the C API catches them.
#ifndef TOMEVA_KMS_INDEX_STORE_H_
#define TOMEVA_KMS_INDEX_STORE_H_

#include <xapian.h>

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kms/batch.h"
#include "kms/field_registry.h"

namespace tomeva::kms {

struct RemoteConnection;
struct RemoteEndpoint;

inline constexpr char kStubName[] = "XAPIANDB";

// Identity of one version of a file (inode, times, size).
struct FileIdentity {
  ino_t ino = 0;
  int64_t mtime_ns = -1;
  int64_t ctime_ns = -1;
  off_t size = -1;
  bool operator==(const FileIdentity&) const = default;
};

// The current generation folder of the index at `index_path`, or nullopt when there is no index
// or its stub is not the one line the engine writes ("glass gen.N"); `stub_identity`, when given,
// receives the identity of the stub it was read from, and `stub_line`, when the stub is not that
// line, its first line (or empty when it could not be read).
std::optional<std::string> CurrentGeneration(const std::string& index_path,
                                             FileIdentity* stub_identity = nullptr,
                                             std::string* stub_line = nullptr);

// Thrown for an index folder whose stub is neither the engine's own line nor the servers of a
// station (remote.h). The stub is outside input (it sits in the library's folder, where book
// packages are copied), and Xapian's own stub forms can start programs ("prog", "remote :PROG")
// or open any folder ("auto PATH"): such a stub is never handed to Xapian.
class StubRefused : public std::runtime_error {
 public:
  explicit StubRefused(std::string line)
      : std::runtime_error("index stub of a form the engine does not write"),
        line_(std::move(line)) {}
  // The stub's first line, as read (empty when it could not be read).
  const std::string& line() const { return line_; }

 private:
  std::string line_;
};

// True when the folder holds an index (its stub), whether or not that opens.
bool IndexExists(const std::string& index_path);

// The field table and term scheme stored in `db`. Throws Xapian::DatabaseCorruptError for a table
// over kMaxFieldTableBytes (a few dozen fields take a kilobyte).
inline constexpr size_t kMaxFieldTableBytes = 64 * 1024;
FieldRegistry LoadFieldRegistry(const Xapian::Database& db);

// The scheme a new index is written in: kCurrentTermScheme, or the one the environment's
// TOMEVA_KMS_TERM_SCHEME names ("1", "2"), so that tests and benchmarks can build the indexes
// earlier versions wrote.
TermScheme NewIndexScheme();

// The index writer of one folder.
class IndexWriter {
 public:
  // Opens the current generation for writing, creating the index when the folder has none.
  // Throws Xapian::DatabaseLockError when another process writes to it,
  // Xapian::DatabaseCreateError when the folder cannot be created, and the other
  // Xapian::DatabaseError kinds when the index does not open (Xapian::DatabaseCorruptError when
  // it is damaged).
  explicit IndexWriter(const std::string& index_path);
  ~IndexWriter();

  // Adds `doc` (which holds KeyTerm(key) when `key` is not empty). Without a batch it replaces the
  // visible document of its key; in the batch `batch` it replaces the waiting document of its key,
  // whatever its batch, and leaves the visible one (see batch.h). Commits every CommitInterval()
  // documents so that a long build that is killed keeps what went before.
  void Insert(Xapian::Document doc, std::string_view key = {}, std::string_view batch = {});

  // Commits inserted documents (and the field table).
  void Commit();

  // Commits, compacts into the next generation, swaps the stub and goes on writing there.
  void Optimize();

  // Commits, then writes every document of the index again in `scheme` into the next generation
  // from its stored fields, with the same document ids, keys, batches and field table, and swaps
  // it in as Optimize does. A field a document has terms of but no stored value of cannot be
  // written again: then (and on any other failure) the new generation is removed, the index is
  // left as it was and RebuildError (or Xapian's error) is thrown. Defined in reindex.cc.
  void Rebuild(TermScheme scheme);

  // Commit what was inserted, then make every document of the batch `name` visible (see batch.h),
  // and commit again. The publication is one Xapian transaction: after a crash either all of the
  // batch is visible or none of it. Documents are not written again, except that a batch document
  // whose key has a visible document takes that document's place (its id, and so its place among
  // equal scores).
  void PublishBatch(std::string_view name);
  // Commit what was inserted, then delete every document of the batch `name` in one transaction.
  void DiscardBatch(std::string_view name);

  // The batches waiting for publication, as this writer has them.
  const PendingBatches& pending_batches() const { return batches_; }

  FieldRegistry& fields() { return fields_; }
  void MarkFieldsChanged() { fields_changed_ = true; }
  std::mutex& mutex() { return mutex_; }

  // Documents per automatic commit: 5000, or the environment's TOMEVA_KMS_COMMIT_EVERY.
  static int CommitInterval();

 private:
  void OpenCurrent();
  void RemoveOtherGenerations();
  // The folder of the next generation (not created).
  std::string NextGeneration() const;
  // True when the document `id` is in a waiting batch.
  bool IsWaiting(Xapian::docid id) const;
  // The documents holding `key_term` that wait (`waiting`) or are visible.
  std::vector<Xapian::docid> KeyHolders(const std::string& key_term, bool waiting) const;
  // Stores the list of waiting batches with the next commit.
  void StoreBatches(const PendingBatches& batches);
  // The waiting batches without `name` and without those that have no document left.
  PendingBatches BatchesWithout(std::string_view name) const;
  // Publication and discard of batches written by earlier versions (batch.h).
  void PublishEarlierBatch(std::string_view name);
  void DiscardEarlierBatch(std::string_view name);
  // Makes generation folder `next` current (stub replaced atomically), writing there from now on.
  void SwapTo(const std::string& next);

  std::string index_path_;
  std::string generation_;
  std::unique_ptr<Xapian::WritableDatabase> db_;
  FieldRegistry fields_;
  bool fields_changed_ = false;
  PendingBatches batches_;
  // True when the index holds waiting documents of an earlier version's batches.
  bool earlier_batches_ = false;
  int pending_ = 0;
  std::mutex mutex_;
};

// A read-only database taken from the pool, returned to it on destruction.
class PooledReader {
 public:
  // Opens (or takes from the pool and reopens) the current generation of the index. Returns
  // nullptr when the folder holds no index (no stub). Throws Xapian::DatabaseError when there is
  // one that does not open: its stub names no generation (Xapian::DatabaseCorruptError), or
  // Xapian's error of the last attempt to open it. When the stub names index servers (remote.h),
  // the reader is a connection to them, and a server that cannot be reached throws
  // Xapian::NetworkError.
  static std::unique_ptr<PooledReader> Acquire(const std::string& index_path);
  ~PooledReader();

  Xapian::Database& db() { return *db_; }
  const std::string& generation() const { return generation_; }
  // The index's field table as of the database's revision.
  const FieldRegistry& fields() const { return *fields_; }
  // True for a connection to index servers.
  bool remote() const { return remote_ != nullptr; }
  // Keeps the database out of the pool (after an error it may be in a bad state).
  void Discard() { db_.reset(); }

 private:
  PooledReader(std::string index_path, std::string generation, std::unique_ptr<Xapian::Database> db)
      : index_path_(std::move(index_path)),
        generation_(std::move(generation)),
        db_(std::move(db)) {}

  std::string index_path_;
  std::string generation_;
  // A reader of the index kept on `servers`, and its return to the kept connections; remote.cc.
  static std::unique_ptr<PooledReader> AcquireRemote(const std::string& index_path,
                                                     const std::vector<RemoteEndpoint>& servers);
  void ReleaseRemote();

  std::unique_ptr<Xapian::Database> db_;
  FileIdentity version_;
  std::shared_ptr<const FieldRegistry> fields_;
  std::shared_ptr<RemoteConnection> remote_;  // the servers of a remote index; null when local
};

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_INDEX_STORE_H_

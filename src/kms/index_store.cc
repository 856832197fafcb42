#include "kms/index_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <vector>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "kms/batch.h"
#include "kms/document.h"
#include "kms/remote.h"

namespace tomeva::kms {
namespace {

constexpr char kGenerationPrefix[] = "gen.";

std::string StubPath(const std::string& index_path) { return JoinPath(index_path, kStubName); }

std::string StubText(const std::string& generation_name) {
  return "glass " + generation_name + "\n";
}

// Number of a generation folder name ("gen.7" → 7), or 0 when the name is not one.
long GenerationNumber(std::string_view name) {
  if (!StartsWith(name, kGenerationPrefix)) return 0;
  name.remove_prefix(sizeof kGenerationPrefix - 1);
  if (name.empty() || name.size() > 9) return 0;
  long n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

long HighestGeneration(const std::string& index_path) {
  long highest = 0;
  for (const std::string& name : ListDirectory(index_path)) {
    highest = std::max(highest, GenerationNumber(name));
  }
  return highest;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// Creates the stub only when none exists (link(2) refuses to replace), so two processes creating
// the same index at once agree on one generation.
bool CreateStubExclusively(const std::string& index_path, const std::string& generation_name) {
  return CreateFileExclusively(StubPath(index_path), StubText(generation_name));
}

using FileSig = FileIdentity;

// The first line of a stub that is refused, to name it in the reason: at most 80 bytes, control
// characters shown as "?".
std::string FirstLine(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  std::string out(Trim(line.substr(0, 80)));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// A generation folder as a database of the one backend the engine writes. Naming the backend
// keeps Xapian from reading a stub file inside the folder (which could name any program or
// folder) in place of the database; and the folder must be a folder of the index itself, not a
// link to somewhere else.
void CheckGenerationFolder(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    throw Xapian::DatabaseOpeningError("the generation " + path + " is not a folder of the index");
  }
}

std::unique_ptr<Xapian::Database> OpenGeneration(const std::string& path) {
  CheckGenerationFolder(path);
  return std::make_unique<Xapian::Database>(path, Xapian::DB_BACKEND_GLASS);
}

std::unique_ptr<Xapian::WritableDatabase> OpenWritableGeneration(const std::string& path,
                                                                 int action) {
  CheckGenerationFolder(path);
  return std::make_unique<Xapian::WritableDatabase>(path, action | Xapian::DB_BACKEND_GLASS);
}

// The stub and a generation's version file are replaced by rename on every change, so an
// unchanged identity means unchanged contents; a stat(2) is much cheaper than reading the stub or
// reopening the database on every search.
FileSig SigOf(const std::string& path) {
  struct stat st;
  FileSig sig;
  if (::stat(path.c_str(), &st) != 0) return sig;
  sig.ino = st.st_ino;
  sig.mtime_ns = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  sig.ctime_ns = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  sig.size = st.st_size;
  return sig;
}

struct PooledDb {
  std::unique_ptr<Xapian::Database> db;
  FileSig version;  // of the generation's version file when last (re)opened
  std::shared_ptr<const FieldRegistry> fields;
};

struct ReaderPool {
  std::mutex mutex;
  struct Entry {
    // A generation is told apart by its stub too: a folder name can come back after the whole
    // index was deleted and built again, and databases opened on the old one must not be reused.
    std::string generation;
    FileSig stub;
    std::vector<PooledDb> free;
  };
  std::map<std::string, Entry> by_index;
  // The last stub read per index, with its identity.
  std::map<std::string, std::pair<FileSig, std::string>> stubs;
};

ReaderPool& Pool() {
  static ReaderPool* pool = new ReaderPool();  // never destroyed: searches may outlive exit
  return *pool;
}

constexpr size_t kMaxPooledPerIndex = 8;

// A copy of a document read from the database that owes it nothing. Xapian takes a document it
// read itself for a modified version of the same record: written under another document id it
// keeps that id's data and positions. A copy is written whole.
Xapian::Document Detached(const Xapian::Document& doc) {
  Xapian::Document copy;
  copy.set_data(doc.get_data());
  for (Xapian::ValueIterator v = doc.values_begin(); v != doc.values_end(); ++v) {
    copy.add_value(v.get_valueno(), *v);
  }
  for (Xapian::TermIterator t = doc.termlist_begin(); t != doc.termlist_end(); ++t) {
    copy.add_term(*t, t.get_wdf());
    for (Xapian::PositionIterator p = t.positionlist_begin(); p != t.positionlist_end(); ++p) {
      copy.add_posting(*t, *p, 0);
    }
  }
  return copy;
}

}  // namespace

std::optional<std::string> CurrentGeneration(const std::string& index_path,
                                             FileIdentity* stub_identity, std::string* stub_line) {
  std::string stub = StubPath(index_path);
  FileSig sig = SigOf(stub);
  if (sig.size < 0) return std::nullopt;
  if (stub_identity != nullptr) *stub_identity = sig;
  ReaderPool& pool = Pool();
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto it = pool.stubs.find(index_path);
    if (it != pool.stubs.end() && it->second.first == sig) return it->second.second;
  }
  std::string text;
  if (stub_line != nullptr) stub_line->clear();
  if (!ReadWholeFile(stub, &text, kSmallFileLimit)) return std::nullopt;
  // Exactly what StubText writes: "glass gen.N", the name relative to the index folder.
  const std::string whole = Trim(text);
  constexpr std::string_view kBackend = "glass ";
  const std::string_view name = StartsWith(whole, kBackend)
                                    ? std::string_view(whole).substr(kBackend.size())
                                    : std::string_view();
  if (GenerationNumber(name) == 0) {
    if (stub_line != nullptr) *stub_line = FirstLine(text);
    return std::nullopt;
  }
  std::string generation = JoinPath(index_path, std::string(name));
  // Cache only when the stub did not change while it was read.
  if (SigOf(stub) == sig) {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.stubs[index_path] = {sig, generation};
  }
  return generation;
}

bool IndexExists(const std::string& index_path) { return SigOf(StubPath(index_path)).size >= 0; }

FieldRegistry LoadFieldRegistry(const Xapian::Database& db) {
  const std::string table = db.get_metadata(kFieldsKey);
  // An index server sends whatever table it likes, and every word of a query is looked up in it.
  if (table.size() > kMaxFieldTableBytes) {
    throw Xapian::DatabaseCorruptError("the field table holds " + std::to_string(table.size()) +
                                       " bytes, more than an index of the engine ever has");
  }
  FieldRegistry registry = FieldRegistry::Parse(table);
  std::string scheme = db.get_metadata(kTermSchemeKey);
  if (scheme.empty()) {
    // Written before the scheme was recorded, unless there is nothing in it yet.
    registry.set_scheme(db.get_doccount() > 0 ? TermScheme::kCharPositions : NewIndexScheme());
  } else if (scheme == "1") {
    registry.set_scheme(TermScheme::kCharPositions);
  } else if (scheme == "2") {
    registry.set_scheme(TermScheme::kPairPositions);
  }
  registry.set_hidden_terms(PendingBatches::Load(db).Terms());
  return registry;
}

TermScheme NewIndexScheme() {
  const char* env = std::getenv("TOMEVA_KMS_TERM_SCHEME");
  if (env != nullptr) {
    std::string_view v(env);
    if (v == "1") return TermScheme::kCharPositions;
    if (v == "2") return TermScheme::kPairPositions;
  }
  return kCurrentTermScheme;
}

int IndexWriter::CommitInterval() {
  const char* env = std::getenv("TOMEVA_KMS_COMMIT_EVERY");
  if (env != nullptr) {
    int n = std::atoi(env);
    if (n > 0) return n;
  }
  return 5000;
}

IndexWriter::IndexWriter(const std::string& index_path) : index_path_(index_path) {
  if (!MakeDirectories(index_path_)) {
    throw Xapian::DatabaseCreateError("cannot create the folder " + index_path_, errno);
  }
  OpenCurrent();
  fields_ = LoadFieldRegistry(*db_);
  batches_ = PendingBatches::Load(*db_);
  earlier_batches_ = db_->term_exists(kHiddenTerm);
  // A new index records the scheme it is written in with its first commit.
  if (db_->get_metadata(kTermSchemeKey).empty() && db_->get_doccount() == 0) {
    fields_changed_ = true;
  }
  RemoveOtherGenerations();
}

IndexWriter::~IndexWriter() = default;

void IndexWriter::OpenCurrent() {
  for (int attempt = 0;; ++attempt) {
    std::string stub_line;
    std::optional<std::string> gen = CurrentGeneration(index_path_, nullptr, &stub_line);
    if (!gen && IndexExists(index_path_)) {
      // A station's stub names the index server: the index is written where it is kept.
      RefuseRemoteWriter(index_path_);
      // Creating a generation beside it would never become current: the stub is not replaced.
      throw StubRefused(stub_line);
    }
    if (!gen) {
      // A new index: create the first generation, then the stub that makes it current.
      std::string name = kGenerationPrefix + std::to_string(HighestGeneration(index_path_) + 1);
      std::string path = JoinPath(index_path_, name);
      auto db = OpenWritableGeneration(path, Xapian::DB_CREATE_OR_OPEN);
      db->commit();
      if (CreateStubExclusively(index_path_, name)) {
        generation_ = path;
        db_ = std::move(db);
        return;
      }
      db.reset();
      RemoveTree(path);
    } else {
      try {
        auto db = OpenWritableGeneration(*gen, Xapian::DB_OPEN);
        // A compaction in another process may have swapped generations before we got the lock.
        if (CurrentGeneration(index_path_) == gen) {
          generation_ = *gen;
          db_ = std::move(db);
          return;
        }
      } catch (const Xapian::DatabaseLockError&) {
        throw;
      } catch (const Xapian::DatabaseOpeningError&) {
        if (attempt >= 5) throw;
      }
    }
    if (attempt >= 5) throw Xapian::DatabaseOpeningError("index folder keeps changing");
  }
}

void IndexWriter::RemoveOtherGenerations() {
  // Holding the writer lock means no other process compacts this index now, so any other
  // generation folder is either replaced or the remains of a killed compaction.
  std::string current = BaseName(generation_);
  for (const std::string& name : ListDirectory(index_path_)) {
    if (GenerationNumber(name) != 0 && name != current) RemoveTree(JoinPath(index_path_, name));
  }
}

void IndexWriter::Insert(Xapian::Document doc, std::string_view key, std::string_view batch) {
  if (!db_) throw Xapian::InvalidOperationError("index writer lost");
  if (!batch.empty() && batches_.TermOf(batch).empty()) {
    // Listed before its first document is added, so that no commit holds a document of a batch
    // that the list does not name.
    PendingBatches listed = batches_;
    listed.Add(batch, *db_);
    StoreBatches(listed);
    batches_ = std::move(listed);
  }
  if (!batch.empty()) doc.add_boolean_term(batches_.TermOf(batch));
  std::vector<Xapian::docid> replaced;
  if (!key.empty()) {
    if (!batch.empty() && earlier_batches_) {
      const std::string earlier = PendingKeyTerm(key);
      if (db_->term_exists(earlier)) db_->delete_document(earlier);
    }
    replaced = KeyHolders(KeyTerm(key), !batch.empty());
  }
  if (replaced.empty()) {
    db_->add_document(doc);
  } else {
    db_->replace_document(replaced.front(), doc);
    for (size_t i = 1; i < replaced.size(); ++i) db_->delete_document(replaced[i]);
  }
  if (++pending_ >= CommitInterval()) Commit();
}

bool IndexWriter::IsWaiting(Xapian::docid id) const {
  return batches_.HoldsAny(db_->termlist_begin(id), db_->termlist_end(id));
}

std::vector<Xapian::docid> IndexWriter::KeyHolders(const std::string& key_term,
                                                   bool waiting) const {
  std::vector<Xapian::docid> ids;
  for (auto p = db_->postlist_begin(key_term); p != db_->postlist_end(key_term); ++p) {
    if (IsWaiting(*p) == waiting) ids.push_back(*p);
  }
  return ids;
}

void IndexWriter::StoreBatches(const PendingBatches& batches) {
  db_->set_metadata(kPendingBatchesKey, batches.Serialize());
}

PendingBatches IndexWriter::BatchesWithout(std::string_view name) const {
  PendingBatches rest = batches_;
  rest.Remove(name);
  // A batch whose documents were all replaced by another batch's is listed no longer. Called
  // after a commit, so that a batch listed by this writer has its documents in the index.
  for (const auto& [other, term] : batches_.by_name()) {
    if (!db_->term_exists(term)) rest.Remove(other);
  }
  return rest;
}

void IndexWriter::Commit() {
  if (!db_) return;
  if (fields_changed_) {
    db_->set_metadata(kFieldsKey, fields_.Serialize());
    db_->set_metadata(kTermSchemeKey, std::to_string(static_cast<int>(fields_.scheme())));
    fields_changed_ = false;
  }
  db_->commit();
  pending_ = 0;
}

void IndexWriter::Optimize() {
  if (!db_) throw Xapian::InvalidOperationError("index writer lost");
  Commit();
  RemoveOtherGenerations();
  std::string next = NextGeneration();
  {
    // Compacted from a reader of the committed state; our writer's lock keeps other processes
    // from adding documents that the new generation would miss.
    OpenGeneration(generation_)->compact(next);
  }
  SwapTo(next);
}

std::string IndexWriter::NextGeneration() const {
  return JoinPath(index_path_,
                  kGenerationPrefix + std::to_string(HighestGeneration(index_path_) + 1));
}

void IndexWriter::SwapTo(const std::string& next) {
  if (!ReplaceFileAtomically(StubPath(index_path_), StubText(BaseName(next)))) {
    RemoveTree(next);
    throw Xapian::DatabaseError("cannot replace the index stub");
  }
  std::string old = generation_;
  db_->close();
  db_.reset();
  generation_ = next;
  db_ = OpenWritableGeneration(next, Xapian::DB_OPEN);
  RemoveTree(old);
}

namespace {

// Runs `work` as one Xapian transaction: Xapian's own flush after many changes cannot commit half
// of it, and a failure leaves the index as it was.
template <typename Work>
void InTransaction(Xapian::WritableDatabase& db, Work work) {
  db.begin_transaction();
  try {
    work();
    db.commit_transaction();
  } catch (...) {
    try {
      db.cancel_transaction();
    } catch (const Xapian::Error&) {
      // The transaction's own failure is the one worth reporting.
    }
    throw;
  }
}

// The key term of the document `id`, or "" when it has none.
std::string KeyTermOf(const Xapian::Database& db, Xapian::docid id) {
  Xapian::TermIterator t = db.termlist_begin(id);
  t.skip_to(kKeyPrefix);
  return t != db.termlist_end(id) && StartsWith(*t, kKeyPrefix) ? *t : std::string();
}

}  // namespace

void IndexWriter::PublishBatch(std::string_view name) {
  if (!db_) throw Xapian::InvalidOperationError("index writer lost");
  Commit();
  if (earlier_batches_) PublishEarlierBatch(name);
  const std::string term = batches_.TermOf(name);
  if (term.empty()) return;
  PendingBatches rest = BatchesWithout(name);
  // The ids first: documents are replaced while their list would be walked.
  const std::vector<Xapian::docid> ids(db_->postlist_begin(term), db_->postlist_end(term));
  InTransaction(*db_, [&] {
    for (Xapian::docid id : ids) {
      const std::string key_term = KeyTermOf(*db_, id);
      if (key_term.empty()) continue;
      std::vector<Xapian::docid> visible = KeyHolders(key_term, false);
      if (visible.empty()) continue;
      // Takes the visible document's id, and so its place among equal scores.
      db_->replace_document(visible.front(), Detached(db_->get_document(id)));
      db_->delete_document(id);
      for (size_t i = 1; i < visible.size(); ++i) db_->delete_document(visible[i]);
    }
    StoreBatches(rest);
  });
  batches_ = std::move(rest);
}

void IndexWriter::DiscardBatch(std::string_view name) {
  if (!db_) throw Xapian::InvalidOperationError("index writer lost");
  Commit();
  if (earlier_batches_) DiscardEarlierBatch(name);
  const std::string term = batches_.TermOf(name);
  if (term.empty()) return;
  PendingBatches rest = BatchesWithout(name);
  InTransaction(*db_, [&] {
    if (db_->term_exists(term)) db_->delete_document(term);
    StoreBatches(rest);
  });
  batches_ = std::move(rest);
}

void IndexWriter::PublishEarlierBatch(std::string_view name) {
  const std::string batch = BatchTerm(name);
  const std::vector<Xapian::docid> ids(db_->postlist_begin(batch), db_->postlist_end(batch));
  if (ids.empty()) return;
  InTransaction(*db_, [&] {
    for (Xapian::docid id : ids) {
      Xapian::Document doc = db_->get_document(id);
      doc.remove_term(kHiddenTerm);
      doc.remove_term(batch);
      Xapian::TermIterator t = doc.termlist_begin();
      t.skip_to(kPendingKeyPrefix);
      if (t != doc.termlist_end() && StartsWith(*t, kPendingKeyPrefix)) {
        const std::string pending = *t;
        const std::string key = kKeyPrefix + pending.substr(1);
        doc.remove_term(pending);
        doc.add_boolean_term(key);
        const std::vector<Xapian::docid> visible = KeyHolders(key, false);
        if (!visible.empty()) {
          db_->replace_document(visible.front(), Detached(doc));
          db_->delete_document(id);
          for (size_t i = 1; i < visible.size(); ++i) db_->delete_document(visible[i]);
          continue;
        }
      }
      db_->replace_document(id, doc);
    }
  });
  earlier_batches_ = db_->term_exists(kHiddenTerm);
}

void IndexWriter::DiscardEarlierBatch(std::string_view name) {
  const std::string batch = BatchTerm(name);
  if (!db_->term_exists(batch)) return;
  InTransaction(*db_, [&] { db_->delete_document(batch); });
  earlier_batches_ = db_->term_exists(kHiddenTerm);
}

std::unique_ptr<PooledReader> PooledReader::Acquire(const std::string& index_path) {
  ReaderPool& pool = Pool();
  std::exception_ptr last_error;
  for (int attempt = 0; attempt < 4; ++attempt) {
    FileSig stub;
    std::string stub_line;
    std::optional<std::string> gen = CurrentGeneration(index_path, &stub, &stub_line);
    if (!gen) {
      // The stub is replaced by rename, never removed: one that is there but names no
      // generation is a station's, or was not written by the engine.
      if (!IndexExists(index_path)) return nullptr;
      if (auto servers = ReadRemoteStub(index_path)) return AcquireRemote(index_path, *servers);
      throw StubRefused(stub_line);
    }
    PooledDb slot;
    {
      std::lock_guard<std::mutex> lock(pool.mutex);
      ReaderPool::Entry& entry = pool.by_index[index_path];
      if (entry.generation != *gen || !(entry.stub == stub)) {
        entry.free.clear();
        entry.generation = *gen;
        entry.stub = stub;
      } else if (!entry.free.empty()) {
        slot = std::move(entry.free.back());
        entry.free.pop_back();
      }
    }
    try {
      FileSig version = SigOf(JoinPath(*gen, "iamglass"));
      if (!slot.db) {
        slot.db = OpenGeneration(*gen);
        slot.fields.reset();
      } else if (version.size < 0 || !(version == slot.version)) {
        slot.db->reopen();
        slot.fields.reset();
      }
      slot.version = version;
      if (!slot.fields) {
        slot.fields = std::make_shared<const FieldRegistry>(LoadFieldRegistry(*slot.db));
      }
      auto reader =
          std::unique_ptr<PooledReader>(new PooledReader(index_path, *gen, std::move(slot.db)));
      reader->version_ = slot.version;
      reader->fields_ = slot.fields;
      return reader;
    } catch (const Xapian::DatabaseError&) {
      // The generation was replaced between reading the stub and opening it: read it again.
      // When it keeps failing the index is damaged or unreadable, and the last error says how.
      last_error = std::current_exception();
    }
  }
  std::rethrow_exception(last_error);
}

PooledReader::~PooledReader() {
  if (remote_) {
    ReleaseRemote();
    return;
  }
  ReaderPool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  ReaderPool::Entry& entry = pool.by_index[index_path_];
  if (entry.generation == generation_ && entry.free.size() < kMaxPooledPerIndex && db_) {
    PooledDb slot;
    slot.db = std::move(db_);
    slot.version = version_;
    slot.fields = fields_;
    entry.free.push_back(std::move(slot));
  }
}

}  // namespace tomeva::kms

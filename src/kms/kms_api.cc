// The C boundary of the engine. Every entry point catches everything: callers get an empty
// result or a non-zero status, never an exception, and every failure leaves its reason in the
// calling thread's KMS_Last_Error.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/file_util.h"
#include "base/gbk.h"
#include "kms/batch.h"
#include "kms/document.h"
#include "kms/failure.h"
#include "kms/fold.h"
#include "kms/index_store.h"
#include "kms/keywords.h"
#include "kms/kms.h"
#include "kms/query_parser.h"
#include "kms/ranking.h"
#include "kms/remote.h"

using tomeva::kms::Action;
using tomeva::kms::IndexWriter;
using tomeva::kms::PooledReader;

struct KmsDocument {
  tomeva::kms::PendingDocument pending;
};

struct KmsHit {
  std::string data;  // the document data holding the stored fields
};

struct KmsSearch {
  std::string index_path;
  std::string query_utf8;
  std::string default_field;
  std::unique_ptr<PooledReader> reader;
  // Handles of the reader's revision for the other parts of a ranking on several threads.
  std::vector<std::unique_ptr<PooledReader>> part_readers;
  std::unique_ptr<tomeva::kms::Ranking> ranking;
  int count = 0;
  std::vector<Xapian::docid> window;
  int window_first = 0;
  std::map<int, std::unique_ptr<KmsHit>> hits;
  std::string reading;  // how the query was read when it was run, as KMS_Query_Reading's lines
};

namespace {

// Hits are ranked in windows of this many; the first window comes with the exact count and holds
// the first six pages of ten.
constexpr int kWindow = 60;

struct WriterSlot {
  std::shared_ptr<IndexWriter> writer;
  int opens = 0;
};

// The reason of the thread's last failed call. Successful calls leave it alone, so that a caller
// may make a few calls and ask afterwards why the one that failed did.
thread_local std::string t_last_error;

// Keeps `reason` for KMS_Last_Error; returns the failure status.
int Fail(std::string&& reason) {
  t_last_error = std::move(reason);
  return -1;
}

// The same for the exception being handled; call only inside a catch block. Never throws: a
// reason that cannot be built is left empty rather than let out through the C boundary.
int FailCurrent(std::string_view shown_path, Action action, std::string_view batch = {}) {
  try {
    t_last_error = tomeva::kms::DescribeCurrentException(shown_path, action, batch);
  } catch (...) {
    t_last_error.clear();
  }
  return -1;
}

// The index path as the caller wrote it, for reasons: the caller recognises that.
std::string_view Shown(const char* index_path) {
  return index_path == nullptr ? std::string_view() : std::string_view(index_path);
}

std::mutex g_writers_mutex;
std::map<std::string, WriterSlot>& Writers() {
  static auto* writers = new std::map<std::string, WriterSlot>();
  return *writers;
}

// The folder of an index; empty for a missing or empty argument, which no call accepts (it would
// otherwise name the working directory).
std::string IndexPath(const char* path) {
  return path == nullptr || *path == '\0' ? std::string() : tomeva::ResolvePath(path);
}

std::shared_ptr<IndexWriter> OpenWriter(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_writers_mutex);
  auto it = Writers().find(path);
  return it == Writers().end() ? nullptr : it->second.writer;
}

// Runs `work(writer, own)` under the writer's lock, on the index's open writer or on one opened
// for this call alone (`own`), which is released afterwards.
template <typename Work>
void WithWriter(const std::string& path, Work work) {
  std::shared_ptr<IndexWriter> writer = OpenWriter(path);
  const bool own = !writer;
  if (own) writer = std::make_shared<IndexWriter>(path);
  std::lock_guard<std::mutex> lock(writer->mutex());
  work(*writer, own);
}

bool ValidBatch(const char* batch) {
  return batch != nullptr && tomeva::kms::IsValidBatchName(batch);
}

std::string BadBatchReason() {
  return tomeva::kms::BadArgumentReason("批次名须非空、不超过200字节、不含制表符和换行");
}

// Refuses an expression (GBK, as the caller gave it) that is longer than the parser takes before
// anything is converted, opened or connected to: its UTF-8 form is at least as long.
void CheckExpressionLength(const char* query) {
  if (query != nullptr &&
      strnlen(query, tomeva::kms::kMaxExpressionBytes + 1) > tomeva::kms::kMaxExpressionBytes) {
    throw tomeva::kms::QueryRefused(tomeva::kms::QueryRefused::Limit::kBytes,
                                    tomeva::kms::kMaxExpressionBytes);
  }
}

char* CopyOut(const std::string& s) {
  char* out = static_cast<char*>(std::malloc(s.size() + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, s.data(), s.size());
  out[s.size()] = '\0';
  return out;
}

// The lines KMS_Query_Reading gives for a parsed query (UTF-8).
std::string ReadingLines(const tomeva::kms::ParsedQuery& parsed) {
  auto list = [](const std::vector<std::string>& items, const char* none) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : "，") + item;
    return out.empty() ? std::string(none) : out;
  };
  std::string text = "表达式：" +
                     (parsed.expression.empty() ? "（无检索词）" : parsed.expression) +
                     "\n字段：" + list(parsed.fields, "无") + "\n短语：" +
                     list(parsed.phrases, "无") + "\n";
  if (!parsed.typed_run.empty()) text += "优先：" + parsed.typed_run + "\n";
  if (!parsed.widened.empty()) text += "繁简通查：" + list(parsed.widened, "") + "\n";
  if (parsed.unindexable) text += "不能检索：有的词含索引不收的字符，该词无结果\n";
  return text;
}

// Returns the parts' handles to the pool, or (after a failure) closes them.
void DropPartReaders(KmsSearch* s, bool failed) {
  s->ranking.reset();
  if (failed) {
    for (auto& part : s->part_readers) part->Discard();
  }
  s->part_readers.clear();
}

// Gives the search handles for the other parts of a ranking on several threads: a local index
// and a query long enough to rank, and handles of exactly the reader's revision (a commit between
// taking them makes this search rank on one thread).
void TakePartReaders(KmsSearch* s, const Xapian::Query& query) {
  DropPartReaders(s, false);
  if (s->reader->remote()) return;  // an index server ranks where the index is kept
  const Xapian::Database& db = s->reader->db();
  const unsigned parts = tomeva::kms::PartsFor(query, db);
  for (unsigned k = 1; k < parts; ++k) {
    std::unique_ptr<PooledReader> part = PooledReader::Acquire(s->index_path);
    if (!part || part->generation() != s->reader->generation() ||
        part->db().get_revision() != db.get_revision()) {
      DropPartReaders(s, false);
      return;
    }
    s->part_readers.push_back(std::move(part));
  }
}

// (Re)builds the ranking on the search's reader and ranks the first window with an exact count.
void Run(KmsSearch* s) {
  Xapian::Database& db = s->reader->db();
  // One parse gives both what is run and how it reads, which the search keeps for its reader.
  const tomeva::kms::ParsedQuery parsed =
      tomeva::kms::ParseQueryFull(s->query_utf8, s->default_field, s->reader->fields());
  s->reading = ReadingLines(parsed);
  Xapian::Query query = tomeva::kms::VisibleOnly(parsed.query, s->reader->fields().hidden_terms());
  TakePartReaders(s, query);
  std::vector<Xapian::Database*> dbs{&db};
  for (auto& part : s->part_readers) dbs.push_back(&part->db());
  s->ranking = std::make_unique<tomeva::kms::Ranking>(dbs, query);
  tomeva::kms::Ranking::Window window = s->ranking->Rank(0, kWindow, true);
  s->window = std::move(window.ids);
  s->window_first = 0;
  // An index server says what count it likes: kept within what an int and the index can hold.
  s->count = static_cast<int>(std::min<Xapian::doccount>(window.count, INT_MAX));
}

// Runs `step` on the search's reader; when a writer's commits have overtaken the reader, or a
// compaction replaced its generation, takes a fresh reader, ranks again and retries. False, with
// the reason kept, when it keeps failing (a damaged index does) or the index has gone; throws
// what a fresh reader throws.
template <typename Step>
bool WithRetry(KmsSearch* s, bool run_first, Step step) {
  bool run = run_first;
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      if (run) Run(s);
      step();
      return true;
    } catch (const Xapian::DatabaseError&) {
      // DatabaseModifiedError, or a generation removed under us: fall through to a new reader.
      FailCurrent(s->index_path, Action::kSearch);
    } catch (const Xapian::NetworkError&) {
      // The index server went away or did not answer in time: the connection is out of step
      // with it and must not be kept for the next search, which connects again.
      s->reader->Discard();
      throw;
    }
    DropPartReaders(s, true);
    s->reader->Discard();
    s->reader.reset();
    s->reader = PooledReader::Acquire(s->index_path);
    if (!s->reader) {
      Fail(tomeva::kms::MissingIndexReason(s->index_path));
      return false;
    }
    run = true;
  }
  return false;
}

}  // namespace

extern "C" {

void KMS_Init(void) {}

int KMS_Open(const char* index_path, int mode) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    std::lock_guard<std::mutex> lock(g_writers_mutex);
    WriterSlot& slot = Writers()[path];
    if (!slot.writer) {
      try {
        slot.writer = std::make_shared<IndexWriter>(path);
      } catch (...) {
        Writers().erase(path);
        throw;
      }
    }
    ++slot.opens;
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kOpen);
  }
}

int KMS_Close(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    std::shared_ptr<IndexWriter> writer;
    {
      std::lock_guard<std::mutex> lock(g_writers_mutex);
      auto it = Writers().find(path);
      if (it == Writers().end()) return Fail(tomeva::kms::NotOpenReason(Shown(index_path)));
      if (--it->second.opens > 0) return 0;
      // Released whatever the commit does: a writer that cannot commit is of no use to anyone,
      // and holding on to it would keep every other process out of the index.
      writer = std::move(it->second.writer);
      Writers().erase(it);
    }
    std::lock_guard<std::mutex> lock(writer->mutex());
    writer->Commit();
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kCommit);
  }
}

int KMS_Optimize(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    WithWriter(path, [](IndexWriter& writer, bool) { writer.Optimize(); });
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kOptimize);
  }
}

const char* KMS_Last_Error(void) { return t_last_error.c_str(); }

char* KMS_Index_Server(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return nullptr;
    std::optional<std::vector<tomeva::kms::RemoteEndpoint>> servers =
        tomeva::kms::ReadRemoteStub(path);
    return servers ? CopyOut(tomeva::kms::ServerName(*servers)) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

int KMS_Set_Batch(KmsDocument* doc, const char* batch) {
  try {
    if (doc == nullptr) return Fail(tomeva::kms::BadArgumentReason("没有文档"));
    if (!ValidBatch(batch)) return Fail(BadBatchReason());
    doc->pending.batch = batch;
    return 0;
  } catch (...) {
    return FailCurrent({}, Action::kInsert);
  }
}

int KMS_Publish_Batch(const char* index_path, const char* batch) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    if (!ValidBatch(batch)) return Fail(BadBatchReason());
    // A folder without an index holds no batch; publishing must not create one there.
    if (!OpenWriter(path) && !tomeva::kms::IndexExists(path)) return 0;
    WithWriter(path, [&](IndexWriter& writer, bool) { writer.PublishBatch(batch); });
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kPublish, batch ? batch : "");
  }
}

int KMS_Discard_Batch(const char* index_path, const char* batch) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    if (!ValidBatch(batch)) return Fail(BadBatchReason());
    if (!OpenWriter(path) && !tomeva::kms::IndexExists(path)) return 0;
    WithWriter(path, [&](IndexWriter& writer, bool) { writer.DiscardBatch(batch); });
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kDiscard, batch ? batch : "");
  }
}

char* KMS_Get_Batches(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) {
      Fail(tomeva::kms::NoIndexPathReason());
      return nullptr;
    }
    for (int attempt = 0;; ++attempt) {
      std::unique_ptr<PooledReader> reader = PooledReader::Acquire(path);
      if (!reader) return CopyOut("");  // no index yet, so no batches
      try {
        Xapian::Database& db = reader->db();
        std::set<std::string> listed;
        size_t bytes = 0;
        auto list = [&](const std::string& name) {
          if (listed.insert(name).second) bytes += name.size() + 1;
          if (bytes > tomeva::kms::kMaxBatchListBytes) {
            throw Xapian::DatabaseCorruptError("the list of batches is longer than " +
                                               std::to_string(tomeva::kms::kMaxBatchListBytes) +
                                               " bytes");
          }
        };
        const auto pending = tomeva::kms::PendingBatches::Load(db);
        for (const auto& [name, term] : pending.by_name()) {
          if (db.term_exists(term)) list(name);
        }
        // Batches of earlier versions, named by their terms.
        if (db.term_exists(tomeva::kms::kHiddenTerm)) {
          const std::string prefix = tomeva::kms::kBatchPrefix;
          for (auto t = db.allterms_begin(prefix); t != db.allterms_end(prefix); ++t) {
            if (t.get_termfreq() > 0) list((*t).substr(prefix.size()));
          }
        }
        std::string names;
        for (const std::string& name : listed) names += name + "\n";
        char* out = CopyOut(names);
        if (out == nullptr) throw std::bad_alloc();
        return out;
      } catch (const Xapian::DatabaseModifiedError&) {
        // A commit overtook the reader: read the new revision.
        reader->Discard();
        if (attempt >= 2) throw;
      }
    }
  } catch (...) {
    FailCurrent(Shown(index_path), Action::kListBatches);
    return nullptr;
  }
}

KmsDocument* KMS_New_Document(void) {
  try {
    return new KmsDocument();
  } catch (...) {
    return nullptr;
  }
}

int KMS_Add_Field(KmsDocument* doc, const char* name, const char* value, const char* charset,
                  int stored, int indexed, int tokenized) {
  try {
    if (doc == nullptr) return Fail(tomeva::kms::BadArgumentReason("没有文档"));
    // Names go into the field table line by line, tab-separated.
    if (name == nullptr || *name == '\0' || std::strpbrk(name, "\t\n") != nullptr) {
      return Fail(tomeva::kms::BadArgumentReason("字段名须非空、不含制表符和换行"));
    }
    doc->pending.fields.push_back(
        {name, value ? value : "", stored != 0, indexed != 0, tokenized != 0});
    return 0;
  } catch (...) {
    return FailCurrent({}, Action::kInsert);
  }
}

int KMS_Set_Key(KmsDocument* doc, const char* key) {
  try {
    if (doc == nullptr) return Fail(tomeva::kms::BadArgumentReason("没有文档"));
    if (key == nullptr) return Fail(tomeva::kms::BadArgumentReason("没有键"));
    doc->pending.key = key;
    return 0;
  } catch (...) {
    return FailCurrent({}, Action::kInsert);
  }
}

int KMS_Insert_Document(const char* index_path, KmsDocument* doc) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    if (doc == nullptr) return Fail(tomeva::kms::BadArgumentReason("没有文档"));
    WithWriter(path, [&](IndexWriter& writer, bool own) {
      bool changed = false;
      Xapian::Document xdoc = tomeva::kms::BuildDocument(doc->pending, &writer.fields(), &changed);
      if (changed) writer.MarkFieldsChanged();
      writer.Insert(std::move(xdoc), doc->pending.key, doc->pending.batch);
      if (own) writer.Commit();
    });
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kInsert);
  }
}

void KMS_Free_Document(KmsDocument* doc) { delete doc; }

KmsSearch* KMS_Search(const char* index_path, const char* query, const char* charset,
                      const char* default_field) {
  try {
    if (index_path == nullptr || *index_path == '\0') {
      Fail(tomeva::kms::NoIndexPathReason());
      return nullptr;
    }
    CheckExpressionLength(query);
    auto s = std::make_unique<KmsSearch>();
    s->query_utf8 = tomeva::GbkToUtf8(query ? query : "");
    s->default_field = default_field && *default_field ? default_field : "content";
    // The path as given usually names the index exactly; resolving separators and letter case
    // costs file look-ups, so it is done only when the index is not found as given.
    if (std::strchr(index_path, '\\') == nullptr) {
      s->index_path = index_path;
      s->reader = PooledReader::Acquire(s->index_path);
    }
    if (!s->reader) {
      std::string resolved = IndexPath(index_path);
      if (resolved != s->index_path) {
        s->index_path = resolved;
        s->reader = PooledReader::Acquire(s->index_path);
      }
    }
    if (!s->reader) {
      Fail(tomeva::kms::MissingIndexReason(index_path));
      return nullptr;
    }
    if (!WithRetry(s.get(), true, [] {})) return nullptr;
    return s.release();
  } catch (...) {
    FailCurrent(Shown(index_path), Action::kSearch);
    return nullptr;
  }
}

int KMS_HitCount(KmsSearch* search) { return search ? search->count : 0; }

KmsHit* KMS_Hit(KmsSearch* search, int n) {
  try {
    if (search == nullptr || n < 0 || n >= search->count) return nullptr;
    auto found = search->hits.find(n);
    if (found != search->hits.end()) return found->second.get();
    auto hit = std::make_unique<KmsHit>();
    bool have = false;
    bool ok = WithRetry(search, false, [&] {
      int size = static_cast<int>(search->window.size());
      if (n < search->window_first || n >= search->window_first + size) {
        int first = n - n % kWindow;
        search->window = search->ranking->Rank(first, kWindow, false).ids;
        search->window_first = first;
        size = static_cast<int>(search->window.size());
      }
      have = n - search->window_first < size;
      if (have) {
        const Xapian::docid id = search->window[n - search->window_first];
        hit->data = search->reader->db().get_document(id).get_data();
        // A record of the library is never this big; a server sending one is not to be copied
        // on into the pages.
        if (search->reader->remote() && hit->data.size() > tomeva::kms::kMaxRemoteDocumentBytes) {
          throw tomeva::kms::OversizedDocument(hit->data.size());
        }
      }
    });
    if (!ok || !have) return nullptr;
    return (search->hits[n] = std::move(hit)).get();
  } catch (...) {
    FailCurrent(search != nullptr ? std::string_view(search->index_path) : std::string_view(),
                Action::kSearch);
    return nullptr;
  }
}

char* KMS_Get_Field(KmsHit* hit, const char* name, const char* charset) {
  try {
    if (hit == nullptr || name == nullptr) return nullptr;
    std::optional<std::string> value = tomeva::kms::FindStoredField(hit->data, name);
    return value ? CopyOut(*value) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void KMS_Free_Field(char* value) { std::free(value); }

void KMS_ClearSearch(KmsSearch* search) {
  try {
    delete search;
  } catch (...) {
  }
}

int KMS_Reindex(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return Fail(tomeva::kms::NoIndexPathReason());
    // Rebuilding must not create an index where there is none.
    if (!OpenWriter(path) && !tomeva::kms::IndexExists(path)) {
      return Fail(tomeva::kms::MissingIndexReason(Shown(index_path)));
    }
    WithWriter(path,
               [](IndexWriter& writer, bool) { writer.Rebuild(tomeva::kms::kCurrentTermScheme); });
    return 0;
  } catch (...) {
    return FailCurrent(Shown(index_path), Action::kReindex);
  }
}

char* KMS_Query_Reading(const char* index_path, const char* query, const char* charset,
                        const char* default_field) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) {
      Fail(tomeva::kms::NoIndexPathReason());
      return nullptr;
    }
    CheckExpressionLength(query);
    std::unique_ptr<PooledReader> reader = PooledReader::Acquire(path);
    if (!reader) {
      Fail(tomeva::kms::MissingIndexReason(Shown(index_path)));
      return nullptr;
    }
    const tomeva::kms::FieldRegistry fields = reader->fields();
    reader.reset();
    tomeva::kms::ParsedQuery parsed = tomeva::kms::ParseQueryFull(
        tomeva::GbkToUtf8(query ? query : ""),
        default_field && *default_field ? default_field : "content", fields);
    const std::string text = ReadingLines(parsed);
    char* out = CopyOut(tomeva::Utf8ToGbk(text));
    if (out == nullptr) throw std::bad_alloc();
    return out;
  } catch (...) {
    FailCurrent(Shown(index_path), Action::kSearch);
    return nullptr;
  }
}

char* KMS_Fold_Text(const char* text, const char* charset, int** source_offsets) {
  try {
    if (source_offsets != nullptr) *source_offsets = nullptr;
    tomeva::kms::FoldedText folded = tomeva::kms::FoldGbkText(text ? text : "");
    char* out = CopyOut(folded.gbk);
    if (out == nullptr) return nullptr;
    if (source_offsets != nullptr) {
      const size_t bytes = folded.source_offsets.size() * sizeof(int);
      int* offsets = static_cast<int*>(std::malloc(bytes));
      if (offsets == nullptr) {
        std::free(out);
        return nullptr;
      }
      std::memcpy(offsets, folded.source_offsets.data(), bytes);
      *source_offsets = offsets;
    }
    return out;
  } catch (...) {
    return nullptr;
  }
}

void KMS_Free_Offsets(int* offsets) { std::free(offsets); }

char* KMS_Search_Reading(KmsSearch* search) {
  if (search == nullptr || search->reading.empty()) return nullptr;
  try {
    return CopyOut(tomeva::Utf8ToGbk(search->reading));
  } catch (...) {
    return nullptr;
  }
}

char* KMS_Get_Keywords(const char* query, const char* charset) {
  try {
    CheckExpressionLength(query);
    std::string words = tomeva::kms::ExtractKeywords(tomeva::GbkToUtf8(query ? query : ""));
    return CopyOut(tomeva::Utf8ToGbk(words));
  } catch (const tomeva::kms::QueryRefused&) {
    // No keywords rather than those of a part: the search of the whole expression fails too.
    FailCurrent({}, Action::kSearch);
    return nullptr;
  } catch (...) {
    return CopyOut("");
  }
}

void KMS_Free_Keywords(char* keywords) { std::free(keywords); }

}  // extern "C"

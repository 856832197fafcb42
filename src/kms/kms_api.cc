// The C boundary of the engine. Every entry point catches everything: callers get an empty
// result or a non-zero status, never an exception.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/file_util.h"
#include "core/base/gbk.h"
#include "kms/document.h"
#include "kms/index_store.h"
#include "kms/keywords.h"
#include "kms/kms.h"
#include "kms/query_parser.h"

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
  std::unique_ptr<Xapian::Enquire> enquire;
  int count = 0;
  Xapian::MSet window;
  int window_first = 0;
  std::map<int, std::unique_ptr<KmsHit>> hits;
};

namespace {

// Hits are ranked in windows of this many; the first window comes with the exact count and holds
// the first six pages of ten.
constexpr int kWindow = 60;

struct WriterSlot {
  std::shared_ptr<IndexWriter> writer;
  int opens = 0;
};

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

char* CopyOut(const std::string& s) {
  char* out = static_cast<char*>(std::malloc(s.size() + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, s.data(), s.size());
  out[s.size()] = '\0';
  return out;
}

// (Re)builds the enquire on the search's reader and ranks the first window with an exact count.
void Run(KmsSearch* s) {
  Xapian::Database& db = s->reader->db();
  Xapian::Query query =
      tomeva::kms::ParseQuery(s->query_utf8, s->default_field, s->reader->fields());
  s->enquire = std::make_unique<Xapian::Enquire>(db);
  s->enquire->set_query(query);
  s->enquire->set_weighting_scheme(Xapian::BM25Weight());
  s->enquire->set_docid_order(Xapian::Enquire::ASCENDING);  // equal scores keep document order
  // Checking every document makes the count exact rather than an estimate.
  s->window = s->enquire->get_mset(0, kWindow, db.get_doccount());
  s->window_first = 0;
  s->count = static_cast<int>(s->window.get_matches_estimated());
}

// Runs `step` on the search's reader; when a writer's commits have overtaken the reader, or a
// compaction replaced its generation, takes a fresh reader, ranks again and retries.
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
    }
    s->enquire.reset();
    s->reader->Discard();
    s->reader.reset();
    s->reader = PooledReader::Acquire(s->index_path);
    if (!s->reader) return false;
    run = true;
  }
  return false;
}

}  // namespace

extern "C" {

void KMS_Init(void) {}

void KMS_Open(const char* index_path, int mode) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return;
    std::lock_guard<std::mutex> lock(g_writers_mutex);
    WriterSlot& slot = Writers()[path];
    if (!slot.writer) {
      try {
        slot.writer = std::make_shared<IndexWriter>(path);
      } catch (...) {
        Writers().erase(path);
        return;
      }
    }
    ++slot.opens;
  } catch (...) {
  }
}

void KMS_Close(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    std::shared_ptr<IndexWriter> writer;
    {
      std::lock_guard<std::mutex> lock(g_writers_mutex);
      auto it = Writers().find(path);
      if (it == Writers().end()) return;
      if (--it->second.opens > 0) return;
      writer = std::move(it->second.writer);
      Writers().erase(it);
    }
    std::lock_guard<std::mutex> lock(writer->mutex());
    writer->Commit();
  } catch (...) {
  }
}

void KMS_Optimize(const char* index_path) {
  try {
    std::string path = IndexPath(index_path);
    if (path.empty()) return;
    std::shared_ptr<IndexWriter> writer = OpenWriter(path);
    if (!writer) writer = std::make_shared<IndexWriter>(path);
    std::lock_guard<std::mutex> lock(writer->mutex());
    writer->Optimize();
  } catch (...) {
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
    if (doc == nullptr || name == nullptr || *name == '\0') return -1;
    // Names go into the field table line by line, tab-separated.
    if (std::strpbrk(name, "\t\n") != nullptr) return -1;
    doc->pending.fields.push_back(
        {name, value ? value : "", stored != 0, indexed != 0, tokenized != 0});
    return 0;
  } catch (...) {
    return -1;
  }
}

int KMS_Set_Key(KmsDocument* doc, const char* key) {
  try {
    if (doc == nullptr || key == nullptr) return -1;
    doc->pending.key = key;
    return 0;
  } catch (...) {
    return -1;
  }
}

int KMS_Insert_Document(const char* index_path, KmsDocument* doc) {
  try {
    std::string path = IndexPath(index_path);
    if (doc == nullptr || path.empty()) return -1;
    std::shared_ptr<IndexWriter> writer = OpenWriter(path);
    bool own = !writer;
    if (own) writer = std::make_shared<IndexWriter>(path);
    std::lock_guard<std::mutex> lock(writer->mutex());
    bool changed = false;
    Xapian::Document xdoc = tomeva::kms::BuildDocument(doc->pending, &writer->fields(), &changed);
    if (changed) writer->MarkFieldsChanged();
    writer->Insert(xdoc, doc->pending.key.empty() ? "" : tomeva::kms::KeyTerm(doc->pending.key));
    if (own) writer->Commit();
    return 0;
  } catch (...) {
    return -1;
  }
}

void KMS_Free_Document(KmsDocument* doc) { delete doc; }

KmsSearch* KMS_Search(const char* index_path, const char* query, const char* charset,
                      const char* default_field) {
  try {
    auto s = std::make_unique<KmsSearch>();
    s->query_utf8 = tomeva::GbkToUtf8(query ? query : "");
    s->default_field = default_field && *default_field ? default_field : "content";
    // The path as given usually names the index exactly; resolving separators and letter case
    // costs file look-ups, so it is done only when the index is not found as given.
    if (index_path != nullptr && *index_path != '\0' && std::strchr(index_path, '\\') == nullptr) {
      s->index_path = index_path;
      s->reader = PooledReader::Acquire(s->index_path);
    }
    if (!s->reader) {
      std::string resolved = IndexPath(index_path);
      if (resolved.empty() || resolved == s->index_path) return nullptr;
      s->index_path = resolved;
      s->reader = PooledReader::Acquire(s->index_path);
    }
    if (!s->reader) return nullptr;
    if (!WithRetry(s.get(), true, [] {})) return nullptr;
    return s.release();
  } catch (...) {
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
        search->window = search->enquire->get_mset(first, kWindow);
        search->window_first = first;
        size = static_cast<int>(search->window.size());
      }
      have = n - search->window_first < size;
      if (have) {
        Xapian::MSetIterator it = search->window[n - search->window_first];
        hit->data = it.get_document().get_data();
      }
    });
    if (!ok || !have) return nullptr;
    return (search->hits[n] = std::move(hit)).get();
  } catch (...) {
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

char* KMS_Get_Keywords(const char* query, const char* charset) {
  try {
    std::string words = tomeva::kms::ExtractKeywords(tomeva::GbkToUtf8(query ? query : ""));
    return CopyOut(tomeva::Utf8ToGbk(words));
  } catch (...) {
    return CopyOut("");
  }
}

void KMS_Free_Keywords(char* keywords) { std::free(keywords); }

}  // extern "C"

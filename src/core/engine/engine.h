// Engine: everything core asks of the full-text engine, behind one interface, in core's terms.
// Searching an index (its hits ranked once, read page by page), the engine's words of a query
// text, how the engine reads a query (as data), the folded form of a text that lets every form
// of a keyword be found, and the writes that change an index (open, insert, commit, optimise,
// batches). src/engine_kms implements it over the engine library's KMS_ functions, and is the
// only code outside the engine library that sees them; tests implement it with fakes. Programs
// create one and hand it to the document, the highlighter and the import, as they do the
// platform.
//
// Texts are GBK, as everywhere in core. Index paths name the index folder as the settings give
// it. No call throws. Every call may be made from any thread (the highlight workers fold texts
// while the user-interface thread searches); one writer per index at a time.
#ifndef TOMEVA_CORE_ENGINE_ENGINE_H_
#define TOMEVA_CORE_ENGINE_ENGINE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

enum QueryMode : int {
  kQueryExact = 0,    // every word quoted, joined by AND
  kQueryNatural = 1,  // as typed; keywords from the engine
  kQueryAuto = 2,     // up to three Chinese characters quoted as a whole
};

// One hit: the record text (root `record`, one element per field) and its category number.
struct SearchHit {
  std::string xml;
  int category = 0;
};

// An index that a search could not run on: missing, unreadable or damaged, or kept on an index
// server that could not be reached. Such a search is not one without hits: it did not happen.
struct SearchFailure {
  bool failed = false;
  std::string index_path;  // the index that could not be opened, as given
  // The engine's reason (GBK, one line; may be empty). For an index kept on an index server:
  // kTextIndexServerUnreachable naming the server, then the engine's reason in brackets.
  std::string reason;
  std::string server;  // "HOST:PORT" of that index server; empty for a local index
};

// How the engine reads a query on an index, for the reader: the parts it ran, and the same as
// the lines the reader is shown (表达式, 字段, 短语, 优先, 繁简通查, 不能检索).
struct QueryReading {
  std::string expression;             // the expression run: field:word, AND, OR, ( ) ...
  std::vector<std::string> fields;    // the fields searched
  std::vector<std::string> phrases;   // each phrase as searched (folded)
  std::string typed_run;              // the words as typed that rank first together; "" none
  std::vector<std::string> widened;   // each word or phrase whose other forms are searched too
  bool unsearchable = false;          // a word holds a character the index never takes
  std::string text;                   // the lines, "\n" after each

  // Whether folding widened the query: simplified and traditional forms found each other.
  bool Widened() const { return !widened.empty(); }
};

// A text as the engine folds it for searching (traditional characters as simplified, full-width
// letters and digits as ASCII, letters in lower case), with the way back: offsets[i] is the
// offset in the source text of the character folded byte i comes from, and the last entry (one
// past folded's end) the source's size.
struct FoldedText {
  std::string folded;
  std::vector<int> offsets;
};

// One field of a document to index. stored: given back with a hit (IndexSearch::Field);
// indexed: searchable by its name ("content" is the default field); tokenized: split into
// words, otherwise the whole value is one term.
struct IndexField {
  std::string name;
  std::string value;
  bool stored = true;
  bool indexed = true;
  bool tokenized = true;
};

// A document to insert. A non-empty `key` replaces the document of that key already in the
// index; a non-empty `batch` keeps the document from searches until the batch is published.
struct IndexDocument {
  std::vector<IndexField> fields;
  std::string key;
  std::string batch;
};

// The hits of one query on one index, ranked once when the search ran; reading hits does not
// search again, unless the index stopped answering this search (an index server restarted, or
// its connection was closed while the reader read a page), when it is searched again once, as
// a new search would be. Not shared between threads.
class IndexSearch {
 public:
  virtual ~IndexSearch() = default;
  // Exact number of hits; 0 once the search is lost.
  virtual int HitCount() const = 0;
  // The stored value of field `name` of hit `n` (from 0, in ranking order); nothing when `n` is
  // out of range, the hit has no such field, or the search is lost.
  virtual std::optional<std::string> Field(int n, const std::string& name) = 0;
  // Why the index could not be searched again after it stopped answering (one line, may be
  // empty); nothing while the search answers.
  virtual std::optional<std::string> Lost() const { return std::nullopt; }
  // How the engine read the expression when it ran this search, so that the reader is shown it
  // without the expression being read again; nothing when the engine cannot tell (ask
  // Engine::ReadQuery then).
  virtual std::optional<QueryReading> Reading() const { return std::nullopt; }
};

// The results of one search as the document uses them: hits over all of its indexes, 10 a page.
class SearchResults {
 public:
  virtual ~SearchResults() = default;
  // Total hits as the engine reports them (a negative count means none).
  virtual int GetTotalCount() const = 0;
  // Hit n (0-based) of the whole result; an empty hit when out of range.
  virtual SearchHit GetHit(int n) = 0;
  // The words to mark in the pages, in the engine's order.
  virtual const std::vector<std::string>& keywords() const = 0;
  // How the engine read the query; empty when unknown.
  virtual const QueryReading& reading() const {
    static const QueryReading none;
    return none;
  }
  // Set when an index could not be searched: the count then says nothing about whether the
  // library holds the words.
  virtual const SearchFailure& failure() const {
    static const SearchFailure none;
    return none;
  }
};

// One search as the document asks for it: the query as typed, the field searched, a condition
// put in front of the query ("" = none) and the query mode.
struct SearchRequest {
  std::string query;
  std::string field = "content";
  std::string condition;
  QueryMode mode = kQueryNatural;
};

class Engine {
 public:
  virtual ~Engine() = default;

  // ---- Searching

  // The results of `request` over `index_paths` (at most CResultSet::kMaxIndexes are used):
  // the query rewritten by its mode, its keywords and reading, its first page. Never null. The
  // default is core's CResultSet over the calls below.
  virtual std::unique_ptr<SearchResults> Search(const std::vector<std::string>& index_paths,
                                                const SearchRequest& request);

  // Runs `expression` (the engine's query language; unprefixed words go to `default_field`) on
  // the index. Null when the index cannot be searched (missing, unreadable, damaged, its server
  // unreachable) or the expression is past the engine's limits, with the engine's reason in
  // `*reason` (may be empty).
  virtual std::unique_ptr<IndexSearch> SearchIndex(const std::string& index,
                                                   const std::string& expression,
                                                   const std::string& default_field,
                                                   std::string* reason) = 0;

  // The engine's words of a query text, in order (Chinese words, no white space, punctuation or
  // connectives). Nothing when the text is past what a search takes: its words would not be
  // searched either.
  virtual std::optional<std::vector<std::string>> QueryWords(std::string_view query) = 0;

  // How the engine reads `expression` with `default_field` on `index` (its fields and term
  // scheme decide). Nothing when the index cannot be opened or the expression is past the
  // engine's limits.
  virtual std::optional<QueryReading> ReadQuery(const std::string& index,
                                                const std::string& expression,
                                                const std::string& default_field) = 0;

  // `text` (up to its first NUL) folded, with offsets as FoldedText says. Nothing when the
  // engine cannot fold (out of memory).
  virtual std::optional<FoldedText> Fold(std::string_view text) = 0;

  // ---- Index writes. Each is checked; a false return leaves the engine's reason (one line) in
  // `*reason` (may be null), so that no caller commits data the index did not take.

  // Opens the index for writing (mode 1: inserts; created when missing) or optimising (mode 0).
  virtual bool OpenIndex(const std::string& index, int mode, std::string* reason) = 0;
  // Inserts through the open writer.
  virtual bool InsertDocument(const std::string& index, const IndexDocument& doc,
                              std::string* reason) = 0;
  // Commits and lets the writer go (also when the commit fails): true when everything inserted
  // since the open is durable.
  virtual bool CloseIndex(const std::string& index, std::string* reason) = 0;
  // Compacts the index in place (atomically swapped in).
  virtual bool OptimizeIndex(const std::string& index, std::string* reason) = 0;
  // Writes the index again in the engine's current term scheme from its stored fields.
  virtual bool ReindexIndex(const std::string& index, std::string* reason) = 0;
  // Makes the batch's documents visible / deletes them; each one commit.
  virtual bool PublishBatch(const std::string& index, const std::string& batch,
                            std::string* reason) = 0;
  virtual bool DiscardBatch(const std::string& index, const std::string& batch,
                            std::string* reason) = 0;
  // The names of the batches in the index as of its last commit (none for a folder that holds
  // no index yet); nothing when the index cannot be read.
  virtual std::optional<std::vector<std::string>> ListBatches(const std::string& index,
                                                              std::string* reason) = 0;
  // "HOST:PORT" of the index server an index folder names (a station of a reading room, whose
  // index is written where it is kept); "" for a local index or a folder without one.
  virtual std::string IndexServer(const std::string& index) = 0;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_ENGINE_ENGINE_H_

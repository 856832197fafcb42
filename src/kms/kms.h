// The interface to the full-text engine library (built from src/kms). Strings are NUL-terminated
// GBK; the charset argument is accepted for compatibility and ignored (callers pass "GBK").
// Handles are opaque. An index is named by its folder path, passed as the same string to every
// call on it.
//
// Calling orders:
//   building:   KMS_Init; KMS_Open(path, 1); per record KMS_New_Document, KMS_Add_Field...,
//               KMS_Insert_Document, KMS_Free_Document; KMS_Close(path)
//   optimising: KMS_Open(path, 0); KMS_Optimize(path); KMS_Close(path)
//   searching:  KMS_Search (no Open needed); KMS_HitCount; KMS_Hit + KMS_Get_Field/KMS_Free_Field;
//               KMS_ClearSearch
//
// No function throws; bad input (a query that does not parse, bytes that are not GBK, a missing
// index) gives an empty result or a non-zero status. Every call that fails (a non-zero status, or
// NULL where the contract says so) keeps its reason for KMS_Last_Error. Searches read what was
// last committed and never block the writer. Functions may be called from any thread; one writer
// per index.
#ifndef TOMEVA_KMS_KMS_H_
#define TOMEVA_KMS_KMS_H_

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KmsDocument KmsDocument;
typedef struct KmsSearch KmsSearch;
typedef struct KmsHit KmsHit;

// Process-wide initialisation; may be called any number of times.
void KMS_Init(void);

// Opens the index folder for writing (mode 1: to insert; created when missing) or for optimising
// (mode 0). Until KMS_Close, inserts go to this writer. Opening an index this process has open
// already only counts: each KMS_Open wants its KMS_Close, and the last one commits. Returns 0 on
// success; non-zero when the index cannot be opened for writing (another process holds its write
// lock, the folder cannot be created, the index is damaged), with the reason in KMS_Last_Error;
// nothing is open then.
int KMS_Open(const char* index_path, int mode);

// Commits what was inserted and releases the writer (an inner KMS_Close of nested opens only
// counts, and returns 0). Returns 0 when everything inserted since the open is durable in the
// index; non-zero when the index was not open, or when the commit failed: what was inserted
// since the last commit is then not durable and should be inserted again. The writer is released
// either way. The reason is in KMS_Last_Error.
int KMS_Close(const char* index_path);

// Commits, then compacts the index into a new folder and swaps it in atomically, through the
// open writer or one opened for the call. Returns 0 on success; non-zero (the committed index
// left as it was) otherwise, with the reason in KMS_Last_Error.
int KMS_Optimize(const char* index_path);

// Why the last failed KMS_ call of the calling thread failed: GBK, one line, naming the index
// folder as the caller wrote it, e.g. "索引/lib/SearchDB被另一个程序锁定" or
// "索引/lib/SearchDB已损坏：<Xapian's message>". "" when no call of this thread has failed.
// Successful calls leave it as it is, so it may be asked after a few calls; it says nothing about
// whether the latest one failed. Owned by the engine; valid until the thread's next failing call.
const char* KMS_Last_Error(void);

// The index server of an index folder whose stub names one (a station of a reading room: its
// searches go to Xapian's xapian-tcpsrv there, and KMS_Open for writing, KMS_Insert_Document,
// the batch calls, KMS_Optimize and KMS_Reindex on it fail, naming the server, since books are
// imported where the index is kept): "HOST:PORT" (several servers joined by ", "), owned by the
// caller until KMS_Free_Field. NULL for a local index or a folder without an index.
char* KMS_Index_Server(const char* index_path);

// Uncommitted batches. A document given a batch name before its insert is stored like any other
// but no search finds it until the batch is published; a discarded batch is deleted. A caller
// that must not let half of a group be found (the import of a book) inserts the group as a batch,
// commits it, records the group as its own commit point, and only then publishes it; after a
// crash it publishes or discards the batches it finds (KMS_Get_Batches) by its own record.
//
// Keys and batches: a key names at most one visible document and at most one batch document.
// Inserting a batch document with a key replaces the batch document of that key (whatever its
// batch), never the visible one, so searches go on finding the visible document until the batch
// is published. Publishing replaces the visible document of the key with the batch's (which
// takes its place among equal scores); discarding leaves the visible one as it was. A document
// inserted without a batch replaces the visible document of its key only. So a book imported
// again after a crash never shows twice, and never vanishes while its new copy waits.
//
// Publish and discard work through the open writer (KMS_Open) or one opened for the call; each
// commits what was inserted before it, and is itself one commit: after a crash the batch is
// wholly published (or deleted) or not at all. Both are idempotent; on a folder without an index
// they do nothing and return 0.
//
// Names the batch of the document (non-empty, at most 200 bytes, no tab or line break). Returns
// 0 on success.
int KMS_Set_Batch(KmsDocument* doc, const char* batch);
// Makes every document of the batch visible to searches and commits. Returns 0 on success (also
// for a batch with no documents); non-zero with KMS_Last_Error otherwise.
int KMS_Publish_Batch(const char* index_path, const char* batch);
// Deletes every document of the batch and commits. Returns 0 on success (also for a batch with
// no documents); non-zero with KMS_Last_Error otherwise.
int KMS_Discard_Batch(const char* index_path, const char* batch);
// The names of the batches with documents in the index as of its last commit, in byte order,
// each followed by "\n" ("" when none, also when the folder holds no index yet), as a string
// owned by the caller until KMS_Free_Field; NULL, with KMS_Last_Error, when the index cannot be
// read (damaged, unreadable).
char* KMS_Get_Batches(const char* index_path);

KmsDocument* KMS_New_Document(void);

// Adds a field. stored = 1: returned by KMS_Get_Field; indexed = 1: searchable by its name
// ("content" is the default field); tokenized = 1: split into words (CJK as n-grams), otherwise the
// whole value is one term. Returns 0 on success.
int KMS_Add_Field(KmsDocument* doc, const char* name, const char* value, const char* charset,
                  int stored, int indexed, int tokenized);

// Gives the document a key unique within the index: inserting a document whose key is already in
// the index replaces that document instead of adding a second (for documents of batches, see
// "Keys and batches" above). Returns 0 on success.
int KMS_Set_Key(KmsDocument* doc, const char* key);

// Inserts into the index (through the open writer, or a writer opened and closed for this one
// call, which commits). Returns 0 on success; non-zero with KMS_Last_Error (no writer, the index
// cannot be opened or written).
int KMS_Insert_Document(const char* index_path, KmsDocument* doc);

void KMS_Free_Document(KmsDocument* doc);

// Runs a query: field:terms, "quoted phrases", AND, OR; unprefixed terms go to `default_field`
// (NULL or "" = "content"). On an index of the current term scheme, simplified and traditional
// forms find each other and symbols are searchable; and an expression that is only bare words of
// the default field joined by AND (what the automatic and natural modes make of a typed run)
// ranks the records holding those words together and in order first, with the same hits.
// Returns NULL when the index cannot be opened (missing, unreadable or damaged) or the expression
// is past one of its limits (64 KiB, 2,048 words, names, connectives and brackets, 2,048 terms, 32
// nested brackets), with the reason in KMS_Last_Error: a caller can tell that from a search
// without hits.
KmsSearch* KMS_Search(const char* index_path, const char* query, const char* charset,
                      const char* default_field);

// Exact number of hits.
int KMS_HitCount(KmsSearch* search);

// Hit n (from 0) in ranking order; owned by the search; NULL when out of range.
KmsHit* KMS_Hit(KmsSearch* search, int n);

// Stored value of a field of a hit, as a string owned by the caller until KMS_Free_Field; NULL
// when the hit has no such field.
char* KMS_Get_Field(KmsHit* hit, const char* name, const char* charset);
void KMS_Free_Field(char* value);

// Frees a search and its hits; NULL is accepted.
void KMS_ClearSearch(KmsSearch* search);

// Writes the index again in the engine's current term scheme from its documents' stored fields
// (an index written by an earlier version keeps answering as it always did until then): same
// documents, ids, keys, batches and fields, in a new generation swapped in atomically as
// KMS_Optimize does, through the open writer or one opened for the call. Returns 0 on success;
// non-zero, with KMS_Last_Error, when the index is missing or cannot be written, or when a record
// has a searchable field whose value was not stored (it could not be written again): the index
// is then left exactly as it was.
int KMS_Reindex(const char* index_path);

// How the engine reads `query` (the KMS_Search expression) on the index, for a person: GBK lines
//   表达式：<the expression run, as field:word, field:"phrase", AND, OR, AND NOT, ( )>
//   字段：<the fields searched>
//   短语：<each phrase as searched, or 无>
//   优先：<the typed run ranked first>          only when there is one
//   繁简通查：<each word or phrase it widens>   only when folding finds other forms
//   不能检索：…                                  only when a word holds a character never indexed
// Words and phrases are shown folded. The index decides: its fields, and its term scheme (an
// index written before folding is read without it). NULL, with KMS_Last_Error, when the index
// cannot be opened or the expression is past KMS_Search's limits; a caller frees the text with
// KMS_Free_Field.
char* KMS_Query_Reading(const char* index_path, const char* query, const char* charset,
                        const char* default_field);

// The same lines for a search already run: how its expression was read when it was ranked (on
// the index as it was then), without reading the expression again. NULL for a NULL search; the
// caller frees the text with KMS_Free_Field.
char* KMS_Search_Reading(KmsSearch* search);

// A GBK text folded as the current term scheme reads it — traditional characters as simplified,
// full-width letters and digits as ASCII, letters in lower case — so that a caller can find every
// form of a keyword in a record: fold both, search the folded text, and map a match back through
// `*source_offsets`, which receives (when not NULL) an array of strlen(result) + 1 offsets: for
// each byte of the result, the offset in `text` of the character it comes from, and last
// strlen(text). Free the text with KMS_Free_Field and the offsets with KMS_Free_Offsets. NULL
// only when memory runs out.
char* KMS_Fold_Text(const char* text, const char* charset, int** source_offsets);
void KMS_Free_Offsets(int* offsets);

// Words of a query text, joined by single spaces (GBK). NULL, with KMS_Last_Error, only for a
// text longer than KMS_Search takes (64 KiB): its words would not be searched either.
char* KMS_Get_Keywords(const char* query, const char* charset);
void KMS_Free_Keywords(char* keywords);

#ifdef __cplusplus
}
#endif

#endif  // TOMEVA_KMS_KMS_H_

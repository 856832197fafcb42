// The interface to the full-text engine library (built from src/kms). Strings are NUL-terminated
// GBK; the charset argument is accepted for compatibility and should be "gb2312". Handles are
// opaque. An index is named by its folder path, passed as the same string to every call on it.
//
// Calling orders:
//   building:   KMS_Init; KMS_Open(path, 1); per record KMS_New_Document, KMS_Add_Field...,
//               KMS_Insert_Document, KMS_Free_Document; KMS_Close(path)
//   optimising: KMS_Open(path, 0); KMS_Optimize(path); KMS_Close(path)
//   searching:  KMS_Search (no Open needed); KMS_HitCount; KMS_Hit + KMS_Get_Field/KMS_Free_Field;
//               KMS_ClearSearch
//
// No function throws; bad input (a query that does not parse, bytes that are not GBK, a missing
// index) gives an empty result or a non-zero status. Searches read what was last committed and
// never block the writer. Functions may be called from any thread; one writer per index.
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
// (mode 0). Until KMS_Close, inserts go to this writer.
void KMS_Open(const char* index_path, int mode);

// Commits what was inserted and releases the writer.
void KMS_Close(const char* index_path);

// Compacts the index into a new folder and swaps it in atomically.
void KMS_Optimize(const char* index_path);

KmsDocument* KMS_New_Document(void);

// Adds a field. stored = 1: returned by KMS_Get_Field; indexed = 1: searchable by its name
// ("content" is the default field); tokenized = 1: split into words (CJK as n-grams), otherwise the
// whole value is one term. Returns 0 on success.
int KMS_Add_Field(KmsDocument* doc, const char* name, const char* value, const char* charset,
                  int stored, int indexed, int tokenized);

// Gives the document a key unique within the index: inserting a document whose key is already in
// the index replaces that document instead of adding a second. Returns 0 on success.
int KMS_Set_Key(KmsDocument* doc, const char* key);

// Inserts into the index (through the open writer, or a writer opened and closed for this one
// call). Returns 0 on success.
int KMS_Insert_Document(const char* index_path, KmsDocument* doc);

void KMS_Free_Document(KmsDocument* doc);

// Runs a query: field:terms, "quoted phrases", AND, OR; unprefixed terms go to `default_field`
// (NULL or "" = "content"). Returns NULL when the index cannot be opened.
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

// Words of a query text, joined by single spaces (GBK). Never NULL.
char* KMS_Get_Keywords(const char* query, const char* charset);
void KMS_Free_Keywords(char* keywords);

#ifdef __cplusplus
}
#endif

#endif  // TOMEVA_KMS_KMS_H_

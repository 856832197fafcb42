// Helpers shared by the engine's API tests: inserting records the way the index builder does,
// and running a query to a count.
#ifndef TOMEVA_TESTS_KMS_KMS_TEST_UTIL_H_
#define TOMEVA_TESTS_KMS_KMS_TEST_UTIL_H_

#include <string>
#include <vector>

#include "corpus.h"

namespace tomeva::kms_test {

// The record's "content" as the index builder makes it: title, author, body and category, one
// per line (GBK).
std::string ContentOf(const bench::CorpusRecord& r);

// Inserts record `id` with the fields the index builder adds ("xml" stored only; "content",
// "title", "author", "f15" stored and searchable). The xml value is XmlOf(id). Returns the status.
int InsertRecord(const std::string& index, const bench::CorpusRecord& r, int id,
                 const char* key = nullptr);
std::string XmlOf(int id);

// Builds an index of all `records` (open, insert, close). Returns the first non-zero status, or 0.
int BuildIndex(const std::string& index, const std::vector<bench::CorpusRecord>& records);

// Hit count of a GBK query, or -1 when KMS_Search returned NULL.
int Count(const std::string& index, const std::string& gbk_query, const char* field = nullptr);
// Same with the query given as UTF-8.
int CountU(const std::string& index, const std::string& utf8_query, const char* field = nullptr);

// A UTF-8 text folded as the engine reads it (KMS_Fold_Text).
std::string FoldU(const std::string& utf8);

// The "xml" values of hits [0, n) of a UTF-8 query.
std::vector<std::string> HitXml(const std::string& index, const std::string& utf8_query, int n);

}  // namespace tomeva::kms_test

#endif  // TOMEVA_TESTS_KMS_KMS_TEST_UTIL_H_

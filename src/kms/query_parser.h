// The query language of KMS_Search, parsed into a Xapian query:
//   expr    := or
//   or      := and ("OR" and)*
//   and     := unary (["AND"] unary)*        bare neighbours are joined by AND
//   unary   := ["NOT"] primary                a NOT b = a AND NOT b; a leading NOT is dropped
//   primary := name ":" primary | "(" expr ")" | "\"phrase\"" | word
// The connectives are recognised in any letter case. A name is an ASCII identifier directly before
// ":" and applies to the one primary that follows; a word or phrase without a name goes to the
// default field. A word or phrase becomes a phrase query of its terms (see terms.h), so an unquoted
// run of Chinese characters is matched as a whole. A name the index does not know matches nothing.
//
// Every input within the limits parses: an unbalanced quote runs to the end, stray ")" and missing
// operands are skipped, and a query without terms matches nothing. The limits (QueryLimits) keep
// what an expression can cost in bounds: past any of them the parser throws QueryRefused, which
// says which one, rather than spend seconds and megabytes on it. Parsing and the query built are
// linear in the expression: a chain of one connective is one n-ary Xapian query, never a nest.
//
// Typed words first: in the folding scheme, an expression that is only a conjunction, holding two
// or more bare (unquoted) words of the default field, is what the automatic and natural modes
// make of a typed run ("白日依山" arrives as "content:白 AND 日 AND 依 AND 山"). Records holding
// those words together and in order — one phrase of them, joined without a space between two
// characters and with one elsewhere — then rank before all others, and by the engine's score
// within each group. The hits and their count do not change: the phrase only adds weight
// (OP_AND_MAYBE with a fixed weight of kTypedRunWeight, more than BM25 gives any query). Quoted
// words (the exact mode, the automatic mode's short queries) are never joined.
#ifndef TOMEVA_KMS_QUERY_PARSER_H_
#define TOMEVA_KMS_QUERY_PARSER_H_

#include <xapian.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kms/field_registry.h"

namespace tomeva::kms {

// What one expression may hold. The longest the program builds itself is a book restriction, a
// field name and a query box of 100 characters: under 1 KB and about a hundred words, so these
// leave ample room for a person or a tool and keep a hostile expression from costing more than a
// few milliseconds.
inline constexpr size_t kMaxExpressionBytes = 64 * 1024;  // UTF-8 bytes of the expression
inline constexpr size_t kMaxLexemes = 2048;  // words, phrases, names, connectives and brackets
inline constexpr size_t kMaxTerms = 2048;    // terms the words and phrases become, all fields
inline constexpr int kMaxDepth = 32;         // brackets inside brackets

struct QueryLimits {
  size_t max_bytes = kMaxExpressionBytes;
  size_t max_lexemes = kMaxLexemes;
  size_t max_terms = kMaxTerms;
  int max_depth = kMaxDepth;
};

// Thrown for an expression past one of its limits.
class QueryRefused : public std::runtime_error {
 public:
  enum class Limit { kBytes, kLexemes, kTerms, kDepth };
  QueryRefused(Limit limit, size_t bound)
      : std::runtime_error("query expression past its limit"), limit_(limit), bound_(bound) {}
  Limit limit() const { return limit_; }
  size_t bound() const { return bound_; }  // the limit's value

 private:
  Limit limit_;
  size_t bound_;
};

// Weight added to the records holding the typed words together. A BM25 term weighs at most a few
// tens (log of the record count, times small constants), so this outweighs any query a person
// types while leaving the scores of a double exact.
inline constexpr double kTypedRunWeight = 1e6;

// A parsed query and how it was read (UTF-8 texts, for KMS_Query_Reading).
struct ParsedQuery {
  Xapian::Query query;               // what is run: `base`, with the typed run ranked first
  Xapian::Query base;                // the expression alone: the hits and their count
  std::string expression;            // readable: field:word, field:"phrase", AND, OR, NOT, ( )
  std::vector<std::string> fields;   // the fields searched, each once, in order
  std::vector<std::string> phrases;  // each phrase as searched (folded), field:"..."
  std::string typed_run;             // field:"run" ranked first, or empty
  std::vector<std::string> widened;  // "原文→折叠" of each word or phrase that folding widened
  bool unindexable = false;          // some word or phrase holds a character that cannot be indexed
};

// `utf8` is the query text; `default_field` names the field of unprefixed terms (empty =
// "content"). Throws QueryRefused past `limits` (and std::bad_alloc), nothing else.
ParsedQuery ParseQueryFull(std::string_view utf8, std::string_view default_field,
                           const FieldRegistry& fields, const QueryLimits& limits = {});

// ParseQueryFull(...).query.
Xapian::Query ParseQuery(std::string_view utf8, std::string_view default_field,
                         const FieldRegistry& fields, const QueryLimits& limits = {});

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_QUERY_PARSER_H_

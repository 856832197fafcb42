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
// Every input parses: an unbalanced quote runs to the end, stray ")" and missing operands are
// skipped, nesting deeper than kMaxDepth is read flat, and a query without terms matches nothing.
#ifndef TOMEVA_KMS_QUERY_PARSER_H_
#define TOMEVA_KMS_QUERY_PARSER_H_

#include <xapian.h>

#include <string_view>

#include "kms/field_registry.h"

namespace tomeva::kms {

inline constexpr int kMaxDepth = 32;

// `utf8` is the query text; `default_field` names the field of unprefixed terms (empty =
// "content"). Never throws (beyond std::bad_alloc).
Xapian::Query ParseQuery(std::string_view utf8, std::string_view default_field,
                         const FieldRegistry& fields);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_QUERY_PARSER_H_

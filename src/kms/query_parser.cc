#include "kms/query_parser.h"

#include <optional>
#include <string>
#include <vector>

#include "core/base/mbstring.h"
#include "kms/terms.h"

namespace tomeva::kms {
namespace {

enum class Kind { kEnd, kAnd, kOr, kNot, kOpen, kClose, kField, kPhrase, kWord };

struct Lexeme {
  Kind kind;
  std::string text;
};

bool IsSpaceAt(std::string_view s, size_t i, size_t* len) {
  char c = s[i];
  if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
    *len = 1;
    return true;
  }
  if (s.substr(i, 3) == "\xE3\x80\x80") {  // ideographic space
    *len = 3;
    return true;
  }
  return false;
}

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// Length of a field name at the start of `word` (an identifier followed by ":"), or 0.
size_t FieldNameLength(std::string_view word) {
  if (word.empty() || !IsIdentStart(word[0])) return 0;
  size_t n = 1;
  while (n < word.size() && IsIdentChar(word[n])) ++n;
  return n < word.size() && word[n] == ':' ? n : 0;
}

std::vector<Lexeme> Lex(std::string_view s) {
  std::vector<Lexeme> out;
  size_t i = 0;
  size_t space_len = 0;
  while (i < s.size()) {
    if (IsSpaceAt(s, i, &space_len)) {
      i += space_len;
      continue;
    }
    char c = s[i];
    if (c == '(' || c == ')') {
      out.push_back({c == '(' ? Kind::kOpen : Kind::kClose, ""});
      ++i;
      continue;
    }
    if (c == '"') {
      size_t end = s.find('"', i + 1);
      if (end == std::string_view::npos) end = s.size();  // an unclosed quote runs to the end
      out.push_back({Kind::kPhrase, std::string(s.substr(i + 1, end - i - 1))});
      i = end + 1;
      continue;
    }
    size_t end = i;
    while (end < s.size() && s[end] != '"' && s[end] != '(' && s[end] != ')' &&
           !IsSpaceAt(s, end, &space_len)) {
      ++end;
    }
    std::string_view word = s.substr(i, end - i);
    i = end;
    bool after_field = false;
    while (size_t n = FieldNameLength(word)) {
      out.push_back({Kind::kField, std::string(word.substr(0, n))});
      word.remove_prefix(n + 1);
      after_field = true;
    }
    if (word.empty()) continue;
    if (!after_field && EqualsNoCase(word, "AND")) {
      out.push_back({Kind::kAnd, ""});
    } else if (!after_field && EqualsNoCase(word, "OR")) {
      out.push_back({Kind::kOr, ""});
    } else if (!after_field && EqualsNoCase(word, "NOT")) {
      out.push_back({Kind::kNot, ""});
    } else {
      out.push_back({Kind::kWord, std::string(word)});
    }
  }
  out.push_back({Kind::kEnd, ""});
  return out;
}

// A sub-query, or nothing at all (an operand without terms, which the connectives skip).
using Part = std::optional<Xapian::Query>;

Part Combine(Xapian::Query::op op, Part a, Part b) {
  if (!a) return op == Xapian::Query::OP_AND_NOT ? a : b;
  if (!b) return a;
  return Xapian::Query(op, *a, *b);
}

class Parser {
 public:
  Parser(std::vector<Lexeme> lexemes, std::string_view default_field, const FieldRegistry& fields)
      : lex_(std::move(lexemes)), default_field_(default_field), fields_(fields) {}

  Xapian::Query Run() {
    Part q = ParseOr(default_field_, 0);
    while (Peek() != Kind::kEnd) {  // a stray ")" ends an expression early; go on after it
      ++i_;
      q = Combine(Xapian::Query::OP_AND, q, ParseOr(default_field_, 0));
    }
    return q ? *q : Xapian::Query();
  }

 private:
  Kind Peek() const { return lex_[i_].kind; }

  static bool StartsPrimary(Kind k) {
    return k == Kind::kField || k == Kind::kOpen || k == Kind::kPhrase || k == Kind::kWord;
  }

  Part ParseOr(const std::string& field, int depth) {
    Part q = ParseAnd(field, depth);
    while (Peek() == Kind::kOr) {
      ++i_;
      q = Combine(Xapian::Query::OP_OR, q, ParseAnd(field, depth));
    }
    return q;
  }

  Part ParseAnd(const std::string& field, int depth) {
    Part q;
    bool negate = false;
    for (;;) {
      Kind k = Peek();
      if (k == Kind::kAnd) {
        ++i_;
      } else if (k == Kind::kNot) {
        ++i_;
        negate = true;
      } else if (StartsPrimary(k)) {
        Part p = ParsePrimary(field, depth);
        q = Combine(negate ? Xapian::Query::OP_AND_NOT : Xapian::Query::OP_AND, q, p);
        negate = false;
      } else {
        return q;  // ")", "OR" or the end
      }
    }
  }

  // Consumes at least one lexeme.
  Part ParsePrimary(std::string field, int depth) {
    while (Peek() == Kind::kField) field = lex_[i_++].text;
    Kind k = Peek();
    if (k == Kind::kOpen) {
      ++i_;
      if (depth >= kMaxDepth) return Part();  // read the rest flat
      Part q = ParseOr(field, depth + 1);
      if (Peek() == Kind::kClose) ++i_;
      return q;
    }
    if (k == Kind::kPhrase || k == Kind::kWord) return Atom(field, lex_[i_++].text);
    return Part();  // a name with nothing after it
  }

  Part Atom(const std::string& field, const std::string& text) {
    std::vector<FieldInfo> targets =
        fields_.Resolve(field.empty() ? std::string(kContentField) : field);
    if (targets.empty()) return Xapian::Query();  // unknown field: matches nothing
    Part q;
    for (const FieldInfo& f : targets) {
      Xapian::Query sub;
      if (f.tokenized) {
        if (!PhraseQuery(text, f.prefix, fields_.scheme(), &sub)) continue;
      } else {
        std::string term = WholeValueTerm(text, f.prefix);
        if (term.size() == f.prefix.size()) continue;
        sub = Xapian::Query(term);
      }
      q = Combine(Xapian::Query::OP_OR, q, sub);
    }
    return q;
  }

  std::vector<Lexeme> lex_;
  size_t i_ = 0;
  std::string default_field_;
  const FieldRegistry& fields_;
};

}  // namespace

Xapian::Query ParseQuery(std::string_view utf8, std::string_view default_field,
                         const FieldRegistry& fields) {
  return Parser(Lex(utf8), default_field, fields).Run();
}

}  // namespace tomeva::kms

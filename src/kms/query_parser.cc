#include "kms/query_parser.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <unicode/unistr.h>

#include "base/mbstring.h"
#include "kms/fold.h"
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

// Stops at the first lexeme past `max_lexemes`, so that a hostile expression costs no more than
// the limit's worth of reading.
std::vector<Lexeme> Lex(std::string_view s, size_t max_lexemes) {
  std::vector<Lexeme> out;
  size_t i = 0;
  size_t space_len = 0;
  while (i < s.size()) {
    if (out.size() > max_lexemes) {
      throw QueryRefused(QueryRefused::Limit::kLexemes, max_lexemes);
    }
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
    if (out.size() > max_lexemes) throw QueryRefused(QueryRefused::Limit::kLexemes, max_lexemes);
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
  if (out.size() > max_lexemes) throw QueryRefused(QueryRefused::Limit::kLexemes, max_lexemes);
  out.push_back({Kind::kEnd, ""});
  return out;
}

// A sub-query, or nothing at all (an operand without terms, which the connectives skip), with
// its readable text; `op` is the connective at its top, for brackets in the text. The opening
// brackets of the text are kept as a count, so that bracketing a long chain when another
// connective follows it appends one character instead of copying the chain.
struct Part {
  std::optional<Xapian::Query> query;
  std::string text;  // without its `lead` opening brackets
  size_t lead = 0;
  Kind op = Kind::kWord;

  explicit operator bool() const { return query.has_value(); }
};

// One Xapian query of `op` over `subs` (at least one).
Xapian::Query Nary(Xapian::Query::op op, const std::vector<Xapian::Query>& subs) {
  return subs.size() == 1 ? subs.front() : Xapian::Query(op, subs.begin(), subs.end());
}

const char* OpName(Kind op) {
  switch (op) {
    case Kind::kOr:
      return " OR ";
    case Kind::kNot:
      return " AND NOT ";
    default:
      return " AND ";
  }
}

bool Simple(const Part& p, Kind op) {
  return p.op == Kind::kWord || (p.op == op && op != Kind::kNot);
}

// The readable text of `a`, connective `op`, `b`, left in `a`: the text of a left-nested chain,
// each operand bracketed unless it is a word or a chain of the same connective (a NOT's right
// operand only when a word). `a`'s text is extended in place; only `b`'s is copied.
void JoinText(Kind op, Part* a, const Part& b) {
  if (!Simple(*a, op)) {
    ++a->lead;
    a->text += ')';
  }
  a->text += OpName(op);
  const bool bracket_b = !Simple(b, op == Kind::kNot ? Kind::kEnd : op);
  a->text.append(b.lead + (bracket_b ? 1 : 0), '(');
  a->text += b.text;
  if (bracket_b) a->text += ')';
  a->op = op;
}

// The operands of one run of AND and AND NOT (or of OR), gathered into one n-ary query.
// Operands without terms are skipped; a NOT before any operand with terms is dropped, as is
// "a AND NOT" of nothing. `a b NOT c d NOT e` is (a AND b AND d) AND_NOT (c, e): the same
// records and weights as the chain read left to right, without a nest as deep as the chain.
class Chain {
 public:
  explicit Chain(Kind op) : op_(op) {}

  void Add(Part p, bool negate) {
    if (!p) return;
    if (!have_) {
      if (negate) return;
      subs_.push_back(std::move(*p.query));
      part_ = std::move(p);
      have_ = true;
      return;
    }
    (negate ? nots_ : subs_).push_back(std::move(*p.query));
    JoinText(negate ? Kind::kNot : op_, &part_, p);
  }

  Part Take() {
    if (!have_) return Part();
    Xapian::Query q = Nary(op_ == Kind::kOr ? Xapian::Query::OP_OR : Xapian::Query::OP_AND, subs_);
    if (!nots_.empty()) {
      nots_.insert(nots_.begin(), std::move(q));
      q = Xapian::Query(Xapian::Query::OP_AND_NOT, nots_.begin(), nots_.end());
    }
    part_.query = std::move(q);
    return std::move(part_);
  }

 private:
  Kind op_;
  bool have_ = false;
  Part part_;
  std::vector<Xapian::Query> subs_, nots_;
};

void AddOnce(std::vector<std::string>* list, const std::string& s) {
  for (const std::string& x : *list) {
    if (x == s) return;
  }
  list->push_back(s);
}

// True when some character of `utf8` has another form that the folding finds too.
bool HasFoldedForms(std::string_view utf8) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) {
    if (HasOtherForms(static_cast<char32_t>(u.char32At(i)))) return true;
  }
  return false;
}

class Parser {
 public:
  Parser(std::vector<Lexeme> lexemes, std::string_view default_field, const FieldRegistry& fields,
         const QueryLimits& limits, ParsedQuery* out)
      : lex_(std::move(lexemes)),
        default_field_(default_field),
        fields_(fields),
        limits_(limits),
        out_(out) {}

  void Run() {
    Chain all(Kind::kAnd);
    all.Add(ParseOr(default_field_, 0), false);
    while (Peek() != Kind::kEnd) {  // a stray ")" ends an expression early; go on after it
      ++i_;
      all.Add(ParseOr(default_field_, 0), false);
    }
    Part q = all.Take();
    out_->base = q ? *q.query : Xapian::Query();
    out_->query = out_->base;
    out_->expression = std::string(q.lead, '(') + q.text;
    if (q) PreferTypedRun();
  }

 private:
  Kind Peek() const { return lex_[i_].kind; }

  static bool StartsPrimary(Kind k) {
    return k == Kind::kField || k == Kind::kOpen || k == Kind::kPhrase || k == Kind::kWord;
  }

  Part ParseOr(const std::string& field, int depth) {
    Chain any(Kind::kOr);
    any.Add(ParseAnd(field, depth), false);
    while (Peek() == Kind::kOr) {
      ++i_;
      any.Add(ParseAnd(field, depth), false);
    }
    return any.Take();
  }

  Part ParseAnd(const std::string& field, int depth) {
    Chain all(Kind::kAnd);
    bool negate = false;
    for (;;) {
      Kind k = Peek();
      if (k == Kind::kAnd) {
        ++i_;
      } else if (k == Kind::kNot) {
        ++i_;
        negate = true;
      } else if (StartsPrimary(k)) {
        all.Add(ParsePrimary(field, depth), negate);
        negate = false;
      } else {
        return all.Take();  // ")", "OR" or the end
      }
    }
  }

  // Consumes at least one lexeme.
  Part ParsePrimary(std::string field, int depth) {
    while (Peek() == Kind::kField) field = lex_[i_++].text;
    Kind k = Peek();
    if (k == Kind::kOpen) {
      ++i_;
      if (depth >= limits_.max_depth) {
        throw QueryRefused(QueryRefused::Limit::kDepth, static_cast<size_t>(limits_.max_depth));
      }
      Part q = ParseOr(field, depth + 1);
      if (Peek() == Kind::kClose) ++i_;
      return q;
    }
    if (k == Kind::kPhrase || k == Kind::kWord) {
      const Lexeme& l = lex_[i_++];
      return Atom(field, l.text, l.kind == Kind::kPhrase);
    }
    return Part();  // a name with nothing after it
  }

  // The query of `text` in the fields a name stands for, OR-ed; nothing when it has no terms.
  std::optional<Xapian::Query> FieldQuery(const std::vector<FieldInfo>& targets,
                                          const std::string& text) const {
    std::vector<Xapian::Query> subs;
    for (const FieldInfo& f : targets) {
      Xapian::Query sub;
      if (f.tokenized) {
        if (!PhraseQuery(text, f.prefix, fields_.scheme(), &sub)) continue;
      } else {
        std::string term = WholeValueTerm(text, f.prefix);
        if (term.size() == f.prefix.size()) continue;
        sub = Xapian::Query(term);
      }
      subs.push_back(std::move(sub));
    }
    if (subs.empty()) return std::nullopt;
    return Nary(Xapian::Query::OP_OR, subs);
  }

  Part Atom(const std::string& field, const std::string& text, bool quoted) {
    const std::string name = field.empty() ? std::string(kContentField) : field;
    std::vector<FieldInfo> targets = fields_.Resolve(name);
    Part p;
    if (targets.empty()) {
      CountTerms(1);
      p.query = Xapian::Query::MatchNothing;  // unknown field: matches nothing
      p.text = name + ":" + Shown(text, quoted) + "（索引无此字段）";
      return p;
    }
    // Counted before the query is built: a phrase has a term per token in every field.
    bool unindexed = false;
    std::vector<Token> tokens = Tokenize(text, 1, fields_.scheme(), &unindexed);
    CountTerms(std::max<size_t>(tokens.size(), 1) * targets.size());
    p.query = FieldQuery(targets, text);
    if (!p.query) return Part();
    bool tokenized = false;
    std::string shown_names;
    for (const FieldInfo& f : targets) {
      AddOnce(&out_->fields, f.name);
      tokenized = tokenized || f.tokenized;
      shown_names += (shown_names.empty() ? "" : "|") + f.name;
    }
    const bool folds = tokenized && Folds(fields_.scheme());
    const std::string folded = folds ? FoldForScheme(text, fields_.scheme()) : text;
    const bool phrase = tokenized && tokens.size() > 1;
    p.text = shown_names + ":" + Shown(folded, quoted || phrase);
    if (phrase && !unindexed) out_->phrases.push_back(shown_names + ":\"" + folded + "\"");
    if (folds && unindexed) {
      p.text += "（含不能检索的字符，无结果）";
      out_->unindexable = true;
    }
    if (folds && !unindexed && HasFoldedForms(text)) {
      AddOnce(&out_->widened, text == folded ? text : text + "→" + folded);
    }
    return p;
  }

  void CountTerms(size_t n) {
    terms_ += n;
    if (terms_ > limits_.max_terms)
      throw QueryRefused(QueryRefused::Limit::kTerms, limits_.max_terms);
  }

  static std::string Shown(const std::string& text, bool quoted) {
    return quoted ? "\"" + text + "\"" : text;
  }

  // The typed run of a conjunction of bare words in the default field (see the header): empty
  // when the expression has any other shape.
  std::string TypedRun() const {
    std::string run;
    char32_t last = 0;  // of the run
    int words = 0;
    std::string field;
    for (const Lexeme& l : lex_) {
      switch (l.kind) {
        case Kind::kField:
          field = l.text;
          continue;
        case Kind::kWord:
          if (field.empty() || EqualsNoCase(field, default_field_)) {
            Join(l.text, &run, &last);
            ++words;
          }
          break;
        case Kind::kPhrase:
        case Kind::kAnd:
        case Kind::kEnd:
          break;
        default:
          return "";  // OR, NOT, brackets: not what a mode makes of typed words
      }
      field.clear();
    }
    return words >= 2 ? run : "";
  }

  // Appends a word to the run: directly after a character when it begins with one, so that the
  // characters stay one run, else after a space. `last` is the run's last character, kept so that
  // the run is never read again.
  void Join(const std::string& word, std::string* run, char32_t* last) const {
    if (!run->empty() && !(IsCharToken(*last) && IsCharToken(FirstCodePoint(word)))) *run += ' ';
    *run += word;
    *last = LastCodePoint(word);
  }

  bool IsCharToken(char32_t c) const {
    if (c >= 0xFF01 && c <= 0xFF5E) return false;  // full-width ASCII forms read as ASCII
    return IsCjkCodePoint(c) || IsIndexedSymbol(c);
  }
  static char32_t FirstCodePoint(const std::string& s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
    return u.isEmpty() ? 0 : static_cast<char32_t>(u.char32At(0));
  }
  static char32_t LastCodePoint(const std::string& s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
    return u.isEmpty() ? 0 : static_cast<char32_t>(u.char32At(u.length() - 1));
  }

  void PreferTypedRun() {
    if (!Folds(fields_.scheme())) return;  // older indexes rank as they always did
    std::string run = TypedRun();
    if (run.empty()) return;
    std::vector<FieldInfo> targets = fields_.Resolve(default_field_);
    std::optional<Xapian::Query> phrase = FieldQuery(targets, run);
    if (!phrase || phrase->get_type() == Xapian::Query::LEAF_MATCH_NOTHING) return;
    auto* boost = new Xapian::FixedWeightPostingSource(kTypedRunWeight);
    Xapian::Query weight(boost->release());
    out_->query = Xapian::Query(Xapian::Query::OP_AND_MAYBE, out_->base,
                                Xapian::Query(Xapian::Query::OP_FILTER, weight, *phrase));
    out_->typed_run = default_field_ + ":\"" + FoldForScheme(run, fields_.scheme()) + "\"";
  }

  std::vector<Lexeme> lex_;
  size_t i_ = 0;
  std::string default_field_;
  const FieldRegistry& fields_;
  const QueryLimits& limits_;
  size_t terms_ = 0;
  ParsedQuery* out_;
};

}  // namespace

ParsedQuery ParseQueryFull(std::string_view utf8, std::string_view default_field,
                           const FieldRegistry& fields, const QueryLimits& limits) {
  if (utf8.size() > limits.max_bytes) {
    throw QueryRefused(QueryRefused::Limit::kBytes, limits.max_bytes);
  }
  ParsedQuery out;
  Parser(Lex(utf8, limits.max_lexemes), default_field.empty() ? kContentField : default_field,
         fields, limits, &out)
      .Run();
  return out;
}

Xapian::Query ParseQuery(std::string_view utf8, std::string_view default_field,
                         const FieldRegistry& fields, const QueryLimits& limits) {
  return ParseQueryFull(utf8, default_field, fields, limits).query;
}

}  // namespace tomeva::kms

#include "kms/reindex.h"

#include <filesystem>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "base/gbk.h"
#include "kms/document.h"
#include "kms/index_store.h"
#include "kms/terms.h"

namespace tomeva::kms {
namespace {

// Messages are GBK, as KMS_Last_Error hands them out; stored field names are GBK already.
std::string Record(Xapian::docid id) { return Utf8ToGbk("记录") + std::to_string(id); }

// The field prefix a term belongs to: "" for content terms (which never begin with an upper-case
// ASCII letter), "Z<n>:" for other fields; nullopt for keys and batch marks.
std::optional<std::string> FieldPrefixOf(const std::string& term, Xapian::docid id) {
  if (term.empty() || term[0] < 'A' || term[0] > 'Z') return std::string();
  if (term[0] != 'Z') return std::nullopt;
  size_t colon = term.find(':');
  if (colon == std::string::npos) {
    throw RebuildError(Record(id) + Utf8ToGbk("有不属于任何字段的词项，无法重建"));
  }
  return term.substr(0, colon + 1);
}

}  // namespace

Xapian::Document RebuildDocument(const Xapian::Document& old, Xapian::docid id,
                                 const FieldRegistry& fields, TermScheme scheme) {
  Xapian::Document doc;
  const std::string data = old.get_data();
  std::vector<std::pair<std::string, std::string>> stored;
  if (!ReadStoredFields(data, &stored)) {
    throw RebuildError(Record(id) + Utf8ToGbk("的存储数据已损坏，无法重建"));
  }
  std::set<std::string> had;  // prefixes of the fields the document has terms of
  for (Xapian::TermIterator t = old.termlist_begin(); t != old.termlist_end(); ++t) {
    const std::string term = *t;
    std::optional<std::string> prefix = FieldPrefixOf(term, id);
    if (prefix) {
      had.insert(*prefix);
    } else {
      doc.add_boolean_term(term);  // its key, its batch and the batch's hidden mark
    }
  }
  for (Xapian::ValueIterator v = old.values_begin(); v != old.values_end(); ++v) {
    doc.add_value(v.get_valueno(), *v);
  }
  std::map<std::string, const FieldInfo*> by_name;
  for (const FieldInfo& f : fields.all()) by_name.emplace(f.name, &f);
  std::map<std::string, uint32_t> next_pos;  // per prefix, as BuildDocument keeps them
  std::set<std::string> rebuilt;
  for (const auto& [name, value] : stored) {
    auto it = by_name.find(name);
    if (it == by_name.end() || had.count(it->second->prefix) == 0) continue;
    const FieldInfo& info = *it->second;
    std::string utf8 = GbkToUtf8(value);
    if (info.tokenized) {
      uint32_t& pos = next_pos.try_emplace(info.prefix, 1).first->second;
      IndexText(utf8, info.prefix, scheme, &pos, &doc);
    } else {
      std::string term = WholeValueTerm(utf8, info.prefix);
      if (term.size() > info.prefix.size()) doc.add_term(term);
    }
    rebuilt.insert(info.prefix);
  }
  for (const std::string& prefix : had) {
    if (rebuilt.count(prefix) != 0) continue;
    std::string name = prefix.empty() ? std::string(kContentField) : prefix;
    for (const FieldInfo& f : fields.all()) {
      if (f.prefix == prefix) name = f.name;
    }
    throw RebuildError(Record(id) + Utf8ToGbk("的字段") + name +
                       Utf8ToGbk("有索引但没有存储，无法重建"));
  }
  doc.set_data(data);
  return doc;
}

void IndexWriter::Rebuild(TermScheme scheme) {
  if (!db_) throw Xapian::InvalidOperationError("index writer lost");
  Commit();
  RemoveOtherGenerations();
  const std::string next = NextGeneration();
  FieldRegistry rebuilt_fields = fields_;
  rebuilt_fields.set_scheme(scheme);
  try {
    Xapian::Database source(generation_, Xapian::DB_BACKEND_GLASS);
    Xapian::WritableDatabase target(next, Xapian::DB_CREATE | Xapian::DB_BACKEND_GLASS);
    for (Xapian::PostingIterator p = source.postlist_begin(""); p != source.postlist_end(""); ++p) {
      // The same ids: equal scores keep document-id order, and so the order of insertion.
      target.replace_document(*p, RebuildDocument(source.get_document(*p), *p, fields_, scheme));
    }
    for (Xapian::TermIterator k = source.metadata_keys_begin(); k != source.metadata_keys_end();
         ++k) {
      target.set_metadata(*k, source.get_metadata(*k));
    }
    target.set_metadata(kFieldsKey, rebuilt_fields.Serialize());
    target.set_metadata(kTermSchemeKey, std::to_string(static_cast<int>(scheme)));
    target.commit();
    if (target.get_doccount() != source.get_doccount() ||
        target.get_lastdocid() != source.get_lastdocid()) {
      throw Xapian::DatabaseError("the rebuilt index does not hold every document");
    }
    target.close();
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(next, ec);
    throw;
  }
  SwapTo(next);
  fields_ = std::move(rebuilt_fields);
  fields_changed_ = false;
}

}  // namespace tomeva::kms

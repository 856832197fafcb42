// Whatever a user types into the query box reaches the engine's parser: any bytes must give a
// query that Xapian runs or a refusal past the expression's limits, keywords and a folded text,
// without a crash, a hang or any other exception.
#include <xapian.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/gbk.h"
#include "kms/field_registry.h"
#include "kms/fold.h"
#include "kms/keywords.h"
#include "kms/query_parser.h"
#include "kms/terms.h"

namespace {

struct Fixture {
  Fixture() : db(std::string(), Xapian::DB_BACKEND_INMEMORY) {
    bool added;
    for (const char* name : {"content", "title", "author", "KeyWords", "f15"}) {
      fields.Intern(name, true, &added);
    }
    fields.Intern("whole", false, &added);
    for (const char* text : {"中国历史研究", "历史的中国 abc", "f15 3 13 30", "中，国"}) {
      Xapian::Document doc;
      uint32_t pos = 1;
      tomeva::kms::IndexText(text, "", fields.scheme(), &pos, &doc);
      pos = 1;
      tomeva::kms::IndexText(text, "Z1:", fields.scheme(), &pos, &doc);
      db.add_document(doc);
    }
  }
  tomeva::kms::FieldRegistry fields;
  Xapian::WritableDatabase db;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture();
  std::string gbk(reinterpret_cast<const char*>(data), size);
  std::string utf8 = tomeva::GbkToUtf8(gbk);
  // An expression past a limit is refused by QueryRefused and nothing else; whatever parses runs.
  try {
    Xapian::Query query = tomeva::kms::ParseQuery(utf8, size % 2 ? "title" : "", fixture->fields);
    Xapian::Enquire enquire(fixture->db);
    enquire.set_query(query);
    enquire.get_mset(0, 10, fixture->db.get_doccount());
  } catch (const tomeva::kms::QueryRefused&) {
  }
  // The raw bytes too, as a caller that skipped the conversion would pass them; and with limits
  // small enough for inputs of a few kilobytes to reach each of them.
  tomeva::kms::QueryLimits small;
  small.max_bytes = 2048;
  small.max_lexemes = 64;
  small.max_terms = 64;
  small.max_depth = 4;
  for (const tomeva::kms::QueryLimits& limits : {tomeva::kms::QueryLimits(), small}) {
    try {
      tomeva::kms::ParseQueryFull(gbk, "", fixture->fields, limits);
    } catch (const tomeva::kms::QueryRefused& e) {
      if (e.bound() == 0) __builtin_trap();
    }
  }
  tomeva::kms::ExtractKeywords(utf8);
  // Folded text maps every byte back into the original, in order.
  tomeva::kms::FoldedText folded = tomeva::kms::FoldGbkText(gbk);
  if (folded.source_offsets.size() != folded.gbk.size() + 1 ||
      folded.source_offsets.back() != static_cast<int>(size) ||
      !std::is_sorted(folded.source_offsets.begin(), folded.source_offsets.end())) {
    __builtin_trap();
  }
  return 0;
}

#include "engine_kms/kms_engine.h"

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "kms/kms.h"

namespace tomeva {
namespace {

// The one name the engine library is given for the GBK texts of core.
constexpr char kCharset[] = "GBK";

// A KMS_ string, owned by the engine until KMS_Free_Field, as a string; nothing for NULL. A
// record's stored text may come from an index server of a reading room, outside this machine:
// it reaches core as valid GBK, each invalid byte replaced (base/gbk.h).
std::optional<std::string> TakeField(char* value) {
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  KMS_Free_Field(value);
  RepairGbk(&text);
  return text;
}

std::string LastError() {
  const char* why = KMS_Last_Error();
  return why != nullptr && *why != '\0' ? why : "engine error";
}

bool Checked(int status, std::string* reason) {
  if (status == 0) return true;
  if (reason != nullptr) *reason = LastError();
  return false;
}

// The hits of one KMS_Search, cleared with it. A hit the engine cannot give while the search
// says it has it means the search lost its index (an index server restarted or closed the
// connection while the reader read a page): the query is searched again, once for each such
// loss, as the next page's search always was.
class KmsIndexSearch : public IndexSearch {
 public:
  KmsIndexSearch(KmsSearch* search, std::string index, std::string expression,
                 std::string default_field)
      : search_(search),
        index_(std::move(index)),
        expression_(std::move(expression)),
        default_field_(std::move(default_field)) {}
  ~KmsIndexSearch() override { KMS_ClearSearch(search_); }
  KmsIndexSearch(const KmsIndexSearch&) = delete;
  KmsIndexSearch& operator=(const KmsIndexSearch&) = delete;

  int HitCount() const override { return KMS_HitCount(search_); }
  std::optional<std::string> Field(int n, const std::string& name) override {
    if (search_ == nullptr || n < 0 || n >= HitCount()) return std::nullopt;
    KmsHit* hit = KMS_Hit(search_, n);
    if (hit == nullptr && search_again_) {
      if (!SearchAgain()) return std::nullopt;
      hit = KMS_Hit(search_, n);
      // Still nothing: not a lost connection; the next failure does not search again either.
      search_again_ = hit != nullptr;
    } else if (hit != nullptr) {
      search_again_ = true;
    }
    if (hit == nullptr) return std::nullopt;
    return TakeField(KMS_Get_Field(hit, name.c_str(), kCharset));
  }
  std::optional<std::string> Lost() const override { return lost_; }
  std::optional<QueryReading> Reading() const override {
    if (search_ == nullptr) return std::nullopt;
    std::optional<std::string> text = TakeField(KMS_Search_Reading(search_));
    if (!text) return std::nullopt;
    return ParseQueryReading(*text);
  }

 private:
  bool SearchAgain() {
    KmsSearch* fresh =
        KMS_Search(index_.c_str(), expression_.c_str(), kCharset, default_field_.c_str());
    KMS_ClearSearch(search_);
    search_ = fresh;
    if (fresh == nullptr) {
      const char* why = KMS_Last_Error();
      lost_ = why != nullptr ? why : "";
      return false;
    }
    return true;
  }

  KmsSearch* search_;  // null once lost
  std::string index_, expression_, default_field_;
  bool search_again_ = true;
  std::optional<std::string> lost_;
};

std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) items.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return items;
}

}  // namespace

QueryReading ParseQueryReading(const std::string& text) {
  static const std::string kColon = Utf8ToGbk("：");
  static const std::string kComma = Utf8ToGbk("，");
  static const std::string kNone = Utf8ToGbk("无");
  static const std::string kNoWords = Utf8ToGbk("（无检索词）");
  static const std::string kExpression = Utf8ToGbk("表达式");
  static const std::string kFields = Utf8ToGbk("字段");
  static const std::string kPhrases = Utf8ToGbk("短语");
  static const std::string kTypedRun = Utf8ToGbk("优先");
  static const std::string kWidened = Utf8ToGbk("繁简通查");
  static const std::string kUnsearchable = Utf8ToGbk("不能检索");
  QueryReading reading;
  reading.text = text;
  for (const std::string& line : SplitAt(text, "\n")) {
    // The label ends at the line's first full-width colon, found character by character so
    // that a match never starts at the trail byte of a character.
    size_t colon = std::string::npos;
    for (size_t i = 0; i + kColon.size() <= line.size(); i += GbkCharLen(line, i)) {
      if (line.compare(i, kColon.size(), kColon) == 0) {
        colon = i;
        break;
      }
    }
    if (colon == std::string::npos) continue;
    const std::string label = line.substr(0, colon);
    const std::string value = line.substr(colon + kColon.size());
    auto list = [&] { return value == kNone ? std::vector<std::string>{} : SplitAt(value, kComma); };
    if (label == kExpression) {
      reading.expression = value == kNoWords ? std::string() : value;
    } else if (label == kFields) {
      reading.fields = list();
    } else if (label == kPhrases) {
      reading.phrases = list();
    } else if (label == kTypedRun) {
      // field:"the run": the words as typed are between the quotes.
      const size_t open = value.find('"');
      const size_t close = value.rfind('"');
      if (open != std::string::npos && close > open) {
        reading.typed_run = value.substr(open + 1, close - open - 1);
      }
    } else if (label == kWidened) {
      reading.widened = SplitAt(value, kComma);
    } else if (label == kUnsearchable) {
      reading.unsearchable = true;
    }
  }
  return reading;
}

KmsEngine::KmsEngine() { KMS_Init(); }

std::unique_ptr<IndexSearch> KmsEngine::SearchIndex(const std::string& index,
                                                    const std::string& expression,
                                                    const std::string& default_field,
                                                    std::string* reason) {
  KmsSearch* search =
      KMS_Search(index.c_str(), expression.c_str(), kCharset, default_field.c_str());
  if (search == nullptr) {
    if (reason != nullptr) {
      const char* why = KMS_Last_Error();
      *reason = why != nullptr ? why : "";
    }
    return nullptr;
  }
  return std::make_unique<KmsIndexSearch>(search, index, expression, default_field);
}

std::optional<std::vector<std::string>> KmsEngine::QueryWords(std::string_view query) {
  const std::string text(query);
  char* words = KMS_Get_Keywords(text.c_str(), kCharset);
  if (words == nullptr) return std::nullopt;
  std::string joined(words);
  KMS_Free_Keywords(words);
  return SplitAt(joined, " ");
}

std::optional<QueryReading> KmsEngine::ReadQuery(const std::string& index,
                                                 const std::string& expression,
                                                 const std::string& default_field) {
  std::optional<std::string> text = TakeField(
      KMS_Query_Reading(index.c_str(), expression.c_str(), kCharset, default_field.c_str()));
  if (!text) return std::nullopt;
  return ParseQueryReading(*text);
}

std::optional<FoldedText> KmsEngine::Fold(std::string_view text) {
  const std::string source(text.substr(0, text.find('\0')));
  int* offsets = nullptr;
  char* folded = KMS_Fold_Text(source.c_str(), kCharset, &offsets);
  if (folded == nullptr) return std::nullopt;
  FoldedText result;
  result.folded = folded;
  KMS_Free_Field(folded);
  if (offsets != nullptr) {
    result.offsets.assign(offsets, offsets + result.folded.size() + 1);
    KMS_Free_Offsets(offsets);
  }
  return result;
}

bool KmsEngine::OpenIndex(const std::string& index, int mode, std::string* reason) {
  return Checked(KMS_Open(index.c_str(), mode), reason);
}

bool KmsEngine::InsertDocument(const std::string& index, const IndexDocument& doc,
                               std::string* reason) {
  KmsDocument* document = KMS_New_Document();
  if (document == nullptr) {
    if (reason != nullptr) *reason = "out of memory";
    return false;
  }
  bool ok = true;
  for (const IndexField& field : doc.fields) {
    ok = KMS_Add_Field(document, field.name.c_str(), field.value.c_str(), kCharset,
                       field.stored ? 1 : 0, field.indexed ? 1 : 0, field.tokenized ? 1 : 0) == 0;
    if (!ok) break;
  }
  if (ok && !doc.key.empty()) ok = KMS_Set_Key(document, doc.key.c_str()) == 0;
  if (ok && !doc.batch.empty()) ok = KMS_Set_Batch(document, doc.batch.c_str()) == 0;
  if (!ok) {
    if (reason != nullptr) *reason = "a field of " + doc.key + " was refused: " + LastError();
  } else {
    ok = Checked(KMS_Insert_Document(index.c_str(), document), reason);
  }
  KMS_Free_Document(document);
  return ok;
}

bool KmsEngine::CloseIndex(const std::string& index, std::string* reason) {
  return Checked(KMS_Close(index.c_str()), reason);
}

bool KmsEngine::OptimizeIndex(const std::string& index, std::string* reason) {
  return Checked(KMS_Optimize(index.c_str()), reason);
}

bool KmsEngine::ReindexIndex(const std::string& index, std::string* reason) {
  return Checked(KMS_Reindex(index.c_str()), reason);
}

bool KmsEngine::PublishBatch(const std::string& index, const std::string& batch,
                             std::string* reason) {
  return Checked(KMS_Publish_Batch(index.c_str(), batch.c_str()), reason);
}

bool KmsEngine::DiscardBatch(const std::string& index, const std::string& batch,
                             std::string* reason) {
  return Checked(KMS_Discard_Batch(index.c_str(), batch.c_str()), reason);
}

std::optional<std::vector<std::string>> KmsEngine::ListBatches(const std::string& index,
                                                               std::string* reason) {
  // An index not built yet has nothing to recover.
  if (!DirectoryExists(index)) return std::vector<std::string>{};
  std::optional<std::string> list = TakeField(KMS_Get_Batches(index.c_str()));
  if (!list) {
    Checked(-1, reason);
    return std::nullopt;
  }
  return SplitAt(*list, "\n");
}

std::string KmsEngine::IndexServer(const std::string& index) {
  return TakeField(KMS_Index_Server(index.c_str())).value_or(std::string());
}

}  // namespace tomeva

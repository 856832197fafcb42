#include "kms_test_util.h"

#include "base/gbk.h"
#include "kms/kms.h"

namespace tomeva::kms_test {

std::string ContentOf(const bench::CorpusRecord& r) {
  return r.title + "\n" + r.author + "\n" + r.body + "\n" + r.category + "\n";
}

std::string XmlOf(int id) { return "<record><id>" + std::to_string(id) + "</id></record>"; }

int InsertRecord(const std::string& index, const bench::CorpusRecord& r, int id, const char* key) {
  KmsDocument* d = KMS_New_Document();
  KMS_Add_Field(d, "xml", XmlOf(id).c_str(), "gb2312", 1, 0, 0);
  KMS_Add_Field(d, "content", ContentOf(r).c_str(), "gb2312", 1, 1, 1);
  KMS_Add_Field(d, "title", r.title.c_str(), "gb2312", 1, 1, 1);
  KMS_Add_Field(d, "author", r.author.c_str(), "gb2312", 1, 1, 1);
  KMS_Add_Field(d, "f15", r.category.c_str(), "gb2312", 1, 1, 1);
  if (key != nullptr) KMS_Set_Key(d, key);
  int rc = KMS_Insert_Document(index.c_str(), d);
  KMS_Free_Document(d);
  return rc;
}

int BuildIndex(const std::string& index, const std::vector<bench::CorpusRecord>& records) {
  KMS_Init();
  if (int rc = KMS_Open(index.c_str(), 1); rc != 0) return rc;
  int status = 0;
  for (size_t i = 0; i < records.size() && status == 0; ++i) {
    status = InsertRecord(index, records[i], static_cast<int>(i));
  }
  int closed = KMS_Close(index.c_str());
  return status != 0 ? status : closed;
}

int Count(const std::string& index, const std::string& gbk_query, const char* field) {
  KmsSearch* s = KMS_Search(index.c_str(), gbk_query.c_str(), "gb2312", field);
  if (s == nullptr) return -1;
  int n = KMS_HitCount(s);
  KMS_ClearSearch(s);
  return n;
}

int CountU(const std::string& index, const std::string& utf8_query, const char* field) {
  return Count(index, Utf8ToGbk(utf8_query), field);
}

std::string FoldU(const std::string& utf8) {
  char* folded = KMS_Fold_Text(Utf8ToGbk(utf8).c_str(), "gb2312", nullptr);
  std::string out = folded != nullptr ? GbkToUtf8(folded) : std::string();
  KMS_Free_Field(folded);
  return out;
}

std::vector<std::string> HitXml(const std::string& index, const std::string& utf8_query, int n) {
  std::vector<std::string> out;
  KmsSearch* s = KMS_Search(index.c_str(), Utf8ToGbk(utf8_query).c_str(), "gb2312", nullptr);
  if (s == nullptr) return out;
  for (int i = 0; i < n; ++i) {
    KmsHit* h = KMS_Hit(s, i);
    if (h == nullptr) break;
    char* v = KMS_Get_Field(h, "xml", "gb2312");
    out.push_back(v ? v : "");
    KMS_Free_Field(v);
  }
  KMS_ClearSearch(s);
  return out;
}

}  // namespace tomeva::kms_test

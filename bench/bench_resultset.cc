// The cost of the result-set layer: fetching a page of hits through CResultSet against making the
// same engine calls directly (search, exact count, the page's "xml" and "f15" fields). Both run on
// the same index and query mix in the same process; the ratio is what the layer adds.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/engine/result_set.h"
#include "corpus.h"
#include "engine_kms/kms_engine.h"
#include "kms/kms.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The page fetch made directly on the engine, as a caller without the result set would write it.
int DirectPage(const std::string& index, const std::string& expr, int page) {
  KmsSearch* s = KMS_Search(index.c_str(), expr.c_str(), "GBK", "content");
  int got = 0;
  if (s) {
    int n = KMS_HitCount(s);
    for (int j = page * 10; j < n && j < page * 10 + 10; ++j) {
      KmsHit* h = KMS_Hit(s, j);
      char* xml = KMS_Get_Field(h, "xml", "GBK");
      char* cat = KMS_Get_Field(h, "f15", "GBK");
      if (xml) ++got;
      KMS_Free_Field(xml);
      KMS_Free_Field(cat);
    }
  }
  KMS_ClearSearch(s);
  return got;
}

}  // namespace

int main() {
  const size_t n = tomeva::bench::RecordCountFromEnv(50000);
  char tmpl[] = "/tmp/tomeva-bench-rs-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string index = std::string(tmpl) + "/SearchDB";
  auto corpus = tomeva::bench::GenerateCorpus(n, 7);
  if (corpus.empty()) {
    std::fprintf(stderr, "bench_resultset: no corpus (fortunes-zh missing?)\n");
    return 1;
  }
  KMS_Init();
  KMS_Open(index.c_str(), 1);
  for (size_t i = 0; i < corpus.size(); ++i) {
    const auto& r = corpus[i];
    std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n\t<FdName>" + r.title +
                      "</FdName>\n\t<FdContent>" + r.body + "</FdContent>\n</record>\n";
    KmsDocument* d = KMS_New_Document();
    KMS_Add_Field(d, "xml", xml.c_str(), "GBK", 1, 0, 0);
    KMS_Add_Field(d, "content", (r.title + "\n" + r.author + "\n" + r.body).c_str(), "GBK", 1,
                  1, 1);
    KMS_Add_Field(d, "f15", r.category.c_str(), "GBK", 1, 1, 1);
    KMS_Insert_Document(index.c_str(), d);
    KMS_Free_Document(d);
  }
  KMS_Close(index.c_str());

  tomeva::KmsEngine engine;
  const char* words[] = {"明月", "春风", "故乡", "山", "天下", "白云", "江南", "不知", "人生", "花"};
  std::vector<double> ours, direct;
  long long checksum = 0;
  for (int round = 0; round < 20; ++round) {
    for (const char* w : words) {
      const std::string q = tomeva::Utf8ToGbk(w);
      const std::string expr = "content:\"" + q + "\"";
      for (int page : {0, 5}) {
        // Alternate which side goes first, so that neither always meets the colder caches.
        auto run_ours = [&] {
          auto t0 = Clock::now();
          tomeva::CResultSet rs(engine, {index}, 1, tomeva::kQueryExact);
          rs.Search(q, "content", "");
          if (page) rs.FetchPage(page);
          checksum += static_cast<long long>(rs.hits().size());
          ours.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        };
        auto run_direct = [&] {
          // The result set's Search fetches page 0 first; the direct side does the same work.
          auto t0 = Clock::now();
          checksum += DirectPage(index, expr, 0);
          if (page) checksum += DirectPage(index, expr, page);
          direct.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        };
        if ((round + page) % 2) {
          run_ours();
          run_direct();
        } else {
          run_direct();
          run_ours();
        }
      }
    }
  }
  double mo = Median(ours), md = Median(direct);
  std::printf("resultset page fetch, %zu records: result set %.0f us, direct engine calls %.0f us "
              "(median); result set / direct = %.3f (target <= 1.1)  [checksum %lld]\n",
              n, mo, md, md > 0 ? mo / md : 0.0, checksum);
  std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
  return 0;
}

// What a search costs the user: from Enter (the search command) to the first record page handed
// to the HTML view, through the document with stand-in windows, against the engine's own page
// fetch for the same query (search, exact count, the page's "xml" and "f15" fields). Both run on
// the same installation made by make-sample-library --records N (N from TOMEVA_BENCH_RECORDS,
// 200,000 by default) in the same process; the ratio is what the program adds on top of the
// engine: history, result set, hit list, record page and keyword marks.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/doc/command_ids.h"
#include "core/doc/tomeva_doc.h"
#include "engine_kms/kms_engine.h"
#include "kms/kms.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Windows that take what the document gives them; the page counts as rendered when ShowHtml
// receives it.
class PageSink : public tomeva::IHtmlView {
 public:
  int ShowHtml(const std::string& text) override {
    bytes += text.size();
    ++pages;
    return 1;
  }
  int SetBodyAttribute(const std::string&, const std::string&) override { return 1; }
  int SetStyleSheet(const std::string&) override { return 1; }
  void HighlightInPage(const std::string& keyword, const std::string&, bool) override {
    bytes += keyword.size();
  }
  void Navigate(const std::string& location) override { bytes += location.size(); }
  void SetZoom(int) override {}
  int QueryZoom() override { return 2; }
  void HookPageButtons() override {}
  bool pdf_shown() const override { return false; }
  void set_pdf_shown(bool) override {}
  size_t bytes = 0;
  int pages = 0;
};

class TreeSink : public tomeva::ITreeView {
 public:
  void DeleteAllItems() override {}
  void ResetHitMarker() override {}
  void ShowBookList(bool) override {}
  bool GetBookCheck(int) override { return false; }
  void SetBookCheck(int, bool) override {}
  void SetBookCounts(const std::vector<int>&) override {}
  void OnDocumentUpdate() override {}
  void SetItems(const tomeva::TreeItemList& list) override { items += list.size(); }
  void PostSelectItem(int) override {}
  void ShowMessage(const std::string&) override {}
  size_t items = 0;
};

class QueryBar : public tomeva::IFrameControls {
 public:
  std::string GetQueryText() override { return query; }
  void SetQueryText(const std::string& text) override { query = text; }
  void SelectAllQueryText() override {}
  std::string GetFieldText() override { return ""; }
  void SetFieldText(const std::string&) override {}
  void ShowAdvancedBar(bool) override {}
  void PostCommand(int) override {}
  std::string query;
};

// The engine's page fetch alone, as a caller without the program would write it.
int EnginePage(const std::string& index, const std::string& expr) {
  KmsSearch* s = KMS_Search(index.c_str(), expr.c_str(), "GBK", "content");
  int got = 0;
  if (s) {
    int n = KMS_HitCount(s);
    for (int j = 0; j < n && j < 10; ++j) {
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
  long long n = 200000;
  if (const char* env = std::getenv("TOMEVA_BENCH_RECORDS")) n = std::max(std::atoll(env), 1LL);
  char tmpl[] = "/tmp/tomeva-bench-search-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = std::string(tmpl) + "/inst";
  auto t_make = Clock::now();
  const std::string make = std::string(TOMEVA_SAMPLE_MAKER) + " '" + dir + "' --records " +
                           std::to_string(n) + " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "bench_search: make-sample-library failed\n");
    return 1;
  }
  const double make_s = std::chrono::duration<double>(Clock::now() - t_make).count();
  tomeva::KmsEngine kms_engine;  // initialises the engine library for both sides

  tomeva::Settings settings;
  settings.app_dir = dir + "/";
  settings.ebook_dir = dir;
  settings.exit_dir = dir;
  settings.index_dir = dir + "/SearchDB";
  PageSink html;
  TreeSink tree;
  QueryBar bar;
  long long checksum = 0;
  std::vector<double> ours, engine;
  {
    tomeva::CTomevaDoc doc(settings);
    doc.AttachEngine(&kms_engine);
    doc.AttachHtmlView(&html);
    doc.AttachTreeView(&tree);
    doc.AttachFrame(&bar);
    doc.OnCommand(tomeva::kCmdBookSearch);  // the whole library, as a plain search

    // Words of the poems, common and rare; the default (automatic) mode quotes them as phrases.
    const char* words[] = {"明月", "春风", "故乡", "白云", "江南", "不知", "天下", "归来",
                           "万里", "落花", "长安", "相思", "青山", "秋风", "何处", "美人"};
    // One warm-up pass so that both sides read from the same warmed caches.
    for (const char* w : words) {
      bar.query = tomeva::Utf8ToGbk(w);
      doc.OnCommand(tomeva::kCmdSearch);
      checksum += EnginePage(settings.index_dir, "content:\"" + bar.query + "\"");
    }
    for (int round = 0; round < 7; ++round) {
      for (const char* w : words) {
        bar.query = tomeva::Utf8ToGbk(w);
        const std::string expr = "content:\"" + bar.query + "\"";
        // The two sides take turns at going first, so that neither always finds the other's
        // pages in the cache.
        const bool doc_first = round % 2 == 0;
        const int pages_before = html.pages;
        double doc_us = 0, engine_us = 0;
        for (int side = 0; side < 2; ++side) {
          const bool run_doc = (side == 0) == doc_first;
          auto t0 = Clock::now();
          if (run_doc) {
            doc.OnCommand(tomeva::kCmdSearch);
          } else {
            checksum += EnginePage(settings.index_dir, expr);
          }
          double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
          (run_doc ? doc_us : engine_us) = us;
        }
        // "检索中…", then the record page (or the no-result page).
        if (html.pages - pages_before != 2) std::fprintf(stderr, "bench_search: page missing\n");
        ours.push_back(doc_us);
        engine.push_back(engine_us);
      }
    }
    checksum += static_cast<long long>(html.bytes + tree.items);
    doc.AttachHtmlView(nullptr);
    doc.AttachTreeView(nullptr);
    doc.AttachFrame(nullptr);
  }
  const double mo = Median(ours), me = Median(engine);
  std::printf(
      "search to first record page, %lld records (library made in %.0f s): document %.0f us, "
      "engine page fetch %.0f us (median of %zu); document / engine = %.3f (target <= 1.5)"
      "  [checksum %lld]\n",
      n, make_s, mo, me, ours.size(), me > 0 ? mo / me : 0.0, checksum);
  std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
  return 0;
}

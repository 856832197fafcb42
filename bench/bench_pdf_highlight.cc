// The client side of the PDF highlight on a 5 MB GBK text copy (the Chinese poems of the fortunes
// package, converted to GBK and repeated) with 1, 5 and 13 keywords: reading the .txt, locating
// the keywords, writing the .idx position file (atomically) and building the execute
// data, against HighLightKeyWords alone in positions mode on the same text in memory (which, like
// the client, stops locating after the 500 reported matches). Prints the
// median of 9 runs of each and their ratio; the client is meant to stay within 1.3x.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/file_tree.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/engine/highlight.h"
#include "core/pdf/highlight_client.h"

namespace {

constexpr size_t kTextBytes = 5 * 1024 * 1024;
constexpr int kRuns = 9;
const char* const kPoemFiles[] = {"/usr/share/games/fortunes/tang300",
                                  "/usr/share/games/fortunes/song100"};
const char* const kKeywordsUtf8[] = {"明月", "春风", "故人", "天下", "白云", "江南", "长安",
                                     "千里", "人生", "秋",   "花",   "夜",   "酒"};
const int kKeywordCounts[] = {1, 5, 13};

template <typename F>
double MedianMs(F run) {
  std::vector<double> ms;
  for (int i = 0; i < kRuns; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[kRuns / 2];
}

}  // namespace

int main() {
  std::string poems;
  for (const char* path : kPoemFiles) {
    std::string utf8;
    if (!tomeva::ReadWholeFile(path, &utf8)) {
      std::fprintf(stderr, "bench_pdf_highlight: cannot read %s (package fortunes-zh)\n", path);
      return 1;
    }
    poems += tomeva::Utf8ToGbk(utf8);
  }
  std::string text;
  while (text.size() < kTextBytes) text += poems;
  text.resize(tomeva::GbkBoundaryAtOrBefore(text, kTextBytes));
  char dir_template[] = "/tmp/bench_pdf_highlight.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  const std::string pdf = dir + "/book.pdf";
  if (!tomeva::ReplaceFileAtomically(dir + "/book.txt", text)) return 1;

  std::printf("PDF highlight client side, %zu bytes of GBK text, median of %d runs\n",
              text.size(), kRuns);
  std::printf("%8s %8s %12s %16s %7s\n", "keywords", "matches", "client ms", "HighLightKW ms",
              "ratio");
  for (int n : kKeywordCounts) {
    std::vector<std::string> keywords;
    std::string keyword_string;  // the C function's peer takes the words as one string
    for (int k = 0; k < n; ++k) {
      keywords.push_back(tomeva::Utf8ToGbk(kKeywordsUtf8[k]));
      keyword_string += (k ? " " : "") + keywords.back();
    }
    int matches = 0;
    const double client = MedianMs([&] {
      // The highlighter's own steps before the conversation: read, match, write the .idx.
      tomeva::PdfHighlightData data;
      tomeva::HighlightOutcome outcome;
      if (!tomeva::PrepareHighlight(pdf, keywords, nullptr, &data, &outcome)) std::abort();
      matches = data.matches;
      if (data.ExecuteData().empty() && data.matches > 0) std::abort();
    });
    const double alone = MedianMs([&] {
      std::string body = text;
      std::string keyword_text = keyword_string;
      auto table = std::make_unique<char[][tomeva::kKeywordEntrySize]>(tomeva::kMaxKeywords);
      const int count = tomeva::getKeywords(keyword_text.data(), table.get());
      std::vector<int> starts(tomeva::kMaxReportedMatches), lengths(tomeva::kMaxReportedMatches);
      int found = 0;
      tomeva::HighLightKeyWords(body.data(), table.get(), count, 1, nullptr, 0, starts.data(),
                                lengths.data(), &found);
    });
    std::printf("%8d %8d %12.2f %16.2f %7.2f\n", n, matches, client, alone, client / alone);
  }
  tomeva::DeleteTree(dir);
  tomeva::RemoveDirectory(dir);
  return 0;
}

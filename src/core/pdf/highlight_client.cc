#include "core/pdf/highlight_client.h"

#include <algorithm>
#include <memory>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "base/texts.h"
#include "core/engine/highlight.h"
#include "core/engine/keyword_forms.h"

namespace tomeva {
namespace {

void AppendLittleEndian(int32_t value, std::string* out) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(bits >> shift));
}

}  // namespace

std::string PdfCompanionPath(std::string_view pdf_path, std::string_view extension) {
  // Character starts from the front: a GBK trail byte cannot be told from a single byte when
  // read backwards.
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < pdf_path.size(); pos += GbkCharLen(pdf_path, pos)) {
    starts.push_back(pos);
  }
  const size_t cut = starts.size() < 3 ? 0 : starts[starts.size() - 3];
  return std::string(pdf_path.substr(0, cut)) + std::string(extension);
}

std::string PdfHighlightData::PositionFileBytes() const {
  std::string bytes;
  bytes.reserve(values.size() * 4);
  for (int32_t value : values) AppendLittleEndian(value, &bytes);
  return bytes;
}

std::string PdfHighlightData::ExecuteData() const {
  std::string data;
  data.reserve(4 + static_cast<size_t>(count) * 4);
  AppendLittleEndian(kHighlightHeader, &data);
  for (int i = 0; i < count; ++i) AppendLittleEndian(values[i], &data);
  return data;
}

PdfHighlightData ComputeHighlightData(std::string_view text,
                                      const std::vector<std::string>& keywords) {
  std::string body(text);
  return ComputeHighlightDataInPlace(&body, keywords);
}

PdfHighlightData ComputeHighlightDataInPlace(std::string* text,
                                             const std::vector<std::string>& keywords) {
  PdfHighlightData data;
  // The marking function works on writable NUL-terminated texts and a fixed keyword table, as
  // the plug-in's positions were always computed.
  // The table is filled as the plug-in's keyword string always was: the words apart by spaces.
  std::string keyword_text;
  for (size_t k = 0; k < keywords.size(); ++k) {
    if (k > 0) keyword_text += ' ';
    keyword_text += keywords[k];
  }
  keyword_text.resize(std::min(keyword_text.size(), keyword_text.find('\0')));
  auto table = std::make_unique<char[][kKeywordEntrySize]>(kMaxKeywords);
  const int keyword_count = getKeywords(keyword_text.data(), table.get());
  if (keyword_count == 0) return data;

  std::string& body = *text;
  body.resize(std::min(body.size(), body.find('\0')));
  std::vector<int> starts(kMaxReportedMatches);
  std::vector<int> lengths(kMaxReportedMatches);
  int matches = 0;
  HighLightKeyWords(body.data(), table.get(), keyword_count, 1, nullptr, 0, starts.data(),
                    lengths.data(), &matches);
  data.matches = matches;

  long long count = 0;
  for (int m = 0; m < matches; ++m) {
    for (int j = 0; j < lengths[m]; ++j) {
      const int offset = starts[m] + j;
      const bool wide = static_cast<unsigned char>(body[offset]) >= 0x80;
      const int width = wide ? 2 : 1;
      data.values.push_back(offset);
      data.values.push_back(width);
      count += width;
      if (wide) ++j;
    }
  }
  // The plug-in reads the data into a buffer of matches x 400 + 1 bytes, header included; a long
  // merged match of single-byte characters would overrun it.
  const long long fits = matches > 0 ? (static_cast<long long>(matches) * 400 + 1 - 4) / 4 : 0;
  count = std::min({count, fits, static_cast<long long>(data.values.size())});
  data.count = static_cast<int>(count);
  return data;
}

bool PrepareHighlight(const std::string& pdf_path, const std::vector<std::string>& keywords,
                      const HighlightMessageSink& tell, PdfHighlightData* data,
                      HighlightOutcome* outcome, Engine* engine) {
  std::string text;
  if (!ReadWholeFile(PdfCompanionPath(pdf_path, "txt"), &text)) {
    *outcome = HighlightOutcome::kNoText;
    return false;
  }
  // The text copy comes with the book. Repaired in place, each invalid byte by one: the
  // positions the plug-in gets stay the positions in the file.
  RepairGbk(&text);
  const std::vector<std::string> wanted = WidenKeywords(engine, keywords, text);
  *data = ComputeHighlightDataInPlace(&text, wanted);
  if (data->matches == 0) {
    *outcome = HighlightOutcome::kNoMatch;
    return false;
  }
  const std::string index_path = PdfCompanionPath(pdf_path, "idx");
  // Rewritten at every highlight from the text copy, so a crash can at worst leave the previous
  // one whole: replaced atomically, but not flushed to disk, which would cost more than the match.
  WriteOptions options;
  options.sync = false;
  if (!ReplaceFileAtomically(index_path, data->PositionFileBytes(), options)) {
    // Without its position file the plug-in's marks could not be told from stale ones; the user
    // learns why no word is marked instead of looking for a fault in the viewer.
    if (tell) tell(TextWith(kTextPositionFileFailed, index_path));
    *outcome = HighlightOutcome::kPositionFileFailed;
    return false;
  }
  return true;
}

HighlightOutcome HighlightInViewer(Platform& platform, const std::string& pdf_path,
                                   const std::vector<std::string>& keywords,
                                   const HighlightMessageSink& tell,
                                   Engine* engine) {
  PdfHighlightData data;
  HighlightOutcome outcome = HighlightOutcome::kNoText;
  if (!PrepareHighlight(pdf_path, keywords, tell, &data, &outcome, engine)) return outcome;
  switch (platform.DdeExecute(kHighlightService, kHighlightTopic, data.ExecuteData(),
                              kHighlightTimeoutMs)) {
    case DdeResult::kDone:
      return HighlightOutcome::kSent;
    case DdeResult::kNoServer:
      if (tell) tell(Text(kTextHighlightNoServer));
      return HighlightOutcome::kNoServer;
    case DdeResult::kRefused:
      if (tell) tell(Text(kTextHighlightRefused));
      return HighlightOutcome::kRefused;
    case DdeResult::kTimedOut:
      if (tell) tell(TextWith(kTextHighlightTimedOut, std::to_string(kHighlightTimeoutMs / 1000)));
      return HighlightOutcome::kTimedOut;
    case DdeResult::kBusy:
      if (tell) tell(Text(kTextHighlightBusy));
      return HighlightOutcome::kBusy;
  }
  return HighlightOutcome::kRefused;
}

PdfHighlighter::PdfHighlighter(Platform* platform, DocumentShown shown, HighlightMessageSink tell,
                               Wait wait)
    : platform_(platform), shown_(std::move(shown)), tell_(std::move(tell)), wait_(wait) {}

PdfHighlighter::~PdfHighlighter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  WaitForWorkers();
}

bool PdfHighlighter::StartHighlight(const std::string& viewer_path, const std::string& pdf_path,
                                    const std::vector<std::string>& keywords) {
  if (!FileExists(viewer_path)) {
    if (tell_) tell_(Text(kTextViewerMissing));
    return false;
  }
  JoinFinished();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([this, pdf_path, keywords, done] {
    Run(pdf_path, keywords);
    done->store(true);
  });
  workers_.push_back({std::move(thread), std::move(done)});
  return true;
}

void PdfHighlighter::Run(const std::string& pdf_path, const std::vector<std::string>& keywords) {
  bool shown = false;
  for (int poll = 0; poll < wait_.max_polls; ++poll) {
    if (!shown_ || shown_(pdf_path)) {
      shown = true;
      break;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_.wait_for(lock, wait_.poll, [this] { return stopping_; })) return;
  }
  const bool no_words = std::all_of(keywords.begin(), keywords.end(),
                                    [](const std::string& word) { return word.empty(); });
  if (!shown || no_words || platform_ == nullptr) return;
  HighlightInViewer(*platform_, pdf_path, keywords, tell_, engine_);
}

void PdfHighlighter::JoinFinished() {
  auto finished = std::partition(workers_.begin(), workers_.end(),
                                 [](const Worker& worker) { return !worker.done->load(); });
  for (auto it = finished; it != workers_.end(); ++it) it->thread.join();
  workers_.erase(finished, workers_.end());
}

void PdfHighlighter::WaitForWorkers() {
  for (Worker& worker : workers_) worker.thread.join();
  workers_.clear();
}

}  // namespace tomeva

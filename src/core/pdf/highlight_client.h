// The client side of the PDF highlight: the query words of a search hit are located in the
// plain-text copy that lies beside a PDF (same name, extension "txt", GBK), turned into byte
// positions, kept in the position file beside it (extension "idx") and sent in one execute
// transaction to the viewer plug-in's conversation ("HiliteService", topic "PageNumber").
//
// Position file: for every matched character, in match order, two little-endian 32-bit values:
// its byte offset in the text file and its width in bytes (2 for a character whose first byte is
// 0x80 or above, else 1).
// Execute data: the 32-bit header kHighlightHeader, then the first `count` values of the position
// file, all little-endian; `count` is the sum of the widths of the matched characters, cut to
// what fits in the plug-in's buffer of matches x 400 + 1 bytes after the header. For two
// keywords 中国 and 人民 each found twice the file holds 16 values and the data is 4 + 64 bytes:
//   80 80 00 00 | 00 00 00 00 02 00 00 00 | 02 00 00 00 02 00 00 00 | ...
#ifndef TOMEVA_CORE_PDF_HIGHLIGHT_CLIENT_H_
#define TOMEVA_CORE_PDF_HIGHLIGHT_CLIENT_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/platform/platform.h"

namespace tomeva {

class Engine;

inline constexpr int32_t kHighlightHeader = 0x8080;
inline constexpr char kHighlightService[] = "HiliteService";
inline constexpr char kHighlightTopic[] = "PageNumber";
inline constexpr int kHighlightTimeoutMs = 15000;

// The file beside `pdf_path` with its last three characters replaced by `extension` (three
// characters): "a/b.pdf" gives "a/b.txt", and a name without a three-letter extension loses its
// last three characters all the same ("a/scanpdf2" gives "a/scanptxt" for "txt"). A double-byte
// character counts as one character; a path of fewer than three characters is replaced whole.
std::string PdfCompanionPath(std::string_view pdf_path, std::string_view extension);

// What one highlight sends, computed from the text copy's bytes and the keyword string.
struct PdfHighlightData {
  int matches = 0;              // keyword matches in the text (overlaps merged), at most 500
  std::vector<int32_t> values;  // the position file: offset, width, offset, width, ...
  int count = 0;                // values sent after the header

  // The position file's bytes and the execute data, as described above.
  std::string PositionFileBytes() const;
  std::string ExecuteData() const;
};

// Locates `keywords` in `text` (taken up to its first NUL byte) as the result pages' marking does
// in positions mode, and computes the values. The words go into the plug-in's keyword table as
// it always took them: split further at "&" and "|", each cut to 100 bytes, at most 100. No
// keyword or no match gives matches == 0 and nothing to send.
PdfHighlightData ComputeHighlightData(std::string_view text,
                                      const std::vector<std::string>& keywords);
// The same on `*text` itself, which is cut at its first NUL byte: a text copy runs to megabytes,
// and the client reads it only to match it.
PdfHighlightData ComputeHighlightDataInPlace(std::string* text,
                                             const std::vector<std::string>& keywords);

// How one highlight in the viewer ended.
enum class HighlightOutcome {
  kSent,                // the viewer acknowledged the data
  kNoText,              // no text copy beside the PDF: nothing sent
  kNoMatch,             // no keyword found in it: nothing sent, no position file written
  kPositionFileFailed,  // the position file could not be written: nothing sent (told)
  kNoServer,            // the viewer's conversation is not there (told)
  kRefused,             // the viewer refused the data (told)
  kTimedOut,            // no answer within kHighlightTimeoutMs (told)
  kBusy,                // the viewer turned the conversation away: too many open (told)
};

// Receives a message (GBK) for the user. Called on the worker thread: it must only hand the
// message over to the user-interface thread, never show it there and then.
using HighlightMessageSink = std::function<void(const std::string& message)>;

// HighlightInViewer's steps before the conversation: reads the text copy beside `pdf_path`,
// matches `keywords` and writes the position file. True when `*data` is ready to be sent;
// otherwise `*outcome` says why not (kNoText, kNoMatch, or kPositionFileFailed, which is told
// through `tell`, may be null). With an engine, the keywords are first widened by the other
// forms of each that the text copy holds (traditional or simplified, full width), so that the
// viewer marks every form the PDF shows. Any thread.
bool PrepareHighlight(const std::string& pdf_path, const std::vector<std::string>& keywords,
                      const HighlightMessageSink& tell, PdfHighlightData* data,
                      HighlightOutcome* outcome, Engine* engine = nullptr);

// Highlights `keywords` in the viewer showing `pdf_path`: reads the text copy, writes the
// position file (replaced atomically) and sends the execute data through `platform`. A position
// file that cannot be written and a viewer that cannot be reached are told through `tell` (may
// be null); a refused or unanswered transaction is only returned, since the plug-in keeps no
// reply worth showing. Any thread.
HighlightOutcome HighlightInViewer(Platform& platform, const std::string& pdf_path,
                                   const std::vector<std::string>& keywords,
                                   const HighlightMessageSink& tell,
                                   Engine* engine = nullptr);

// Starts and owns the highlight workers, one per opened PDF. Workers are joined, not detached: a
// worker uses the platform and the callbacks, which must not be destroyed under it, so the
// destructor stops the waiting ones at once and waits for one that is sending (at most the
// transaction's time-out). Created, used and destroyed on the user-interface thread.
class PdfHighlighter {
 public:
  // True once the viewer shows the document at `pdf_path`. Called on a worker thread, about once
  // per `poll` until it says so or `max_polls` calls have said no; a worker whose document is
  // never shown ends without sending (the user went elsewhere).
  using DocumentShown = std::function<bool(const std::string& pdf_path)>;
  struct Wait {
    std::chrono::milliseconds poll{1000};
    int max_polls = 30;
  };

  // `platform` must outlive this object. `tell` is also called on the calling thread, by
  // StartHighlight.
  PdfHighlighter(Platform* platform, DocumentShown shown, HighlightMessageSink tell, Wait wait);
  PdfHighlighter(Platform* platform, DocumentShown shown, HighlightMessageSink tell)
      : PdfHighlighter(platform, std::move(shown), std::move(tell), Wait{}) {}
  ~PdfHighlighter();
  PdfHighlighter(const PdfHighlighter&) = delete;
  PdfHighlighter& operator=(const PdfHighlighter&) = delete;

  // When no file exists at `viewer_path`, tells string 125 (the viewer is not installed) and
  // returns false. Otherwise starts a worker that waits until the viewer shows `pdf_path` and
  // then, when `keywords` holds a word that is not empty, runs HighlightInViewer; returns true
  // at once.
  bool StartHighlight(const std::string& viewer_path, const std::string& pdf_path,
                      const std::vector<std::string>& keywords);

  // Waits until every worker started so far has ended (their documents shown or given up).
  void WaitForWorkers();
  // The engine whose folding the workers widen their keywords with (null: the keywords as
  // given). Attach it before the first StartHighlight: the workers read it without a lock. It
  // must outlive this object.
  void AttachEngine(Engine* engine) { engine_ = engine; }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void Run(const std::string& pdf_path, const std::vector<std::string>& keywords);
  void JoinFinished();

  Platform* platform_;
  DocumentShown shown_;
  HighlightMessageSink tell_;
  Wait wait_;
  Engine* engine_ = nullptr;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<Worker> workers_;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_PDF_HIGHLIGHT_CLIENT_H_

// `import DIR`: imports the books waiting in DIR/Update into the installation DIR, showing the
// status line, the second line and the progress on the terminal. Exit code 0 when no book had to
// be left waiting, 1 when a problem was reported.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/import/book_import.h"
#include "engine_kms/kms_engine.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

class TerminalSink : public ImportStatusSink {
 public:
  TerminalSink() : tty_(::isatty(STDERR_FILENO) == 1) {}
  void SetStatus(const std::string& text) override { Line(GbkToUtf8(text)); }
  void SetDetail(const std::string& text) override {
    if (!text.empty()) Line("  " + GbkToUtf8(text));
  }
  void Report(const std::string& message) override { Line("! " + GbkToUtf8(message)); }
  void SetRange(int upper) override {
    upper_ = upper;
    shown_ = -1;
  }
  void SetPosition(int position) override {
    int percent = upper_ > 0 ? static_cast<int>(100LL * position / upper_) : 100;
    if (percent == shown_ && position != upper_) return;
    shown_ = percent;
    if (tty_) {
      std::fprintf(stderr, "\r  [%-40.*s] %d/%d", percent * 40 / 100,
                   "########################################", position, upper_);
      open_line_ = position != upper_;
      if (!open_line_) std::fputc('\n', stderr);
    } else if (position == upper_) {
      std::fprintf(stderr, "  %d/%d records\n", position, upper_);
    }
  }
  void Finished(const ImportResult& result) override {
    Line("books imported: " + std::to_string(result.books_imported) +
         ", books failed: " + std::to_string(result.books_failed));
  }

 private:
  void Line(const std::string& text) {
    if (open_line_) std::fputc('\n', stderr);
    open_line_ = false;
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool tty_;
  bool open_line_ = false;
  int upper_ = 0;
  int shown_ = -1;
};

int RunImport(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: import DIR");
  TerminalSink sink;
  KmsEngine engine;
  ImportResult result = RunBookImport(engine, a.positional[0], &sink);
  ClearImportLeftovers(a.positional[0]);
  std::printf("{\"imported\":%d,\"failed\":%d,\"changed\":%s,\"messages\":[",
              result.books_imported, result.books_failed,
              result.library_changed ? "true" : "false");
  for (size_t i = 0; i < result.messages.size(); ++i) {
    std::printf("%s%s", i ? "," : "", JsonGbk(result.messages[i]).c_str());
  }
  std::printf("]}\n");
  return result.messages.empty() ? 0 : 1;
}

CommandRegistrar import_cmd("import", "DIR   import the books waiting in DIR/Update", &RunImport);

}  // namespace
}  // namespace tomeva::tool

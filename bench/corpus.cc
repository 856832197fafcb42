#include "corpus.h"

#include <cstdlib>
#include <random>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"

namespace tomeva::bench {
namespace {

struct Piece {
  std::string title;  // UTF-8
  std::string author;
  std::vector<std::string> lines;
};

// Removes the terminal colour sequences (ESC [ ... m) of the fortune files.
std::string StripEscapes(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '[') {
      size_t m = s.find('m', i + 2);
      if (m != std::string::npos) {
        i = m;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

std::vector<Piece> LoadPieces() {
  std::vector<Piece> pieces;
  for (const char* name : {"tang300.u8", "song100.u8", "chinese.u8"}) {
    std::string text;
    if (!ReadWholeFile(JoinPath(FortunesDir(), name), &text)) continue;
    for (const std::string& entry : Split(StripEscapes(text), "\n%\n")) {
      Piece p;
      for (std::string line : Split(entry, "\n")) {
        line = Trim(line);
        if (line.empty()) continue;
        if (p.title.empty() && p.lines.empty() && StartsWith(line, "《")) {
          p.title = line.substr(3, line.size() >= 6 ? line.size() - 6 : 0);  // drop 《 》
        } else if (StartsWith(line, "作者：")) {
          p.author = line.substr(9);
        } else {
          p.lines.push_back(line);
        }
      }
      if (!p.lines.empty()) pieces.push_back(std::move(p));
    }
  }
  return pieces;
}

// The first characters of a line as a title for pieces without one.
std::string Head(const std::string& utf8, size_t chars) {
  size_t i = 0;
  while (i < utf8.size() && chars > 0) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    i += c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    --chars;
  }
  return utf8.substr(0, std::min(i, utf8.size()));
}

}  // namespace

std::string FortunesDir() {
  const char* env = std::getenv("TOMEVA_FORTUNES_DIR");
  return env && *env ? env : "/usr/share/games/fortunes";
}

std::vector<CorpusRecord> GenerateCorpus(size_t count, uint64_t seed) {
  static const std::vector<Piece> pieces = LoadPieces();
  std::vector<CorpusRecord> out;
  if (pieces.empty()) return out;
  std::vector<std::string> authors;
  for (const Piece& p : pieces) {
    if (!p.author.empty()) authors.push_back(p.author);
  }
  if (authors.empty()) authors.push_back("佚名");
  std::mt19937_64 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    // A record is one piece, or for variety the lines of two pieces interleaved from random
    // starting lines, so that scaled corpora are not plain repetitions.
    const Piece& a = pieces[pick(pieces.size())];
    std::vector<std::string> lines;
    size_t start = pick(a.lines.size());
    size_t take = 1 + pick(std::min<size_t>(a.lines.size(), 8));
    for (size_t k = 0; k < take; ++k) lines.push_back(a.lines[(start + k) % a.lines.size()]);
    if (pick(3) == 0) {
      const Piece& b = pieces[pick(pieces.size())];
      lines.push_back(b.lines[pick(b.lines.size())]);
    }
    std::string body;
    for (const std::string& l : lines) body += l + "\n";
    CorpusRecord r;
    r.title = Utf8ToGbk(a.title.empty() ? Head(lines.front(), 4 + pick(6)) : a.title);
    r.author = Utf8ToGbk(a.author.empty() ? authors[pick(authors.size())] : a.author);
    r.body = Utf8ToGbk(body);
    r.category = std::to_string(1 + pick(40));
    out.push_back(std::move(r));
  }
  return out;
}

size_t RecordCountFromEnv(size_t fallback) {
  const char* env = std::getenv("TOMEVA_BENCH_RECORDS");
  if (env != nullptr) {
    long long n = std::atoll(env);
    if (n > 0) return static_cast<size_t>(n);
  }
  return fallback;
}

}  // namespace tomeva::bench

#include "core/update/updater_manifest.h"

#include <algorithm>

namespace tomeva {
namespace {

constexpr size_t kMaxVersionNumbers = 8;
// Nine digits always fit 32 bits.
constexpr size_t kMaxVersionDigits = 9;
constexpr size_t kSha256HexDigits = 64;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A space at either end would be the separator doubled, or nothing a publisher meant.
bool IsAcceptableFileName(std::string_view name) {
  if (name.empty() || name.front() == ' ' || name.back() == ' ') return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint32_t>> ParseVersion(std::string_view text) {
  std::vector<uint32_t> numbers;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty() || part.size() > kMaxVersionDigits || numbers.size() == kMaxVersionNumbers) {
      return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    numbers.push_back(value);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return numbers;
}

int CompareVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const size_t count = std::max(a.size(), b.size());
  for (size_t i = 0; i < count; ++i) {
    const uint32_t x = i < a.size() ? a[i] : 0;
    const uint32_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

std::optional<UpdaterManifest> ParseUpdaterManifest(std::string_view text) {
  if (text.size() > kMaxManifestBytes) return std::nullopt;
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // every line is ended
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end + 1);
  }
  if (lines.size() != 4 || lines[0] != kManifestFirstLine) return std::nullopt;
  UpdaterManifest manifest;
  bool have_file = false, have_version = false, have_digest = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t space = lines[i].find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view key = lines[i].substr(0, space);
    const std::string_view value = lines[i].substr(space + 1);
    if (key == "file" && !have_file && IsAcceptableFileName(value)) {
      manifest.file = std::string(value);
      have_file = true;
    } else if (key == "version" && !have_version && ParseVersion(value).has_value()) {
      manifest.version = std::string(value);
      have_version = true;
    } else if (key == "sha256" && !have_digest && value.size() == kSha256HexDigits &&
               std::all_of(value.begin(), value.end(), IsHexDigit)) {
      manifest.sha256 = std::string(value);
      for (char& c : manifest.sha256) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
      }
      have_digest = true;
    } else {
      return std::nullopt;
    }
  }
  return manifest;
}

}  // namespace tomeva

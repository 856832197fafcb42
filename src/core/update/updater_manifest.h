// The updater's manifest: a small text file that the publisher signs beside each updater, naming
// the updater's file, its version and its SHA-256 digest (docs/formats/version-page.md, "The
// manifest"). The signature covers the manifest; the digest binds the updater's bytes to it; the
// version lets the program refuse an updater that is not newer than what is installed, so that an
// older updater signed with the same key cannot be served again in place of a newer one.
//
// Threads: any thread; nothing is shared.
#ifndef TOMEVA_CORE_UPDATE_UPDATER_MANIFEST_H_
#define TOMEVA_CORE_UPDATE_UPDATER_MANIFEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tomeva {

// The first line of every manifest (before its line end).
inline constexpr char kManifestFirstLine[] = "tomeva-updater-manifest 1";
// A manifest and a signature file are small; anything larger is not one.
inline constexpr size_t kMaxManifestBytes = 4096;

struct UpdaterManifest {
  std::string file;     // the updater's file name, bytes as written
  std::string version;  // a version ParseVersion accepts
  std::string sha256;   // the updater's SHA-256 digest, 64 lowercase hexadecimal digits
};

// Parses a manifest: kManifestFirstLine, then the lines "file NAME", "version VERSION" and
// "sha256 DIGEST" in any order, each exactly once, each key and value separated by one space;
// every line ended by a line feed (a carriage return before it allowed); nothing else, not even
// an empty line. NAME is not empty, neither begins nor ends with a space, and holds no "/", "\"
// or control character; VERSION is one that ParseVersion accepts; DIGEST is 64 hexadecimal
// digits in either case (returned in lower case). nullopt for anything else, and for a text
// over kMaxManifestBytes.
std::optional<UpdaterManifest> ParseUpdaterManifest(std::string_view text);

// The numbers of a dotted version such as "4.0.0.1": 1 to 8 numbers of 1 to 9 decimal digits
// each, separated by single dots, nothing else (no sign, no space, no empty number). nullopt for
// anything else.
std::optional<std::vector<uint32_t>> ParseVersion(std::string_view text);

// Compares two parsed versions number by number, a missing number counting as 0 ("4.0" equals
// "4.0.0"): negative when `a` is older than `b`, 0 when they are the same, positive when newer.
// So "4.0.0.1" < "4.0.0.2" < "4.0.1" < "4.0.10".
int CompareVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

}  // namespace tomeva

#endif  // TOMEVA_CORE_UPDATE_UPDATER_MANIFEST_H_

// Checking a detached Ed25519 signature in the signify format, the way the maker signs the
// updater's manifest, and the SHA-256 digest the manifest gives of the updater. A key or
// signature file is one comment line and one line of base64:
//
//   untrusted comment: <any text>\n
//   <base64 of "Ed", an 8-byte key number and the 32-byte public key (or 64-byte signature)>\n
//
// The signed message is the file's bytes as they are. The key number ties a signature to its
// key: a signature whose number differs from the key's was made with another key.
//
// Threads: any thread; nothing is shared.
#ifndef TOMEVA_PLATFORM_SIGNIFY_H_
#define TOMEVA_PLATFORM_SIGNIFY_H_

#include <optional>
#include <string>
#include <string_view>

namespace tomeva::platform {

enum class SignifyResult {
  kGood,                // made over these bytes with this key
  kBadSignature,        // the key's number, but not a signature of these bytes
  kOtherKey,            // a well-formed signature made with another key
  kMalformedSignature,  // not a signify signature file
  kMalformedKey,        // not a signify public key file
  kUnreadableFile,      // the signed file cannot be read
};

// Checks `signature_file` (the .sig file's text) over `message` against `public_key_file` (the
// .pub file's text). A comment line longer than 1024 bytes, a missing line end, anything after
// the base64 line, bad base64, a wrong length or an algorithm other than "Ed" makes the file
// malformed; a "\r" before a line end is allowed.
SignifyResult VerifySignify(std::string_view message, std::string_view signature_file,
                            std::string_view public_key_file);

// The same over the bytes of the regular file at `path` (a plain POSIX path), which is mapped
// rather than copied, so that a large updater costs no memory of its own.
SignifyResult VerifySignifyFile(const std::string& path, std::string_view signature_file,
                                std::string_view public_key_file);

// The SHA-256 digest of the regular file at `path` (a plain POSIX path; a link is not followed),
// as 64 lowercase hexadecimal digits; nullopt when it cannot be opened or read to its end. Read
// in pieces, so that a large updater costs no memory of its own.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_SIGNIFY_H_

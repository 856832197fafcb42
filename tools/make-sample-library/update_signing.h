// The sample's update key and its signed updater: the maker plays the publisher, who keeps the
// secret half of a key pair and signs each updater's manifest with it, and the installer, which
// puts the public half where the program looks for update keys (outside every library). Keys and
// signatures are in signify's Ed25519 format (docs/formats/version-page.md), so signify-openbsd
// checks them as well.
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_UPDATE_SIGNING_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_UPDATE_SIGNING_H_

#include <memory>
#include <string>
#include <string_view>

namespace tomeva::sample {

// A fresh Ed25519 key pair with a random key number. The secret half lives only in this object
// and is gone with it.
class UpdateSigningKey {
 public:
  // A new key; nullptr when the system's random source or the crypto library fails.
  static std::unique_ptr<UpdateSigningKey> Generate();
  ~UpdateSigningKey();
  UpdateSigningKey(const UpdateSigningKey&) = delete;
  UpdateSigningKey& operator=(const UpdateSigningKey&) = delete;

  // The public key file's text (two lines, the first the untrusted comment).
  std::string PublicKeyFile(std::string_view comment) const;
  // The detached signature file's text for `message`; "" when signing fails.
  std::string SignatureFile(std::string_view message, std::string_view comment) const;

 private:
  struct Key;
  explicit UpdateSigningKey(std::unique_ptr<Key> key);
  std::unique_ptr<Key> key_;
};

// The SHA-256 digest of `bytes` as 64 lowercase hexadecimal digits, as a manifest gives it; ""
// when the crypto library fails.
std::string Sha256Hex(std::string_view bytes);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_UPDATE_SIGNING_H_

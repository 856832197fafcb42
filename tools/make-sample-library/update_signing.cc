#include "tools/make-sample-library/update_signing.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <QByteArray>

namespace tomeva::sample {

struct UpdateSigningKey::Key {
  EVP_PKEY* pkey = nullptr;
  unsigned char number[8] = {};
  ~Key() { EVP_PKEY_free(pkey); }
};

namespace {

// "untrusted comment: ...\n" and the base64 of "Ed", the key number and `payload`.
std::string SignifyFile(std::string_view comment, const unsigned char* number,
                        const unsigned char* payload, size_t payload_size) {
  QByteArray bytes("Ed");
  bytes.append(reinterpret_cast<const char*>(number), 8);
  bytes.append(reinterpret_cast<const char*>(payload), static_cast<qsizetype>(payload_size));
  return "untrusted comment: " + std::string(comment) + "\n" + bytes.toBase64().toStdString() +
         "\n";
}

}  // namespace

UpdateSigningKey::UpdateSigningKey(std::unique_ptr<Key> key) : key_(std::move(key)) {}
UpdateSigningKey::~UpdateSigningKey() = default;

std::unique_ptr<UpdateSigningKey> UpdateSigningKey::Generate() {
  auto key = std::make_unique<Key>();
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  const bool made = context != nullptr && EVP_PKEY_keygen_init(context) == 1 &&
                    EVP_PKEY_keygen(context, &key->pkey) == 1;
  EVP_PKEY_CTX_free(context);
  if (!made || RAND_bytes(key->number, sizeof key->number) != 1) return nullptr;
  return std::unique_ptr<UpdateSigningKey>(new UpdateSigningKey(std::move(key)));
}

std::string UpdateSigningKey::PublicKeyFile(std::string_view comment) const {
  unsigned char public_key[32];
  size_t size = sizeof public_key;
  if (EVP_PKEY_get_raw_public_key(key_->pkey, public_key, &size) != 1 || size != 32) return "";
  return SignifyFile(comment, key_->number, public_key, size);
}

std::string UpdateSigningKey::SignatureFile(std::string_view message,
                                            std::string_view comment) const {
  unsigned char signature[64];
  size_t size = sizeof signature;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  static const unsigned char kNothing = 0;
  const auto* data =
      message.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(message.data());
  const bool ok = context != nullptr &&
                  EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key_->pkey) == 1 &&
                  EVP_DigestSign(context, signature, &size, data, message.size()) == 1 &&
                  size == sizeof signature;
  EVP_MD_CTX_free(context);
  return ok ? SignifyFile(comment, key_->number, signature, size) : "";
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1 ||
      size != 32) {
    return "";
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  return hex;
}

}  // namespace tomeva::sample

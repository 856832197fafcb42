#include "platform/signify.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace tomeva::platform {
namespace {

constexpr std::string_view kCommentStart = "untrusted comment: ";
// signify's own limit on the comment line.
constexpr size_t kMaxCommentBytes = 1024;
constexpr size_t kAlgorithmBytes = 2;
constexpr size_t kKeyNumberBytes = 8;
constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;

// The decoded base64 line of a signify file whose payload after the algorithm and the key
// number is `payload_bytes` long; nullopt when the file is not one.
std::optional<QByteArray> DecodeSignifyFile(std::string_view text, size_t payload_bytes) {
  if (text.substr(0, kCommentStart.size()) != kCommentStart) return std::nullopt;
  const size_t comment_end = text.find('\n');
  if (comment_end == std::string_view::npos || comment_end > kMaxCommentBytes) {
    return std::nullopt;
  }
  std::string_view line = text.substr(comment_end + 1);
  // Exactly one more line, ended: a key or signature file carries nothing after it.
  if (line.empty() || line.back() != '\n') return std::nullopt;
  line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.find('\n') != std::string_view::npos) return std::nullopt;
  const QByteArray::FromBase64Result decoded =
      QByteArray::fromBase64Encoding(QByteArray(line.data(), static_cast<qsizetype>(line.size())),
                                     QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  const QByteArray& bytes = *decoded;
  if (static_cast<size_t>(bytes.size()) != kAlgorithmBytes + kKeyNumberBytes + payload_bytes ||
      !bytes.startsWith("Ed")) {
    return std::nullopt;
  }
  return bytes;
}

bool Ed25519Verify(const unsigned char* public_key, const unsigned char* signature,
                   std::string_view message) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key, kPublicKeyBytes),
      &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  if (key == nullptr || context == nullptr) return false;
  // Ed25519 hashes the message itself: no digest is named.
  if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  static const unsigned char kNothing = 0;
  const auto* data =
      message.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(message.data());
  return EVP_DigestVerify(context.get(), signature, kSignatureBytes, data, message.size()) == 1;
}

}  // namespace

SignifyResult VerifySignify(std::string_view message, std::string_view signature_file,
                            std::string_view public_key_file) {
  const std::optional<QByteArray> key = DecodeSignifyFile(public_key_file, kPublicKeyBytes);
  if (!key) return SignifyResult::kMalformedKey;
  const std::optional<QByteArray> signature = DecodeSignifyFile(signature_file, kSignatureBytes);
  if (!signature) return SignifyResult::kMalformedSignature;
  if (std::memcmp(key->constData() + kAlgorithmBytes, signature->constData() + kAlgorithmBytes,
                  kKeyNumberBytes) != 0) {
    return SignifyResult::kOtherKey;
  }
  const auto* key_bytes =
      reinterpret_cast<const unsigned char*>(key->constData()) + kAlgorithmBytes + kKeyNumberBytes;
  const auto* signature_bytes = reinterpret_cast<const unsigned char*>(signature->constData()) +
                                kAlgorithmBytes + kKeyNumberBytes;
  return Ed25519Verify(key_bytes, signature_bytes, message) ? SignifyResult::kGood
                                                            : SignifyResult::kBadSignature;
}

SignifyResult VerifySignifyFile(const std::string& path, std::string_view signature_file,
                                std::string_view public_key_file) {
  // Not blocked by a FIFO and not led elsewhere by a link: only the regular file itself is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return SignifyResult::kUnreadableFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return SignifyResult::kUnreadableFile;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* mapped = nullptr;
  if (size > 0) {
    mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
      ::close(fd);
      return SignifyResult::kUnreadableFile;
    }
  }
  ::close(fd);
  const SignifyResult result = VerifySignify(
      std::string_view(static_cast<const char*>(mapped), size), signature_file, public_key_file);
  if (mapped != nullptr) ::munmap(mapped, size);
  return result;
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && context != nullptr &&
            EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> buffer(size_t{1} << 16);
  while (ok) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got)) == 1;
  }
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!ok || EVP_DigestFinal_ex(context.get(), digest, &size) != 1 || size != 32) {
    return std::nullopt;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  return hex;
}

}  // namespace tomeva::platform

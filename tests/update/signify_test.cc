// The signature check against keys and signatures that signify-openbsd makes in the test: good
// signatures verify, over any change of the bytes, the signature or its key number they do not,
// and malformed key and signature files are told apart from bad signatures.
#include "platform/signify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

class SignifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::access(TOMEVA_SIGNIFY, X_OK), 0)
        << "signify-openbsd is needed (scripts/packages.txt): " << TOMEVA_SIGNIFY;
    for (const char* key : {"a", "b"}) {
      ASSERT_TRUE(Run(std::string("-G -n -c 'key ") + key + "' -p " + dir_ / key + ".pub -s " +
                      dir_ / key + ".sec"));
    }
    key_a_ = Read(dir_ / "a.pub");
    key_b_ = Read(dir_ / "b.pub");
  }

  bool Run(const std::string& arguments) {
    const std::string command = std::string(TOMEVA_SIGNIFY) + " " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }
  std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
    return bytes;
  }
  // The signature file signify makes of `message` with key `key`.
  std::string Sign(const std::string& message, const char* key) {
    const std::string file = dir_ / ("m" + std::to_string(++signed_));
    EXPECT_TRUE(ReplaceFileAtomically(file, message));
    EXPECT_TRUE(Run("-S -s " + dir_ / key + ".sec -m " + file + " -x " + file + ".sig"));
    return Read(file + ".sig");
  }

  testing::TempDir dir_;
  std::string key_a_;
  std::string key_b_;
  int signed_ = 0;
};

// The file with byte `at` of its decoded second line changed.
std::string WithDecodedByteFlipped(const std::string& file, int at) {
  const size_t line = file.find('\n') + 1;
  const size_t end = file.find('\n', line);
  QByteArray bytes =
      QByteArray::fromBase64(QByteArray::fromStdString(file.substr(line, end - line)));
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  return file.substr(0, line) + bytes.toBase64().toStdString() + file.substr(end);
}

std::string WithCrLf(std::string file) {
  std::string out;
  for (char c : file) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST_F(SignifyTest, ChecksSignaturesMadeBySignify) {
  const std::string updater = "#!/bin/sh\necho updated\n";
  const std::string binary(
      "\x7f"
      "ELF\0\0\x01\xff",
      8);
  const std::string sig = Sign(updater, "a");
  const std::string comment_line = sig.substr(0, sig.find('\n') + 1);
  const std::string base64_line = sig.substr(sig.find('\n') + 1);
  struct Case {
    const char* name;
    std::string message;
    std::string signature;
    std::string key;
    SignifyResult expected;
  };
  const std::vector<Case> cases = {
      {"good", updater, sig, key_a_, SignifyResult::kGood},
      {"good, empty file", "", Sign("", "a"), key_a_, SignifyResult::kGood},
      {"good, binary bytes", binary, Sign(binary, "a"), key_a_, SignifyResult::kGood},
      {"good, lines ended with CR LF", updater, WithCrLf(sig), WithCrLf(key_a_),
       SignifyResult::kGood},
      {"one byte of the file changed", "#!/bin/sh\necho updatEd\n", sig, key_a_,
       SignifyResult::kBadSignature},
      {"a byte added to the file", updater + "\n", sig, key_a_, SignifyResult::kBadSignature},
      {"file cut short", updater.substr(0, 10), sig, key_a_, SignifyResult::kBadSignature},
      {"signature of another file", updater, Sign("other", "a"), key_a_,
       SignifyResult::kBadSignature},
      {"a bit of the signature changed", updater, WithDecodedByteFlipped(sig, 40), key_a_,
       SignifyResult::kBadSignature},
      {"signed with another key", updater, Sign(updater, "b"), key_a_, SignifyResult::kOtherKey},
      {"key number changed", updater, WithDecodedByteFlipped(sig, 3), key_a_,
       SignifyResult::kOtherKey},
      {"another key's number, signature good", updater, sig, WithDecodedByteFlipped(key_a_, 3),
       SignifyResult::kOtherKey},
      {"the key itself changed", updater, sig, WithDecodedByteFlipped(key_a_, 20),
       SignifyResult::kBadSignature},
      {"key: no comment line", updater, sig, key_a_.substr(key_a_.find('\n') + 1),
       SignifyResult::kMalformedKey},
      {"key: not base64", updater, sig, "untrusted comment: x\n*not base64*\n",
       SignifyResult::kMalformedKey},
      {"key: a signature file", updater, sig, sig, SignifyResult::kMalformedKey},
      {"key: empty", updater, sig, "", SignifyResult::kMalformedKey},
      {"key: another algorithm", updater, sig,
       "untrusted comment: x\n" + QByteArray("EX" + QByteArray(40, 'k')).toBase64().toStdString() +
           "\n",
       SignifyResult::kMalformedKey},
      {"signature: a key file", updater, key_a_, key_a_, SignifyResult::kMalformedSignature},
      {"signature: no line end", updater, sig.substr(0, sig.size() - 1), key_a_,
       SignifyResult::kMalformedSignature},
      {"signature: something after it", updater, sig + "rm -rf /\n", key_a_,
       SignifyResult::kMalformedSignature},
      {"signature: comment over 1024 bytes", updater,
       "untrusted comment: " + std::string(1100, 'c') + "\n" + base64_line, key_a_,
       SignifyResult::kMalformedSignature},
      {"signature: an HTML page", updater, "<html><body>404</body></html>\n", key_a_,
       SignifyResult::kMalformedSignature},
      {"signature: cut in the base64", updater, comment_line + base64_line.substr(0, 30) + "\n",
       key_a_, SignifyResult::kMalformedSignature},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifySignify(c.message, c.signature, c.key), c.expected);
  }
  // Key b verifies its own signature and not a's.
  EXPECT_EQ(VerifySignify(updater, Sign(updater, "b"), key_b_), SignifyResult::kGood);
  EXPECT_EQ(VerifySignify(updater, sig, key_b_), SignifyResult::kOtherKey);
}

TEST_F(SignifyTest, ChecksTheFileOnDisk) {
  const std::string updater = std::string(3 << 20, 'u') + "#!/bin/sh\n";
  const std::string sig = Sign(updater, "a");
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "setup.sh", updater));
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "empty", ""));
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir_ / "setup.sh").c_str(), (dir_ / "link").c_str()), 0);
  struct Case {
    const char* name;
    std::string path;
    std::string signature;
    SignifyResult expected;
  };
  const std::vector<Case> cases = {
      {"good", dir_ / "setup.sh", sig, SignifyResult::kGood},
      {"empty file", dir_ / "empty", Sign("", "a"), SignifyResult::kGood},
      {"another file", dir_ / "empty", sig, SignifyResult::kBadSignature},
      {"missing", dir_ / "none", sig, SignifyResult::kUnreadableFile},
      {"a folder", dir_.path(), sig, SignifyResult::kUnreadableFile},
      {"a FIFO is not waited on", dir_ / "fifo", sig, SignifyResult::kUnreadableFile},
      {"a link is not followed", dir_ / "link", sig, SignifyResult::kUnreadableFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifySignifyFile(c.path, c.signature, key_a_), c.expected);
  }
}

// The digest the manifest gives is taken of the regular file itself, in pieces: a large file, an
// empty one, and nothing through a link, a folder or a FIFO.
TEST_F(SignifyTest, Sha256OfTheFileOnDisk) {
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "abc", "abc"));
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "empty", ""));
  ASSERT_TRUE(ReplaceFileAtomically(dir_ / "large", std::string(1000000, 'a')));
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir_ / "abc").c_str(), (dir_ / "link").c_str()), 0);
  struct Case {
    std::string path;
    std::optional<std::string> digest;
  };
  const std::vector<Case> cases = {
      {dir_ / "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {dir_ / "empty", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {dir_ / "large", "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {dir_ / "none", std::nullopt},
      {dir_.path(), std::nullopt},
      {dir_ / "fifo", std::nullopt},
      {dir_ / "link", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Sha256OfFile(c.path), c.digest);
  }
}

}  // namespace
}  // namespace tomeva::platform

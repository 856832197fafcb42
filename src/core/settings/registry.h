// The registry as core sees it: string values under keys of two roots. The platform layer
// supplies the real store; tests use MemoryRegistry. Key paths use "\" between their parts
// ("SOFTWARE\lumq"); key paths and value names compare without regard to ASCII case. The empty
// value name is the key's default value. Strings are GBK.
#ifndef TOMEVA_CORE_SETTINGS_REGISTRY_H_
#define TOMEVA_CORE_SETTINGS_REGISTRY_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace tomeva {

enum class RegRoot { kLocalMachine, kCurrentUser };

// Stored type of a value. Only plain and expandable strings are strings to ReadRegString; any
// other type reads as missing.
enum class RegType { kString, kExpandString, kOther };

// Longest value text ReadRegString returns, in bytes: the reader's buffer holds 256 bytes
// including the terminating NUL, so 256 bytes of text or more do not fit and read as missing.
inline constexpr size_t kMaxRegStringBytes = 255;

class Registry {
 public:
  virtual ~Registry() = default;

  // The value's text, or `default_value` when the key or value is missing, the value is neither
  // a plain nor an expandable string, or its text is longer than kMaxRegStringBytes. An
  // expandable string is returned as stored (its %VARIABLES% are not expanded).
  virtual std::string ReadRegString(RegRoot root, std::string_view key,
                                    std::string_view value_name,
                                    std::string_view default_value) = 0;

  // Creates the key when missing and stores `value` as a plain string. False, with nothing
  // written, when the key cannot be created.
  virtual bool WriteRegString(RegRoot root, std::string_view key, std::string_view value_name,
                              std::string_view value) = 0;

  // Deletes the key with its values and every key below it. True when the key is gone
  // afterwards (also when it never existed).
  virtual bool DeleteKey(RegRoot root, std::string_view key) = 0;
};

// Applies the ReadRegString rules to a stored value: the text when it is a string type that fits,
// otherwise the default.
std::string RegStringOrDefault(RegType type, std::string_view text, std::string_view default_value);

// Canonical form of a key path: separators "\" (a "/" is taken as "\" too), no empty parts,
// ASCII letters lower-cased. Two paths name the same key when their canonical forms are equal.
std::string CanonicalRegKey(std::string_view key);

// An in-memory registry with the same rules, for tests and for running without a platform layer.
class MemoryRegistry : public Registry {
 public:
  std::string ReadRegString(RegRoot root, std::string_view key, std::string_view value_name,
                            std::string_view default_value) override;
  bool WriteRegString(RegRoot root, std::string_view key, std::string_view value_name,
                      std::string_view value) override;
  bool DeleteKey(RegRoot root, std::string_view key) override;

  // Stores a value of any type (what an installer or another program would have written).
  void SetValue(RegRoot root, std::string_view key, std::string_view value_name, RegType type,
                std::string_view text);
  // True when the key holds at least one value or has a key below it.
  bool KeyExists(RegRoot root, std::string_view key) const;
  // When set, WriteRegString fails (as when the key cannot be created).
  void set_read_only(bool read_only) { read_only_ = read_only; }

 private:
  struct Value {
    RegType type;
    std::string text;
  };
  // (root, canonical key) -> lower-cased value name -> value
  std::map<std::pair<RegRoot, std::string>, std::map<std::string, Value>> keys_;
  bool read_only_ = false;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_SETTINGS_REGISTRY_H_

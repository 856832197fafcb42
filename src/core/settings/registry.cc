#include "core/settings/registry.h"

#include "base/mbstring.h"

namespace tomeva {

std::string RegStringOrDefault(RegType type, std::string_view text,
                               std::string_view default_value) {
  if (type != RegType::kString && type != RegType::kExpandString) return std::string(default_value);
  if (text.size() > kMaxRegStringBytes) return std::string(default_value);
  // The stored value ends at its first NUL, as a C string would.
  size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string CanonicalRegKey(std::string_view key) {
  std::string out;
  std::string part;
  auto flush = [&] {
    if (part.empty()) return;
    if (!out.empty()) out += '\\';
    out += ToLowerAscii(part);
    part.clear();
  };
  for (size_t pos = 0; pos < key.size();) {
    size_t len = GbkCharLen(key, pos);
    if (len == 1 && (key[pos] == '\\' || key[pos] == '/')) {
      flush();
    } else {
      part.append(key.substr(pos, len));
    }
    pos += len;
  }
  flush();
  return out;
}

std::string MemoryRegistry::ReadRegString(RegRoot root, std::string_view key,
                                          std::string_view value_name,
                                          std::string_view default_value) {
  auto k = keys_.find({root, CanonicalRegKey(key)});
  if (k == keys_.end()) return std::string(default_value);
  auto v = k->second.find(ToLowerAscii(value_name));
  if (v == k->second.end()) return std::string(default_value);
  return RegStringOrDefault(v->second.type, v->second.text, default_value);
}

bool MemoryRegistry::WriteRegString(RegRoot root, std::string_view key,
                                    std::string_view value_name, std::string_view value) {
  if (read_only_ || CanonicalRegKey(key).empty()) return false;
  SetValue(root, key, value_name, RegType::kString, value);
  return true;
}

bool MemoryRegistry::DeleteKey(RegRoot root, std::string_view key) {
  const std::string canon = CanonicalRegKey(key);
  if (canon.empty()) return false;  // never the whole root
  for (auto it = keys_.begin(); it != keys_.end();) {
    const std::string& k = it->first.second;
    bool below = k == canon || (k.size() > canon.size() && StartsWith(k, canon) &&
                                k[canon.size()] == '\\');
    if (it->first.first == root && below) {
      it = keys_.erase(it);
    } else {
      ++it;
    }
  }
  return true;
}

void MemoryRegistry::SetValue(RegRoot root, std::string_view key, std::string_view value_name,
                              RegType type, std::string_view text) {
  keys_[{root, CanonicalRegKey(key)}][ToLowerAscii(value_name)] = Value{type, std::string(text)};
}

bool MemoryRegistry::KeyExists(RegRoot root, std::string_view key) const {
  const std::string canon = CanonicalRegKey(key);
  for (const auto& [k, values] : keys_) {
    if (k.first != root) continue;
    if (k.second == canon ||
        (StartsWith(k.second, canon) && k.second.size() > canon.size() &&
         k.second[canon.size()] == '\\')) {
      return true;
    }
  }
  return false;
}

}  // namespace tomeva

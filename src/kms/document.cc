#include "kms/document.h"

#include <cstdint>
#include <cstdio>
#include <map>

#include "base/gbk.h"
#include "base/mbstring.h"
#include "kms/terms.h"

namespace tomeva::kms {
namespace {

void PutVarint(uint64_t n, std::string* out) {
  while (n >= 0x80) {
    out->push_back(static_cast<char>((n & 0x7F) | 0x80));
    n >>= 7;
  }
  out->push_back(static_cast<char>(n));
}

bool GetVarint(std::string_view* in, uint64_t* n) {
  *n = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in->empty()) return false;
    unsigned char c = static_cast<unsigned char>(in->front());
    in->remove_prefix(1);
    *n |= static_cast<uint64_t>(c & 0x7F) << shift;
    if ((c & 0x80) == 0) return true;
  }
  return false;
}

bool GetBytes(std::string_view* in, std::string_view* out) {
  uint64_t len;
  if (!GetVarint(in, &len) || len > in->size()) return false;
  *out = in->substr(0, len);
  in->remove_prefix(len);
  return true;
}

// Two independent 64-bit FNV-1a hashes: enough to keep distinct long keys apart.
std::string HashHex(std::string_view s) {
  uint64_t a = 14695981039346656037ull, b = 0x84222325cbf29ce4ull;
  for (unsigned char c : s) {
    a = (a ^ c) * 1099511628211ull;
    b = (b ^ (c + 0x5Bu)) * 0x100000001b3ull + 0x9E37u;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  return buf;
}

}  // namespace

std::string KeyTerm(std::string_view key) {
  if (key.size() <= 200) return kKeyPrefix + std::string(key);
  return kKeyPrefix + std::string("\x01") + HashHex(key) + std::to_string(key.size());
}

Xapian::Document BuildDocument(const PendingDocument& pending, FieldRegistry* registry,
                               bool* changed) {
  Xapian::Document doc;
  std::string data;
  std::map<std::string, uint32_t> next_pos;  // per prefix, so values of one field stay apart
  for (const FieldValue& f : pending.fields) {
    if (f.stored) {
      PutVarint(f.name.size(), &data);
      data += f.name;
      PutVarint(f.value.size(), &data);
      data += f.value;
    }
    if (!f.indexed) continue;
    bool added = false;
    const FieldInfo& info = registry->Intern(f.name, f.tokenized, &added);
    *changed = *changed || added;
    std::string utf8 = GbkToUtf8(f.value);
    if (info.tokenized) {
      uint32_t& pos = next_pos.try_emplace(info.prefix, 1).first->second;
      IndexText(utf8, info.prefix, registry->scheme(), &pos, &doc);
    } else {
      std::string term = WholeValueTerm(utf8, info.prefix);
      if (term.size() > info.prefix.size()) doc.add_term(term);
    }
  }
  if (!pending.key.empty()) doc.add_boolean_term(KeyTerm(pending.key));
  doc.set_data(data);
  return doc;
}

std::optional<std::string> FindStoredField(std::string_view data, std::string_view name) {
  std::optional<std::string> loose;
  while (!data.empty()) {
    std::string_view n, v;
    if (!GetBytes(&data, &n) || !GetBytes(&data, &v)) break;
    if (n == name) return std::string(v);
    if (!loose && EqualsNoCase(n, name)) loose = std::string(v);
  }
  return loose;
}

bool ReadStoredFields(std::string_view data,
                      std::vector<std::pair<std::string, std::string>>* fields) {
  while (!data.empty()) {
    std::string_view n, v;
    if (!GetBytes(&data, &n) || !GetBytes(&data, &v)) return false;
    fields->emplace_back(n, v);
  }
  return true;
}

}  // namespace tomeva::kms

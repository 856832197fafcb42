#include "platform/ini_registry.h"

#include <QDir>
#include <QSettings>
#include <QString>
#include <QVariant>

#include "base/gbk.h"
#include "base/mbstring.h"
#include "platform/environment.h"

namespace tomeva::platform {
namespace {

constexpr char kStringTag[] = "sz:";
constexpr char kExpandTag[] = "expand_sz:";

// One key part or value name as a QSettings key part: "/" and "\" separate parts there, "%"
// escapes, and "@" starts value names, so those four are percent-escaped.
QString EncodePart(std::string_view gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '%': out += "%25"; break;
      case '/': out += "%2F"; break;
      case '\\': out += "%5C"; break;
      case '@': out += "%40"; break;
      default: out += c;
    }
  }
  return QString::fromStdString(out);
}

// The QSettings group of a key, "" when the key path is empty.
QString GroupOf(std::string_view key) {
  const std::string canon = CanonicalRegKey(key);
  if (canon.empty()) return QString();
  QString group;
  for (const std::string& part : Split(canon, "\\")) {
    if (!group.isEmpty()) group += '/';
    group += EncodePart(part);
  }
  return group;
}

// The QSettings key of a value: its key's group, then "@" and the lower-cased name ("@" alone for
// the default value). Key parts never begin with "@", so a value never collides with a subkey.
QString ValueKey(std::string_view key, std::string_view value_name) {
  return GroupOf(key) + "/@" + EncodePart(ToLowerAscii(value_name));
}

}  // namespace

IniRegistry::IniRegistry(std::string dir) : dir_(dir.empty() ? RegistryDir() : std::move(dir)) {}

std::string IniRegistry::FilePath(RegRoot root) const {
  return dir_ + (root == RegRoot::kLocalMachine ? "/HKLM.ini" : "/HKCU.ini");
}

std::string IniRegistry::ReadRegString(RegRoot root, std::string_view key,
                                       std::string_view value_name,
                                       std::string_view default_value) {
  if (GroupOf(key).isEmpty()) return std::string(default_value);
  QSettings ini(QString::fromStdString(FilePath(root)), QSettings::IniFormat);
  QVariant stored = ini.value(ValueKey(key, value_name));
  if (!stored.isValid()) return std::string(default_value);
  std::string text = stored.toString().toStdString();
  RegType type = RegType::kOther;
  if (StartsWith(text, kStringTag)) {
    type = RegType::kString;
    text.erase(0, sizeof kStringTag - 1);
  } else if (StartsWith(text, kExpandTag)) {
    type = RegType::kExpandString;
    text.erase(0, sizeof kExpandTag - 1);
  }
  return RegStringOrDefault(type, Utf8ToGbk(text), default_value);
}

bool IniRegistry::WriteRegString(RegRoot root, std::string_view key, std::string_view value_name,
                                 std::string_view value) {
  return WriteValue(root, key, value_name, RegType::kString, value);
}

bool IniRegistry::WriteValue(RegRoot root, std::string_view key, std::string_view value_name,
                             RegType type, std::string_view text) {
  if (GroupOf(key).isEmpty()) return false;
  if (!QDir().mkpath(QString::fromStdString(dir_))) return false;
  QSettings ini(QString::fromStdString(FilePath(root)), QSettings::IniFormat);
  if (!ini.isWritable()) return false;
  std::string tag = type == RegType::kString       ? kStringTag
                    : type == RegType::kExpandString ? kExpandTag
                                                     : "binary:";
  ini.setValue(ValueKey(key, value_name), QString::fromStdString(tag + GbkToUtf8(text)));
  ini.sync();
  return ini.status() == QSettings::NoError;
}

bool IniRegistry::DeleteKey(RegRoot root, std::string_view key) {
  const QString group = GroupOf(key);
  if (group.isEmpty()) return false;  // never the whole root
  QSettings ini(QString::fromStdString(FilePath(root)), QSettings::IniFormat);
  ini.remove(group);
  ini.sync();
  return ini.status() == QSettings::NoError;
}

}  // namespace tomeva::platform

// The registry on Linux: one INI file per root (HKLM.ini, HKCU.ini) in a folder, by default
// environment.h's RegistryDir(). Layout in docs/formats/registry.md. Each call opens the file
// afresh and writes it back at once, so separate processes see each other's values. Not for
// concurrent writers in one process.
#ifndef TOMEVA_PLATFORM_INI_REGISTRY_H_
#define TOMEVA_PLATFORM_INI_REGISTRY_H_

#include <string>
#include <string_view>

#include "core/settings/registry.h"

namespace tomeva::platform {

class IniRegistry : public Registry {
 public:
  // Registry files in `dir`; the empty string means RegistryDir().
  explicit IniRegistry(std::string dir = std::string());

  std::string ReadRegString(RegRoot root, std::string_view key, std::string_view value_name,
                            std::string_view default_value) override;
  bool WriteRegString(RegRoot root, std::string_view key, std::string_view value_name,
                      std::string_view value) override;
  bool DeleteKey(RegRoot root, std::string_view key) override;

  // Stores a value of the given type (an installer's or another program's value). False when
  // the file cannot be written.
  bool WriteValue(RegRoot root, std::string_view key, std::string_view value_name, RegType type,
                  std::string_view text);

  // The INI file of a root.
  std::string FilePath(RegRoot root) const;

 private:
  std::string dir_;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_INI_REGISTRY_H_

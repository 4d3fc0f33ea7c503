// What the test kit asks of Windows Installer: a property of one of its packages, whether a product
// is installed (one of its own, or any of the agent's package family), and a silent removal.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace velmor::e2e::kit {

// A property of the package at `path` (ProductCode, UpgradeCode, ProductVersion); empty when the
// package or the property cannot be read.
std::wstring PackageProperty(const std::wstring& path, const std::wstring& property);

struct InstalledProduct {
  std::wstring code;
  std::wstring version;
};
// An installed product of the package family `upgradeCode`; nothing when none is installed.
std::optional<InstalledProduct> InstalledProductOfFamily(const std::wstring& upgradeCode);
bool ProductInstalled(const std::wstring& productCode);
// Removes the product without a user interface (msiexec /x); msiexec's exit code, nothing when it
// did not end within `bound` (it is ended then).
std::optional<DWORD> UninstallProduct(const std::wstring& productCode, std::chrono::milliseconds bound);

}  // namespace velmor::e2e::kit

#include "tests/e2e/KitPackages.h"

#include <msi.h>
#include <msiquery.h>

#include "tests/e2e/Processes.h"

namespace velmor::e2e::kit {
namespace {

struct MsiHandleTraits : Win32LastErrorTraits {
  using Type = MSIHANDLE;
  static void Close(MSIHANDLE handle) { ::MsiCloseHandle(handle); }
};
using UniqueMsiHandle = velmor::UniqueHandle<MsiHandleTraits>;

}  // namespace

std::wstring PackageProperty(const std::wstring& path, const std::wstring& property) {
  UniqueMsiHandle database;
  if (::MsiOpenDatabaseW(path.c_str(), nullptr /* read only */, &database.put()) != ERROR_SUCCESS) {
    return {};
  }
  const std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property` = '" + property + L"'";
  UniqueMsiHandle view;
  UniqueMsiHandle record;
  if (::MsiDatabaseOpenViewW(database.get(), query.c_str(), &view.put()) != ERROR_SUCCESS ||
      ::MsiViewExecute(view.get(), 0) != ERROR_SUCCESS || ::MsiViewFetch(view.get(), &record.put()) != ERROR_SUCCESS) {
    return {};
  }
  wchar_t value[256] = {};
  DWORD length = static_cast<DWORD>(std::size(value));
  if (::MsiRecordGetStringW(record.get(), 1, value, &length) != ERROR_SUCCESS) {
    return {};
  }
  return {value, length};
}

std::optional<InstalledProduct> InstalledProductOfFamily(const std::wstring& upgradeCode) {
  wchar_t code[39] = {};
  if (upgradeCode.empty() || ::MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, 0, code) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  InstalledProduct product{code, {}};
  wchar_t version[64] = {};
  DWORD length = static_cast<DWORD>(std::size(version));
  if (::MsiGetProductInfoW(code, L"VersionString", version, &length) == ERROR_SUCCESS) {
    product.version.assign(version, length);
  }
  return product;
}

bool ProductInstalled(const std::wstring& productCode) {
  return !productCode.empty() && ::MsiQueryProductStateW(productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

std::optional<DWORD> UninstallProduct(const std::wstring& productCode, std::chrono::milliseconds bound) {
  ChildProcess run = ChildProcess::LaunchWide(Widen(SystemFolder() + "msiexec.exe"), L"/x " + productCode + L" /qn");
  std::optional<DWORD> exitCode = run.WaitForExit(bound);
  if (!exitCode) {
    run.Terminate();
  }
  return exitCode;
}

}  // namespace velmor::e2e::kit

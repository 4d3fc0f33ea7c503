#include "tests/e2e/Registry.h"

#include "peers/AgentContract.h"
#include "platform/win32/Win32Handles.h"
#include "tests/e2e/Processes.h"

namespace velmor::e2e {
namespace {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kAutostartName = "Tessaly";
constexpr const wchar_t* kAutostartWideName = L"Tessaly";
constexpr const char* kHttpsCommandKey = "https\\shell\\open\\command";
constexpr const char* kWineAppDefaults = "Software\\Wine\\AppDefaults\\";

UniqueWin32Key OpenRunKey(REGSAM access) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, access | KEY_WOW64_32KEY, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return UniqueWin32Key();
  }
  return UniqueWin32Key(key);
}

std::optional<std::string> ReadString(HKEY root, const char* path, const char* name) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  UniqueWin32Key key(opened);
  char buffer[2048] = {};
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(buffer);
}

// A value's type and every byte of it, by `query` (RegQueryValueEx's last three arguments) asked
// for its size first and then for its bytes.
template <typename Query>
std::optional<RegistryValue> ReadWholeValue(const Query& query) {
  RegistryValue value;
  DWORD size = 0;
  if (query(&value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  if (query(&value.type, reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

}  // namespace

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::optional<RegistryValue> ReadAutostart() {
  const UniqueWin32Key key = OpenRunKey(KEY_QUERY_VALUE);
  if (!key) {
    return std::nullopt;
  }
  return ReadWholeValue([&key](DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExA(key.get(), kAutostartName, nullptr, type, data, size);
  });
}

bool WriteAutostart(const std::string& text) {
  RegistryValue value{REG_SZ, text};
  value.data.push_back('\0');
  return WriteAutostartRaw(value);
}

bool WriteAutostartRaw(const RegistryValue& value) {
  UniqueWin32Key key = OpenRunKey(KEY_SET_VALUE);
  return key &&
         ::RegSetValueExA(key.get(), kAutostartName, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool WriteAutostartWide(const std::wstring& text) {
  UniqueWin32Key key = OpenRunKey(KEY_SET_VALUE);
  return key && ::RegSetValueExW(key.get(), kAutostartWideName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::optional<RegistryValue> QueryStoredValue(HKEY key, const std::wstring& name) {
  return ReadWholeValue([key, &name](DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, type, data, size);
  });
}

std::optional<RegistryValue> ReadAutostartAsStored() {
  const UniqueWin32Key key = OpenRunKey(KEY_QUERY_VALUE);
  return key ? QueryStoredValue(key.get(), kAutostartWideName) : std::nullopt;
}

bool RestoreAutostart(const RegistryValue& stored) {
  UniqueWin32Key key = OpenRunKey(KEY_SET_VALUE);
  return key && ::RegSetValueExW(key.get(), kAutostartWideName, 0, stored.type,
                                 reinterpret_cast<const BYTE*>(stored.data.data()),
                                 static_cast<DWORD>(stored.data.size())) == ERROR_SUCCESS;
}

void DeleteAutostart() {
  UniqueWin32Key key = OpenRunKey(KEY_SET_VALUE);
  if (key) {
    ::RegDeleteValueA(key.get(), kAutostartName);
  }
}

std::optional<std::string> RegisterHttpsHandler(const std::string& exe) {
  std::optional<std::string> previous = ReadString(HKEY_CLASSES_ROOT, kHttpsCommandKey, nullptr);
  HKEY created = nullptr;
  if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, kHttpsCommandKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created,
                        nullptr) == ERROR_SUCCESS) {
    UniqueWin32Key key(created);
    const std::string command = "\"" + exe + "\" \"%1\"";
    ::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                     static_cast<DWORD>(command.size() + 1));
  }
  return previous;
}

void RestoreHttpsHandler(const std::optional<std::string>& previous) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kHttpsCommandKey, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) {
    return;
  }
  UniqueWin32Key key(opened);
  if (previous) {
    ::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous->c_str()),
                     static_cast<DWORD>(previous->size() + 1));
  } else {
    ::RegDeleteValueA(key.get(), nullptr);
  }
}

std::vector<RegistryPlace> PlacesTheSuiteWrites() {
  std::vector<RegistryPlace> places = {
      {HKEY_LOCAL_MACHINE, "HKLM", kRunKey, KEY_WOW64_32KEY, kAutostartName},
      {HKEY_CLASSES_ROOT, "HKCR", kHttpsCommandKey, 0, ""},
      // velmorctl doctor's case: Task Manager's switch of the entry, and a compatibility mode on the agent.
      {HKEY_CURRENT_USER, "HKCU", kStartupSwitchKey, 0, kAutostartName},
      {HKEY_CURRENT_USER, "HKCU", kCompatibilityLayersKey, 0,
       ShippedFolder() + std::string(peers::kAgentExecutableName)},
  };
  if (RunningUnderWine()) {
    const std::string agent(peers::kAgentExecutableName);
    for (const std::string& exe : {agent, std::string("velmorctl.exe"), std::string("msiexec.exe")}) {
      places.push_back({HKEY_CURRENT_USER, "HKCU", std::string(kWineAppDefaults) + exe, 0, "Version"});
    }
    for (const std::string& exe : {agent, std::string("tessaly_window.exe")}) {
      places.push_back(
          {HKEY_CURRENT_USER, "HKCU", std::string(kWineAppDefaults) + exe + "\\DllOverrides", 0, "uxtheme"});
    }
  }
  return places;
}

bool PreferDllFromSearchPath(const std::string& exe, const std::string& dll, bool prefer) {
  const std::string path = kWineAppDefaults + exe + "\\DllOverrides";
  HKEY created = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  UniqueWin32Key key(created);
  if (!prefer) {
    return ::RegDeleteValueA(key.get(), dll.c_str()) == ERROR_SUCCESS;
  }
  const std::string order = "native,builtin";
  return ::RegSetValueExA(key.get(), dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                          static_cast<DWORD>(order.size() + 1)) == ERROR_SUCCESS;
}

bool SetWineVersionForAgent(const std::string& version) {
  return SetWineVersionFor(std::string(peers::kAgentExecutableName), version);
}

bool SetWineVersionFor(const std::string& program, const std::string& version) {
  const std::string path = kWineAppDefaults + program;
  HKEY created = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  UniqueWin32Key key(created);
  return ::RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                          static_cast<DWORD>(version.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace velmor::e2e

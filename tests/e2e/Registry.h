// The registry settings the tests set up and check: the autostart value, the https handler, and
// under Wine the Windows version reported to the agent.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmor::e2e {

// True when this process runs under Wine (ntdll exports wine_get_version there).
bool RunningUnderWine();

struct RegistryValue {
  DWORD type = REG_NONE;
  std::string data;  // every stored byte, terminating NUL included
};

// The autostart value "Tessaly" in HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run, 32-bit view.
std::optional<RegistryValue> ReadAutostart();
// Stores `text` as REG_SZ with its terminating NUL.
bool WriteAutostart(const std::string& text);
bool WriteAutostartRaw(const RegistryValue& value);
// Stores `text` as REG_SZ in UTF-16 with its terminating NUL, every character as it is.
bool WriteAutostartWide(const std::wstring& text);
// The value's bytes as the registry stores them (a string in UTF-16), for a restore that loses no
// character whatever the code page; and that restore.
std::optional<RegistryValue> ReadAutostartAsStored();
bool RestoreAutostart(const RegistryValue& stored);
// The same of any value of an open key (an empty name: the key's default value); null when absent.
std::optional<RegistryValue> QueryStoredValue(HKEY key, const std::wstring& name);
void DeleteAutostart();

// Makes `exe` the https open command, "<exe>" "%1"; returns the command it replaced, if any.
std::optional<std::string> RegisterHttpsHandler(const std::string& exe);
void RestoreHttpsHandler(const std::optional<std::string>& previous);

// Task Manager's and Settings' switches of the Run entries of the 32-bit view, and the compatibility
// layers set on programs, both under HKCU (values named "Tessaly" and by a program's full path).
inline constexpr const char* kStartupSwitchKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
inline constexpr const char* kCompatibilityLayersKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Where a value lies that the suite writes: the test kit takes each before a run and puts it back
// after it, whatever the suite did.
struct RegistryPlace {
  HKEY root = nullptr;
  std::string rootName;  // "HKLM", for messages
  std::string key;
  REGSAM view = 0;   // KEY_WOW64_32KEY for the 32-bit view, else 0
  std::string name;  // empty: the key's default value
};
// Every value the suite writes: the autostart value, the https open command, and under Wine the
// settings it gives the programs it starts.
std::vector<RegistryPlace> PlacesTheSuiteWrites();

// Under Wine: the Windows version reported to velmor.exe ("win8", "win81", "win10"...).
bool SetWineVersionForAgent(const std::string& version);
// The same for any program, by its file name ("msiexec.exe").
bool SetWineVersionFor(const std::string& program, const std::string& version);
// Under Wine: whether `exe` takes the DLL `dll` (name without ".dll") from the folders it searches, its own
// first, as Windows does, instead of Wine's built-in copy. Off removes the setting.
bool PreferDllFromSearchPath(const std::string& exe, const std::string& dll, bool prefer);

}  // namespace velmor::e2e

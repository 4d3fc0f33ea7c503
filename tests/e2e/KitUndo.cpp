#include "tests/e2e/KitUndo.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>

#include "platform/win32/Win32Handles.h"
#include "tests/e2e/AgentTest.h"
#include "tests/e2e/KitPackages.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/ServiceStandin.h"

namespace velmor::e2e::kit {
namespace {

// The programs of the kit that the suite starts, beside it.
constexpr const char* kKitPrograms[] = {"velmor.exe", "velmorctl.exe", "tessaly_window.exe", "tsysrv.exe",
                                        "url_recorder.exe"};

std::string Describe(const RegistryPlace& place) {
  return place.rootName + "\\" + place.key +
         (place.name.empty() ? " (default value)" : " value \"" + place.name + "\"");
}

UniqueWin32Key OpenKey(const RegistryPlace& place, const std::string& key, REGSAM access) {
  HKEY opened = nullptr;
  return UniqueWin32Key(
      ::RegOpenKeyExW(place.root, Widen(key).c_str(), 0, access | place.view, &opened) == ERROR_SUCCESS ? opened
                                                                                                        : nullptr);
}

std::optional<RegistryValue> ReadAsStored(const RegistryPlace& place) {
  const UniqueWin32Key key = OpenKey(place, place.key, KEY_QUERY_VALUE);
  return key ? QueryStoredValue(key.get(), Widen(place.name)) : std::nullopt;
}

bool SameValue(const std::optional<RegistryValue>& a, const std::optional<RegistryValue>& b) {
  return a.has_value() == b.has_value() && (!a || (a->type == b->type && a->data == b->data));
}

bool PutBack(const RegistryPlace& place, const std::optional<RegistryValue>& value) {
  const std::wstring name = Widen(place.name);
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  if (!value) {
    const UniqueWin32Key key = OpenKey(place, place.key, KEY_SET_VALUE);
    const LSTATUS deleted = key ? ::RegDeleteValueW(key.get(), valueName) : ERROR_FILE_NOT_FOUND;
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
  }
  HKEY created = nullptr;
  if (::RegCreateKeyExW(place.root, Widen(place.key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | place.view, nullptr,
                        &created, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueWin32Key key(created);
  return ::RegSetValueExW(key.get(), valueName, 0, value->type, reinterpret_cast<const BYTE*>(value->data.data()),
                          static_cast<DWORD>(value->data.size())) == ERROR_SUCCESS;
}

// Deletes `key` when it holds neither values nor keys (one the suite made, now emptied); true when
// it is gone.
bool DeleteIfEmpty(const RegistryPlace& place, const std::string& key) {
  {
    const UniqueWin32Key opened = OpenKey(place, key, KEY_QUERY_VALUE);
    if (!opened) {
      return true;
    }
    DWORD keys = 0;
    DWORD values = 0;
    if (::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS ||
        keys != 0 || values != 0) {
      return false;
    }
  }
  return ::RegDeleteKeyExW(place.root, Widen(key).c_str(), place.view, 0) == ERROR_SUCCESS;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         ::CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// The case folders of the suite's process: velmor-e2e-<process id>-<n> in the temporary folder.
std::vector<std::wstring> CaseFoldersOf(DWORD suiteProcessId) {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring pattern = std::wstring(temp) + L"velmor-e2e-" + std::to_wstring(suiteProcessId) + L"-*";
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return folders;
  }
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      folders.push_back(std::wstring(temp) + entry.cFileName + L"\\");
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return folders;
}

void RemoveFolderTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveFolderTree(folder + name + L"\\");
      } else {
        ::SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((folder + name).c_str());
      }
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(folder.c_str());
}

// The folders the kit's packages may leave: their maker's folder in the 32-bit program files, which
// Windows Installer leaves behind when it holds nothing of another product (seen under Wine).
std::vector<std::wstring> FoldersTheRunMayMake() {
  wchar_t programs[MAX_PATH] = {};
  DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles(x86)", programs, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    length = ::GetEnvironmentVariableW(L"ProgramFiles", programs, MAX_PATH);
  }
  if (length == 0 || length >= MAX_PATH) {
    return {};
  }
  return {std::wstring(programs, length) + L"\\Tessaly"};
}

// Removes the folder and the folders in it that hold no file; true when it is gone.
bool RemoveEmptyFolders(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..") {
        RemoveEmptyFolders(folder + L"\\" + name);
      }
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  return ::RemoveDirectoryW(folder.c_str()) != FALSE || ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Whether the process runs one of the kit's programs, or a program copied into one of the folders.
bool RunsAProgramOfTheRun(DWORD processId, const std::vector<std::wstring>& folders) {
  const UniqueWin32Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  wchar_t image[MAX_PATH * 4] = {};
  DWORD length = static_cast<DWORD>(std::size(image));
  if (!process || !::QueryFullProcessImageNameW(process.get(), 0, image, &length)) {
    return false;
  }
  const std::wstring path(image, length);
  const std::wstring kit = Widen(ExecutableFolder());
  for (const char* program : kKitPrograms) {
    const std::wstring own = kit + Widen(program);
    if (path.size() == own.size() && StartsWithIgnoringCase(path, own)) {
      return true;
    }
  }
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::wstring& folder) { return StartsWithIgnoringCase(path, folder); });
}

std::vector<DWORD> ProcessesOfTheRun(const std::vector<std::wstring>& folders) {
  std::vector<DWORD> found;
  HANDLE taken = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (taken == INVALID_HANDLE_VALUE) {
    return found;
  }
  const UniqueWin32Handle snapshot(taken);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != ::GetCurrentProcessId() && RunsAProgramOfTheRun(entry.th32ProcessID, folders)) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

// Ends them, a few rounds over, for a program may start another while the first ones end.
std::vector<DWORD> EndProcessesOfTheRun(const std::vector<std::wstring>& folders) {
  std::vector<DWORD> left = ProcessesOfTheRun(folders);
  for (int round = 0; round < 3 && !left.empty(); ++round) {
    for (DWORD processId : left) {
      const UniqueWin32Handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
      if (process && ::TerminateProcess(process.get(), 1)) {
        ::WaitForSingleObject(process.get(), 10000);
      }
    }
    left = ProcessesOfTheRun(folders);
  }
  return left;
}

}  // namespace

MachineSnapshot MachineSnapshot::Take() {
  MachineSnapshot snapshot;
  for (const std::wstring& folder : FoldersTheRunMayMake()) {
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      snapshot.madeFolders_.push_back(folder);
    }
  }
  for (const RegistryPlace& place : PlacesTheSuiteWrites()) {
    SavedValue saved{place, ReadAsStored(place), {}};
    for (std::size_t slash = place.key.find('\\');; slash = place.key.find('\\', slash + 1)) {
      const std::string key = place.key.substr(0, slash);
      if (!OpenKey(place, key, KEY_QUERY_VALUE)) {
        saved.absentKeys.push_back(key);
      }
      if (slash == std::string::npos) {
        break;
      }
    }
    snapshot.values_.push_back(std::move(saved));
  }
  return snapshot;
}

std::vector<std::string> MachineSnapshot::Undo(DWORD suiteProcessId, const std::vector<std::wstring>& packages) const {
  std::vector<std::string> left;
  const std::vector<std::wstring> caseFolders = CaseFoldersOf(suiteProcessId);

  RemoveServiceStandin();
  if (ServiceStandinInstalled()) {
    left.push_back("the service stand-in \"tsysrv\" is still installed");
  }
  // The package's own removal quits the agent it installed, whichever folder it was installed in.
  for (const std::wstring& package : packages) {
    const std::wstring product = PackageProperty(package, L"ProductCode");
    if (ProductInstalled(product)) {
      UninstallProduct(product, 180s + 2 * StartCost());
      if (ProductInstalled(product)) {
        left.push_back("the kit's package " + Narrow(product) + " is still installed");
      }
    }
  }
  for (DWORD processId : EndProcessesOfTheRun(caseFolders)) {
    left.push_back("a program of the kit still runs: process " + std::to_string(processId));
  }
  std::vector<std::pair<const RegistryPlace*, std::string>> madeKeys;
  for (const SavedValue& saved : values_) {
    if (!SameValue(ReadAsStored(saved.place), saved.value) &&
        (!PutBack(saved.place, saved.value) || !SameValue(ReadAsStored(saved.place), saved.value))) {
      left.push_back("could not put back " + Describe(saved.place));
    }
    for (const std::string& key : saved.absentKeys) {
      madeKeys.emplace_back(&saved.place, key);
    }
  }
  // The keys the run made, once every value is back: the innermost first, each once.
  std::sort(madeKeys.begin(), madeKeys.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  madeKeys.erase(
      std::unique(madeKeys.begin(), madeKeys.end(),
                  [](const auto& a, const auto& b) { return a.first->root == b.first->root && a.second == b.second; }),
      madeKeys.end());
  for (const auto& [place, key] : madeKeys) {
    if (!DeleteIfEmpty(*place, key)) {
      left.push_back("the key " + place->rootName + "\\" + key + ", made by the run, is still there");
    }
  }
  for (const std::wstring& folder : madeFolders_) {
    if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES && !RemoveEmptyFolders(folder)) {
      left.push_back("the folder " + Narrow(folder) + ", made by the run, still holds files");
    }
  }
  for (const std::wstring& folder : caseFolders) {
    RemoveFolderTree(folder);
    if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
      left.push_back("the case folder " + Narrow(folder) + " is still there");
    }
  }
  return left;
}

}  // namespace velmor::e2e::kit

#include "integration/Autostart.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "integration/AnsiText.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"

namespace velmor {

namespace {

// The value lives in the 32-bit view of the Run key, where the product's installer expects it. The
// shipped 32-bit agent sees that view anyway; naming it keeps a 64-bit build on the same value.
Win32Status OpenRunKey(AgentPlatform& os, std::uint32_t access, RegistryKey& key) {
  return os.RegOpenKeyExA(kHkeyLocalMachine, kRunKeyPath, 0, access | win32::kKeyWow64_32Key, key);
}

// No command line that Windows starts is longer than 32,767 characters: a value beyond this is no
// command line, and is not read.
constexpr std::uint32_t kLongestReadableValue = 65536;

}  // namespace

Win32Status ReadAutostartValue(AgentPlatform& os, AnsiString& text) {
  UniqueRegistryKey key(os);
  const Win32Status openStatus = OpenRunKey(os, win32::kKeyQueryValue, key.put());
  if (openStatus != win32::kErrorSuccess) {
    return openStatus;
  }
  AutostartBuffer buffer{};
  std::vector<std::uint8_t> longer;
  std::uint8_t* data = buffer.data();
  auto capacity = static_cast<std::uint32_t>(buffer.size());
  std::uint32_t size = capacity;
  std::uint32_t type = 0;
  Win32Status status = os.RegQueryValueExA(key.get(), kAutostartValueName, type, data, size);
  // Read again into a buffer of the size reported; the value may have grown meanwhile.
  for (int attempt = 0; status == win32::kErrorMoreData && attempt < 3 && size <= kLongestReadableValue; ++attempt) {
    longer.resize(size);
    data = longer.data();
    capacity = size;
    status = os.RegQueryValueExA(key.get(), kAutostartValueName, type, data, size);
  }
  if (status != win32::kErrorSuccess) {
    return status;
  }
  if (type != win32::kRegSz && type != win32::kRegExpandSz) {
    return win32::kErrorInvalidData;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data), std::min(size, capacity));
  text = AnsiString(bytes.substr(0, bytes.find('\0')));
  return win32::kErrorSuccess;
}

AnsiString GetAutostartTail(AgentPlatform& os, std::string_view text) {
  const std::optional<std::size_t> lastSpace = FindLastAnsiChar(os, text, ' ');
  if (!lastSpace) {
    return {};
  }
  if (!text.empty() && text.front() == '"') {
    const std::size_t closingQuote = text.find('"', 1);
    if (closingQuote != std::string_view::npos && *lastSpace < closingQuote) {
      // The space belongs to the quoted path (a folder such as "Program Files"), not to an argument.
      return AnsiString(text.substr(closingQuote + 1));
    }
  }
  return AnsiString(text.substr(*lastSpace));
}

bool IsAutostartSwitchedOff(std::string_view text) {
  return !text.empty() && text.back() == '0';
}

void WriteAutostartValue(AgentPlatform& os, std::string_view tail) {
  AnsiString text = "\"";
  text += ExecutableFolder(os);
  text += peers::kAgentExecutableName;
  text += '"';
  text += tail;

  UniqueRegistryKey key(os);
  if (OpenRunKey(os, win32::kKeySetValue, key.put()) != win32::kErrorSuccess) {
    return;
  }
  os.RegSetValueExA(key.get(), kAutostartValueName, win32::kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                    static_cast<std::uint32_t>(text.size() + 1));
}

}  // namespace velmor

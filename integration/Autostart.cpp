#include "integration/Autostart.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "app/AgentIdentity.h"
#include "integration/AnsiText.h"
#include "platform/ScopedHandles.h"

namespace velmor {

namespace {

// The value lives in the 32-bit view of the Run key, where the product's installer expects it. The
// shipped 32-bit agent sees that view anyway; naming it keeps a 64-bit build on the same value.
Win32Status OpenRunKey(AgentPlatform& os, std::uint32_t access, RegistryKey& key) {
  return os.RegOpenKeyExA(kHkeyLocalMachine, kRunKeyPath, 0, access | win32::kKeyWow64_32Key, key);
}

}  // namespace

Win32Status ReadAutostartValue(AgentPlatform& os, AutostartBuffer& buffer, std::uint32_t& size) {
  RegistryKey rawKey{};
  const Win32Status openStatus = OpenRunKey(os, win32::kKeyQueryValue, rawKey);
  if (openStatus != win32::kErrorSuccess) {
    return openStatus;
  }
  const UniqueRegistryKey key(os, rawKey);
  // Never let the system write past the buffer, whatever size the caller passed.
  size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(buffer.size()));
  std::uint32_t type = 0;  // received, not tested: the text is taken as it stands
  return os.RegQueryValueExA(key.get(), kAutostartValueName, type, buffer.data(), size);
}

std::string_view AutostartText(const AutostartBuffer& buffer, std::uint32_t size) {
  const std::size_t length = std::min<std::size_t>(size, buffer.size());
  const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), length);
  return bytes.substr(0, bytes.find('\0'));
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

bool IsAutostartSwitchedOff(const AutostartBuffer& buffer, std::uint32_t size) {
  const std::size_t length = std::min<std::size_t>(size, buffer.size());
  return length >= 2 && buffer[length - 1] == '\0' && buffer[length - 2] == '0';
}

void WriteAutostartValue(AgentPlatform& os, std::string_view tail) {
  AnsiString text = "\"";
  text += ExecutableFolder(os);
  text += kAgentExecutableName;
  text += '"';
  text += tail;

  RegistryKey rawKey{};
  if (OpenRunKey(os, win32::kKeySetValue, rawKey) != win32::kErrorSuccess) {
    return;
  }
  const UniqueRegistryKey key(os, rawKey);
  os.RegSetValueExA(key.get(), kAutostartValueName, win32::kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                    static_cast<std::uint32_t>(text.size() + 1));
}

}  // namespace velmor

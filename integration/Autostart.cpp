#include "integration/Autostart.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "integration/ExecutableFolder.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"

namespace velmor {

namespace {

// The read buffer of the common case, in bytes; a longer value is read again whole.
using AutostartBuffer = std::array<std::uint8_t, 1024>;

// The value lives in the 32-bit view of the Run key, where the product's installer expects it. The
// shipped 32-bit agent sees that view anyway; naming it keeps a 64-bit build on the same value.
Win32Status OpenRunKey(AgentPlatform& os, std::uint32_t access, RegistryKey& key) {
  return os.RegOpenKeyExA(kHkeyLocalMachine, peers::kRunKeyPath, 0, access | win32::kKeyWow64_32Key, key);
}

// The longest value read: the longest command line and its NUL.
constexpr std::uint32_t kBytesPerUnit = 2;
constexpr std::uint32_t kLongestReadableValue = (kLongestAutostartText + 1) * kBytesPerUnit;

// The text of a string value: its UTF-16 code units (little-endian, as the registry stores them) up
// to the first NUL; an odd last byte is no code unit.
std::wstring TextOfStoredString(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  text.reserve(size / kBytesPerUnit);
  for (std::size_t i = 0; i + 1 < size; i += kBytesPerUnit) {
    const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8U));
    if (unit == L'\0') {
      break;
    }
    text += unit;
  }
  return text;
}

// The bytes of a string value: the text's UTF-16 code units and a NUL.
std::vector<std::uint8_t> StoredString(std::wstring_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve((text.size() + 1) * kBytesPerUnit);
  for (const wchar_t unit : text) {
    const auto code = static_cast<std::uint32_t>(std::char_traits<wchar_t>::to_int_type(unit));
    bytes.push_back(static_cast<std::uint8_t>(code & 0xFFU));
    bytes.push_back(static_cast<std::uint8_t>((code >> 8U) & 0xFFU));
  }
  bytes.insert(bytes.end(), kBytesPerUnit, 0);
  return bytes;
}

}  // namespace

Win32Status ReadAutostartValue(AgentPlatform& os, std::wstring& text, std::uint32_t& type) {
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
  Win32Status status = os.RegQueryValueExW(key.get(), peers::kAutostartValueName, type, data, size);
  // Read again into a buffer of the size reported; the value may have grown meanwhile.
  for (int attempt = 0; status == win32::kErrorMoreData && attempt < 3 && size <= kLongestReadableValue; ++attempt) {
    longer.resize(size);
    data = longer.data();
    capacity = size;
    status = os.RegQueryValueExW(key.get(), peers::kAutostartValueName, type, data, size);
  }
  if (status != win32::kErrorSuccess) {
    return status;
  }
  if (type != win32::kRegSz && type != win32::kRegExpandSz) {
    return win32::kErrorInvalidData;
  }
  text = TextOfStoredString(data, std::min(size, capacity));
  return win32::kErrorSuccess;
}

std::wstring GetAutostartTail(std::wstring_view text) {
  // In UTF-16 the code unit of a space is never part of another character: the search from the end
  // cuts where a double-byte-safe search of the same value in the ANSI code page would.
  const std::size_t lastSpace = text.rfind(L' ');
  return lastSpace == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(lastSpace));
}

bool IsAutostartSwitchedOff(std::wstring_view text) {
  return !text.empty() && text.back() == L'0';
}

void WriteAutostartValue(AgentPlatform& os, std::wstring_view tail) {
  std::wstring text = L"\"";
  text += ExecutableFolder(os);
  for (const char c : peers::kAgentExecutableName) {
    text += static_cast<wchar_t>(c);  // ASCII
  }
  text += L'"';
  text += tail;

  UniqueRegistryKey key(os);
  if (OpenRunKey(os, win32::kKeySetValue, key.put()) != win32::kErrorSuccess) {
    return;
  }
  const std::vector<std::uint8_t> bytes = StoredString(text);
  os.RegSetValueExW(key.get(), peers::kAutostartValueName, win32::kRegSz, bytes.data(),
                    static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace velmor

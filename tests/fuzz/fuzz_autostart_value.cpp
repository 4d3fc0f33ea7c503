// The autostart value is data in the registry that other programs can write: whatever its type,
// bytes and length, reading it must give the code units it holds, and the rewrite must keep its tail
// unit for unit (a lone surrogate or a character of no code page included) after the agent's path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "integration/Autostart.h"
#include "peers/AgentContract.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/host/sim/SimDesktop.h"

using velmor::fuzz::Require;

namespace {

constexpr std::string_view kValueName = "Tessaly";

// The code unit at `index` of bytes stored in UTF-16 (little-endian).
wchar_t UnitAt(std::string_view bytes, std::size_t index) {
  return static_cast<wchar_t>(static_cast<std::uint8_t>(bytes[2 * index]) |
                              (static_cast<std::uint8_t>(bytes[2 * index + 1]) << 8U));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  // First byte: the value's type (REG_NONE to REG_DWORD); the rest: its bytes as stored.
  const std::uint32_t type = data[0] % 5U;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  velmor::sim::SimDesktop desktop;
  velmor::sim::SimProcess& agent = desktop.CreateBareProcess(L"velmor.exe", "C:\\P\\velmor.exe");
  desktop.registry.SetValue(velmor::peers::kRunKeyPath, kValueName,
                            {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});

  std::wstring text;
  const bool isString = type == velmor::win32::kRegSz || type == velmor::win32::kRegExpandSz;
  Require((velmor::ReadAutostartValue(agent, text) == velmor::win32::kErrorSuccess) == isString);
  Require(text.find(L'\0') == std::wstring::npos);
  for (std::size_t i = 0; isString && i < text.size(); ++i) {
    Require(UnitAt(bytes, i) == text[i]);  // the value's own code units, read whole
  }
  Require(!isString || text.size() == bytes.size() / 2 || UnitAt(bytes, text.size()) == L'\0');
  Require(agent.OpenHandles() == 0);
  (void)velmor::IsAutostartSwitchedOff(text);

  const std::wstring tail = velmor::GetAutostartTail(text);
  Require(tail.empty() || tail.front() == L' ');
  Require(tail.size() <= text.size());
  Require(text.substr(text.size() - tail.size()) == tail);  // always the value's own end
  Require(tail.find(L' ', 1) == std::wstring::npos);        // from its last space

  velmor::WriteAutostartValue(agent, tail);
  const std::optional<velmor::sim::RegValue> written = desktop.registry.Value(velmor::peers::kRunKeyPath, kValueName);
  Require(written.has_value() && written->type == velmor::win32::kRegSz);
  const std::string_view stored(reinterpret_cast<const char*>(written->bytes.data()), written->bytes.size());
  const std::wstring_view path = L"\"C:\\P\\velmor.exe\"";
  Require(stored.size() == 2 * (path.size() + tail.size() + 1));
  for (std::size_t i = 0; i < path.size() + tail.size(); ++i) {
    Require(UnitAt(stored, i) == (i < path.size() ? path[i] : tail[i - path.size()]));
  }
  Require(UnitAt(stored, path.size() + tail.size()) == L'\0');
  return 0;
}

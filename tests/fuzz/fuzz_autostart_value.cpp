// The autostart value is data in the registry that other programs can write: whatever its type,
// bytes, length and the code page, reading it must give text of its own bytes and the rewrite must
// stay sane.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "integration/Autostart.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/host/sim/SimDesktop.h"

using velmor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  // First byte: the code page and the value's type (REG_NONE to REG_DWORD); the rest: its bytes.
  const bool doubleByteCodePage = (data[0] & 1U) != 0;
  const std::uint32_t type = (data[0] >> 1U) % 5U;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  velmor::sim::SimDesktop desktop;
  if (doubleByteCodePage) {
    desktop.SetCodePage932();
  }
  velmor::sim::SimProcess& agent = desktop.CreateBareProcess(L"velmor.exe", "C:\\P\\velmor.exe");
  desktop.registry.SetValue(velmor::kRunKeyPath, velmor::kAutostartValueName,
                            {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});

  std::string text;
  const bool isString = type == velmor::win32::kRegSz || type == velmor::win32::kRegExpandSz;
  Require((velmor::ReadAutostartValue(agent, text) == velmor::win32::kErrorSuccess) == isString);
  Require(text.find('\0') == std::string::npos);
  Require(!isString || bytes.substr(0, text.size()) == text);  // the value's own bytes, read whole
  Require(!isString || text.size() == bytes.size() || bytes[text.size()] == '\0');
  Require(agent.OpenHandles() == 0);
  (void)velmor::IsAutostartSwitchedOff(text);

  const std::string tail = velmor::GetAutostartTail(agent, text);
  Require(tail.size() <= text.size());
  Require(text.substr(text.size() - tail.size()) == tail);  // always the value's own end

  velmor::WriteAutostartValue(agent, tail);
  const auto written = desktop.registry.StringValue(velmor::kRunKeyPath, velmor::kAutostartValueName);
  Require(written.has_value() && written->rfind("\"C:\\P\\velmor.exe\"", 0) == 0);
  return 0;
}

// The autostart value is data in the registry that other programs can write: whatever its bytes,
// size and the code page, reading it must stay within the buffer and the rewrite must stay sane.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "integration/Autostart.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/host/sim/SimDesktop.h"

using velmor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) {
    return 0;
  }
  // First byte: the code page; next four: the size the query reported; the rest: the value's bytes.
  const bool doubleByteCodePage = (data[0] & 1U) != 0;
  std::uint32_t reportedSize = 0;
  std::memcpy(&reportedSize, data + 1, sizeof(reportedSize));
  const std::string_view bytes(reinterpret_cast<const char*>(data + 5), size - 5);

  velmor::sim::SimDesktop desktop;
  if (doubleByteCodePage) {
    desktop.SetCodePage932();
  }
  velmor::sim::SimProcess& agent = desktop.CreateBareProcess(L"velmor.exe", "C:\\P\\velmor.exe");

  velmor::AutostartBuffer buffer{};
  std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));

  const std::string_view text = velmor::AutostartText(buffer, reportedSize);
  Require(text.size() <= buffer.size());
  Require(text.find('\0') == std::string_view::npos);
  (void)velmor::IsAutostartSwitchedOff(buffer, reportedSize);

  const std::string tail = velmor::GetAutostartTail(agent, text);
  Require(tail.size() <= text.size());
  Require(text.substr(text.size() - tail.size()) == tail);  // always the value's own end

  desktop.registry.CreateKey(velmor::kRunKeyPath);
  velmor::WriteAutostartValue(agent, tail);
  const auto written = desktop.registry.StringValue(velmor::kRunKeyPath, velmor::kAutostartValueName);
  Require(written.has_value() && written->rfind("\"C:\\P\\velmor.exe\"", 0) == 0);
  return 0;
}

// The autostart value: reading it whole, cutting its argument tail, telling whether it
// is switched off, and rewriting it to point at the agent.
#include "integration/Autostart.h"

#include <string>
#include <utility>
#include <vector>

#include "integration/ExecutableFolder.h"
#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

using sim::WideFromUtf8;

// The bytes the registry stores for `text` (UTF-8): its UTF-16 code units, little-endian.
std::vector<std::uint8_t> Utf16Bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const wchar_t unit : WideFromUtf8(text)) {
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit) & 0xFFU));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit) >> 8U));
  }
  return bytes;
}

class Autostart : public ::testing::Test {
 protected:
  SimProcess& Agent(const char* modulePath = kAgentPath) {
    return desktop.CreateBareProcess(L"\"velmor.exe\"", modulePath);
  }
  [[nodiscard]] std::optional<std::string> Stored() const {
    return desktop.registry.StringValue(kRunKey, kAutostartValue);
  }

  SimDesktop desktop;
};

TEST_F(Autostart, ReadGivesTheTextAndClosesTheKey) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
  SimProcess& agent = Agent();
  std::wstring text;
  EXPECT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, L"\"C:\\P\\velmor.exe\" 1");
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
}

TEST_F(Autostart, MissingKeyOrValueCountsAsUnreadable) {
  SimProcess& agent = Agent();
  std::wstring text = L"untouched";
  EXPECT_NE(ReadAutostartValue(agent, text), win32::kErrorSuccess) << "no key";
  desktop.registry.CreateKey(kRunKey);
  EXPECT_EQ(ReadAutostartValue(agent, text), sim::kErrorFileNotFound) << "no value";
  EXPECT_EQ(text, L"untouched") << "a failed read leaves the text alone";
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
}

// Values longer than the buffer, of another type, or stored without their NUL.
TEST_F(Autostart, ValueIsReadWholeAndOnlyAStringCountsAsText) {
  SimProcess& agent = Agent();
  const auto read = [&](std::uint32_t type, std::vector<std::uint8_t> bytes) {
    desktop.registry.SetValue(kRunKey, kAutostartValue, {type, std::move(bytes)});
    std::wstring text = L"unread";
    const Win32Status status = ReadAutostartValue(agent, text);
    return std::make_pair(status, text);
  };
  const auto string = [](const std::string& text) { return Utf16Bytes(text + std::string(1, '\0')); };
  const std::string longValue = "\"C:\\" + std::string(1100, 'x') + "\\velmor.exe\" 0";
  EXPECT_EQ(read(win32::kRegSz, string(longValue)), std::make_pair(win32::kErrorSuccess, WideFromUtf8(longValue)));
  EXPECT_EQ(GetAutostartTail(WideFromUtf8(longValue)), L" 0") << "the rewrite keeps the tail of a long value";
  EXPECT_TRUE(IsAutostartSwitchedOff(WideFromUtf8(longValue)));
  EXPECT_EQ(read(win32::kRegSz, string(std::string(511, 'x'))).second.size(), 511U) << "exactly fills the buffer";
  EXPECT_EQ(read(win32::kRegSz, Utf16Bytes("\"C:\\P\\velmor.exe\" 10")),
            std::make_pair(win32::kErrorSuccess, std::wstring(L"\"C:\\P\\velmor.exe\" 10")))
      << "stored without its NUL";
  std::vector<std::uint8_t> oddSize = Utf16Bytes("x 10");
  oddSize.push_back('1');
  EXPECT_EQ(read(win32::kRegSz, oddSize).second, L"x 10") << "an odd last byte is no character";
  EXPECT_EQ(read(win32::kRegExpandSz, string("%ProgramFiles%\\P\\velmor.exe 1")).second,
            L"%ProgramFiles%\\P\\velmor.exe 1");
  EXPECT_EQ(read(win32::kRegSz, Utf16Bytes(std::string("ab\0c0\0", 6))).second, L"ab") << "the text ends at its NUL";
  EXPECT_EQ(read(4, std::vector<std::uint8_t>{'0', 0, 0, 0}).first, win32::kErrorInvalidData) << "REG_DWORD";
  EXPECT_EQ(read(3, string("x 0")).first, win32::kErrorInvalidData) << "REG_BINARY";
  EXPECT_EQ(read(win32::kRegSz, string(std::string(32767, 'x'))).second.size(), 32767U) << "the longest command line";
  EXPECT_EQ(read(win32::kRegSz, string(std::string(32768, 'x'))).first, win32::kErrorMoreData)
      << "beyond any command line: cannot be read whole";
  int queries = 0;
  desktop.registry.onQuery = [&] {  // another program makes the value longer before each read
    ++queries;
    desktop.registry.SetValue(kRunKey, kAutostartValue,
                              {win32::kRegSz, string(std::string(static_cast<std::size_t>(1000 * queries), 'x'))});
  };
  std::wstring growing;
  EXPECT_EQ(ReadAutostartValue(agent, growing), win32::kErrorMoreData);
  EXPECT_EQ(queries, 4) << "read again three times at most";
  desktop.registry.onQuery = nullptr;
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
}

TEST_F(Autostart, SwitchedOffOnlyWhenTheTextEndsInZero) {
  for (const auto& [text, switchedOff] : std::vector<std::pair<std::wstring, bool>>{
           {L"\"C:\\P\\velmor.exe\" 10", true},
           {L"\"C:\\P\\velmor.exe\" 0", true},
           {L"0", true},
           {L"\"C:\\P\\velmor.exe\" 0 ", false},
           {L"\"C:\\P\\velmor.exe\" 1", false},
           {L"\"C:\\P\\velmor.exe\" 01", false},
           {L"", false},
       }) {
    EXPECT_EQ(IsAutostartSwitchedOff(text), switchedOff) << sim::Utf8FromWide(text);
  }
}

TEST_F(Autostart, TailRunsFromTheLastSpaceWithNoFurtherParsing) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"\"C:\\Program Files\\P\\velmor.exe\" firststart", L" firststart"},
      {L"\"C:\\P\\velmor.exe\" 1", L" 1"},
      {L"\"C:\\P\\velmor.exe\" -a -b", L" -b"},
      {L"\"C:\\P\\velmor.exe\"", L""},
      {L"C:\\P\\velmor.exe", L""},
      {L"", L""},
      // The only space lies in the quoted folder name: the tail is the rest of the path and its quote.
      {L"\"C:\\Program Files\\P\\velmor.exe\"", L" Files\\P\\velmor.exe\""},
      {L"\"C:\\Program Files\\P\\velmor.exe\"x", L" Files\\P\\velmor.exe\"x"},
      {L"C:\\Program Files\\P\\velmor.exe", L" Files\\P\\velmor.exe"},
      {L"\"C:\\P\\velmor.exe\" ", L" "},
  };
  for (const auto& [value, tail] : cases) {
    EXPECT_EQ(GetAutostartTail(value), tail) << "value: " << sim::Utf8FromWide(value);
  }
}

// 表 is 0x95 0x5C in code page 932, its trail byte a backslash; an ideographic space is 0x81 0x40
// there, no space byte. The value in UTF-16 is cut where a double-byte-safe search of its bytes
// in that code page cuts.
TEST_F(Autostart, TailAndFolderCutWhereTheDoubleByteCodePageWould) {
  desktop.registry.CreateKey(kRunKey);
  SimProcess& agent = Agent("C:\\P\\表velmor.exe");

  EXPECT_EQ(GetAutostartTail(WideFromUtf8("\"C:\\表\\velmor.exe\" 1")), L" 1");
  EXPECT_EQ(GetAutostartTail(WideFromUtf8("\"C:\\P\\velmor.exe\" 1\u3000x")), WideFromUtf8(" 1\u3000x"));
  WriteAutostartValue(agent, L" 1");
  EXPECT_EQ(Stored(), "\"C:\\P\\velmor.exe\" 1") << "the folder ends at the last real backslash";
}

// In ASCII the stored bytes are those that the code page's RegSetValueExA stores for the same text:
// the registry keeps UTF-16 whichever call wrote it, so no reader sees a difference.
TEST_F(Autostart, WriteStoresTheQuotedAgentPathAndTailWithItsNul) {
  desktop.registry.CreateKey(kRunKey);
  SimProcess& agent = Agent("C:\\X\\renamed-agent.exe");
  WriteAutostartValue(agent, L" 1");

  const std::string expected = "\"C:\\X\\velmor.exe\" 1";
  const std::optional<sim::RegValue> value = desktop.registry.Value(kRunKey, kAutostartValue);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, win32::kRegSz);
  EXPECT_EQ(value->bytes, Utf16Bytes(expected + std::string(1, '\0')));
  EXPECT_EQ(value->bytes.size(), (expected.size() + 1) * 2);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);

  // And it reads back exactly so.
  std::wstring text;
  ASSERT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, WideFromUtf8(expected));
}

TEST_F(Autostart, ReadAndWriteStayInThe32BitViewWhereTheInstallerPutTheValue) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
  desktop.registry64.SetString(kRunKey, kAutostartValue, "\"C:\\Wrong\\velmor.exe\" 0");
  SimProcess& agent = Agent("C:\\X\\velmor.exe");

  std::wstring text;
  ASSERT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, L"\"C:\\P\\velmor.exe\" 1");

  WriteAutostartValue(agent, L" 1");
  EXPECT_EQ(Stored(), "\"C:\\X\\velmor.exe\" 1");
  EXPECT_EQ(desktop.registry64.StringValue(kRunKey, kAutostartValue), "\"C:\\Wrong\\velmor.exe\" 0");
  EXPECT_TRUE(desktop.registry64.writes.empty());
}

TEST_F(Autostart, WriteWithoutAdministrativeRightsFailsQuietly) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\Old\\velmor.exe\" 1");
  desktop.registry.denyWriteAccess = true;
  SimProcess& agent = Agent();
  WriteAutostartValue(agent, L" 1");
  EXPECT_EQ(Stored(), "\"C:\\Old\\velmor.exe\" 1");
  EXPECT_TRUE(desktop.registry.writes.empty());
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
}

}  // namespace
}  // namespace velmor::test

// The autostart value: reading it whole, cutting its argument tail, telling whether it
// is switched off, and rewriting it to point at the agent.
#include "integration/Autostart.h"

#include <string>
#include <utility>
#include <vector>

#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

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
  std::string text;
  EXPECT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, "\"C:\\P\\velmor.exe\" 1");
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
}

TEST_F(Autostart, MissingKeyOrValueCountsAsUnreadable) {
  SimProcess& agent = Agent();
  std::string text = "untouched";
  EXPECT_NE(ReadAutostartValue(agent, text), win32::kErrorSuccess) << "no key";
  desktop.registry.CreateKey(kRunKey);
  EXPECT_EQ(ReadAutostartValue(agent, text), sim::kErrorFileNotFound) << "no value";
  EXPECT_EQ(text, "untouched") << "a failed read leaves the text alone";
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
}

// Values longer than the buffer, of another type, or stored without their NUL.
TEST_F(Autostart, ValueIsReadWholeAndOnlyAStringCountsAsText) {
  SimProcess& agent = Agent();
  const auto read = [&](std::uint32_t type, const std::string& bytes) {
    desktop.registry.SetValue(kRunKey, kAutostartValue, {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    std::string text = "unread";
    const Win32Status status = ReadAutostartValue(agent, text);
    return std::make_pair(status, text);
  };
  const std::string nul(1, '\0');
  const std::string longValue = "\"C:\\" + std::string(1100, 'x') + "\\velmor.exe\" 0";
  EXPECT_EQ(read(win32::kRegSz, longValue + nul), std::make_pair(win32::kErrorSuccess, longValue));
  EXPECT_EQ(GetAutostartTail(agent, longValue), " 0") << "the rewrite keeps the tail of a long value";
  EXPECT_TRUE(IsAutostartSwitchedOff(longValue));
  EXPECT_EQ(read(win32::kRegSz, std::string(1023, 'x') + nul).second.size(), 1023U) << "exactly fills the buffer";
  EXPECT_EQ(read(win32::kRegSz, "\"C:\\P\\velmor.exe\" 10"),
            std::make_pair(win32::kErrorSuccess, std::string("\"C:\\P\\velmor.exe\" 10")))
      << "stored without its NUL";
  EXPECT_EQ(read(win32::kRegExpandSz, "%ProgramFiles%\\P\\velmor.exe 1" + nul).second,
            "%ProgramFiles%\\P\\velmor.exe 1");
  EXPECT_EQ(read(win32::kRegSz, "ab" + nul + "c0" + nul).second, "ab") << "the text ends at its first NUL";
  EXPECT_EQ(read(4, std::string("0\0\0\0", 4)).first, win32::kErrorInvalidData) << "REG_DWORD";
  EXPECT_EQ(read(3, "x 0" + nul).first, win32::kErrorInvalidData) << "REG_BINARY";
  EXPECT_EQ(read(win32::kRegSz, std::string(70000, 'x') + nul).first, win32::kErrorMoreData)
      << "far beyond any command line";
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
}

TEST_F(Autostart, SwitchedOffOnlyWhenTheTextEndsInZero) {
  for (const auto& [text, switchedOff] : std::vector<std::pair<std::string, bool>>{
           {"\"C:\\P\\velmor.exe\" 10", true},
           {"\"C:\\P\\velmor.exe\" 0", true},
           {"0", true},
           {"\"C:\\P\\velmor.exe\" 0 ", false},
           {"\"C:\\P\\velmor.exe\" 1", false},
           {"\"C:\\P\\velmor.exe\" 01", false},
           {"", false},
       }) {
    EXPECT_EQ(IsAutostartSwitchedOff(text), switchedOff) << text;
  }
}

TEST_F(Autostart, TailRunsFromTheLastSpaceUnlessThatSpaceIsInsideTheQuotedPath) {
  SimProcess& agent = Agent();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"C:\\Program Files\\P\\velmor.exe\" firststart", " firststart"},
      {"\"C:\\P\\velmor.exe\" 1", " 1"},
      {"\"C:\\P\\velmor.exe\" -a -b", " -b"},
      {"\"C:\\P\\velmor.exe\"", ""},
      {"C:\\P\\velmor.exe", ""},
      {"", ""},
      // The only space belongs to the quoted folder name: there is no argument to keep.
      {"\"C:\\Program Files\\P\\velmor.exe\"", ""},
      {"\"C:\\Program Files\\P\\velmor.exe\"x", "x"},
      // Unquoted and unbalanced values keep the plain last-space rule.
      {"C:\\Program Files\\P\\velmor.exe", " Files\\P\\velmor.exe"},
      {"\"C:\\Program Files\\P\\velmor.exe", " Files\\P\\velmor.exe"},
      {"\"C:\\P\\velmor.exe\" ", " "},
  };
  for (const auto& [value, tail] : cases) {
    EXPECT_EQ(GetAutostartTail(agent, value), tail) << "value: " << value;
  }
}

TEST_F(Autostart, TailAndFolderNeverCutADoubleByteCharacter) {
  desktop.SetCodePage932();
  desktop.registry.CreateKey(kRunKey);
  // 0x95 0x5C is one character in code page 932; its trail byte is the backslash.
  const std::string folderWithDbcs = "C:\\\x95\x5C\\";
  SimProcess& agent = Agent("C:\\P\\\x95\x5Cvelmor.exe");

  EXPECT_EQ(GetAutostartTail(agent, "\"" + folderWithDbcs + "velmor.exe\" 1"), " 1");
  WriteAutostartValue(agent, " 1");
  EXPECT_EQ(Stored(), "\"C:\\P\\velmor.exe\" 1") << "the folder ends at the last real backslash";
}

TEST_F(Autostart, WithoutDbcsAwarenessTheSameBytesWouldCutDifferently) {
  // The same module path in a single-byte code page: 0x5C is a backslash of its own there.
  desktop.registry.CreateKey(kRunKey);
  SimProcess& agent = Agent("C:\\P\\\x95\x5Cvelmor.exe");
  WriteAutostartValue(agent, "");
  EXPECT_EQ(Stored(), "\"C:\\P\\\x95\\velmor.exe\"");
}

TEST_F(Autostart, WriteStoresTheQuotedAgentPathAndTailWithItsNul) {
  desktop.registry.CreateKey(kRunKey);
  SimProcess& agent = Agent("C:\\X\\renamed-agent.exe");
  WriteAutostartValue(agent, " 1");

  const std::string expected = "\"C:\\X\\velmor.exe\" 1";
  const std::optional<sim::RegValue> value = desktop.registry.Value(kRunKey, kAutostartValue);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, win32::kRegSz);
  EXPECT_EQ(value->bytes.size(), expected.size() + 1);
  EXPECT_EQ(value->bytes.back(), 0);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);

  // And it reads back exactly so.
  std::string text;
  ASSERT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, expected);
}

TEST_F(Autostart, ReadAndWriteStayInThe32BitViewWhereTheInstallerPutTheValue) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
  desktop.registry64.SetString(kRunKey, kAutostartValue, "\"C:\\Wrong\\velmor.exe\" 0");
  SimProcess& agent = Agent("C:\\X\\velmor.exe");

  std::string text;
  ASSERT_EQ(ReadAutostartValue(agent, text), win32::kErrorSuccess);
  EXPECT_EQ(text, "\"C:\\P\\velmor.exe\" 1");

  WriteAutostartValue(agent, " 1");
  EXPECT_EQ(Stored(), "\"C:\\X\\velmor.exe\" 1");
  EXPECT_EQ(desktop.registry64.StringValue(kRunKey, kAutostartValue), "\"C:\\Wrong\\velmor.exe\" 0");
  EXPECT_TRUE(desktop.registry64.writes.empty());
}

TEST_F(Autostart, WriteWithoutAdministrativeRightsFailsQuietly) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\Old\\velmor.exe\" 1");
  desktop.registry.denyWriteAccess = true;
  SimProcess& agent = Agent();
  WriteAutostartValue(agent, " 1");
  EXPECT_EQ(Stored(), "\"C:\\Old\\velmor.exe\" 1");
  EXPECT_TRUE(desktop.registry.writes.empty());
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
}

}  // namespace
}  // namespace velmor::test

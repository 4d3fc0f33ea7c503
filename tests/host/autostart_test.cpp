// The autostart value: reading it within its bounds, cutting its argument tail, telling whether it
// is switched off, and rewriting it to point at the agent.
#include "integration/Autostart.h"

#include <cstring>
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

  // A buffer holding exactly these bytes, the rest zero.
  static AutostartBuffer BufferOf(std::string_view bytes) {
    AutostartBuffer buffer{};
    std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));
    return buffer;
  }

  SimDesktop desktop;
};

TEST_F(Autostart, ReadGivesTheTextWithItsNulAndClosesTheKey) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
  SimProcess& agent = Agent();
  AutostartBuffer buffer{};
  auto size = static_cast<std::uint32_t>(buffer.size());

  EXPECT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorSuccess);
  EXPECT_EQ(size, std::strlen("\"C:\\P\\velmor.exe\" 1") + 1);
  EXPECT_EQ(AutostartText(buffer, size), "\"C:\\P\\velmor.exe\" 1");
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
}

TEST_F(Autostart, MissingKeyValueOrAnOversizedValueCountsAsUnreadable) {
  SimProcess& agent = Agent();
  AutostartBuffer buffer = BufferOf("untouched");
  auto size = static_cast<std::uint32_t>(buffer.size());
  EXPECT_NE(ReadAutostartValue(agent, buffer, size), win32::kErrorSuccess) << "no key";
  EXPECT_EQ(AutostartText(buffer, static_cast<std::uint32_t>(buffer.size())), "untouched")
      << "a failed open leaves the buffer alone";

  desktop.registry.CreateKey(kRunKey);
  size = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorFileNotFound) << "no value";

  desktop.registry.SetString(kRunKey, kAutostartValue, std::string(1024, 'x'));  // 1025 bytes with its NUL
  size = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorMoreData);
  EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);

  desktop.registry.SetString(kRunKey, kAutostartValue, std::string(1023, 'x'));  // exactly fills the buffer
  size = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorSuccess);
  EXPECT_EQ(size, 1024U);
}

TEST_F(Autostart, ReadNeverLetsTheQueryWritePastTheBuffer) {
  desktop.registry.SetString(kRunKey, kAutostartValue, std::string(2000, 'x'));
  SimProcess& agent = Agent();
  AutostartBuffer buffer{};
  std::uint32_t size = 4096;  // a caller's mistake: more than the buffer holds
  EXPECT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorMoreData);
}

TEST_F(Autostart, SwitchedOffOnlyWhenTheTextEndsInZero) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {std::string("\"C:\\P\\velmor.exe\" 10") + '\0', true},
      {std::string("\"C:\\P\\velmor.exe\" 0") + '\0', true},
      {std::string("0") + '\0', true},
      {std::string("\"C:\\P\\velmor.exe\" 0 ") + '\0', false},
      {std::string("\"C:\\P\\velmor.exe\" 1") + '\0', false},
      {std::string("\"C:\\P\\velmor.exe\" 01") + '\0', false},
      {"10", false},  // another type, no terminating NUL: the last byte is not NUL
      {std::string(1, '\0'), false},
      {"", false},
  };
  for (const auto& [bytes, switchedOff] : cases) {
    const AutostartBuffer buffer = BufferOf(bytes);
    EXPECT_EQ(IsAutostartSwitchedOff(buffer, static_cast<std::uint32_t>(bytes.size())), switchedOff)
        << "value of " << bytes.size() << " bytes: " << bytes.c_str();
  }
}

TEST_F(Autostart, SizesBeyondTheBufferAreCutToIt) {
  AutostartBuffer buffer{};
  buffer.fill('x');
  buffer[1022] = '0';
  buffer[1023] = '\0';
  EXPECT_TRUE(IsAutostartSwitchedOff(buffer, 1024));
  EXPECT_TRUE(IsAutostartSwitchedOff(buffer, 0xFFFFFFFFU)) << "read as the buffer's own end";
  EXPECT_EQ(AutostartText(buffer, 0xFFFFFFFFU).size(), 1023U);
  buffer[1023] = 'x';
  EXPECT_EQ(AutostartText(buffer, 1024).size(), 1024U) << "no NUL: the text stops at the size";
}

TEST_F(Autostart, TextStopsAtTheFirstNulWithinTheSize) {
  const AutostartBuffer buffer = BufferOf(std::string("ab\0cd", 5));
  EXPECT_EQ(AutostartText(buffer, 5), "ab");
  EXPECT_EQ(AutostartText(buffer, 1), "a");
  EXPECT_EQ(AutostartText(buffer, 0), "");
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
  AutostartBuffer buffer{};
  auto size = static_cast<std::uint32_t>(buffer.size());
  ASSERT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorSuccess);
  EXPECT_EQ(size, expected.size() + 1);
  EXPECT_EQ(AutostartText(buffer, size), expected);
}

TEST_F(Autostart, ReadAndWriteStayInThe32BitViewWhereTheInstallerPutTheValue) {
  desktop.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
  desktop.registry64.SetString(kRunKey, kAutostartValue, "\"C:\\Wrong\\velmor.exe\" 0");
  SimProcess& agent = Agent("C:\\X\\velmor.exe");

  AutostartBuffer buffer{};
  auto size = static_cast<std::uint32_t>(buffer.size());
  ASSERT_EQ(ReadAutostartValue(agent, buffer, size), win32::kErrorSuccess);
  EXPECT_EQ(AutostartText(buffer, size), "\"C:\\P\\velmor.exe\" 1");

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

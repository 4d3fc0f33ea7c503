// The agent's own functions called in this process on the real Windows platform: the service
// request, the other-version test, the autostart value and what the takeover reads of a process.
#include <future>
#include <memory>
#include <string>

#include "app/SingleInstance.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"
#include "platform/win32/Win32Platform.h"
#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

class DirectCallTest : public AgentTest {
 protected:
  std::unique_ptr<AgentPlatform> os_ = CreateWin32Platform();
};

TEST_F(DirectCallTest, KickServiceOnRunningServiceSendsOneRequest) {
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  EXPECT_TRUE(KickService(*os_));
  ASSERT_TRUE(WaitUntil([this] { return CountLines(ServiceLog(), "control") >= 1; }, kStartBound));
  EXPECT_EQ(LinesStartingWith(ServiceLog(), "control"), std::vector<std::string>{"control 133"});
}

TEST_F(DirectCallTest, KickServiceWithoutServiceShowsNotInstalledAndFails) {
  auto request = std::async(std::launch::async, [this] { return KickService(*os_); });
  const std::optional<DialogContent> dialog = WaitForDialog(::GetCurrentProcessId(), kStartBound);
  ASSERT_TRUE(dialog.has_value()) << "no error dialog";
  EXPECT_EQ(dialog->caption, L"Error");
  EXPECT_EQ(WithLineFeeds(dialog->text), L"Tessaly service is not installed! \n\nTry to reinstall the product.");
  AnswerDialog(dialog->window, IDOK);
  ASSERT_EQ(request.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(request.get());
}

TEST_F(DirectCallTest, OtherVersionIsRunningWhileEitherMarkerExists) {
  EXPECT_FALSE(IsOtherVersionRunning(*os_));
  {
    HeldMapping first("h723lsw932");
    ASSERT_TRUE(first);
    EXPECT_TRUE(IsOtherVersionRunning(*os_));
  }
  EXPECT_FALSE(IsOtherVersionRunning(*os_));
  {
    HeldMapping second("j4nj8d783js6");
    ASSERT_TRUE(second);
    EXPECT_TRUE(IsOtherVersionRunning(*os_));
  }
  EXPECT_FALSE(IsOtherVersionRunning(*os_));
}

// In ASCII the value is stored as it always was: a reader through the code page gets the same bytes.
TEST_F(DirectCallTest, AutostartValueWrittenFromOwnFolderReadsBackWithStoredSize) {
  WriteAutostartValue(*os_, L" 1");
  const std::string expected = "\"" + ExecutableFolder() + "velmor.exe\" 1";

  std::wstring text;
  ASSERT_EQ(ReadAutostartValue(*os_, text), 0U);
  EXPECT_EQ(text, std::wstring(expected.begin(), expected.end()));  // the build folder's path is ASCII
  EXPECT_FALSE(IsAutostartSwitchedOff(text));

  const std::optional<RegistryValue> stored = ReadAutostart();
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored->data, expected + std::string(1, '\0'));
}

TEST_F(DirectCallTest, AutostartValueMissingReadsAsFailure) {
  std::wstring text;
  EXPECT_EQ(ReadAutostartValue(*os_, text), static_cast<Win32Status>(ERROR_FILE_NOT_FOUND));
}

// A value longer than the 1024-byte buffer is read whole, and its "0" switches the agent off.
TEST_F(DirectCallTest, AutostartValueEndingInZeroIsSwitchedOffAtAnyLength) {
  for (const std::string& folder : {std::string("Old"), std::string(1500, 'x')}) {
    const std::string value = "\"C:\\" + folder + "\\velmor.exe\" 10";
    ASSERT_TRUE(WriteAutostart(value));
    std::wstring text;
    ASSERT_EQ(ReadAutostartValue(*os_, text), 0U);
    EXPECT_EQ(text, std::wstring(value.begin(), value.end()));
    EXPECT_TRUE(IsAutostartSwitchedOff(text));
  }
}

// A tail with a character that no single-byte code page holds with the Latin letters (U+0441,
// Cyrillic) comes back from the registry and goes into the rewrite as it is.
TEST_F(DirectCallTest, AutostartTailBeyondTheCodePageSurvivesTheRewrite) {
  ASSERT_TRUE(WriteAutostartWide(L"\"C:\\Old\\velmor.exe\" 1\u0441"));
  std::wstring text;
  ASSERT_EQ(ReadAutostartValue(*os_, text), 0U);
  EXPECT_EQ(GetAutostartTail(text), L" 1\u0441");
  WriteAutostartValue(*os_, GetAutostartTail(text));
  ASSERT_EQ(ReadAutostartValue(*os_, text), 0U);
  const std::string folder = ExecutableFolder();
  EXPECT_EQ(text, L"\"" + std::wstring(folder.begin(), folder.end()) + L"velmor.exe\" 1\u0441");
  const std::optional<RegistryValue> stored = ReadAutostartAsStored();
  ASSERT_TRUE(stored.has_value());
  ASSERT_GE(stored->data.size(), 4U);
  EXPECT_EQ(stored->data.substr(stored->data.size() - 4), std::string("\x41\x04\0\0", 4)) << "U+0441 and the NUL";
}

// What the takeover reads of a process before it ends it: its image, its session and its integrity
// level, through a handle opened as the takeover opens it.
TEST_F(DirectCallTest, TakeoverReadsAnAgentsImageSessionAndIntegrityLevel) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  const UniqueKernelHandle process(
      *os_, os_->OpenProcess(win32::kProcessTerminate | win32::kSynchronize | win32::kProcessQueryLimitedInformation,
                             false, agent.Id()));
  ASSERT_TRUE(process);
  const std::wstring image = os_->QueryFullProcessImageNameW(process.get());
  EXPECT_EQ(image.substr(image.rfind(L'\\') + 1), L"velmor.exe");
  EXPECT_TRUE(IsAgentOfThisSession(*os_, process.get(), agent.Id()));
  std::uint32_t session = 1000;
  std::uint32_t ownSession = 2000;
  EXPECT_TRUE(os_->ProcessIdToSessionId(agent.Id(), session));
  EXPECT_TRUE(os_->ProcessIdToSessionId(os_->GetCurrentProcessId(), ownSession));
  EXPECT_EQ(session, ownSession);
  const std::optional<std::uint32_t> level = os_->GetProcessIntegrityLevel(process.get());
  const std::optional<std::uint32_t> ownLevel = os_->GetProcessIntegrityLevel(os_->GetCurrentProcess());
  ASSERT_TRUE(level.has_value() && ownLevel.has_value());
  EXPECT_GE(*level, 0x2000U) << "at least medium";
  EXPECT_LE(*level, *ownLevel) << "started with the user's rights";
  EXPECT_EQ(os_->IsCurrentProcessElevated(), RunsElevated());
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

}  // namespace
}  // namespace velmor::e2e

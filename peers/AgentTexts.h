// Every text the agent shows the user, in one place: the dialogs' messages, captions and buttons.
// They are the product's own words, which its users, its support and its translators know; change
// them here and nowhere else.
#pragma once

#include <string_view>

namespace velmor::texts {

// The version gate.
inline constexpr std::wstring_view kOsNotSupported =
    L"Your operating system is not supported by the current version of Tessaly. "
    L"Minimum requirement: Windows 10 / 11 or later.";

// The restart prompt, when another version of the product runs: the message, then the question.
inline constexpr std::wstring_view kOtherVersionRunning =
    L"Another product version is already running. If you just installed this version, please restart the "
    L"computer.";
inline constexpr std::wstring_view kRestartQuestion = L"\n\nDo you want to restart the computer now?";
// Followed by the error code in decimal and a full stop.
inline constexpr std::wstring_view kRebootFailed = L"The computer was not restarted: error ";

// The service request. The texts that end in "error " are followed by the error code in decimal.
inline constexpr std::wstring_view kOpenScmFailed = L"Open SCM failed with error ";
inline constexpr std::wstring_view kServiceNotInstalled =
    L"Tessaly service is not installed! \n\nTry to reinstall the product.";
inline constexpr std::wstring_view kControlServiceFailed = L"Control Service failed with error ";
inline constexpr std::wstring_view kServiceNotStarted =
    L"Tessaly service was not started! \n\nTry to restart the computer.";

// The dialogs' captions, by kind, and their buttons ("&" marks the access key).
inline constexpr std::wstring_view kErrorCaption = L"Error";
inline constexpr std::wstring_view kInformationCaption = L"Information";
inline constexpr std::wstring_view kConfirmationCaption = L"Confirm";
inline constexpr std::wstring_view kOkButton = L"OK";
inline constexpr std::wstring_view kYesButton = L"&Yes";
inline constexpr std::wstring_view kNoButton = L"&No";

}  // namespace velmor::texts

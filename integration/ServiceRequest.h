// Asking the product's service to bring the product up, with retries while it is not ready.
#pragma once

#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

inline constexpr std::wstring_view kOpenScmFailedText = L"Open SCM failed with error ";
inline constexpr std::wstring_view kServiceNotInstalledText =
    L"Tessaly service is not installed! \n\nTry to reinstall the product.";
inline constexpr std::wstring_view kControlServiceFailedText = L"Control Service failed with error ";
inline constexpr std::wstring_view kServiceNotStartedText =
    L"Tessaly service was not started! \n\nTry to restart the computer.";

// True when the service took the request. Every failure is shown in an error dialog first.
// Blocks the calling thread while it retries.
bool KickService(AgentPlatform& os);

}  // namespace velmor

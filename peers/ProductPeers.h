// The fixed contract with the product's own components: its main window, its service and the
// processes of other product versions. The agent sends them these numbers and finds them by
// these names; nothing else of the product is known here.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velmor::peers {

// The product's main window: a top-level window of this class and exactly this caption.
inline constexpr std::string_view kProductWindowClass = "TMainForm";
inline constexpr std::string_view kProductWindowCaption = "Tessaly 2024";

// Posted to the hidden product window to make it show itself, as a left click on its
// notification-area icon would: WM_APP + 100, wParam 0, lParam WM_LBUTTONUP.
inline constexpr std::uint32_t kTrayMessage = 0x8000 + 100;
inline constexpr std::uintptr_t kTrayClickWParam = 0;
inline constexpr std::intptr_t kTrayClickLParam = 0x0202;

// The product's service and the user-defined control code that asks it to bring the product up.
inline constexpr std::string_view kProductServiceName = "tsysrv";
inline constexpr std::uint32_t kServiceControlCode = 133;

// Named file mappings whose existence means that another product version runs.
inline constexpr std::array<std::string_view, 2> kOtherVersionMarkers = {"h723lsw932", "j4nj8d783js6"};

}  // namespace velmor::peers

// The one message, besides WM_CLOSE, that ends a running connector as a confirmed Exit does.
// Programs register it by this name (RegisterWindowMessageW) and send it to the connector's main
// window, which lets it through from programs with fewer rights than its own: an installer
// started by a double-click may run below the connector's integrity level, and the system drops
// anything else it sends to an elevated window without a word.
#pragma once

namespace kx7 {

inline constexpr wchar_t kEndConnectorMessageName[] = L"KX7HostPair.EndConnector";

}  // namespace kx7

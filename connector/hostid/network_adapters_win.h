// The Win32 backend of the adapter list seam: the IP Helper's IPv4 adapter list, read with one
// size query and one fill. Only the Win32 build sees this header.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include "connector/hostid/network_adapters.h"

namespace kx7 {

// The shape of GetAdaptersInfo, so tests can stand in for the IP Helper.
using GetAdaptersInfoFn = ULONG(WINAPI*)(PIP_ADAPTER_INFO adapterInfo, PULONG sizePointer);

// The IP Helper's GetAdaptersInfo, from IPHLPAPI.DLL loaded out of the system folder: it is not
// a known DLL, so it is never imported. Null when it cannot be had. The system list calls this
// when it is first used.
GetAdaptersInfoFn SystemGetAdaptersInfo();

class WinNetworkAdapterList final : public NetworkAdapterList {
  public:
    // A null function lists nothing.
    explicit WinNetworkAdapterList(GetAdaptersInfoFn getAdaptersInfo)
        : getAdaptersInfo_(getAdaptersInfo) {}
    // False without the IP Helper, when the size query reports no adapters, the buffer cannot
    // be had, or the fill fails (for example because an adapter appeared between the two
    // calls). No retry: the next collection asks again.
    bool GetAdapters(std::vector<NetworkAdapterRecord>* adapters) override;

  private:
    GetAdaptersInfoFn getAdaptersInfo_;
};

}  // namespace kx7

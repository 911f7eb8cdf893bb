// Collection of the running machine's identity into the host fingerprint, and the choice of
// the network adapter whose MAC address counts as the machine's.
#pragma once

#include <cstdint>

#include "connector/platform/code_page.h"
#include "connector/platform/registration.h"
#include "connector/platform/registry.h"
#include "connector/hostid/cpu_id.h"
#include "connector/hostid/date_time.h"
#include "connector/hostid/debug_out.h"
#include "connector/hostid/disk_serial.h"
#include "connector/hostid/fingerprint.h"
#include "connector/hostid/network_adapters.h"

namespace kx7 {

// Every platform source the collection reads. The Win32 build gets them from
// SystemHostSources(); tests put fakes together.
struct HostSources {
    NetworkAdapterList& adapters;
    AtaIdentify& disk;
    Registry& registry;
    CpuSignature& cpu;
    LocalTimeSource& clock;
    AnsiCodePage& codePage;
    DebugSink& debug;
};

// The sources of the running system; only the Win32 build provides them.
HostSources SystemHostSources();

// Ones' complement of the 16-bit sum of the eight hardware-address bytes.
uint16_t AddressCheckValue(const uint8_t (&address)[kNicAddressSize]);

// Zeroes all ten entries, fills them with the wired adapters and stores each filled entry's
// address check value. Returns the number of entries filled, 0 to 10; 0 as well when the
// adapter list cannot be had.
int GetSystemNICInfo(NetworkAdapterList& adapters, NicAdapterTable* table);

// Replaces *fingerprint whole with the running machine's items. The adapter is the first wired
// one whose MAC text equals the record's m_strMacId exactly; the registered description is only
// traced. An item that cannot be had stays empty; the processor signature and the collection
// time are always set. Always true. The trace lines go to sources.debug.
bool GetSystemInfo(const HostSources& sources, const RegisteredPcRecord& record,
                   HostFingerprint* fingerprint);

// Collects this PC's identity for a registered record (the adapter is chosen by the record's
// MAC address, so the fingerprint depends on the record it was collected for).
class FingerprintCollector {
  public:
    virtual ~FingerprintCollector() = default;
    virtual HostFingerprint Collect(const RegisteredPcRecord& record) = 0;
};

// GetSystemInfo over SystemHostSources(): the collector of the main window's start-up and
// Reconnect and of the worker's late record. It may run on either thread. Only the Win32 build
// provides it.
FingerprintCollector& SystemFingerprintCollector();

}  // namespace kx7

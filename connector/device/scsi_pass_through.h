// The one operation the drive commands need from the storage stack: run a command block on an
// opened drive and say whether the request got there and what status came back. The Win32
// backend sends it as a SCSI pass-through request; tests put a scripted drive behind it.
#pragma once

#include <cstdint>

namespace kx7 {

enum class DataDirection : uint8_t {
    kIn,   // from the drive into the buffer
    kOut,  // from the buffer to the drive (also used for commands without data)
};

struct ScsiResult {
    // False when the request never reached the drive (the platform call failed); such a
    // request is the only kind that is worth sending again, unless the device has gone.
    bool completed = false;
    // Only with completed false: the platform says the device behind the handle has gone (it
    // was pulled out, or the interface the handle was opened on was removed). No later call on
    // the handle can reach it.
    bool deviceGone = false;
    uint8_t scsiStatus = 0;
    // The byte count the driver reports back; may be less than asked for, and a misbehaving
    // driver may even report more.
    uint32_t dataTransferLength = 0;
};

// An opened drive. Commands on one object are issued strictly one after another.
class ScsiPassThrough {
  public:
    virtual ~ScsiPassThrough() = default;
    // cdbLength is 6, 10 or 16. buffer may be null when length is 0.
    virtual ScsiResult Execute(const uint8_t* cdb, uint8_t cdbLength, DataDirection direction,
                               uint8_t* buffer, uint32_t length, uint32_t timeoutSeconds) = 0;
};

// The envelope the Win32 backend wraps every command in. Kept here so the backend and anything
// that decodes captured requests agree on it.
namespace pass_through {
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr uint32_t kRequestSize = 80;  // the structure, 4 filler bytes, the sense buffer
constexpr uint16_t kStructLength = 44;
constexpr uint8_t kPathId = 0;
constexpr uint8_t kTargetId = 1;  // the drive answers on target 1, not 0
constexpr uint8_t kLun = 0;
constexpr uint8_t kSenseInfoLength = 32;
constexpr uint32_t kSenseInfoOffset = 48;
}  // namespace pass_through

}  // namespace kx7

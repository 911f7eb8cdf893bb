// Loading the host identity that the separate registration program stored for this PC, as the
// connect worker compares it with the current fingerprint.
#pragma once

#include <cstdint>
#include <string>

#include "connector/platform/reg_values.h"
#include "connector/platform/registration.h"
#include "connector/platform/registry.h"

namespace kx7 {

// Fills *record from the record key; true only when all six strings were read. The strings
// after the first unreadable one stay empty. "CleanRegistry" is written back as 0 when it is
// missing or unusable, which creates the record key on a PC that was never registered.
// The record is written member by member; a caller whose record is read by another thread
// should load into a copy and publish it under its own lock.
bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record);

// Why a load failed: the first string value that could not be read and the code ReadRegString
// gave for it (kRegKeyUnavailable or kRegValueUnreadable). Empty after a successful load.
struct RecordLoadFailure {
    const wchar_t* valueName = nullptr;
    int code = 0;
};
bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record,
                          RecordLoadFailure* failure);

}  // namespace kx7

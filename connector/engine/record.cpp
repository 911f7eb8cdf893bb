#include "connector/engine/record.h"

namespace kx7 {

bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record) {
    RecordLoadFailure unused;
    return LoadRegisteredRecord(registry, record, &unused);
}

bool LoadRegisteredRecord(Registry& registry, RegisteredPcRecord* record,
                          RecordLoadFailure* failure) {
    *failure = RecordLoadFailure();
    const std::wstring keyPath = RecordKeyPath();
    bool ok = true;

    // A missing adapter number is no reason to refuse the record; the code shows up as the
    // number in the mismatch message instead.
    record->m_nNicIndex = ReadRegDword(registry, keyPath, L"NICIndex");

    struct StringValue {
        const wchar_t* name;
        std::wstring RegisteredPcRecord::*member;
    };
    // The agent spells the disk value with a capital I; the order is the reading order.
    static const StringValue kStrings[] = {
        {L"NICDescription", &RegisteredPcRecord::m_strNicDescription},
        {L"MACID", &RegisteredPcRecord::m_strMacId},
        {L"DIskSerial", &RegisteredPcRecord::m_strDiskSerial},
        {L"ComputerName", &RegisteredPcRecord::m_strComputerName},
        {L"OSKey", &RegisteredPcRecord::m_strOsKey},
        {L"CPUID", &RegisteredPcRecord::m_strCpuId},
    };
    for (const StringValue& value : kStrings) {
        std::wstring& member = record->*value.member;
        member.clear();
        if (!ok) {
            continue;
        }
        const int rc = ReadRegString(registry, keyPath, value.name, &member);
        if (rc < 0) {
            ok = false;
            failure->valueName = value.name;
            failure->code = rc;
        }
    }

    record->m_bCleanRegistry = false;
    const int32_t clean = ReadRegDword(registry, keyPath, L"CleanRegistry");
    if (clean < 0) {
        // A failed repair only means the next load tries again.
        WriteRegDword(registry, keyPath, L"CleanRegistry", 0);
    } else if (clean > 0) {
        record->m_bCleanRegistry = true;
    }
    return ok;
}

}  // namespace kx7

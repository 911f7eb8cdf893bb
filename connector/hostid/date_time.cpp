#include "connector/hostid/date_time.h"

namespace kx7 {

void GetCurrentDateTime(LocalTimeSource& source, SystemTime* time) {
    std::tm local{};
    *time = SystemTime();
    if (!source.LocalNow(&local)) {
        time->wHour = time->wMinute = time->wSecond = 0xFFFF;
        return;
    }
    time->wYear = static_cast<uint16_t>(local.tm_year + 1900);
    time->wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    time->wDay = static_cast<uint16_t>(local.tm_mday);
    time->wHour = static_cast<uint16_t>(local.tm_hour);
    time->wMinute = static_cast<uint16_t>(local.tm_min);
    time->wSecond = static_cast<uint16_t>(local.tm_sec);
}

}  // namespace kx7

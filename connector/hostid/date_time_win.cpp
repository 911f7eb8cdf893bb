#include <ctime>

#include "connector/hostid/date_time.h"

namespace kx7 {
namespace {

class CrtLocalTime final : public LocalTimeSource {
  public:
    bool LocalNow(std::tm* local) override {
        const std::time_t now = std::time(nullptr);
        if (now == static_cast<std::time_t>(-1)) {
            return false;
        }
        // The reentrant form: the runtime's shared result of localtime could be overwritten by
        // any other thread that asks for a time.
        return localtime_s(local, &now) == 0;
    }
};

}  // namespace

LocalTimeSource& SystemLocalTime() {
    static CrtLocalTime clock;
    return clock;
}

}  // namespace kx7

#include "sim/sim_control.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "sim/host_acceptance.h"

namespace kx7::sim {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// "key=value" split at the first "="; false when there is none.
bool KeyValue(const std::string& word, std::string* key, std::string* value) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    *key = word.substr(0, eq);
    *value = word.substr(eq + 1);
    return true;
}

// A whole number in the base given, within [0, limit]; false for anything else.
bool ParseNumber(const std::string& text, int base, unsigned long limit, unsigned long* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, base);
    if (end == nullptr || *end != '\0' || parsed > limit || text[0] == '-' || text[0] == '+') {
        return false;
    }
    *value = parsed;
    return true;
}

// "YYYY-MM-DD" packed as the drive keeps dates, for a day of the calendar only: a drive given
// 2024-02-30 would have no day to count its date window from, and would refuse every packet
// for a reason that its user never asked for.
bool ParseDate(const std::string& text, uint32_t* packed) {
    unsigned long year = 0;
    unsigned long month = 0;
    unsigned long day = 0;
    int32_t dayNumber = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        !ParseNumber(text.substr(0, 4), 10, 9999, &year) ||
        !ParseNumber(text.substr(5, 2), 10, 12, &month) ||
        !ParseNumber(text.substr(8, 2), 10, 31, &day)) {
        return false;
    }
    const uint32_t date = PackSimDate(static_cast<uint32_t>(year), static_cast<uint32_t>(month),
                                      static_cast<uint32_t>(day));
    if (!SimDayNumber(date, &dayNumber)) {
        return false;
    }
    *packed = date;
    return true;
}

// The commands that act on one named drive; the others take no name.
bool TakesADriveName(const std::string& verb) {
    static const char* const kVerbs[] = {"set",    "host", "clearhosts", "fault",
                                         "status", "plug", "unplug",     "replug"};
    for (const char* name : kVerbs) {
        if (verb == name) {
            return true;
        }
    }
    return false;
}

bool ParseOnOff(const std::string& text, bool* on) {
    if (text == "on") {
        *on = true;
        return true;
    }
    if (text == "off") {
        *on = false;
        return true;
    }
    return false;
}

bool ParseCommandKind(const std::string& text, SimCommand* command) {
    static const struct {
        const char* name;
        SimCommand command;
    } kKinds[] = {
        {"inquiry", SimCommand::kInquiry},       {"announce", SimCommand::kAnnounce},
        {"identity", SimCommand::kReadIdentity}, {"commandstatus", SimCommand::kReadCommandStatus},
        {"setup", SimCommand::kReadDeviceSetup}, {"status", SimCommand::kReadDeviceStatus},
        {"timing", SimCommand::kWriteTiming},    {"auth", SimCommand::kWriteAuthPacket},
    };
    for (const auto& kind : kKinds) {
        if (text == kind.name) {
            *command = kind.command;
            return true;
        }
    }
    return false;
}

std::string Error(const std::string& what) {
    return "error " + what;
}

}  // namespace

std::wstring SimInstanceIdOf(const std::wstring& interfaceName) {
    if (interfaceName.size() <= 4) {
        return std::wstring();
    }
    std::wstring id = interfaceName.substr(4);
    const size_t classMark = id.rfind(L'#');
    if (classMark != std::wstring::npos) {
        id.resize(classMark);
    }
    for (wchar_t& c : id) {
        if (c == L'#') {
            c = L'\\';
        } else if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return id;
}

std::vector<NamedDrive> SimControl::Drives() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return drives_;
}

void SimControl::NoteEvent(const SimDeviceEvent& event) {
    if (event.kind != SimEventKind::kArrival) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (NamedDrive& named : drives_) {
        const SimInterfaceNames names = named.drive->interfaceNames();
        if (event.name == names.usbNodeName) {
            named.everPlugged = true;
        } else if (event.name == names.diskName) {
            named.everUnlocked = true;
        }
    }
}

NamedDrive* SimControl::Find(const std::string& name) {
    for (NamedDrive& named : drives_) {
        if (named.name == name) {
            return &named;
        }
    }
    return nullptr;
}

std::string SimControl::Execute(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') {
        return "ok";
    }
    const std::string& verb = words[0];
    if (verb == "add") {
        std::lock_guard<std::mutex> lock(mutex_);
        return Add(words);
    }
    if (verb == "date") {
        // date YYYY-MM-DD: the date of every drive on the bus, today's unless set.
        uint32_t packed = 0;
        if (words.size() != 2 || !ParseDate(words[1], &packed)) {
            return Error("usage: date YYYY-MM-DD (a day of the calendar)");
        }
        bus_.SetDate(packed);
        return "ok";
    }
    if (verb == "list") {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string answer = "ok";
        for (const NamedDrive& named : drives_) {
            answer += " " + named.name;
        }
        return answer;
    }
    if (!TakesADriveName(verb)) {
        return Error("unknown command " + verb);
    }
    if (words.size() < 2) {
        return Error("usage: " + verb + " NAME ...");
    }
    // The lock guards the list, not the drives (they have their own): plugging delivers events,
    // and whoever receives them may ask for the list.
    SimulatedDrive* drive = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        NamedDrive* named = Find(words[1]);
        if (named == nullptr) {
            return Error("no drive " + words[1]);
        }
        drive = named->drive;
        if (verb == "set") {
            return Set(*named, words, 2);
        }
        if (verb == "host") {
            return Host(*named, words);
        }
        if (verb == "clearhosts") {
            drive->ClearHosts();
            return "ok";
        }
        if (verb == "fault") {
            return Fault(*named, words);
        }
        if (verb == "status") {
            return Status(*named);
        }
    }
    if (verb == "plug") {
        return bus_.Plug(*drive) ? "ok" : Error("already plugged in");
    }
    if (verb == "unplug") {
        return bus_.Unplug(*drive) ? "ok" : Error("not plugged in");
    }
    return bus_.Replug(*drive) ? "ok" : Error("not plugged in");
}

std::string SimControl::Add(const std::vector<std::string>& words) {
    if (words.size() < 2 || words[1].find('=') != std::string::npos) {
        return Error("usage: add NAME [id=TEXT] [serial=TEXT] [vid=HEX] [pid=HEX] [fw=M.mm]");
    }
    if (Find(words[1]) != nullptr) {
        return Error("drive " + words[1] + " exists");
    }
    NamedDrive named;
    named.name = words[1];
    SimIdentity identity;
    // A distinct identifier and serial per drive unless the command names them.
    char id[17];
    std::snprintf(id, sizeof(id), "KX7SIMDRIVE%05u", static_cast<unsigned>(drives_.size() + 1));
    std::copy(id, id + 16, identity.identifier.begin());
    char serial[16];
    std::snprintf(serial, sizeof(serial), "SIMSERIAL%03u",
                  static_cast<unsigned>((drives_.size() + 1) % 1000));
    identity.serial = serial;
    named.drive = &bus_.AddDrive(identity);
    const std::string result = Set(named, words, 2);
    if (result != "ok") {
        // The drive stays on the bus unplugged; give it a name nobody uses so it is never found.
        named.name.clear();
    }
    drives_.push_back(named);
    return result;
}

std::string SimControl::Set(NamedDrive& named, const std::vector<std::string>& words,
                            size_t first) {
    SimIdentity identity = named.drive->identity();
    for (size_t i = first; i < words.size(); ++i) {
        std::string key;
        std::string value;
        unsigned long number = 0;
        if (!KeyValue(words[i], &key, &value)) {
            return Error("expected key=value: " + words[i]);
        }
        if (key == "id") {
            // The identifier as text: the registry key the connector reads "Mode" from.
            if (value.empty() || value.size() > identity.identifier.size()) {
                return Error("id takes 1 to 16 characters");
            }
            identity.identifier.fill(0);
            std::copy(value.begin(), value.end(), identity.identifier.begin());
        } else if (key == "serial") {
            for (char c : value) {
                if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
                    return Error("serial takes letters and digits only");
                }
            }
            if (value.empty() || value.size() > 64) {
                return Error("serial takes 1 to 64 characters");
            }
            identity.serial = value;
        } else if (key == "vid" && ParseNumber(value, 16, 0xFFFF, &number)) {
            identity.vendorId = static_cast<uint16_t>(number);
        } else if (key == "pid" && ParseNumber(value, 16, 0xFFFF, &number)) {
            identity.productId = static_cast<uint16_t>(number);
        } else if (key == "fw") {
            const size_t dot = value.find('.');
            unsigned long major = 0;
            unsigned long minor = 0;
            if (dot == std::string::npos || !ParseNumber(value.substr(0, dot), 10, 255, &major) ||
                !ParseNumber(value.substr(dot + 1), 10, 255, &minor)) {
                return Error("fw takes MAJOR.MINOR");
            }
            identity.firmwareMajor = static_cast<uint8_t>(major);
            identity.firmwareMinor = static_cast<uint8_t>(minor);
        } else {
            return Error("bad value: " + words[i]);
        }
    }
    named.drive->SetIdentity(identity);
    return "ok";
}

std::string SimControl::Host(NamedDrive& named, const std::vector<std::string>& words) {
    SimHost host;
    host.expiry = PackSimDate(2099, 12, 31);
    for (size_t i = 2; i < words.size(); ++i) {
        std::string key;
        std::string value;
        unsigned long number = 0;
        if (!KeyValue(words[i], &key, &value)) {
            return Error("expected key=value: " + words[i]);
        }
        if (key == "computer") {
            host.computerName = value;
        } else if (key == "mask" && ParseNumber(value, 10, 0xFFFFFFFFul, &number)) {
            host.bindingMask = static_cast<uint32_t>(number);
        } else if (key == "check") {
            std::istringstream list(value);
            std::string item;
            size_t count = 0;
            while (std::getline(list, item, ',')) {
                if (count == kSimItemCount || !ParseNumber(item, 10, 0xFFFF, &number)) {
                    return Error("check takes five numbers 0-65535, comma-separated");
                }
                host.checkValues[count++] = static_cast<uint16_t>(number);
            }
            if (count != kSimItemCount) {
                return Error("check takes five numbers 0-65535, comma-separated");
            }
        } else if (key == "expiry") {
            if (!ParseDate(value, &host.expiry)) {
                return Error("expiry takes YYYY-MM-DD");
            }
        } else {
            return Error("bad value: " + words[i]);
        }
    }
    named.drive->AddHost(host);
    return "ok";
}

std::string SimControl::Fault(NamedDrive& named, const std::vector<std::string>& words) {
    SimulatedDrive& drive = *named.drive;
    if (words.size() < 3) {
        return Error(
            "usage: fault NAME fail=N | stall=on|off | check=KIND:on|off | ready=on|off | "
            "refuse=CODE|off | hostpair=on|off | inquiry=N");
    }
    for (size_t i = 2; i < words.size(); ++i) {
        std::string key;
        std::string value;
        unsigned long number = 0;
        bool on = false;
        if (!KeyValue(words[i], &key, &value)) {
            return Error("expected key=value: " + words[i]);
        }
        if (key == "fail" && ParseNumber(value, 10, 1000000, &number)) {
            drive.FailNextCalls(static_cast<uint32_t>(number));
        } else if (key == "stall" && ParseOnOff(value, &on)) {
            drive.SetStalled(on);
        } else if (key == "check") {
            const size_t colon = value.find(':');
            SimCommand command = SimCommand::kUnknown;
            if (colon == std::string::npos || !ParseCommandKind(value.substr(0, colon), &command) ||
                !ParseOnOff(value.substr(colon + 1), &on)) {
                return Error(
                    "check takes KIND:on|off, KIND one of inquiry announce identity "
                    "commandstatus setup status timing auth");
            }
            drive.SetCheckCondition(command, on);
        } else if (key == "ready" && ParseOnOff(value, &on)) {
            // Bit 4 of the first status byte: the drive is ready to be authenticated.
            auto status = drive.deviceStatus();
            status[0] = static_cast<uint8_t>(on ? (status[0] | 0x10) : (status[0] & ~0x10));
            drive.SetDeviceStatus(status);
        } else if (key == "refuse") {
            if (value == "off") {
                drive.SetAuthPacketJudge(nullptr);
            } else if (ParseNumber(value, 10, 255, &number) && number != 0) {
                const auto code = static_cast<uint8_t>(number);
                drive.SetAuthPacketJudge([code](const uint8_t*, size_t) { return code; });
            } else {
                return Error("refuse takes a code 1-255 or off");
            }
        } else if (key == "hostpair" && ParseOnOff(value, &on)) {
            drive.SetHostPairEnabled(on);
        } else if (key == "inquiry" && ParseNumber(value, 10, 255, &number)) {
            drive.SetInquiryReplyLength(static_cast<uint32_t>(number));
        } else {
            return Error("bad fault: " + words[i]);
        }
    }
    return "ok";
}

std::string SimControl::Status(const NamedDrive& named) const {
    const SimulatedDrive& drive = *named.drive;
    std::ostringstream answer;
    answer << "ok plugged=" << (drive.plugged() ? 1 : 0)
           << " unlocked=" << (drive.unlocked() ? 1 : 0)
           << " auth=" << drive.CountOf(SimCommand::kWriteAuthPacket)
           << " error=" << static_cast<int>(drive.lastErrorCode())
           << " calls=" << drive.totalCalls();
    // The identifier is what kx7pair needs, and a drive added without "id=" got a made-up one.
    // It is written up to its first zero, as "id=" took it.
    const SimIdentity identity = drive.identity();
    size_t length = 0;
    while (length < identity.identifier.size() && identity.identifier[length] != 0) {
        ++length;
    }
    answer << " id="
           << std::string(identity.identifier.begin(), identity.identifier.begin() + length)
           << " serial=" << identity.serial;
    return answer.str();
}

}  // namespace kx7::sim

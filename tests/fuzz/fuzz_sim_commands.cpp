// Command blocks and data of any shape sent to the simulated drive through its pass-through
// entry, as a host could send them to a real one. The drive must answer each with a status and
// never touch bytes outside the block or the buffer it was given.
//
// Input: a sequence of calls, each a block length selector (6, 10 or 16 bytes), the block, a
// direction byte (bit 0: data in), the buffer length (2 bytes, at most 1024) and, for data out,
// that many data bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/simulated_drive.h"
#include "sim/seams/sim_seams.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx7;
    static const uint8_t kBlockLengths[] = {6, 10, 16};
    sim::SimulatedDrive drive;
    sim::SimDrivePort port(drive);
    fuzz::ByteReader input(data, size);
    for (int call = 0; call < 64 && !input.empty(); ++call) {
        const uint8_t cdbLength = kBlockLengths[input.Byte() % 3];
        // Each block and buffer on the heap at exactly its size, so a read past it is caught.
        const std::vector<uint8_t> block = input.Bytes(cdbLength);
        std::unique_ptr<uint8_t[]> cdb(new uint8_t[cdbLength]);
        std::memcpy(cdb.get(), block.data(), cdbLength);
        const DataDirection direction =
            (input.Byte() & 1) != 0 ? DataDirection::kIn : DataDirection::kOut;
        const uint32_t length = input.U16() % 1025;
        std::unique_ptr<uint8_t[]> buffer(length > 0 ? new uint8_t[length] : nullptr);
        if (direction == DataDirection::kOut && length > 0) {
            const std::vector<uint8_t> bytes = input.Bytes(length);
            std::memcpy(buffer.get(), bytes.data(), length);
        } else if (length > 0) {
            std::memset(buffer.get(), 0xA5, length);
        }
        const ScsiResult result =
            port.Execute(cdb.get(), cdbLength, direction, buffer.get(), length, 10);
        KX7_FUZZ_CHECK(result.completed);
        if (result.scsiStatus == 0 && direction == DataDirection::kIn) {
            KX7_FUZZ_CHECK(result.dataTransferLength <= length);
        }
    }
    return 0;
}

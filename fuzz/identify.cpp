// The IDENTIFY decoder: capacity and addressing, the signature and checksum, the texts, and
// the disk the engine makes of a block. A decoded disk built again must decode the same.
#include "ata_identify.h"
#include "fuzz_input.h"
#include "ovdisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ovfuzz::input in(data, size);
    unsigned char raw[ov::identify_size];
    in.take(raw, sizeof raw);

    const ov::identify_data block = ov::identify_data::of(raw);
    const ov::disk_size size_of = block.capacity();
    FUZZ_CHECK(size_of.addressing == ov::addressing_lba48 || size_of.addressing == ov::addressing_lba28 ||
               size_of.addressing == ov::addressing_chs);
    FUZZ_CHECK(ov::identify_capacity(raw) == size_of.sectors);
    FUZZ_CHECK(!block.checksum_ok() || ov::identify_signed(raw));
    (void)block.supports_lba48();
    (void)block.text(ov::identify::firmware, 4);
    // Words outside the block read nothing rather than past it.
    FUZZ_CHECK(block.word(-1) == 0 && block.word(256) == 0 && block.text(250, 10).empty());

    ov::ovdisk disk;
    disk.initialize(raw);
    FUZZ_CHECK(disk.capacity == size_of.sectors && disk.addressing_mode == size_of.addressing);
    FUZZ_CHECK(disk.model.size() <= 40 && disk.serial.size() <= 20);
    FUZZ_CHECK(std::memcmp(disk.model_raw, raw + ov::identify::model_offset, 40) == 0);
    uint64_t lba = 0;
    if (disk.record_lba(lba))
        FUZZ_CHECK(lba + ov::record_offset_from_end == disk.capacity);
    else
        FUZZ_CHECK(disk.capacity < ov::record_offset_from_end);

    // The block the simulator would answer for this disk: sealed, and the same disk again
    // wherever the format can say it (a 28-bit count ends at 2^28, a geometry may not fit).
    const bool exact = (disk.addressing_mode == ov::addressing_lba48 && disk.capacity != 0) ||
                       (disk.addressing_mode == ov::addressing_lba28 && disk.capacity <= ov::identify::lba28_limit);
    const ov::identify_data again = ov::build_identify({disk.model, disk.serial, disk.capacity, disk.addressing_mode});
    FUZZ_CHECK(again.checksum_ok());
    ov::ovdisk back;
    back.initialize(again.bytes.data());
    FUZZ_CHECK(back.model == disk.model && back.serial == disk.serial);
    if (exact)
        FUZZ_CHECK(back.capacity == disk.capacity && back.addressing_mode == disk.addressing_mode);
    return 0;
}

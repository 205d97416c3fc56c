#include "ovdisk.h"

namespace ov {

namespace {

uint16_t word_at(const unsigned char* block, int word)
{
    return static_cast<uint16_t>(block[2 * word] | (block[2 * word + 1] << 8));
}

bool bit_set(const unsigned char* block, int word, int bit)
{
    return (word_at(block, word) >> bit) & 1;
}

}  // namespace

void ovdisk::initialize(const unsigned char* identify_data)
{
    using namespace identify;
    std::string model_text(reinterpret_cast<const char*>(identify_data + model_offset), model_length);
    std::copy(identify_data + model_offset, identify_data + model_offset + model_length, model_raw);
    std::string serial_text(reinterpret_cast<const char*>(identify_data + serial_offset), serial_length);
    std::copy(identify_data + serial_offset, identify_data + serial_offset + serial_length, serial_raw);

    // Word 86 bit 10 is "48-bit Address feature set enabled"; word 85 bit 10 would be
    // the Host Protected Area, and reading it sized large disks by their 28-bit count.
    uint64_t value = 0;
    if (bit_set(identify_data, word_cmdset_enabled2, 10)) {
        for (int w = 3; w >= 0; --w)
            value = (value << 16) | word_at(identify_data, word_lba48_count + w);
        addressing_mode = addressing_lba48;
    }
    if (value == 0) {
        if (bit_set(identify_data, word_capabilities, 9)) {
            value = (static_cast<uint64_t>(word_at(identify_data, word_lba28_count + 1)) << 16) |
                    word_at(identify_data, word_lba28_count);
            addressing_mode = addressing_lba28;
        } else {
            value = static_cast<uint64_t>(word_at(identify_data, word_cur_cylinders)) *
                    word_at(identify_data, word_cur_heads) * word_at(identify_data, word_cur_sectors);
            addressing_mode = addressing_chs;
        }
    }
    capacity = value;

    unscramble(model_text);
    unscramble(serial_text);
    trim(model_text);
    trim(serial_text);
    model = model_text;
    serial = serial_text;
}

void ovdisk::unscramble(std::string& text)
{
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        std::swap(text[i], text[i + 1]);
}

std::string ovdisk::get_display_string(bool port1, bool in_set) const
{
    std::string label = in_set ? "M" : "P";
    label += port1 ? "1: " : "0: ";
    return label + model;
}

bool ovdisk::record_lba(uint64_t& lba) const
{
    if (capacity < record_offset_from_end)
        return false;
    lba = capacity - record_offset_from_end;
    return true;
}

}  // namespace ov

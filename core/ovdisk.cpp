#include "ovdisk.h"

#include <algorithm>

namespace ov {

void ovdisk::initialize(const unsigned char* raw)
{
    using namespace identify;
    const identify_data block = identify_data::of(raw);
    // The raw bytes are what a partner record names: kept exactly as received.
    std::copy(raw + model_offset, raw + model_offset + model_length, model_raw);
    std::copy(raw + serial_offset, raw + serial_offset + serial_length, serial_raw);
    const disk_size size = block.capacity();
    capacity = size.sectors;
    addressing_mode = size.addressing;

    std::string model_text = block.text(identify::model, model_length / 2);
    std::string serial_text = block.text(identify::serial, serial_length / 2);
    trim(model_text);
    trim(serial_text);
    model = model_text;
    serial = serial_text;
}

std::string ovdisk::partner_serial_text() const
{
    // In ATA byte order, as the IDENTIFY block holds a serial.
    identify_data named;
    std::copy(partner_serial, partner_serial + identify::serial_length, named.bytes.begin() + identify::serial_offset);
    std::string text = named.text(identify::serial, identify::serial_length / 2);
    trim(text);
    return text;
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
    return record_lba_for(capacity, lba);
}

}  // namespace ov

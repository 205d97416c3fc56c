// IDENTIFY DEVICE data of simulated disks, checked word by word and through an
// independent decoder (hdparm --Istdin).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>
#include <string>

#include "sim/identify.h"
#include "temp_dir.h"

using namespace ov::sim;
namespace idw = ov::identify;

namespace {

disk_desc disk(uint64_t sectors, const std::string& addressing, bool hpa = false)
{
    return disk_desc{"Kestrel KS1000 SATA", "KS1T04A7731", sectors, addressing, hpa};
}

ov::identify_data block(const disk_desc& d)
{
    return ov::identify_data::of(make_identify(d).data());
}

bool has(const ov::identify_data& b, int word, uint16_t bit)
{
    return (b.word(word) & bit) != 0;
}

}  // namespace

TEST(SimIdentify, StringsAreByteSwappedAndSpacePadded)
{
    const identify_block b = make_identify(disk(1000, "lba48"));
    // Word 27 holds "Ke" with 'K' in the high byte: the raw bytes read "eK".
    const std::string raw_model(reinterpret_cast<const char*>(b.data() + 54), 40);
    EXPECT_EQ(raw_model, "eKtser lSK0100S TA A" + std::string(20, ' '));
    const std::string raw_serial(reinterpret_cast<const char*>(b.data() + 20), 20);
    EXPECT_EQ(raw_serial, "SKT1407A37 1" + std::string(8, ' '));
    EXPECT_EQ(block(disk(1000, "lba48")).text(idw::model, 20), "Kestrel KS1000 SATA" + std::string(21, ' '));
    EXPECT_EQ(block(disk(1000, "lba48")).text(idw::serial, 10), "KS1T04A7731" + std::string(9, ' '));

    // A 40-character model fills the field without padding; a longer one is cut.
    disk_desc full = disk(1000, "lba48");
    full.model = std::string(40, 'M') + "XYZ";
    EXPECT_EQ(block(full).text(idw::model, 20), std::string(40, 'M'));
}

TEST(SimIdentify, SignatureAndChecksum)
{
    for (const char* a : {"lba48", "lba28", "chs"}) {
        ov::identify_data b = block(disk(123457, a, true));
        EXPECT_EQ(b.bytes[510], 0xA5) << a;
        EXPECT_TRUE(b.checksum_ok()) << a;
        b.bytes[100] ^= 1;
        EXPECT_FALSE(b.checksum_ok()) << a;
    }
}

TEST(SimIdentify, Lba48Counts)
{
    const uint64_t n = 5860533168ULL;  // beyond 32 bits
    const ov::identify_data b = block(disk(n, "lba48"));
    EXPECT_TRUE(has(b, idw::capabilities, idw::bit_lba_supported));
    EXPECT_TRUE(has(b, idw::cmdset_supported2, idw::bit_lba48));
    EXPECT_TRUE(has(b, idw::cmdset_enabled2, idw::bit_lba48));
    EXPECT_EQ(b.words(idw::lba28_count, 2), idw::lba28_limit);
    EXPECT_EQ(b.words(idw::lba48_count, 4), n);
    EXPECT_EQ(identify_capacity(b.bytes.data()), n);
    EXPECT_TRUE(identify_supports_lba48(b.bytes.data()));
}

TEST(SimIdentify, Lba28DiskHasNo48BitFeatureAndACappedCount)
{
    const ov::identify_data big = block(disk(300000000, "lba28"));
    EXPECT_FALSE(has(big, idw::cmdset_supported2, idw::bit_lba48));
    EXPECT_FALSE(has(big, idw::cmdset_enabled2, idw::bit_lba48));
    EXPECT_EQ(big.words(idw::lba28_count, 2), idw::lba28_limit);
    EXPECT_EQ(big.capacity().sectors, idw::lba28_limit);
    EXPECT_EQ(big.words(idw::lba48_count, 4), 0u);

    const ov::identify_data small = block(disk(1000000, "lba28"));
    EXPECT_EQ(small.words(idw::lba28_count, 2), 1000000u);
    EXPECT_FALSE(small.supports_lba48());
}

TEST(SimIdentify, ChsGeometryMultipliesToTheCapacity)
{
    for (uint64_t n : {200000ULL, 1008ULL, 65535ULL * 16 * 63, 12ULL, 997ULL * 4}) {
        const ov::identify_data b = block(disk(n, "chs"));
        EXPECT_FALSE(has(b, idw::capabilities, idw::bit_lba_supported)) << n;
        EXPECT_EQ(b.words(idw::lba28_count, 2), 0u) << n;
        EXPECT_LE(b.word(idw::current_heads), 16u);
        EXPECT_LE(b.word(idw::current_sectors), 63u);
        EXPECT_EQ(uint64_t(b.word(idw::current_cylinders)) * b.word(idw::current_heads) * b.word(idw::current_sectors),
                  n) << n;
        EXPECT_EQ(b.capacity().sectors, n);
        EXPECT_EQ(b.words(idw::current_capacity, 2), n) << n;
    }
    // No exact geometry (a prime above 65535, or more than 65535 cylinders of 16 x 63):
    // the largest geometry that fits, never more than the disk.
    for (uint64_t n : {100003ULL, 65536ULL * 16 * 63})
        EXPECT_EQ(block(disk(n, "chs")).capacity().sectors, std::min<uint64_t>(n / 1008, 65535) * 1008) << n;
}

TEST(SimIdentify, HostProtectedAreaBitsAreIndependentOf48Bit)
{
    // Word 85 bit 10 is HPA enabled; word 86 bit 10 is 48-bit enabled. A reader that
    // confuses them sizes a large disk without HPA by its 28-bit count.
    const ov::identify_data plain = block(disk(3907029168ULL, "lba48", false));
    EXPECT_TRUE(has(plain, idw::cmdset_supported1, idw::bit_hpa));
    EXPECT_FALSE(has(plain, idw::cmdset_enabled1, idw::bit_hpa));
    EXPECT_TRUE(has(plain, idw::cmdset_enabled2, idw::bit_lba48));

    const ov::identify_data hpa28 = block(disk(1000000, "lba28", true));
    EXPECT_TRUE(has(hpa28, idw::cmdset_enabled1, idw::bit_hpa));
    EXPECT_FALSE(has(hpa28, idw::cmdset_enabled2, idw::bit_lba48));
}

#ifdef OVRAID_HDPARM

namespace {

// hdparm reads the block as 256 hexadecimal words, eight to a line.
std::string hdparm_decode(const identify_block& b, const std::string& dir)
{
    const std::string in = dir + "/identify.hex";
    {
        std::ofstream out(in);
        for (int w = 0; w < 256; ++w) {
            char word[8];
            std::snprintf(word, sizeof word, "%04x", ov::identify_data::of(b.data()).word(w));
            out << word << (w % 8 == 7 ? "\n" : " ");
        }
    }
    const std::string cmd = std::string(OVRAID_HDPARM) + " --Istdin < " + in + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[4096];
    size_t n;
    while (p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    if (p != nullptr)
        pclose(p);
    return text;
}

std::string stripped(const std::string& line)
{
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(stripped(line));
    return lines;
}

// The value after "label:" on the first line that carries it.
std::string field(const std::string& text, const std::string& label)
{
    for (const std::string& line : lines_of(text)) {
        const size_t at = line.find(label + ":");
        if (at != std::string::npos)
            return stripped(line.substr(at + label.size() + 1));
    }
    return "(absent)";
}

// "enabled" when the feature line carries hdparm's '*', "supported" without it.
std::string feature(const std::string& text, const std::string& name)
{
    for (const std::string& line : lines_of(text)) {
        if (line == name)
            return "supported";
        if (!line.empty() && line[0] == '*' && stripped(line.substr(1)) == name)
            return "enabled";
    }
    return "absent";
}

}  // namespace

TEST(SimIdentify, IndependentDecoderAgrees)
{
    ovtest::temp_dir dir;
    struct sample {
        disk_desc cfg;
        std::string lba, lba48, hpa, addr48;
    };
    const sample samples[] = {
        {{"Northwind ND3000AS", "NW3K1D00318", 5860533168ULL, "lba48", false}, "268435455", "5860533168",
         "supported", "enabled"},
        {{"Northwind ND3000AS", "NW3K1D00318", 5860533168ULL, "lba48", true}, "268435455", "5860533168", "enabled",
         "enabled"},
        {{"Harbor HD120", "HB120-0042", 234441648ULL, "lba28", true}, "234441648", "(absent)", "enabled", "absent"},
        {{"Harbor HD120", "HB120-0042", 234441648ULL, "lba28", false}, "234441648", "(absent)", "supported",
         "absent"},
    };
    for (const auto& s : samples) {
        const std::string text = hdparm_decode(make_identify(s.cfg), dir.path());
        SCOPED_TRACE(text);
        EXPECT_EQ(field(text, "Model Number"), s.cfg.model);
        EXPECT_EQ(field(text, "Serial Number"), s.cfg.serial);
        EXPECT_EQ(field(text, "LBA    user addressable sectors"), s.lba);
        EXPECT_EQ(field(text, "LBA48  user addressable sectors"), s.lba48);
        EXPECT_EQ(feature(text, "Host Protected Area feature set"), s.hpa);
        EXPECT_EQ(feature(text, "48-bit Address feature set"), s.addr48);
        EXPECT_EQ(field(text, "Checksum"), "correct");
    }
    // A CHS-only disk: hdparm finds no LBA count but the geometry product.
    const std::string chs = hdparm_decode(make_identify(disk_desc{"Old CHS", "C1", 200000, "chs", false}), dir.path());
    EXPECT_EQ(field(chs, "LBA    user addressable sectors"), "(absent)") << chs;
    EXPECT_EQ(field(chs, "CHS current addressable sectors"), "200000") << chs;
}

#else

TEST(SimIdentify, IndependentDecoderAgrees)
{
    GTEST_SKIP() << "hdparm not installed (Debian package hdparm)";
}

#endif

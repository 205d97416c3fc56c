// Numbers to text, trimming, registry text and the string table: every number and
// name the user reads passes through these.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>

#include "clock.h"
#include "raid.h"
#include "requests.h"

namespace {

TEST(IntToString, DecimalWithoutSignOrPadding)
{
    EXPECT_EQ(ov::inttostring(0), "0");
    EXPECT_EQ(ov::inttostring(7), "7");
    EXPECT_EQ(ov::inttostring(10), "10");
    EXPECT_EQ(ov::inttostring(1000000007), "1000000007");
    EXPECT_EQ(ov::inttostring(5860533168ULL), "5860533168");
    EXPECT_EQ(ov::inttostring(1ULL << 63), "9223372036854775808");
    EXPECT_EQ(ov::inttostring(std::numeric_limits<uint64_t>::max()), "18446744073709551615");
}

TEST(IntToHexString, UpperCaseWithMinimumWidth)
{
    EXPECT_EQ(ov::inttohexstring(255, 0), "FF");
    EXPECT_EQ(ov::inttohexstring(255, 4), "00FF");
    EXPECT_EQ(ov::inttohexstring(0, 0), "");
    EXPECT_EQ(ov::inttohexstring(0, 3), "000");
    EXPECT_EQ(ov::inttohexstring(0x10, 0), "10");         // inner zeros stay
    EXPECT_EQ(ov::inttohexstring(0xABCDEF, 6), "ABCDEF"); // width met exactly
    EXPECT_EQ(ov::inttohexstring(0x12345, 2), "12345");   // width is a minimum, never a cut
    EXPECT_EQ(ov::inttohexstring(0xA, -4), "A");
}

TEST(IntToHexString, TopBitValuesKeepTheirDigits)
{
    // A GUID whose vendor part has its high bit set must still show.
    EXPECT_EQ(ov::inttohexstring(static_cast<int64_t>(0x8000000000000001ULL), 0), "8000000000000001");
    EXPECT_EQ(ov::inttohexstring(-1, 0), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(ov::inttohexstring(static_cast<int64_t>(0x8000000000000000ULL), 0), "8000000000000000");
    EXPECT_EQ(ov::inttohexstring(static_cast<int64_t>(0xF0000000000000ABULL), 18), "00F0000000000000AB");
    EXPECT_EQ(ov::inttohexstring(static_cast<int64_t>(0x80000000000000FFULL), 4), "80000000000000FF");
}

TEST(Trim, SpaceLineFeedAndTabOnly)
{
    const auto trimmed = [](std::string s) {
        ov::trim(s);
        return s;
    };
    EXPECT_EQ(trimmed("  model name \t\n"), "model name");
    EXPECT_EQ(trimmed("\t\nx"), "x");
    EXPECT_EQ(trimmed("a  b"), "a  b");
    EXPECT_EQ(trimmed("\rtext"), "\rtext");
    EXPECT_EQ(trimmed(" text\r "), "text\r");
    EXPECT_EQ(trimmed("\vtext\f"), "\vtext\f");
    EXPECT_EQ(trimmed("     "), "");
    EXPECT_EQ(trimmed(" \t\n"), "");
    EXPECT_EQ(trimmed(""), "");
    // A NUL is no white space: identity texts keep their NUL padding.
    EXPECT_EQ(trimmed(std::string("AB\0\0 ", 5)), std::string("AB\0\0", 4));
}

TEST(RegistryText, AsciiUpToNinetyNineCharacters)
{
    const std::string ninety_nine(99, 'S');
    EXPECT_EQ(ov::cfstringtostring("SERIAL-0001"), "SERIAL-0001");
    EXPECT_EQ(ov::cfstringtostring(""), "");
    EXPECT_EQ(ov::cfstringtostring(ninety_nine), ninety_nine);

    std::string long_text;
    for (int i = 0; i < 150; ++i)
        long_text += static_cast<char>('A' + i % 26);
    EXPECT_EQ(ov::cfstringtostring(long_text), long_text.substr(0, 99));
    EXPECT_EQ(ov::cfstringtostring(ninety_nine + "T"), ninety_nine);

    // Text that is not ASCII cannot be converted: it becomes empty.
    EXPECT_EQ(ov::cfstringtostring("Serien\xC3\xBCmmer"), "");
    EXPECT_EQ(ov::cfstringtostring(std::string("AB\0CD", 5)), "AB");
}

class StringTable : public ::testing::Test {
protected:
    void TearDown() override { ov::set_localizer(nullptr); }
};

TEST_F(StringTable, KeyIsTheDefaultAndALookupOverrides)
{
    EXPECT_EQ(ov::localized("error_open_device"), "error_open_device");

    const std::map<std::string, std::string> table = {{"error_open_device", "Cannot open the device"},
                                                      {"blank", ""}};
    ov::set_localizer([table](const std::string& key) {
        auto it = table.find(key);
        return it == table.end() ? std::string() : it->second;
    });
    EXPECT_EQ(ov::localized("error_open_device"), "Cannot open the device");
    EXPECT_EQ(ov::localized("missing_key"), "missing_key");
    EXPECT_EQ(ov::localized("blank"), "blank");

    ov::set_localizer(nullptr);
    EXPECT_EQ(ov::localized("error_open_device"), "error_open_device");
}

TEST(TimeScale, OnlySaneNumbersAreTaken)
{
    // Out of range or not a number: refused, and the caller's value (1) stays.
    const struct {
        const char* text;
        bool taken;
        double scale;
    } rows[] = {
        {"50", true, 50},      {"0.001", true, 0.001}, {"1e4", true, 1e4},    {" 2", true, 2},
        {"1e-300", false, 1},  {"0.0009", false, 1},   {"10001", false, 1},   {"1e300", false, 1},
        {"0", false, 1},       {"-5", false, 1},       {"nan", false, 1},     {"inf", false, 1},
        {"-inf", false, 1},    {"", false, 1},         {"abc", false, 1},     {"5x", false, 1},
    };
    for (const auto& row : rows) {
        double scale = 1;
        EXPECT_EQ(ov::parse_time_scale(row.text, scale), row.taken) << row.text;
        EXPECT_DOUBLE_EQ(scale, row.scale) << row.text;
    }
    double scale = 1;
    EXPECT_FALSE(ov::parse_time_scale(nullptr, scale));
}

}  // namespace

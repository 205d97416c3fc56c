#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ovtest {

temp_dir::temp_dir()
{
    char pattern[] = "/tmp/ovraid-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

// OVRAID_KEEP_TEMP=DIR keeps each test's directory as DIR/<suite>.<test>, so the disk images
// two builds leave behind can be compared byte for byte.
temp_dir::~temp_dir()
{
    std::error_code ec;
    const char* keep = std::getenv("OVRAID_KEEP_TEMP");
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (keep && *keep && test) {
        const std::filesystem::path to =
            std::filesystem::path(keep) / (std::string(test->test_suite_name()) + "." + test->name());
        std::filesystem::create_directories(to.parent_path(), ec);
        std::filesystem::remove_all(to, ec);
        std::filesystem::rename(path_, to, ec);
        if (!ec)
            return;
        std::filesystem::copy(path_, to, std::filesystem::copy_options::recursive, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

}  // namespace ovtest

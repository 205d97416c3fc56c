// ovraidctl's command line: the input split into words at NUL bytes, as argv after the
// program's name. Whatever the words, parsing ends with an answer and a one-line error.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words{"ovraidctl"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size != 0)
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    ov::cli::options options;
    std::string error;
    const bool ok = ov::cli::parse(static_cast<int>(words.size()), argv.data(), options, error);
    if (ok) {
        FUZZ_CHECK(error.empty());
        FUZZ_CHECK(options.from_bay >= 0 && options.from_bay <= 2);
        FUZZ_CHECK(options.interval == 0 || (options.interval >= 0.1 && options.interval <= 86400));
        FUZZ_CHECK(options.words.empty() || !options.command.empty());
    } else {
        FUZZ_CHECK(!error.empty() && error.find('\n') == std::string::npos);
    }
    return 0;
}

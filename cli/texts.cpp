#include "texts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "requests.h"

namespace ov::cli {

namespace {

bool german_chosen = false;

const text_entry* find(const char* key)
{
    const text_entry* end = text_table + text_table_size;
    const text_entry* at =
        std::lower_bound(text_table, end, key, [](const text_entry& e, const char* k) { return std::strcmp(e.key, k) < 0; });
    return at != end && std::strcmp(at->key, key) == 0 ? at : nullptr;
}

// One pass, so a value that itself holds "%2" stays as it is.
std::string fill(const std::string& text, const std::string& a1, const std::string& a2)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
            out += text[i + 1] == '1' ? a1 : a2;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

void choose_language()
{
    // LANGUAGE is a list ("de:en"); its first entry counts. C and POSIX mean English.
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            german_chosen = std::strncmp(value, "de", 2) == 0;
            break;
        }
    }
    // The engine fills in its own %1 and %2.
    set_localizer([](const std::string& key) {
        const text_entry* entry = find(key.c_str());
        return entry ? std::string(german_chosen ? entry->de : entry->en) : key;
    });
}

bool german()
{
    return german_chosen;
}

std::string tr(const char* key, const std::string& a1, const std::string& a2)
{
    const text_entry* entry = find(key);
    return fill(entry ? (german_chosen ? entry->de : entry->en) : key, a1, a2);
}

}  // namespace ov::cli

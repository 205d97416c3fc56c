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

void fill(std::string& text, const char* mark, const std::string& value)
{
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, 2, value);
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
    set_localizer([](const std::string& key) { return tr(key.c_str()); });
}

bool german()
{
    return german_chosen;
}

std::string tr(const char* key, const std::string& a1, const std::string& a2)
{
    const text_entry* entry = find(key);
    std::string text = entry ? (german_chosen ? entry->de : entry->en) : key;
    fill(text, "%1", a1);
    fill(text, "%2", a2);
    return text;
}

}  // namespace ov::cli

// The command line's words in English or German, from the same id-based translation files
// as the window (its own, and the window's for the engine's texts).
#pragma once

#include <cstddef>
#include <string>

namespace ov::cli {

struct text_entry {
    const char* key;
    const char* en;
    const char* de;
};
extern const text_entry text_table[];
extern const size_t text_table_size;

// German when the first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set says so
// (as gettext looks), else English. Installs the table as the engine's string table.
void choose_language();
bool german();

// The text of a key, %1 and %2 filled in; a key the table lacks shows as itself.
std::string tr(const char* key, const std::string& a1 = {}, const std::string& a2 = {});

}  // namespace ov::cli

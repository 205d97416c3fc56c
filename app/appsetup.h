// What every program showing the window sets up first: the string table and the style.
#pragma once

#include <QString>

class QApplication;

namespace ov {

// Loads the id-based string table for the locale (or the given language, e.g. "de") and
// routes the engine's localized() through it.
void install_translations(QApplication& app, const QString& language = QString());
void load_style(QApplication& app);
// The process's resident memory in MB, from /proc/self/status.
double resident_megabytes();

}  // namespace ov

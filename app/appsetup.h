// What every program showing the window sets up first: the string table and the style.
#pragma once

#include <QString>
#include <functional>

class QApplication;

namespace ov {

// Loads the id-based string table for the locale (or the given language, e.g. "de") and
// routes the engine's localized() through it.
void install_translations(QApplication& app, const QString& language = QString());
void load_style(QApplication& app);
// The process's resident memory in MB, from /proc/self/status.
double resident_megabytes();
// SIGTERM, SIGINT and SIGHUP run leave(0) on the window's thread, so a session ending or a
// kill takes the program's one way out instead of ending it under running threads.
bool route_termination_signals(std::function<void(int status)> leave);

}  // namespace ov

// The window's program from start to end: the bridges (backend.h), the controller, the
// event loop, and the ordered way out (threads stopped and joined before anything they
// use is destroyed).
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "backend.h"

class QApplication;
class controller;

namespace ov {

struct window_options {
    backend_options bridges;
    QString screenshot;          // when set: save a picture of the window after quit_after, then quit
    int quit_after_seconds = 12;
};

// Runs until the program takes its way out; returns the status to leave with. started,
// when given, runs once the window shows (a test drives an exit path from there).
int run_window(QApplication& app, const window_options& options,
               const std::function<void(controller& window)>& started = {});

}  // namespace ov

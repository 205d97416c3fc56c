// The window's program from start to end: the simulated enclosures, the controller, the
// event loop, and the ordered way out (threads stopped and joined before anything they
// use is destroyed).
#pragma once

#include <QString>
#include <functional>
#include <string>

class QApplication;
class controller;

namespace ov {

struct window_options {
    std::string sim_root;
    QString screenshot;          // when set: save a picture of the window after quit_after, then quit
    int quit_after_seconds = 12;
};

// Runs until the program takes its way out; returns the status to leave with. started,
// when given, runs once the window shows (a test drives an exit path from there).
int run_window(QApplication& app, const window_options& options,
               const std::function<void(controller& window)>& started = {});

}  // namespace ov

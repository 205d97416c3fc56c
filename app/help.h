// The window's help: F1 opens a short page on what each state means and what to do when a
// disk fails; the title bar's help button offers it and the About box with the version.
#pragma once

class controller;

namespace ov {

// Adds the help button to the title bar and the F1 shortcut to the window.
void install_help(controller& window);

}  // namespace ov

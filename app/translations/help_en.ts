<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<!-- ovraid string table, id-based (see ovraid_en.ts): the texts of the program's command
     line, the help page and the About box. Build: lrelease -idbased -nounfinished help_en.ts -->
<context>
    <name></name>
    <!-- The window's program on the command line
         Written to the terminal by ovraid before any window exists. -->
    <message id="program_usage">
        <source>Usage: ovraid [OPTIONS]
The window over RAID enclosures with two bays: their sets, their disks, rebuilds.

Options:
  --sim DIR             the simulated enclosures in DIR; DIR must hold a simulation
                        already, unless --demo is given
  --demo                with --sim: make the demo enclosures in DIR when it holds none
  --library PATH        load this bridge library and find its bridges through udev
                        (with --sim: drive the simulation's bridges through it)
  --screenshot FILE     save a picture of the window to FILE, then quit
  --quit-after SECONDS  seconds to run before the screenshot (default 12)
  -h, --help            show this help and quit
  -v, --version         show the version and quit

Without --sim and --library, a library named in ~/.config/ovraid/ovraid.conf is used;
otherwise the default simulation, which gets the demo enclosures on first start:
  %1
ovraid-sim makes and changes simulations; ovraidctl reads them from a terminal.
</source>
        <extracomment>ovraid --help; %1 is the default simulation directory</extracomment>
        <translation>Usage: ovraid [OPTIONS]
The window over RAID enclosures with two bays: their sets, their disks, rebuilds.

Options:
  --sim DIR             the simulated enclosures in DIR; DIR must hold a simulation
                        already, unless --demo is given
  --demo                with --sim: make the demo enclosures in DIR when it holds none
  --library PATH        load this bridge library and find its bridges through udev
                        (with --sim: drive the simulation's bridges through it)
  --screenshot FILE     save a picture of the window to FILE, then quit
  --quit-after SECONDS  seconds to run before the screenshot (default 12)
  -h, --help            show this help and quit
  -v, --version         show the version and quit

Without --sim and --library, a library named in ~/.config/ovraid/ovraid.conf is used;
otherwise the default simulation, which gets the demo enclosures on first start:
  %1
ovraid-sim makes and changes simulations; ovraidctl reads them from a terminal.
</translation>
    </message>
    <message id="program_usage_hint">
        <source>Run 'ovraid --help' for the options.</source>
        <extracomment>After a usage error</extracomment>
        <translation>Run 'ovraid --help' for the options.</translation>
    </message>
    <message id="program_unknown_option">
        <source>unknown option %1</source>
        <extracomment>%1: the option as typed</extracomment>
        <translation>unknown option %1</translation>
    </message>
    <message id="program_unexpected_argument">
        <source>unexpected argument '%1'</source>
        <extracomment>%1: the argument as typed (ovraid takes no arguments besides options)</extracomment>
        <translation>unexpected argument '%1'</translation>
    </message>
    <message id="program_needs_value">
        <source>option %1 needs a value</source>
        <extracomment>%1: an option such as --sim</extracomment>
        <translation>option %1 needs a value</translation>
    </message>
    <message id="program_given_twice">
        <source>option %1 is given twice</source>
        <extracomment>%1: an option such as --sim</extracomment>
        <translation>option %1 is given twice</translation>
    </message>
    <message id="program_bad_seconds">
        <source>--quit-after needs a whole number of seconds, not '%1'</source>
        <extracomment>%1: what was given to --quit-after</extracomment>
        <translation>--quit-after needs a whole number of seconds, not '%1'</translation>
    </message>
    <message id="program_no_simulation">
        <source>%1: no simulated enclosures there. To make the demo enclosures there: ovraid --sim %1 --demo (or: ovraid-sim --sim %1 demo)</source>
        <extracomment>ovraid --sim DIR where DIR holds no simulation; %1: DIR</extracomment>
        <translation>%1: no simulated enclosures there. To make the demo enclosures there: ovraid --sim %1 --demo (or: ovraid-sim --sim %1 demo)</translation>
    </message>
    <message id="program_demo_exists">
        <source>%1 already holds simulated enclosures; they are shown as they are</source>
        <extracomment>ovraid --sim DIR --demo where DIR holds enclosures already; %1: DIR</extracomment>
        <translation>%1 already holds simulated enclosures; they are shown as they are</translation>
    </message>
    <message id="program_demo_failed">
        <source>cannot make the demo enclosures in %1: %2</source>
        <extracomment>%1: the directory, %2: why</extracomment>
        <translation>cannot make the demo enclosures in %1: %2</translation>
    </message>
    <!-- Help and About
         The title bar's help button, the help page (F1) and the About box. -->
    <message id="help_button">
        <source>Help</source>
        <extracomment>Accessible name of the title bar's help button, and of its menu</extracomment>
        <translation>Help</translation>
    </message>
    <message id="help_button_tooltip">
        <source>Help and About (F1: Help)</source>
        <extracomment>Tooltip of the title bar's help button</extracomment>
        <translation>Help and About (F1: Help)</translation>
    </message>
    <message id="help_action">
        <source>Help</source>
        <extracomment>Menu entry of the help button that opens the help page (F1)</extracomment>
        <translation>Help</translation>
    </message>
    <message id="about_action">
        <source>About ovraid</source>
        <extracomment>Menu entry of the help button that opens the About box</extracomment>
        <translation>About ovraid</translation>
    </message>
    <message id="help_title">
        <source>ovraid Help</source>
        <extracomment>Title of the help page</extracomment>
        <translation>ovraid Help</translation>
    </message>
    <message id="help_close">
        <source>Close</source>
        <extracomment>Button that closes the help page or the About box</extracomment>
        <translation>Close</translation>
    </message>
    <message id="help_states_heading">
        <source>What the states mean</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>What the states mean</translation>
    </message>
    <message id="help_states_intro">
        <source>The list of enclosures shows each set in one of these states:</source>
        <extracomment>Help page, before the list of states</extracomment>
        <translation>The list of enclosures shows each set in one of these states:</translation>
    </message>
    <message id="help_healthy">
        <source>Everything is in order; nothing to do.</source>
        <extracomment>Help page: what state_healthy means</extracomment>
        <translation>Everything is in order; nothing to do.</translation>
    </message>
    <message id="help_degraded">
        <source>One disk of the mirror is missing or has failed, so your data is on one disk only. Put in a replacement soon and rebuild the mirror onto it.</source>
        <extracomment>Help page: what state_degraded means</extracomment>
        <translation>One disk of the mirror is missing or has failed, so your data is on one disk only. Put in a replacement soon and rebuild the mirror onto it.</translation>
    </message>
    <message id="help_out_of_step">
        <source>Both disks are there, but one was written while the other was away, so they hold different data. Rebuild from the bay holding the current data.</source>
        <extracomment>Help page: what state_out_of_step means</extracomment>
        <translation>Both disks are there, but one was written while the other was away, so they hold different data. Rebuild from the bay holding the current data.</translation>
    </message>
    <message id="help_rebuilding">
        <source>The data is being copied from one bay onto the other; the bar shows the speed and the time left. You can keep using the set, but do not unplug the enclosure or pull a disk until the copy ends.</source>
        <extracomment>Help page: what state_rebuilding means</extracomment>
        <translation>The data is being copied from one bay onto the other; the bar shows the speed and the time left. You can keep using the set, but do not unplug the enclosure or pull a disk until the copy ends.</translation>
    </message>
    <message id="help_broken">
        <source>The set cannot be used: a disk of a stripe or span is missing, the disks' RAID information does not belong together, or only an incomplete copy is here. Put the missing disk back in. Creating a new set over these disks erases the data.</source>
        <extracomment>Help page: what state_broken means</extracomment>
        <translation>The set cannot be used: a disk of a stripe or span is missing, the disks' RAID information does not belong together, or only an incomplete copy is here. Put the missing disk back in. Creating a new set over these disks erases the data.</translation>
    </message>
    <message id="help_not_configured">
        <source>The disks belong to no set. To make one, choose the RAID type on the configuration page and create it; that erases what is on both disks.</source>
        <extracomment>Help page: what state_not_configured means</extracomment>
        <translation>The disks belong to no set. To make one, choose the RAID type on the configuration page and create it; that erases what is on both disks.</translation>
    </message>
    <message id="help_disk_silent">
        <source>A disk is in a bay but does not answer; it may still be spinning up. Wait a moment and press F5. If it stays silent, the disk or its connection has failed: replace the disk.</source>
        <extracomment>Help page: what state_disk_silent means</extracomment>
        <translation>A disk is in a bay but does not answer; it may still be spinning up. Wait a moment and press F5. If it stays silent, the disk or its connection has failed: replace the disk.</translation>
    </message>
    <message id="help_failure_heading">
        <source>When a disk fails</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>When a disk fails</translation>
    </message>
    <message id="help_failure_which">
        <source>Find the failed disk's bay (Bay 1 or Bay 2) on the disk information page.</source>
        <extracomment>Help page, step 1 after a disk failed</extracomment>
        <translation>Find the failed disk's bay (Bay 1 or Bay 2) on the disk information page.</translation>
    </message>
    <message id="help_failure_replace">
        <source>Replace that disk with one at least as large as the other disk.</source>
        <extracomment>Help page, step 2</extracomment>
        <translation>Replace that disk with one at least as large as the other disk.</translation>
    </message>
    <message id="help_failure_source">
        <source>Rebuild the mirror from the bay holding the current data, marked “%1”, onto the new disk.</source>
        <extracomment>Help page, step 3; %1: the marker of the mirror half with the current data (id old)</extracomment>
        <translation>Rebuild the mirror from the bay holding the current data, marked “%1”, onto the new disk.</translation>
    </message>
    <message id="help_failure_never">
        <source>Never rebuild from a disk that came back or holds older data, marked “%1”: the copy would overwrite your current data with old data.</source>
        <extracomment>Help page, step 4; %1: the marker of the returning mirror half (id new)</extracomment>
        <translation>Never rebuild from a disk that came back or holds older data, marked “%1”: the copy would overwrite your current data with old data.</translation>
    </message>
    <message id="help_failure_wait">
        <source>Keep the enclosure plugged in and both disks in place until the rebuild has ended.</source>
        <extracomment>Help page, step 5</extracomment>
        <translation>Keep the enclosure plugged in and both disks in place until the rebuild has ended.</translation>
    </message>
    <message id="help_keys_heading">
        <source>Keys</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>Keys</translation>
    </message>
    <message id="help_key_f1">
        <source>Show this help</source>
        <extracomment>Help page: what F1 does</extracomment>
        <translation>Show this help</translation>
    </message>
    <message id="help_key_f5">
        <source>Look at every enclosure again (Refresh)</source>
        <extracomment>Help page: what F5 does</extracomment>
        <translation>Look at every enclosure again (Refresh)</translation>
    </message>
    <message id="about_title">
        <source>About ovraid</source>
        <extracomment>Title of the About box</extracomment>
        <translation>About ovraid</translation>
    </message>
    <message id="about_version">
        <source>Version %1</source>
        <extracomment>About box; %1: the version number</extracomment>
        <translation>Version %1</translation>
    </message>
    <message id="about_what">
        <source>Manages the RAID sets of external enclosures with two bays, attached by USB or FireWire.</source>
        <extracomment>About box: what the program is</extracomment>
        <translation>Manages the RAID sets of external enclosures with two bays, attached by USB or FireWire.</translation>
    </message>
    <message id="about_qt">
        <source>Built on Qt %1</source>
        <extracomment>About box; %1: the version of Qt in use</extracomment>
        <translation>Built on Qt %1</translation>
    </message>
</context>
</TS>

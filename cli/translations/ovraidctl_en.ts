<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en">
<!-- ovraidctl string table, id-based like the window's (app/translations): source = the English
     text; translation = the text shown for this language. Built into the program by cli/ts_table.py. -->
<context>
    <name></name>
    <message id="ctl_help">
        <source>Usage: ovraidctl [--sim DIR | --library PATH] COMMAND [ARGUMENTS] [OPTIONS]

Shows and changes the RAID sets of two-bay enclosures.

Commands:
  status [CONTROLLER]         every controller, its set, its state and both bays
  check [CONTROLLER]          one line for a monitoring system
  create CONTROLLER MODE      make a set: raid0, raid1 or span (erases both disks)
  delete CONTROLLER           delete the set
  clear-disk CONTROLLER BAY   clear the RAID record of the disk in bay 1 or 2
  rebuild CONTROLLER --from BAY
                              copy the mirror half in BAY onto the other disk
  restart CONTROLLER          restart the controller
  monitor                     report every change of every enclosure until stopped
  udev-rules                  the udev rules that let the user open a bridge library's devices

CONTROLLER is the number in the status list or the controller's name (its USB serial
number or FireWire GUID); it may be left out when only one controller is attached.

Options:
  --json        one JSON document (status), JSON lines (--watch, --wait, monitor)
  --watch       status: look again every 2 seconds
  --wait        rebuild: follow the copy to its end
  --yes, -y     do not ask before a command that loses data
  --force       with --yes, also run a command whose safe answer is No
  --sim DIR     use the simulated enclosures in DIR
  --library PATH  use this bridge library
  --help        this text; "ovraidctl help COMMAND" tells more about a command
  --version     the version

Exit status of status and check:
  0  every set healthy, or nothing attached
  1  a mirror is degraded, out of step or rebuilding (WARNING)
  2  a stripe or span is broken, or a disk does not respond (CRITICAL)
  3  the state could not be read, or the controller named is not there (UNKNOWN)
Exit status of the other commands:
  0  done   1  refused, nothing written   2  failed   3  could not look
 64  the command line could not be understood</source>
        <extracomment>ovraidctl --help: keep command and option names</extracomment>
        <translation>Usage: ovraidctl [--sim DIR | --library PATH] COMMAND [ARGUMENTS] [OPTIONS]

Shows and changes the RAID sets of two-bay enclosures.

Commands:
  status [CONTROLLER]         every controller, its set, its state and both bays
  check [CONTROLLER]          one line for a monitoring system
  create CONTROLLER MODE      make a set: raid0, raid1 or span (erases both disks)
  delete CONTROLLER           delete the set
  clear-disk CONTROLLER BAY   clear the RAID record of the disk in bay 1 or 2
  rebuild CONTROLLER --from BAY
                              copy the mirror half in BAY onto the other disk
  restart CONTROLLER          restart the controller
  monitor                     report every change of every enclosure until stopped
  udev-rules                  the udev rules that let the user open a bridge library's devices

CONTROLLER is the number in the status list or the controller's name (its USB serial
number or FireWire GUID); it may be left out when only one controller is attached.

Options:
  --json        one JSON document (status), JSON lines (--watch, --wait, monitor)
  --watch       status: look again every 2 seconds
  --wait        rebuild: follow the copy to its end
  --yes, -y     do not ask before a command that loses data
  --force       with --yes, also run a command whose safe answer is No
  --sim DIR     use the simulated enclosures in DIR
  --library PATH  use this bridge library
  --help        this text; "ovraidctl help COMMAND" tells more about a command
  --version     the version

Exit status of status and check:
  0  every set healthy, or nothing attached
  1  a mirror is degraded, out of step or rebuilding (WARNING)
  2  a stripe or span is broken, or a disk does not respond (CRITICAL)
  3  the state could not be read, or the controller named is not there (UNKNOWN)
Exit status of the other commands:
  0  done   1  refused, nothing written   2  failed   3  could not look
 64  the command line could not be understood</translation>
    </message>
    <message id="ctl_help_status">
        <source>Usage: ovraidctl status [CONTROLLER] [--json] [--watch]

Shows every controller (or the one named): its list number and name, the set it presents
(mode and size), its state, any rebuild with percent, speed and time left, and both bays:
model, serial number, capacity, the mode in the disk's RAID record, and which mirror half
holds the current data. Only reads; never writes to a disk.

--json prints one JSON document (its schema is in docs/ovraidctl-json.md); with --watch,
one document per line every 2 seconds (--interval SECONDS to change it).
Exit status: 0 healthy, 1 degraded or rebuilding, 2 broken or a disk not responding,
3 could not look at everything.</source>
        <translation>Usage: ovraidctl status [CONTROLLER] [--json] [--watch]

Shows every controller (or the one named): its list number and name, the set it presents
(mode and size), its state, any rebuild with percent, speed and time left, and both bays:
model, serial number, capacity, the mode in the disk's RAID record, and which mirror half
holds the current data. Only reads; never writes to a disk.

--json prints one JSON document (its schema is in docs/ovraidctl-json.md); with --watch,
one document per line every 2 seconds (--interval SECONDS to change it).
Exit status: 0 healthy, 1 degraded or rebuilding, 2 broken or a disk not responding,
3 could not look at everything.</translation>
    </message>
    <message id="ctl_help_check">
        <source>Usage: ovraidctl check [CONTROLLER]

One line in the form monitoring plugins use, and their exit status:
0 OK, 1 WARNING (a mirror degraded, out of step or rebuilding), 2 CRITICAL (a stripe or
span broken, a disk not responding), 3 UNKNOWN (the state could not be read, or the
controller named is not attached). Only reads.</source>
        <translation>Usage: ovraidctl check [CONTROLLER]

One line in the form monitoring plugins use, and their exit status:
0 OK, 1 WARNING (a mirror degraded, out of step or rebuilding), 2 CRITICAL (a stripe or
span broken, a disk not responding), 3 UNKNOWN (the state could not be read, or the
controller named is not attached). Only reads.</translation>
    </message>
    <message id="ctl_help_create">
        <source>Usage: ovraidctl create CONTROLLER raid0|raid1|span [--yes]

Writes a new set onto both disks: raid0 (stripe: fast, no redundancy), raid1 (mirror:
the data on both disks) or span (one large volume). Everything on both disks is lost.
Asks first on a terminal; --yes does not ask; without a terminal and without --yes it
refuses. The controller restarts and the new state is shown.
Exit status: 0 done, 1 refused (nothing written), 2 failed (the message names the bay and
the disk), 3 could not look at everything.</source>
        <translation>Usage: ovraidctl create CONTROLLER raid0|raid1|span [--yes]

Writes a new set onto both disks: raid0 (stripe: fast, no redundancy), raid1 (mirror:
the data on both disks) or span (one large volume). Everything on both disks is lost.
Asks first on a terminal; --yes does not ask; without a terminal and without --yes it
refuses. The controller restarts and the new state is shown.
Exit status: 0 done, 1 refused (nothing written), 2 failed (the message names the bay and
the disk), 3 could not look at everything.</translation>
    </message>
    <message id="ctl_help_delete">
        <source>Usage: ovraidctl delete CONTROLLER [--yes]

Deletes the set: the RAID records of both disks (and, for a stripe or span, the start of
both disks) are cleared, so the data of the set is lost. Asks first (see create).
Exit status as for create.</source>
        <translation>Usage: ovraidctl delete CONTROLLER [--yes]

Deletes the set: the RAID records of both disks (and, for a stripe or span, the start of
both disks) are cleared, so the data of the set is lost. Asks first (see create).
Exit status as for create.</translation>
    </message>
    <message id="ctl_help_clear-disk">
        <source>Usage: ovraidctl clear-disk CONTROLLER BAY [--yes]

Clears the RAID record and the first sectors of the disk in bay 1 or 2, which is not a
member of a set the controller presents. Asks first (see create).
Exit status as for create.</source>
        <translation>Usage: ovraidctl clear-disk CONTROLLER BAY [--yes]

Clears the RAID record and the first sectors of the disk in bay 1 or 2, which is not a
member of a set the controller presents. Asks first (see create).
Exit status as for create.</translation>
    </message>
    <message id="ctl_help_rebuild">
        <source>Usage: ovraidctl rebuild CONTROLLER --from BAY [--wait] [--json] [--yes]
       ovraidctl rebuild CONTROLLER --wait [--json]

Copies the mirror half in BAY onto the disk in the other bay, overwriting everything on
it; the controller copies, ovraidctl marks the disks and restarts it. Asks first (see
create). --wait follows the copy to its end, showing percent, speed and time left (JSON
lines with --json), and then finishes it. Without --from, --wait follows a rebuild that
is already running. Exit status as for create; 2 also when a followed copy stops.</source>
        <translation>Usage: ovraidctl rebuild CONTROLLER --from BAY [--wait] [--json] [--yes]
       ovraidctl rebuild CONTROLLER --wait [--json]

Copies the mirror half in BAY onto the disk in the other bay, overwriting everything on
it; the controller copies, ovraidctl marks the disks and restarts it. Asks first (see
create). --wait follows the copy to its end, showing percent, speed and time left (JSON
lines with --json), and then finishes it. Without --from, --wait follows a rebuild that
is already running. Exit status as for create; 2 also when a followed copy stops.</translation>
    </message>
    <message id="ctl_help_restart">
        <source>Usage: ovraidctl restart CONTROLLER [--yes]

Restarts (warm-boots) the controller. It disappears for a moment and is found again.
A running rebuild starts again from the beginning: then it asks first.
Exit status as for create.</source>
        <translation>Usage: ovraidctl restart CONTROLLER [--yes]

Restarts (warm-boots) the controller. It disappears for a moment and is found again.
A running rebuild starts again from the beginning: then it asks first.
Exit status as for create.</translation>
    </message>
    <message id="ctl_help_monitor">
        <source>Usage: ovraidctl monitor [--json] [--oneshot] [--program CMD] [--no-syslog] [--no-notify]
                         [--interval SECONDS]

Follows every enclosure until stopped, reading only, and reports these events:
controller-added, controller-removed, disk-removed, disk-inserted, degraded, out-of-step,
broken, disk-not-responding, healthy (a set whole again), rebuild-started, rebuild-progress
(every 20 %), rebuild-finished, rebuild-failed. Each goes to standard output (text, or JSON
lines with --json), to the system log, as a desktop notification when a session bus is
there, and to CMD when given: CMD is run without a shell with the event's name, the
controller's name and the details as arguments, and OVRAID_EVENT, OVRAID_CONTROLLER,
OVRAID_BAY, OVRAID_SERIAL and OVRAID_LEVEL in its environment; its output goes to standard
error. Bays are looked at every 3 seconds (--interval). --oneshot reports the problems
there are now and exits (for cron), with the exit status of status.</source>
        <translation>Usage: ovraidctl monitor [--json] [--oneshot] [--program CMD] [--no-syslog] [--no-notify]
                         [--interval SECONDS]

Follows every enclosure until stopped, reading only, and reports these events:
controller-added, controller-removed, disk-removed, disk-inserted, degraded, out-of-step,
broken, disk-not-responding, healthy (a set whole again), rebuild-started, rebuild-progress
(every 20 %), rebuild-finished, rebuild-failed. Each goes to standard output (text, or JSON
lines with --json), to the system log, as a desktop notification when a session bus is
there, and to CMD when given: CMD is run without a shell with the event's name, the
controller's name and the details as arguments, and OVRAID_EVENT, OVRAID_CONTROLLER,
OVRAID_BAY, OVRAID_SERIAL and OVRAID_LEVEL in its environment; its output goes to standard
error. Bays are looked at every 3 seconds (--interval). --oneshot reports the problems
there are now and exits (for cron), with the exit status of status.</translation>
    </message>
    <message id="ctl_try_help">
        <source>Try "ovraidctl --help".</source>
        <translation>Try "ovraidctl --help".</translation>
    </message>
    <message id="ctl_needs_value">
        <source>%1 needs a value</source>
        <extracomment>option name</extracomment>
        <translation>%1 needs a value</translation>
    </message>
    <message id="ctl_bad_bay">
        <source>"%1" is no bay: say 1 or 2</source>
        <translation>"%1" is no bay: say 1 or 2</translation>
    </message>
    <message id="ctl_bad_interval">
        <source>"%1" is no interval: say seconds between 0.1 and 86400</source>
        <translation>"%1" is no interval: say seconds between 0.1 and 86400</translation>
    </message>
    <message id="ctl_unknown_option">
        <source>unknown option %1</source>
        <translation>unknown option %1</translation>
    </message>
    <message id="ctl_unknown_command">
        <source>unknown command "%1"</source>
        <translation>unknown command "%1"</translation>
    </message>
    <message id="ctl_too_many_words">
        <source>too many arguments for %1</source>
        <translation>too many arguments for %1</translation>
    </message>
    <message id="ctl_list_unreadable">
        <source>the list of controllers could not be read</source>
        <translation>the list of controllers could not be read</translation>
    </message>
    <message id="ctl_no_such_controller">
        <source>no controller "%1" is attached</source>
        <translation>no controller "%1" is attached</translation>
    </message>
    <message id="ctl_no_enclosure">
        <source>No enclosure attached.</source>
        <translation>No enclosure attached.</translation>
    </message>
    <message id="ctl_unreadable_enclosures">
        <source>%1 enclosure(s) could not be read (the reason is on standard error).</source>
        <translation>%1 enclosure(s) could not be read (the reason is on standard error).</translation>
    </message>
    <message id="ctl_controller">
        <source>Controller %1: %2</source>
        <extracomment>%1 list number, %2 bus and name</extracomment>
        <translation>Controller %1: %2</translation>
    </message>
    <message id="ctl_usb">
        <source>USB %1, S/N %2</source>
        <extracomment>%1 vendor:product, %2 serial</extracomment>
        <translation>USB %1, S/N %2</translation>
    </message>
    <message id="ctl_firewire">
        <source>FireWire, GUID %1</source>
        <translation>FireWire, GUID %1</translation>
    </message>
    <message id="ctl_state_label">
        <source>State:  </source>
        <extracomment>labels are padded to one width</extracomment>
        <translation>State:  </translation>
    </message>
    <message id="ctl_set_label">
        <source>Set:    </source>
        <translation>Set:    </translation>
    </message>
    <message id="ctl_rebuild_label">
        <source>Rebuild:</source>
        <translation>Rebuild:</translation>
    </message>
    <message id="ctl_bay">
        <source>Bay %1</source>
        <translation>Bay %1</translation>
    </message>
    <message id="ctl_size">
        <source>%1 (%2 sectors)</source>
        <translation>%1 (%2 sectors)</translation>
    </message>
    <message id="ctl_mode_other">
        <source>mode %1 (forms no set)</source>
        <translation>mode %1 (forms no set)</translation>
    </message>
    <message id="ctl_bay_empty">
        <source>empty</source>
        <translation>empty</translation>
    </message>
    <message id="ctl_bay_silent">
        <source>a disk is there but does not answer</source>
        <translation>a disk is there but does not answer</translation>
    </message>
    <message id="ctl_bay_unreadable">
        <source>%1, S/N %2: its RAID record could not be read</source>
        <translation>%1, S/N %2: its RAID record could not be read</translation>
    </message>
    <message id="ctl_disk">
        <source>%1, S/N %2</source>
        <extracomment>model, serial</extracomment>
        <translation>%1, S/N %2</translation>
    </message>
    <message id="ctl_record">
        <source>record: %1</source>
        <translation>record: %1</translation>
    </message>
    <message id="ctl_copy_source">
        <source>copy source</source>
        <translation>copy source</translation>
    </message>
    <message id="ctl_copy_target">
        <source>being rebuilt</source>
        <translation>being rebuilt</translation>
    </message>
    <message id="ctl_current_data">
        <source>holds the current data</source>
        <translation>holds the current data</translation>
    </message>
    <message id="ctl_incomplete_copy">
        <source>incomplete copy of S/N %1: never rebuild from it</source>
        <translation>incomplete copy of S/N %1: never rebuild from it</translation>
    </message>
    <message id="ctl_rebuild_direction">
        <source>%1 onto %2</source>
        <extracomment>Bay 1 onto Bay 2</extracomment>
        <translation>%1 onto %2</translation>
    </message>
    <message id="ctl_rebuild_unknown">
        <source>the controller does not say how far it is</source>
        <translation>the controller does not say how far it is</translation>
    </message>
    <message id="ctl_rebuild_complete">
        <source>copy complete</source>
        <translation>copy complete</translation>
    </message>
    <message id="ctl_time_left">
        <source>%1 left</source>
        <translation>%1 left</translation>
    </message>
    <message id="ctl_warning">
        <source>Warning: %1</source>
        <translation>Warning: %1</translation>
    </message>
    <message id="ctl_check_entry">
        <source>controller %1: %2</source>
        <translation>controller %1: %2</translation>
    </message>
    <message id="ctl_needs_mode">
        <source>create needs a mode: raid0, raid1 or span</source>
        <translation>create needs a mode: raid0, raid1 or span</translation>
    </message>
    <message id="ctl_bad_mode">
        <source>"%1" is no mode: say raid0, raid1 or span</source>
        <translation>"%1" is no mode: say raid0, raid1 or span</translation>
    </message>
    <message id="ctl_needs_bay">
        <source>clear-disk needs a bay: 1 or 2</source>
        <translation>clear-disk needs a bay: 1 or 2</translation>
    </message>
    <message id="ctl_needs_from">
        <source>rebuild needs --from BAY (or --wait to follow a running rebuild)</source>
        <translation>rebuild needs --from BAY (or --wait to follow a running rebuild)</translation>
    </message>
    <message id="ctl_name_controller">
        <source>more than one controller is attached: name one (see ovraidctl status)</source>
        <translation>more than one controller is attached: name one (see ovraidctl status)</translation>
    </message>
    <message id="ctl_no_rebuild_running">
        <source>no rebuild is running on this controller</source>
        <translation>no rebuild is running on this controller</translation>
    </message>
    <message id="ctl_lose_create">
        <source>Creating a %1 set on controller %2 erases everything on both disks:</source>
        <extracomment>%1 mode, %2 controller</extracomment>
        <translation>Creating a %1 set on controller %2 erases everything on both disks:</translation>
    </message>
    <message id="ctl_lose_delete">
        <source>Deleting the %1 set on controller %2 loses the data of the set on:</source>
        <translation>Deleting the %1 set on controller %2 loses the data of the set on:</translation>
    </message>
    <message id="ctl_lose_clear">
        <source>Clearing %1 on controller %2 erases its RAID record and the start of the disk:</source>
        <extracomment>%1 Bay N</extracomment>
        <translation>Clearing %1 on controller %2 erases its RAID record and the start of the disk:</translation>
    </message>
    <message id="ctl_lose_rebuild">
        <source>Rebuilding from %1 overwrites everything on %2:</source>
        <translation>Rebuilding from %1 overwrites everything on %2:</translation>
    </message>
    <message id="ctl_restart_what">
        <source>Controller %1 restarts.</source>
        <translation>Controller %1 restarts.</translation>
    </message>
    <message id="ctl_prompt">
        <source>[y/N]</source>
        <extracomment>the answer prompt; y/yes/j/ja go on</extracomment>
        <translation>[y/N]</translation>
    </message>
    <message id="ctl_needs_yes">
        <source>this command loses data: run it on a terminal to be asked, or give --yes</source>
        <translation>this command loses data: run it on a terminal to be asked, or give --yes</translation>
    </message>
    <message id="ctl_needs_force">
        <source>this command is dangerous here (see the question on a terminal): give --yes --force to run it without asking</source>
        <translation>this command is dangerous here (see the question on a terminal): give --yes --force to run it without asking</translation>
    </message>
    <message id="ctl_not_done">
        <source>Nothing was done.</source>
        <translation>Nothing was done.</translation>
    </message>
    <message id="ctl_done">
        <source>Done.</source>
        <translation>Done.</translation>
    </message>
    <message id="ctl_not_back">
        <source>the records were written, but the controller has not come back after its restart</source>
        <translation>the records were written, but the controller has not come back after its restart</translation>
    </message>
    <message id="ctl_not_checked">
        <source>the records were written, but %1 did not answer when the controller came back, so they could not be checked; look again with ovraidctl status</source>
        <translation>the records were written, but %1 did not answer when the controller came back, so they could not be checked; look again with ovraidctl status</translation>
    </message>
    <message id="ctl_not_as_written">
        <source>the controller came back showing something other than what was written (%1); another program may have changed it meanwhile</source>
        <translation>the controller came back showing something other than what was written (%1); another program may have changed it meanwhile</translation>
    </message>
    <message id="ctl_rebuild_left">
        <source>the controller went away; its rebuild goes on when it is back (follow it with ovraidctl rebuild --wait)</source>
        <translation>the controller went away; its rebuild goes on when it is back (follow it with ovraidctl rebuild --wait)</translation>
    </message>
    <message id="ctl_rebuild_stopped">
        <source>the rebuild stopped before its end; the controller is now: %1</source>
        <translation>the rebuild stopped before its end; the controller is now: %1</translation>
    </message>
    <message id="ctl_lba48">
        <source>48-bit LBA</source>
        <extracomment>a disk's addressing mode</extracomment>
        <translation>48-bit LBA</translation>
    </message>
    <message id="ctl_lba28">
        <source>28-bit LBA</source>
        <translation>28-bit LBA</translation>
    </message>
    <message id="ctl_chs">
        <source>CHS addressing</source>
        <translation>CHS addressing</translation>
    </message>
    <message id="ctl_help_udev-rules">
        <source>Usage: ovraidctl udev-rules [--library PATH]

Prints the udev rules that let the logged-in user open the bridges of a bridge library
(the one named, or the one configured in ovraid.conf). Put them in
/etc/udev/rules.d/70-ovraid.rules and run: udevadm control --reload &amp;&amp; udevadm trigger</source>
        <translation>Usage: ovraidctl udev-rules [--library PATH]

Prints the udev rules that let the logged-in user open the bridges of a bridge library
(the one named, or the one configured in ovraid.conf). Put them in
/etc/udev/rules.d/70-ovraid.rules and run: udevadm control --reload &amp;&amp; udevadm trigger</translation>
    </message>
    <message id="ctl_needs_library">
        <source>udev-rules needs a bridge library (--library PATH)</source>
        <translation>udev-rules needs a bridge library (--library PATH)</translation>
    </message>
    <message id="ctl_number_unsure">
        <source>list numbers are not certain while an enclosure cannot be read: name the controller by its serial number or GUID instead of "%1"</source>
        <translation>list numbers are not certain while an enclosure cannot be read: name the controller by its serial number or GUID instead of "%1"</translation>
    </message>
    <message id="ctl_rebuild_to_finish">
        <source>The copy is complete: "ovraidctl rebuild %1 --wait" (or the window) finishes the mirror.</source>
        <translation>The copy is complete: "ovraidctl rebuild %1 --wait" (or the window) finishes the mirror.</translation>
    </message>
    <message id="ctl_rules_for_simulation">
        <source>warning: these rules are for the simulated bridges, whose ids are made up; installed, they would give the seat user any real device that carries the same ids</source>
        <translation>warning: these rules are for the simulated bridges, whose ids are made up; installed, they would give the seat user any real device that carries the same ids</translation>
    </message>
    <message id="ctl_ambiguous">
        <source>"%1" names more than one controller: use the list number (see ovraidctl status)</source>
        <translation>"%1" names more than one controller: use the list number (see ovraidctl status)</translation>
    </message>
    <message id="ctl_rebuild_stalled">
        <source>the copy has not moved for a minute: check that both disks are seated and the enclosure has power</source>
        <translation>the copy has not moved for a minute: check that both disks are seated and the enclosure has power</translation>
    </message>
    <message id="ctl_rebuild_silent">
        <source>the controller has not told the copy's position for a minute</source>
        <translation>the controller has not told the copy's position for a minute</translation>
    </message>
    <message id="ctl_finish_failed">
        <source>the copy reached its end, but its end could not be written to the disks' RAID records.</source>
        <translation>the copy reached its end, but its end could not be written to the disks' RAID records.</translation>
    </message>
    <message id="ctl_mark_left">
        <source>%1 (S/N %2) still carries the copy's mark; the controller copies again when it restarts.</source>
        <translation>%1 (S/N %2) still carries the copy's mark; the controller copies again when it restarts.</translation>
    </message>
    <message id="ctl_written_no_restart">
        <source>The RAID records were written, but the controller did not restart: the change takes effect when it does (ovraidctl restart).</source>
        <translation>The RAID records were written, but the controller did not restart: the change takes effect when it does (ovraidctl restart).</translation>
    </message>
    <message id="mon_bus_silent">
        <source>the session bus did not answer in time</source>
        <translation>the session bus did not answer in time</translation>
    </message>
    <message id="mon_controller">
        <source>Controller %1 (%2)</source>
        <extracomment>%1 list number, %2 the controller's name</extracomment>
        <translation>Controller %1 (%2)</translation>
    </message>
    <message id="mon_added">
        <source>Controller attached: %1</source>
        <extracomment>%1 bus and name, as in ctl_usb / ctl_firewire</extracomment>
        <translation>Controller attached: %1</translation>
    </message>
    <message id="mon_removed">
        <source>Controller removed: %1</source>
        <translation>Controller removed: %1</translation>
    </message>
    <message id="mon_disk_removed">
        <source>%1: disk removed: %2</source>
        <extracomment>%1 Bay N, %2 the disk's model, serial, size and record</extracomment>
        <translation>%1: disk removed: %2</translation>
    </message>
    <message id="mon_disk_inserted">
        <source>%1: disk inserted: %2</source>
        <translation>%1: disk inserted: %2</translation>
    </message>
    <message id="mon_state">
        <source>State: %1</source>
        <extracomment>%1 a state's words (state_*)</extracomment>
        <translation>State: %1</translation>
    </message>
    <message id="mon_rebuild_started">
        <source>Rebuild started: %1</source>
        <extracomment>%1 e.g. Bay 1 onto Bay 2: 0.5%</extracomment>
        <translation>Rebuild started: %1</translation>
    </message>
    <message id="mon_rebuild_progress">
        <source>Rebuild: %1</source>
        <translation>Rebuild: %1</translation>
    </message>
    <message id="mon_rebuild_finished">
        <source>Rebuild finished: %1</source>
        <extracomment>%1 Bay 1 onto Bay 2</extracomment>
        <translation>Rebuild finished: %1</translation>
    </message>
    <message id="mon_rebuild_failed">
        <source>Rebuild stopped before its end (%1): %2</source>
        <extracomment>%1 Bay 1 onto Bay 2, 42.0%; %2 why</extracomment>
        <translation>Rebuild stopped before its end (%1): %2</translation>
    </message>
    <message id="mon_reason_removed">
        <source>the controller was removed</source>
        <translation>the controller was removed</translation>
    </message>
    <message id="mon_reason_replaced">
        <source>another copy took its place</source>
        <translation>another copy took its place</translation>
    </message>
    <message id="mon_no_syslog">
        <source>cannot write to the system log at %1: %2</source>
        <extracomment>%1 socket path, %2 the system's reason</extracomment>
        <translation>cannot write to the system log at %1: %2</translation>
    </message>
    <message id="mon_no_notifications">
        <source>no desktop notifications: %1</source>
        <extracomment>%1 the reason, from the system or the session bus</extracomment>
        <translation>no desktop notifications: %1</translation>
    </message>
    <message id="mon_program_failed">
        <source>cannot run %1: %2</source>
        <extracomment>%1 the program given with --program</extracomment>
        <translation>cannot run %1: %2</translation>
    </message>
    <message id="mon_program_status">
        <source>%1 ended with exit status %2</source>
        <translation>%1 ended with exit status %2</translation>
    </message>
    <message id="mon_program_signal">
        <source>%1 was ended by signal %2</source>
        <translation>%1 was ended by signal %2</translation>
    </message>
    <message id="mon_program_busy">
        <source>%1 still runs for earlier events; not run for %2</source>
        <extracomment>%2 the event's name</extracomment>
        <translation>%1 still runs for earlier events; not run for %2</translation>
    </message>
</context>
</TS>

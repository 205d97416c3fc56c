<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<!-- ovraid string table, id-based: the window looks every text up with qtTrId("id").
     source = the English text; translation = the text shown for this language.
     Build: lrelease -idbased -nounfinished ovraid_en.ts
     The fixed texts are named by these ids in app/controller.ui. docs/strings.md is written
     from these files by scripts/strings.py: a comment between messages starts a section there
     (its first line the heading, the rest the section's text). -->
<context>
    <name></name>
    <!-- Fixed texts of the window -->
    <message id="create_raid">
        <source>Create RAID</source>
        <extracomment>Button that creates the set chosen in the RAID type rows (configuration tab)</extracomment>
        <translation>Create RAID</translation>
    </message>
    <message id="delete_raid">
        <source>Delete RAID</source>
        <extracomment>Button that deletes the configured set (configuration tab)</extracomment>
        <translation>Delete RAID</translation>
    </message>
    <message id="clear_disk_1">
        <source>Clear Bay 1…</source>
        <extracomment>Button: clears the RAID record of the disk in bay 1 (asks first)</extracomment>
        <translation>Clear Bay 1…</translation>
    </message>
    <message id="clear_disk_2">
        <source>Clear Bay 2…</source>
        <extracomment>Button: clears the RAID record of the disk in bay 2 (asks first)</extracomment>
        <translation>Clear Bay 2…</translation>
    </message>
    <message id="raid_configuration">
        <source>New RAID set</source>
        <extracomment>Frame title of the four RAID type rows (configuration tab)</extracomment>
        <translation>New RAID set</translation>
    </message>
    <message id="configuration_tab">
        <source>Configuration</source>
        <extracomment>Label of the first tab of the RAID panel</extracomment>
        <translation>Configuration</translation>
    </message>
    <message id="rebuild">
        <source>Rebuild</source>
        <extracomment>Label of the rebuild tab</extracomment>
        <translation>Rebuild</translation>
    </message>
    <message id="rebuild_0_to_1">
        <source>Rebuild-&gt;</source>
        <extracomment>Button that copies Disk 1 onto Disk 2 (rebuild tab)</extracomment>
        <translation>Rebuild-&gt;</translation>
    </message>
    <message id="rebuild_1_to_0">
        <source>&lt;-Rebuild</source>
        <extracomment>Button that copies Disk 2 onto Disk 1 (rebuild tab)</extracomment>
        <translation>&lt;-Rebuild</translation>
    </message>
    <message id="refresh_button">
        <source>Refresh</source>
        <extracomment>Button that scans all enclosures again</extracomment>
        <translation>Refresh</translation>
    </message>
    <message id="raid_status">
        <source>RAID status</source>
        <extracomment>Frame title of the status display (set, disk pictures and captions)</extracomment>
        <translation>RAID status</translation>
    </message>
    <message id="rebuild_progress">
        <source>Rebuild progress</source>
        <extracomment>Caption of the progress bar on the rebuild tab</extracomment>
        <translation>Rebuild progress</translation>
    </message>
    <message id="SN">
        <source>S/N</source>
        <extracomment>Caption of each disk's serial number</extracomment>
        <translation>S/N</translation>
    </message>
    <message id="mode">
        <source>Mode</source>
        <extracomment>Caption of each disk's RAID mode field</extracomment>
        <translation>Mode</translation>
    </message>
    <message id="phy_size">
        <source>Capacity</source>
        <extracomment>Caption of each disk's physical size</extracomment>
        <translation>Capacity</translation>
    </message>
    <message id="disk_1">
        <source>Bay 1</source>
        <extracomment>Captions for the disk on port 0 (disk information, rebuild tab) and the caption beside its picture</extracomment>
        <translation>Bay 1</translation>
    </message>
    <message id="disk_2">
        <source>Bay 2</source>
        <extracomment>Captions for the disk on port 1 (disk information, rebuild tab) and the caption beside its picture</extracomment>
        <translation>Bay 2</translation>
    </message>
    <!-- Alert words -->
    <message id="ok">
        <source>OK</source>
        <extracomment>First button of every message</extracomment>
        <translation>OK</translation>
    </message>
    <message id="cancel">
        <source>Cancel</source>
        <extracomment>Second button of every confirmation</extracomment>
        <translation>Cancel</translation>
    </message>
    <message id="warning">
        <source>Warning</source>
        <extracomment>Title of the confirmations before erasing or rebuilding</extracomment>
        <translation>Warning</translation>
    </message>
    <message id="error">
        <source>Error</source>
        <extracomment>Title of failure messages and of the message before the program closes</extracomment>
        <translation>Error</translation>
    </message>
    <message id="attention">
        <source>Please note</source>
        <extracomment>Title of notices (degraded mirror, conflicting records, rebuild finished, hot swap, rebuild tab refused)</extracomment>
        <translation>Please note</translation>
    </message>
    <!-- Mode texts -->
    <message id="not_config">
        <source>No RAID</source>
        <extracomment>Mode text of a disk without a RAID record (mode fields, rebuild tab)</extracomment>
        <translation>No RAID</translation>
    </message>
    <message id="raid_0">
        <source>RAID 0</source>
        <extracomment>Mode text: striped set (mode fields, set caption)</extracomment>
        <translation>RAID 0</translation>
    </message>
    <message id="raid_1">
        <source>RAID 1</source>
        <extracomment>Mode text: mirrored set (mode fields, set caption)</extracomment>
        <translation>RAID 1</translation>
    </message>
    <message id="span">
        <source>Span</source>
        <extracomment>Mode text: spanned set (mode fields, set caption)</extracomment>
        <translation>Span</translation>
    </message>
    <!-- Suffixes appended to a mode text (each starts with its own separator) -->
    <message id="broken">
        <source> (partner missing)</source>
        <extracomment>Appended to a disk's mode text when its stripe or span partner is missing, replaced or of another mode</extracomment>
        <translation> (partner missing)</translation>
    </message>
    <message id="degrade">
        <source> (degraded)</source>
        <extracomment>Appended to a disk's mode text when it holds a RAID 1 record but no mirror is assembled</extracomment>
        <translation> (degraded)</translation>
    </message>
    <message id="rebuild_source">
        <source> – copy source</source>
        <extracomment>Appended to the mode text of the disk a running rebuild copies from</extracomment>
        <translation> – copy source</translation>
    </message>
    <message id="rebuild_target">
        <source> – being rebuilt</source>
        <extracomment>Appended to the mode text of the disk a running rebuild copies onto</extracomment>
        <translation> – being rebuilt</translation>
    </message>
    <message id="rebuilding">
        <source> – rebuilding…</source>
        <extracomment>Appended to the set caption while a rebuild runs</extracomment>
        <translation> – rebuilding…</translation>
    </message>
    <!-- Mirror half markers -->
    <message id="old">
        <source>Original member (current data)</source>
        <extracomment>Marker beside the mirror half that stayed in the set and holds the current data (later stamp)</extracomment>
        <translation>Original member (current data)</translation>
    </message>
    <message id="new">
        <source>Returning disk (older data)</source>
        <extracomment>Marker beside the mirror half that came back or was put in (earlier stamp); never rebuild from it</extracomment>
        <translation>Returning disk (older data)</translation>
    </message>
    <!-- Notices, confirmations and failures -->
    <message id="raid1_degrade_mode">
        <source>The mirror (RAID 1) has only one disk left. Your data is not protected until you insert a second disk and rebuild the mirror onto it.</source>
        <extracomment>Notice when a lone mirror member is found</extracomment>
        <translation>The mirror (RAID 1) has only one disk left. Your data is not protected until you insert a second disk and rebuild the mirror onto it.</translation>
    </message>
    <message id="raid_info_conflict">
        <source>The RAID information on the two disks does not match, so no RAID set is active. To repair a mirror, rebuild it from the disk with the current data. Otherwise clear a disk's RAID information or create a new set; both erase data.</source>
        <extracomment>Notice when two disks are present, hold RAID records, and form no set</extracomment>
        <translation>The RAID information on the two disks does not match, so no RAID set is active. To repair a mirror, rebuild it from the disk with the current data. Otherwise clear a disk's RAID information or create a new set; both erase data.</translation>
    </message>
    <message id="all_data_lost">
        <source>This erases data on the disks of this enclosure and cannot be undone. Make sure you have a backup. Continue?</source>
        <extracomment>Confirmation before create, delete and clear disk</extracomment>
        <translation>This erases data on the disks of this enclosure and cannot be undone. Make sure you have a backup. Continue?</translation>
    </message>
    <message id="raid_create_error">
        <source>The RAID set could not be created. The enclosure will be scanned again; check the disks and try once more.</source>
        <extracomment>Failure of create</extracomment>
        <translation>The RAID set could not be created. The enclosure will be scanned again; check the disks and try once more.</translation>
    </message>
    <message id="raid_delete_error">
        <source>The RAID set could not be deleted. The enclosure will be scanned again; please try once more.</source>
        <extracomment>Failure of delete</extracomment>
        <translation>The RAID set could not be deleted. The enclosure will be scanned again; please try once more.</translation>
    </message>
    <message id="raid_info_delete_error">
        <source>The RAID information of this disk could not be cleared. The enclosure will be scanned again; check the disk and try once more.</source>
        <extracomment>Failure of clear disk (a rescan follows)</extracomment>
        <translation>The RAID information of this disk could not be cleared. The enclosure will be scanned again; check the disk and try once more.</translation>
    </message>
    <message id="two_raid1_disks_for_rebuild">
        <source>A rebuild needs two disks in the enclosure, one of them from a mirror (RAID 1). Check that both disks are inserted, then open this tab again.</source>
        <extracomment>Notice when the rebuild tab is refused</extracomment>
        <translation>A rebuild needs two disks in the enclosure, one of them from a mirror (RAID 1). Check that both disks are inserted, then open this tab again.</translation>
    </message>
    <message id="disk1_to_disk2">
        <source>The disk in Bay 1 will be copied onto the disk in Bay 2 to rebuild the mirror. Everything on the disk in Bay 2 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</source>
        <extracomment>Confirmation of "Rebuild -&gt;" (copy port 0 onto port 1)</extracomment>
        <translation>The disk in Bay 1 will be copied onto the disk in Bay 2 to rebuild the mirror. Everything on the disk in Bay 2 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</translation>
    </message>
    <message id="disk2_to_disk1">
        <source>The disk in Bay 2 will be copied onto the disk in Bay 1 to rebuild the mirror. Everything on the disk in Bay 1 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</source>
        <extracomment>Confirmation of "&lt;- Rebuild" (copy port 1 onto port 0)</extracomment>
        <translation>The disk in Bay 2 will be copied onto the disk in Bay 1 to rebuild the mirror. Everything on the disk in Bay 1 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</translation>
    </message>
    <message id="rebuild_error">
        <source>The rebuild could not be started: the source disk is not part of a mirror (RAID 1). The enclosure will be scanned again.</source>
        <extracomment>Failure of a rebuild request (a rescan follows)</extracomment>
        <translation>The rebuild could not be started: the source disk is not part of a mirror (RAID 1). The enclosure will be scanned again.</translation>
    </message>
    <message id="hot_swap">
        <source>A disk was inserted or removed. The enclosure will now be scanned again.</source>
        <extracomment>Notice when a disk swap is detected in the selected enclosure</extracomment>
        <translation>A disk was inserted or removed. The enclosure will now be scanned again.</translation>
    </message>
    <message id="rebuild_finished">
        <source>The rebuild is complete. Both disks of the mirror now hold the same data.</source>
        <extracomment>Notice at the end of a rebuild</extracomment>
        <translation>The rebuild is complete. Both disks of the mirror now hold the same data.</translation>
    </message>
    <message id="error_open_device">
        <source>An enclosure could not be opened, so ovraid will close. Check the enclosure's cable and power, then start ovraid again.</source>
        <extracomment>Message before the program closes because a controller cannot be opened</extracomment>
        <translation>An enclosure could not be opened, so ovraid will close. Check the enclosure's cable and power, then start ovraid again.</translation>
    </message>
    <!-- Device tree -->
    <message id="device">
        <source>Enclosure</source>
        <extracomment>Name of a controller node in the device tree, followed by its number and "(USB)" or "(1394)"</extracomment>
        <translation>Enclosure</translation>
    </message>
    <!-- Window controls, tooltips and accessible names -->
    <message id="warm_boot">
        <source>Restart controller</source>
        <extracomment>Button that restarts the RAID controller of the selected enclosure</extracomment>
        <translation>Restart controller</translation>
    </message>
    <message id="warm_boot_tooltip">
        <source>Restart the RAID controller of the selected enclosure. It disappears for a moment and is then found again. No data is changed.</source>
        <extracomment>Tooltip of the restart button</extracomment>
        <translation>Restart the RAID controller of the selected enclosure. It disappears for a moment and is then found again. No data is changed.</translation>
    </message>
    <message id="controller_list">
        <source>RAID controllers</source>
        <extracomment>Accessible name of the controller list</extracomment>
        <translation>RAID controllers</translation>
    </message>
    <message id="device_tree">
        <source>Connected enclosures</source>
        <extracomment>Accessible name of the device tree</extracomment>
        <translation>Connected enclosures</translation>
    </message>
    <message id="minimize">
        <source>Minimize</source>
        <extracomment>Accessible name and tooltip of the window's minimise control</extracomment>
        <translation>Minimize</translation>
    </message>
    <message id="close">
        <source>Close</source>
        <extracomment>Accessible name and tooltip of the window's close control</extracomment>
        <translation>Close</translation>
    </message>
    <message id="page_raid_status">
        <source>RAID status</source>
        <extracomment>Accessible name and tooltip of the page button of the main page</extracomment>
        <translation>RAID status</translation>
    </message>
    <message id="page_disk_info">
        <source>Disk information</source>
        <extracomment>Accessible name and tooltip of the page button of the disk page</extracomment>
        <translation>Disk information</translation>
    </message>
    <message id="app_title">
        <source>ovraid — RAID Manager</source>
        <extracomment>Window title (task bar) and the app name in the header band</extracomment>
        <translation>ovraid — RAID Manager</translation>
    </message>
    <message id="rebuild_0_to_1_tooltip">
        <source>Copy the disk in Bay 1 onto the disk in Bay 2 (overwrites Bay 2)</source>
        <extracomment>Tooltip and accessible name of "Rebuild-&gt;"</extracomment>
        <translation>Copy the disk in Bay 1 onto the disk in Bay 2 (overwrites Bay 2)</translation>
    </message>
    <message id="rebuild_1_to_0_tooltip">
        <source>Copy the disk in Bay 2 onto the disk in Bay 1 (overwrites Bay 1)</source>
        <extracomment>Tooltip and accessible name of "&lt;-Rebuild"</extracomment>
        <translation>Copy the disk in Bay 2 onto the disk in Bay 1 (overwrites Bay 1)</translation>
    </message>
    <message id="refresh_tooltip">
        <source>Scan all enclosures again and update the display</source>
        <extracomment>Tooltip of the refresh button</extracomment>
        <translation>Scan all enclosures again and update the display</translation>
    </message>
    <message id="raid_mode_row_0">
        <source>RAID 0 (stripe): fast, no redundancy</source>
        <extracomment>First RAID type row</extracomment>
        <translation>RAID 0 (stripe): fast, no redundancy</translation>
    </message>
    <message id="raid_mode_row_1">
        <source>RAID 1 (mirror): data on both disks</source>
        <extracomment>Second RAID type row (selected at start)</extracomment>
        <translation>RAID 1 (mirror): data on both disks</translation>
    </message>
    <message id="raid_mode_row_2">
        <source>Span: one large volume</source>
        <extracomment>Third RAID type row</extracomment>
        <translation>Span: one large volume</translation>
    </message>
    <message id="raid_mode_row_3">
        <source>None (leave as is)</source>
        <extracomment>Fourth RAID type row; choosing it disables the create button</extracomment>
        <translation>None (leave as is)</translation>
    </message>
    <message id="working">
        <source>Looking for enclosures …</source>
        <extracomment>Accessible text of the busy indicator</extracomment>
        <translation>Looking for enclosures …</translation>
    </message>
    <message id="percent_accessible">
        <source>Rebuild progress in percent</source>
        <extracomment>Accessible name of the percentage text and the progress bar</extracomment>
        <translation>Rebuild progress in percent</translation>
    </message>
    <!-- Data safety: silent disks, partial copies, rebuild guards, failure details, notices
         Failure details are the second paragraph of the failure alerts (`raid_create_error`, `raid_delete_error`,
         `raid_info_delete_error`, `rebuild_error`) and the whole message of a failed restart. `%1` is the bay
         (1 or 2, as printed on the enclosure) unless the row says otherwise, `%2` the disk's serial number.
         Notices show in the small text field below the device tree; the newest one stays until the next scan or
         about 30 seconds. -->
    <message id="disk_silent">
        <source>Did not answer</source>
        <extracomment>Mode text of a bay whose disk is there but did not answer, or whose RAID record could not be read</extracomment>
        <translation>Did not answer</translation>
    </message>
    <message id="incomplete_copy">
        <source> (incomplete copy of S/N %1 – never rebuild from it)</source>
        <extracomment>Suffix of the mode text of a disk that holds the partial copy of an interrupted rebuild; %1 = serial of the source disk</extracomment>
        <translation> (incomplete copy of S/N %1 – never rebuild from it)</translation>
    </message>
    <message id="incomplete_copy_marker">
        <source>Incomplete copy of S/N %1: never rebuild from it.</source>
        <extracomment>Marker beside the picture of a disk that holds a partial copy (where old/new show); %1 = the source's serial</extracomment>
        <translation>Incomplete copy of S/N %1: never rebuild from it.</translation>
    </message>
    <message id="restart_stops_rebuild">
        <source>A rebuild is running. Restarting the controller stops it and it starts again from the beginning. Restart anyway?</source>
        <extracomment>Confirmation of the restart control while a rebuild runs (Cancel is the default)</extracomment>
        <translation>A rebuild is running. Restarting the controller stops it and it starts again from the beginning. Restart anyway?</translation>
    </message>
    <message id="delete_stops_rebuild">
        <source>A rebuild is running. Deleting the RAID stops it, and the two disks no longer form a set. Delete anyway?</source>
        <extracomment>Confirmation of delete while a rebuild runs (Cancel is the default)</extracomment>
        <translation>A rebuild is running. Deleting the RAID stops it, and the two disks no longer form a set. Delete anyway?</translation>
    </message>
    <message id="rebuild_from_older">
        <source>The disk in Bay %1 holds OLDER data than the disk in Bay %2. Rebuilding from Bay %1 overwrites the current data in Bay %2 with older data. Rebuild from the older disk anyway?</source>
        <extracomment>Confirmation of a rebuild from the returning disk (older data) over the original member (current data); %1 = source disk, %2 = target disk (Cancel is the default)</extracomment>
        <translation>The disk in Bay %1 holds OLDER data than the disk in Bay %2. Rebuilding from Bay %1 overwrites the current data in Bay %2 with older data. Rebuild from the older disk anyway?</translation>
    </message>
    <message id="rebuild_from_superseded">
        <source>The disk in Bay %1 is an older half of its mirror: its partner (S/N %2) has since been the source of a rebuild and holds newer data. Rebuilding from Bay %1 copies the older data over Bay %3 and makes it look the newest. Rebuild from the older disk anyway?</source>
        <extracomment>Confirmation of a rebuild from a mirror half whose partner, not in the enclosure, was rebuilt from since; %1 = source bay, %2 = the partner's serial, %3 = target bay (Cancel is the default)</extracomment>
        <translation>The disk in Bay %1 is an older half of its mirror: its partner (S/N %2) has since been the source of a rebuild and holds newer data. Rebuilding from Bay %1 copies the older data over Bay %3 and makes it look the newest. Rebuild from the older disk anyway?</translation>
    </message>
    <message id="rebuild_from_diverged">
        <source>The disks in Bay %1 and Bay %2 were each written while the other was away: each may hold data the other lacks. Rebuilding from Bay %1 overwrites whatever only Bay %2 holds. Save what you need from both first. Rebuild from Bay %1 anyway?</source>
        <extracomment>Confirmation of a rebuild between two mirror halves that were each written alone; %1 = source bay, %2 = target bay (Cancel is the default)</extracomment>
        <translation>The disks in Bay %1 and Bay %2 were each written while the other was away: each may hold data the other lacks. Rebuilding from Bay %1 overwrites whatever only Bay %2 holds. Save what you need from both first. Rebuild from Bay %1 anyway?</translation>
    </message>
    <message id="fault_disk_changed">
        <source>The disk in Bay %1 is no longer the disk shown here. Nothing was written; the enclosure is scanned again.</source>
        <extracomment>Second paragraph of a failure alert: the disk in a bay changed; %1 = bay</extracomment>
        <translation>The disk in Bay %1 is no longer the disk shown here. Nothing was written; the enclosure is scanned again.</translation>
    </message>
    <message id="fault_disk_unknown">
        <source>The disk in Bay %1 (S/N %2) did not answer. Nothing was written.</source>
        <extracomment>Second paragraph of a failure alert: a record could not be read; %1 = bay, %2 = serial</extracomment>
        <translation>The disk in Bay %1 (S/N %2) did not answer. Nothing was written.</translation>
    </message>
    <message id="fault_write_failed">
        <source>Writing to the disk in Bay %1 (S/N %2) failed.</source>
        <extracomment>Second paragraph of a failure alert: a write failed; %1 = bay, %2 = serial (followed by fault_restored or fault_restore_failed)</extracomment>
        <translation>Writing to the disk in Bay %1 (S/N %2) failed.</translation>
    </message>
    <message id="fault_flush_failed">
        <source>The disk in Bay %1 (S/N %2) did not confirm that its cache was written.</source>
        <extracomment>Second paragraph of a failure alert: a cache flush failed; %1 = bay, %2 = serial (followed by fault_restored or fault_restore_failed)</extracomment>
        <translation>The disk in Bay %1 (S/N %2) did not confirm that its cache was written.</translation>
    </message>
    <message id="fault_note_failed">
        <source>The rebuild was not started: its note could not be saved in %1. Without it a half-copied disk could later pass for one with current data. Nothing was written.</source>
        <extracomment>Second paragraph of the rebuild failure alert when the host-side rebuild note cannot be written; %1 = the file</extracomment>
        <translation>The rebuild was not started: its note could not be saved in %1. Without it a half-copied disk could later pass for one with current data. Nothing was written.</translation>
    </message>
    <message id="fault_restored">
        <source>Everything written was put back as it was.</source>
        <extracomment>Follows fault_write_failed or fault_flush_failed when undoing the write worked</extracomment>
        <translation>Everything written was put back as it was.</translation>
    </message>
    <message id="fault_restore_failed">
        <source>The disk in Bay %1 (S/N %2) may not be as it was: putting it back failed. Do not use it in a set before checking it.</source>
        <extracomment>Follows a write or flush failure when undoing it failed; %1 = bay, %2 = serial</extracomment>
        <translation>The disk in Bay %1 (S/N %2) may not be as it was: putting it back failed. Do not use it in a set before checking it.</translation>
    </message>
    <message id="fault_restart_failed">
        <source>The controller did not restart. The new configuration takes effect when it does.</source>
        <extracomment>Second paragraph after a write whose restart failed</extracomment>
        <translation>The controller did not restart. The new configuration takes effect when it does.</translation>
    </message>
    <message id="fault_plain_restart_failed">
        <source>The controller did not restart.</source>
        <extracomment>Failure alert of the restart control</extracomment>
        <translation>The controller did not restart.</translation>
    </message>
    <message id="fault_rebuild_restart_failed">
        <source>The controller did not restart; the rebuild starts when it does.</source>
        <extracomment>Second paragraph of the rebuild failure alert when the restart after the rebuild records failed</extracomment>
        <translation>The controller did not restart; the rebuild starts when it does.</translation>
    </message>
    <message id="enclosure_unreadable">
        <source>An enclosure could not be read and is left out:</source>
        <extracomment>Notice (below the device tree) after a scan that left out an enclosure it could not read; the reason (a file and what is wrong with it) follows on the next line</extracomment>
        <translation>An enclosure could not be read and is left out:</translation>
    </message>
    <message id="bridge_left_out">
        <source>A controller could not be opened and is left out until the next scan.</source>
        <extracomment>Notice (below the device tree) when a bridge could not be opened during a scan</extracomment>
        <translation>A controller could not be opened and is left out until the next scan.</translation>
    </message>
    <message id="rebuild_not_started">
        <source>The rebuild could not be started.</source>
        <extracomment>First paragraph of the rebuild failure alert when the engine names what failed (its words follow)</extracomment>
        <translation>The rebuild could not be started.</translation>
    </message>
    <message id="rebuild_stalled">
        <source>The rebuild has made no progress for a minute. Check that both disks are seated and the enclosure has power; restarting the controller starts the copy again.</source>
        <extracomment>Notice (below the device tree) when the rebuild progress has not moved for a minute</extracomment>
        <translation>The rebuild has made no progress for a minute. Check that both disks are seated and the enclosure has power; restarting the controller starts the copy again.</translation>
    </message>
    <!-- Rebuild speed
         Beside the progress bar while a rebuild is followed: the speed over the last minute and the time
         left at that speed. Units are decimal, as disk sizes are shown. -->
    <message id="rebuild_rate">
        <source>%1 · %2 left</source>
        <extracomment>Beside the rebuild progress bar; %1 = the copy speed (e.g. 85.3 MB/s), %2 = the time left (e.g. 2 h 05 min)</extracomment>
        <translation>%1 · %2 left</translation>
    </message>
    <message id="rebuild_rate_measuring">
        <source>measuring speed…</source>
        <extracomment>Beside the rebuild progress bar until the copy speed is known (a few seconds)</extracomment>
        <translation>measuring speed…</translation>
    </message>
    <message id="rebuild_rate_accessible">
        <source>Rebuild speed and time left</source>
        <extracomment>Accessible name of the speed text beside the rebuild progress bar</extracomment>
        <translation>Rebuild speed and time left</translation>
    </message>
    <!-- Record health
         Shown on the disk information page under a disk whose RAID record looks wrong, one line each. They
         only inform: the record is read and used as before. -->
    <message id="warning_stamp">
        <source>The record's date stamp is not a real date.</source>
        <extracomment>Disk page, below a disk whose RAID record carries a date stamp that is no real date and time</extracomment>
        <translation>The record's date stamp is not a real date.</translation>
    </message>
    <message id="warning_set_size">
        <source>The set size in the record does not fit on this disk.</source>
        <extracomment>Disk page, below a disk whose RAID record names a set larger than this disk (and its partner) can hold</extracomment>
        <translation>The set size in the record does not fit on this disk.</translation>
    </message>
    <message id="warning_partner_text">
        <source>The partner named in the record is not readable text.</source>
        <extracomment>Disk page, below a disk whose RAID record names its partner's model or serial number with bytes that are not text</extracomment>
        <translation>The partner named in the record is not readable text.</translation>
    </message>
    <message id="warning_mode">
        <source>The record names a RAID mode that forms no set.</source>
        <extracomment>Disk page, below a disk whose RAID record names a mode that is none of RAID 0, RAID 1, span or none</extracomment>
        <translation>The record names a RAID mode that forms no set.</translation>
    </message>
    <message id="warning_member">
        <source>The record names another bay than the one this disk is in.</source>
        <extracomment>Disk page, below a disk whose RAID record gives it the member number of the other bay</extracomment>
        <translation>The record names another bay than the one this disk is in.</translation>
    </message>
    <message id="warning_same_serial">
        <source>The other disk reports the same serial number: the RAID records cannot tell the two apart.</source>
        <extracomment>Disk page, below each of two RAID disks in one enclosure that report the same serial number</extracomment>
        <translation>The other disk reports the same serial number: the RAID records cannot tell the two apart.</translation>
    </message>
    <message id="state_healthy">
        <source>healthy</source>
        <extracomment>states of a controller's set</extracomment>
        <translation>healthy</translation>
    </message>
    <message id="state_rebuilding">
        <source>rebuilding</source>
        <translation>rebuilding</translation>
    </message>
    <message id="state_degraded">
        <source>degraded: the mirror has only one disk</source>
        <translation>degraded: the mirror has only one disk</translation>
    </message>
    <message id="state_out_of_step">
        <source>out of step: the mirror halves were written at different times</source>
        <translation>out of step: the mirror halves were written at different times</translation>
    </message>
    <message id="state_broken">
        <source>broken</source>
        <translation>broken</translation>
    </message>
    <message id="state_broken_stripe">
        <source>broken stripe: a member is missing or does not match</source>
        <translation>broken stripe: a member is missing or does not match</translation>
    </message>
    <message id="state_broken_span">
        <source>broken span: a member is missing or does not match</source>
        <translation>broken span: a member is missing or does not match</translation>
    </message>
    <message id="state_broken_partial">
        <source>broken mirror: only an incomplete copy is here</source>
        <translation>broken mirror: only an incomplete copy is here</translation>
    </message>
    <message id="state_broken_mismatch">
        <source>broken: the disks' records form no set</source>
        <translation>broken: the disks' records form no set</translation>
    </message>
    <message id="state_not_configured">
        <source>not configured</source>
        <translation>not configured</translation>
    </message>
    <message id="state_disk_silent">
        <source>a disk is not responding</source>
        <translation>a disk is not responding</translation>
    </message>
    <message id="refuse_mode">
        <source>that RAID mode is not offered</source>
        <extracomment>why a command cannot run</extracomment>
        <translation>that RAID mode is not offered</translation>
    </message>
    <message id="refuse_bay_empty">
        <source>Bay %1 is empty</source>
        <translation>Bay %1 is empty</translation>
    </message>
    <message id="refuse_bay_silent">
        <source>the disk in Bay %1 does not answer</source>
        <translation>the disk in Bay %1 does not answer</translation>
    </message>
    <message id="refuse_bay_unreadable">
        <source>the RAID record of the disk in Bay %1 could not be read</source>
        <translation>the RAID record of the disk in Bay %1 could not be read</translation>
    </message>
    <message id="refuse_rebuild_running">
        <source>a rebuild is running</source>
        <translation>a rebuild is running</translation>
    </message>
    <message id="refuse_too_small">
        <source>the disks are too small for that set</source>
        <translation>the disks are too small for that set</translation>
    </message>
    <message id="refuse_no_set">
        <source>there is no set to delete</source>
        <translation>there is no set to delete</translation>
    </message>
    <message id="refuse_in_set">
        <source>the disk in Bay %1 is a member of the set: delete the set instead</source>
        <translation>the disk in Bay %1 is a member of the set: delete the set instead</translation>
    </message>
    <message id="refuse_no_record">
        <source>the disk in Bay %1 carries no RAID record</source>
        <translation>the disk in Bay %1 carries no RAID record</translation>
    </message>
    <message id="refuse_not_half">
        <source>the disk in Bay %1 is not a mirror (RAID 1) half</source>
        <translation>the disk in Bay %1 is not a mirror (RAID 1) half</translation>
    </message>
    <message id="refuse_partial_source">
        <source>the disk in Bay %1 holds an incomplete copy of S/N %2 and is never a source</source>
        <translation>the disk in Bay %1 holds an incomplete copy of S/N %2 and is never a source</translation>
    </message>
    <message id="refuse_notes_unreadable">
        <source>the rebuild notes cannot be read (%1): a half-done copy cannot be told from a whole disk, so nothing is rebuilt until they can</source>
        <translation>the rebuild notes cannot be read (%1): a half-done copy cannot be told from a whole disk, so nothing is rebuilt until they can</translation>
    </message>
    <message id="refuse_mirror_whole">
        <source>the mirror is whole: there is nothing to rebuild</source>
        <translation>the mirror is whole: there is nothing to rebuild</translation>
    </message>
    <message id="refuse_target_small">
        <source>the replacement disk in Bay %1 is %2 sectors</source>
        <extracomment>followed by refuse_mib</extracomment>
        <translation>the replacement disk in Bay %1 is %2 sectors</translation>
    </message>
    <message id="refuse_mib">
        <source> (%1 MiB) smaller than the mirror</source>
        <translation> (%1 MiB) smaller than the mirror</translation>
    </message>
    <message id="clear_disk_1_accessible">
        <source>Clear the RAID record of the disk in Bay 1</source>
        <translation>Clear the RAID record of the disk in Bay 1</translation>
    </message>
    <message id="clear_disk_2_accessible">
        <source>Clear the RAID record of the disk in Bay 2</source>
        <translation>Clear the RAID record of the disk in Bay 2</translation>
    </message>
    <message id="restarting">
        <source>Restarting the controller …</source>
        <extracomment>Shown while the selected enclosure's controller restarts</extracomment>
        <translation>Restarting the controller …</translation>
    </message>
    <message id="empty_state">
        <source>No enclosure attached. Connect one, or create a simulated one with ovraid-sim.</source>
        <extracomment>The panel when no enclosure is attached</extracomment>
        <translation>No enclosure attached. Connect one, or create a simulated one with ovraid-sim.</translation>
    </message>
    <message id="refuse_choose_type">
        <source>choose a RAID type</source>
        <extracomment>Why Create is closed: the row 'None' is chosen</extracomment>
        <translation>choose a RAID type</translation>
    </message>
    <message id="refuse_no_enclosure">
        <source>no enclosure attached</source>
        <translation>no enclosure attached</translation>
    </message>
    <message id="refuse_not_now">
        <source>not possible in this state</source>
        <translation>not possible in this state</translation>
    </message>
    <message id="refuse_busy">
        <source>another operation is running</source>
        <translation>another operation is running</translation>
    </message>
    <message id="clear_disk_question">
        <source>The RAID record of the disk in Bay %1 (%2, S/N %3) will be cleared.</source>
        <extracomment>%1 bay number, %2 model, %3 serial; followed by all_data_lost</extracomment>
        <translation>The RAID record of the disk in Bay %1 (%2, S/N %3) will be cleared.</translation>
    </message>
    <message id="enclosure_usb">
        <source>USB enclosure, S/N %1</source>
        <extracomment>%1 the enclosure's USB serial</extracomment>
        <translation>USB enclosure, S/N %1</translation>
    </message>
    <message id="enclosure_firewire">
        <source>FireWire enclosure, GUID %1</source>
        <extracomment>%1 the enclosure's GUID in hexadecimal</extracomment>
        <translation>FireWire enclosure, GUID %1</translation>
    </message>
    <message id="bay_disk">
        <source>Bay %1: %2, S/N %3</source>
        <extracomment>%1 bay number, %2 model, %3 serial</extracomment>
        <translation>Bay %1: %2, S/N %3</translation>
    </message>
    <message id="size_detail">
        <source>%1 bytes (%2 sectors)</source>
        <extracomment>Tooltip of a size: exact bytes and 512-byte sectors</extracomment>
        <translation>%1 bytes (%2 sectors)</translation>
    </message>
    <message id="size_detail_sectors">
        <source>%1 sectors</source>
        <translation>%1 sectors</translation>
    </message>
    <message id="number_percent_suffix">
        <source>%</source>
        <extracomment>Written after a percentage (German: no-break space, then %)</extracomment>
        <translation>%</translation>
    </message>
    <message id="tree_enclosure_state">
        <source>%1 — %2</source>
        <extracomment>Tooltip and accessible text of an enclosure in the device tree: %1 the enclosure (enclosure_usb or enclosure_firewire), %2 its state (state_healthy, ...)</extracomment>
        <translation>%1 — %2</translation>
    </message>
    <message id="tree_disk">
        <source>%1, %2</source>
        <extracomment>Tooltip and accessible text of a disk in the device tree: %1 its bay, model and serial (bay_disk), %2 its size (e.g. 1.00 TB); the exact size (size_detail) follows on a line of its own</extracomment>
        <translation>%1, %2</translation>
    </message>
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
    <message id="refuse_set_incomplete">
        <source>the disks form no whole set: clear the record of the disk in Bay %1 instead</source>
        <extracomment>%1 a bay whose disk holds a record</extracomment>
        <translation>the disks form no whole set: clear the record of the disk in Bay %1 instead</translation>
    </message>
    <message id="program_no_display">
        <source>no display to open the window on (DISPLAY is not set). ovraidctl status shows the same on a terminal.</source>
        <extracomment>ovraid started without a graphical session</extracomment>
        <translation>no display to open the window on (DISPLAY is not set). ovraidctl status shows the same on a terminal.</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<!-- ovraid string table, id-based: the window looks every text up with qtTrId("id").
     source = the English text; translation = the text shown for this language.
     Build: lrelease -idbased -nounfinished ovraid_de.ts
     The fixed texts are named by these ids in app/controller.ui. docs/strings.md is written
     from these files by scripts/strings.py: a comment between messages starts a section there
     (its first line the heading, the rest the section's text). -->
<context>
    <name></name>
    <!-- Fixed texts of the window -->
    <message id="create_raid">
        <source>Create RAID</source>
        <extracomment>Button that creates the set chosen in the RAID type rows (configuration tab)</extracomment>
        <translation>RAID erstellen</translation>
    </message>
    <message id="delete_raid">
        <source>Delete RAID</source>
        <extracomment>Button that deletes the configured set (configuration tab)</extracomment>
        <translation>RAID löschen</translation>
    </message>
    <message id="clear_disk_1">
        <source>Clear Bay 1…</source>
        <extracomment>Button: clears the RAID record of the disk in bay 1 (asks first)</extracomment>
        <translation>Schacht 1 leeren…</translation>
    </message>
    <message id="clear_disk_2">
        <source>Clear Bay 2…</source>
        <extracomment>Button: clears the RAID record of the disk in bay 2 (asks first)</extracomment>
        <translation>Schacht 2 leeren…</translation>
    </message>
    <message id="raid_configuration">
        <source>New RAID set</source>
        <extracomment>Frame title of the four RAID type rows (configuration tab)</extracomment>
        <translation>Neuer RAID-Verbund</translation>
    </message>
    <message id="configuration_tab">
        <source>Configuration</source>
        <extracomment>Label of the first tab of the RAID panel</extracomment>
        <translation>Konfiguration</translation>
    </message>
    <message id="rebuild">
        <source>Rebuild</source>
        <extracomment>Label of the rebuild tab</extracomment>
        <translation>Neuaufbau</translation>
    </message>
    <message id="rebuild_0_to_1">
        <source>Rebuild-&gt;</source>
        <extracomment>Button that copies Disk 1 onto Disk 2 (rebuild tab)</extracomment>
        <translation>Neuaufbau-&gt;</translation>
    </message>
    <message id="rebuild_1_to_0">
        <source>&lt;-Rebuild</source>
        <extracomment>Button that copies Disk 2 onto Disk 1 (rebuild tab)</extracomment>
        <translation>&lt;-Neuaufbau</translation>
    </message>
    <message id="refresh_button">
        <source>Refresh</source>
        <extracomment>Button that scans all enclosures again</extracomment>
        <translation>Aktualisieren</translation>
    </message>
    <message id="raid_status">
        <source>RAID status</source>
        <extracomment>Frame title of the status display (set, disk pictures and captions)</extracomment>
        <translation>RAID-Status</translation>
    </message>
    <message id="rebuild_progress">
        <source>Rebuild progress</source>
        <extracomment>Caption of the progress bar on the rebuild tab</extracomment>
        <translation>Fortschritt</translation>
    </message>
    <message id="SN">
        <source>S/N</source>
        <extracomment>Caption of each disk's serial number</extracomment>
        <translation>S/N</translation>
    </message>
    <message id="mode">
        <source>Mode</source>
        <extracomment>Caption of each disk's RAID mode field</extracomment>
        <translation>Modus</translation>
    </message>
    <message id="phy_size">
        <source>Capacity</source>
        <extracomment>Caption of each disk's physical size</extracomment>
        <translation>Kapazität</translation>
    </message>
    <message id="disk_1">
        <source>Bay 1</source>
        <extracomment>Captions for the disk on port 0 (disk information, rebuild tab) and the caption beside its picture</extracomment>
        <translation>Schacht 1</translation>
    </message>
    <message id="disk_2">
        <source>Bay 2</source>
        <extracomment>Captions for the disk on port 1 (disk information, rebuild tab) and the caption beside its picture</extracomment>
        <translation>Schacht 2</translation>
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
        <translation>Abbrechen</translation>
    </message>
    <message id="warning">
        <source>Warning</source>
        <extracomment>Title of the confirmations before erasing or rebuilding</extracomment>
        <translation>Warnung</translation>
    </message>
    <message id="error">
        <source>Error</source>
        <extracomment>Title of failure messages and of the message before the program closes</extracomment>
        <translation>Fehler</translation>
    </message>
    <message id="attention">
        <source>Please note</source>
        <extracomment>Title of notices (degraded mirror, conflicting records, rebuild finished, hot swap, rebuild tab refused)</extracomment>
        <translation>Hinweis</translation>
    </message>
    <!-- Mode texts -->
    <message id="not_config">
        <source>No RAID</source>
        <extracomment>Mode text of a disk without a RAID record (mode fields, rebuild tab)</extracomment>
        <translation>Kein RAID</translation>
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
        <translation> (Partner fehlt)</translation>
    </message>
    <message id="degrade">
        <source> (degraded)</source>
        <extracomment>Appended to a disk's mode text when it holds a RAID 1 record but no mirror is assembled</extracomment>
        <translation> (eingeschränkt)</translation>
    </message>
    <message id="rebuild_source">
        <source> – copy source</source>
        <extracomment>Appended to the mode text of the disk a running rebuild copies from</extracomment>
        <translation> – Quelle</translation>
    </message>
    <message id="rebuild_target">
        <source> – being rebuilt</source>
        <extracomment>Appended to the mode text of the disk a running rebuild copies onto</extracomment>
        <translation> – wird neu aufgebaut</translation>
    </message>
    <message id="rebuilding">
        <source> – rebuilding…</source>
        <extracomment>Appended to the set caption while a rebuild runs</extracomment>
        <translation> – Neuaufbau läuft…</translation>
    </message>
    <!-- Mirror half markers -->
    <message id="old">
        <source>Original member (current data)</source>
        <extracomment>Marker beside the mirror half that stayed in the set and holds the current data (later stamp)</extracomment>
        <translation>Originalplatte (aktuelle Daten)</translation>
    </message>
    <message id="new">
        <source>Returning disk (older data)</source>
        <extracomment>Marker beside the mirror half that came back or was put in (earlier stamp); never rebuild from it</extracomment>
        <translation>Wieder eingesetzt (ältere Daten)</translation>
    </message>
    <!-- Notices, confirmations and failures -->
    <message id="raid1_degrade_mode">
        <source>The mirror (RAID 1) has only one disk left. Your data is not protected until you insert a second disk and rebuild the mirror onto it.</source>
        <extracomment>Notice when a lone mirror member is found</extracomment>
        <translation>Die Spiegelung (RAID 1) hat nur noch eine Festplatte. Ihre Daten sind erst wieder geschützt, wenn Sie eine zweite Festplatte einsetzen und die Spiegelung darauf neu aufbauen.</translation>
    </message>
    <message id="raid_info_conflict">
        <source>The RAID information on the two disks does not match, so no RAID set is active. To repair a mirror, rebuild it from the disk with the current data. Otherwise clear a disk's RAID information or create a new set; both erase data.</source>
        <extracomment>Notice when two disks are present, hold RAID records, and form no set</extracomment>
        <translation>Die RAID-Informationen der beiden Festplatten passen nicht zusammen, daher ist kein RAID-Verbund aktiv. Um eine Spiegelung zu reparieren, bauen Sie sie von der Festplatte mit den aktuellen Daten neu auf. Andernfalls löschen Sie die RAID-Informationen einer Festplatte oder erstellen einen neuen Verbund; dabei gehen Daten verloren.</translation>
    </message>
    <message id="all_data_lost">
        <source>This erases data on the disks of this enclosure and cannot be undone. Make sure you have a backup. Continue?</source>
        <extracomment>Confirmation before create, delete and clear disk</extracomment>
        <translation>Dabei werden Daten auf den Festplatten dieses Gehäuses gelöscht. Das lässt sich nicht rückgängig machen. Stellen Sie sicher, dass eine Sicherung vorhanden ist. Fortfahren?</translation>
    </message>
    <message id="raid_create_error">
        <source>The RAID set could not be created. The enclosure will be scanned again; check the disks and try once more.</source>
        <extracomment>Failure of create</extracomment>
        <translation>Der RAID-Verbund konnte nicht erstellt werden. Das Gehäuse wird neu eingelesen; prüfen Sie die Festplatten und versuchen Sie es erneut.</translation>
    </message>
    <message id="raid_delete_error">
        <source>The RAID set could not be deleted. The enclosure will be scanned again; please try once more.</source>
        <extracomment>Failure of delete</extracomment>
        <translation>Der RAID-Verbund konnte nicht gelöscht werden. Das Gehäuse wird neu eingelesen; bitte versuchen Sie es erneut.</translation>
    </message>
    <message id="raid_info_delete_error">
        <source>The RAID information of this disk could not be cleared. The enclosure will be scanned again; check the disk and try once more.</source>
        <extracomment>Failure of clear disk (a rescan follows)</extracomment>
        <translation>Die RAID-Informationen dieser Festplatte konnten nicht gelöscht werden. Das Gehäuse wird neu eingelesen; prüfen Sie die Festplatte und versuchen Sie es erneut.</translation>
    </message>
    <message id="two_raid1_disks_for_rebuild">
        <source>A rebuild needs two disks in the enclosure, one of them from a mirror (RAID 1). Check that both disks are inserted, then open this tab again.</source>
        <extracomment>Notice when the rebuild tab is refused</extracomment>
        <translation>Für einen Neuaufbau müssen zwei Festplatten im Gehäuse stecken, eine davon aus einer Spiegelung (RAID 1). Prüfen Sie, ob beide Festplatten eingesetzt sind, und öffnen Sie diesen Reiter dann erneut.</translation>
    </message>
    <message id="disk1_to_disk2">
        <source>The disk in Bay 1 will be copied onto the disk in Bay 2 to rebuild the mirror. Everything on the disk in Bay 2 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</source>
        <extracomment>Confirmation of "Rebuild -&gt;" (copy port 0 onto port 1)</extracomment>
        <translation>Die Festplatte in Schacht 1 wird auf die Festplatte in Schacht 2 kopiert, um die Spiegelung neu aufzubauen. Alles auf der Festplatte in Schacht 2 wird überschrieben. Sie können den Verbund währenddessen weiter nutzen, trennen Sie aber weder das Gehäuse noch eine Festplatte. Fortfahren?</translation>
    </message>
    <message id="disk2_to_disk1">
        <source>The disk in Bay 2 will be copied onto the disk in Bay 1 to rebuild the mirror. Everything on the disk in Bay 1 will be overwritten. You can keep using the set during the rebuild, but do not unplug the enclosure or a disk. Continue?</source>
        <extracomment>Confirmation of "&lt;- Rebuild" (copy port 1 onto port 0)</extracomment>
        <translation>Die Festplatte in Schacht 2 wird auf die Festplatte in Schacht 1 kopiert, um die Spiegelung neu aufzubauen. Alles auf der Festplatte in Schacht 1 wird überschrieben. Sie können den Verbund währenddessen weiter nutzen, trennen Sie aber weder das Gehäuse noch eine Festplatte. Fortfahren?</translation>
    </message>
    <message id="rebuild_error">
        <source>The rebuild could not be started: the source disk is not part of a mirror (RAID 1). The enclosure will be scanned again.</source>
        <extracomment>Failure of a rebuild request (a rescan follows)</extracomment>
        <translation>Der Neuaufbau konnte nicht gestartet werden: Die Quellfestplatte gehört zu keiner Spiegelung (RAID 1). Das Gehäuse wird neu eingelesen.</translation>
    </message>
    <message id="hot_swap">
        <source>A disk was inserted or removed. The enclosure will now be scanned again.</source>
        <extracomment>Notice when a disk swap is detected in the selected enclosure</extracomment>
        <translation>Eine Festplatte wurde eingesetzt oder entfernt. Das Gehäuse wird jetzt neu eingelesen.</translation>
    </message>
    <message id="rebuild_finished">
        <source>The rebuild is complete. Both disks of the mirror now hold the same data.</source>
        <extracomment>Notice at the end of a rebuild</extracomment>
        <translation>Der Neuaufbau ist abgeschlossen. Beide Festplatten der Spiegelung enthalten jetzt dieselben Daten.</translation>
    </message>
    <message id="error_open_device">
        <source>An enclosure could not be opened, so ovraid will close. Check the enclosure's cable and power, then start ovraid again.</source>
        <extracomment>Message before the program closes because a controller cannot be opened</extracomment>
        <translation>Ein Gehäuse konnte nicht geöffnet werden, daher wird ovraid beendet. Prüfen Sie Kabel und Stromversorgung des Gehäuses und starten Sie ovraid dann erneut.</translation>
    </message>
    <!-- Device tree -->
    <message id="device">
        <source>Enclosure</source>
        <extracomment>Name of a controller node in the device tree, followed by its number and "(USB)" or "(1394)"</extracomment>
        <translation>Gehäuse</translation>
    </message>
    <!-- Window controls, tooltips and accessible names -->
    <message id="warm_boot">
        <source>Restart controller</source>
        <extracomment>Button that restarts the RAID controller of the selected enclosure</extracomment>
        <translation>Controller-Neustart</translation>
    </message>
    <message id="warm_boot_tooltip">
        <source>Restart the RAID controller of the selected enclosure. It disappears for a moment and is then found again. No data is changed.</source>
        <extracomment>Tooltip of the restart button</extracomment>
        <translation>Startet den RAID-Controller des gewählten Gehäuses neu. Er verschwindet kurz und wird dann wieder gefunden. Daten werden nicht verändert.</translation>
    </message>
    <message id="controller_list">
        <source>RAID controllers</source>
        <extracomment>Accessible name of the controller list</extracomment>
        <translation>RAID-Controller</translation>
    </message>
    <message id="device_tree">
        <source>Connected enclosures</source>
        <extracomment>Accessible name of the device tree</extracomment>
        <translation>Angeschlossene Gehäuse</translation>
    </message>
    <message id="minimize">
        <source>Minimize</source>
        <extracomment>Accessible name and tooltip of the window's minimise control</extracomment>
        <translation>Minimieren</translation>
    </message>
    <message id="close">
        <source>Close</source>
        <extracomment>Accessible name and tooltip of the window's close control</extracomment>
        <translation>Schließen</translation>
    </message>
    <message id="page_raid_status">
        <source>RAID status</source>
        <extracomment>Accessible name and tooltip of the page button of the main page</extracomment>
        <translation>RAID-Status</translation>
    </message>
    <message id="page_disk_info">
        <source>Disk information</source>
        <extracomment>Accessible name and tooltip of the page button of the disk page</extracomment>
        <translation>Festplatteninfos</translation>
    </message>
    <message id="app_title">
        <source>ovraid — RAID Manager</source>
        <extracomment>Window title (task bar) and the app name in the header band</extracomment>
        <translation>ovraid — RAID-Verwaltung</translation>
    </message>
    <message id="rebuild_0_to_1_tooltip">
        <source>Copy the disk in Bay 1 onto the disk in Bay 2 (overwrites Bay 2)</source>
        <extracomment>Tooltip and accessible name of "Rebuild-&gt;"</extracomment>
        <translation>Festplatte in Schacht 1 auf die in Schacht 2 kopieren (überschreibt Schacht 2)</translation>
    </message>
    <message id="rebuild_1_to_0_tooltip">
        <source>Copy the disk in Bay 2 onto the disk in Bay 1 (overwrites Bay 1)</source>
        <extracomment>Tooltip and accessible name of "&lt;-Rebuild"</extracomment>
        <translation>Festplatte in Schacht 2 auf die in Schacht 1 kopieren (überschreibt Schacht 1)</translation>
    </message>
    <message id="refresh_tooltip">
        <source>Scan all enclosures again and update the display</source>
        <extracomment>Tooltip of the refresh button</extracomment>
        <translation>Alle Gehäuse neu einlesen und die Anzeige aktualisieren</translation>
    </message>
    <message id="raid_mode_row_0">
        <source>RAID 0 (stripe): fast, no redundancy</source>
        <extracomment>First RAID type row</extracomment>
        <translation>RAID 0 (Striping): schnell, ungesichert</translation>
    </message>
    <message id="raid_mode_row_1">
        <source>RAID 1 (mirror): data on both disks</source>
        <extracomment>Second RAID type row (selected at start)</extracomment>
        <translation>RAID 1 (Spiegelung): doppelt gesichert</translation>
    </message>
    <message id="raid_mode_row_2">
        <source>Span: one large volume</source>
        <extracomment>Third RAID type row</extracomment>
        <translation>Span: ein großes Laufwerk</translation>
    </message>
    <message id="raid_mode_row_3">
        <source>None (leave as is)</source>
        <extracomment>Fourth RAID type row; choosing it disables the create button</extracomment>
        <translation>Keiner (unverändert lassen)</translation>
    </message>
    <message id="working">
        <source>Looking for enclosures …</source>
        <extracomment>Accessible text of the busy indicator</extracomment>
        <translation>Gehäuse werden gesucht …</translation>
    </message>
    <message id="percent_accessible">
        <source>Rebuild progress in percent</source>
        <extracomment>Accessible name of the percentage text and the progress bar</extracomment>
        <translation>Fortschritt des Neuaufbaus in Prozent</translation>
    </message>
    <!-- Data safety: silent disks, partial copies, rebuild guards, failure details, notices -->
    <message id="disk_silent">
        <source>Did not answer</source>
        <extracomment>Mode text of a bay whose disk is there but did not answer, or whose RAID record could not be read</extracomment>
        <translation>Antwortet nicht</translation>
    </message>
    <message id="incomplete_copy">
        <source> (incomplete copy of S/N %1 – never rebuild from it)</source>
        <extracomment>Suffix of the mode text of a disk that holds the partial copy of an interrupted rebuild; %1 = serial of the source disk</extracomment>
        <translation> (unvollständige Kopie von S/N %1 – nie davon neu aufbauen)</translation>
    </message>
    <message id="incomplete_copy_marker">
        <source>Incomplete copy of S/N %1: never rebuild from it.</source>
        <extracomment>Marker beside the picture of a disk that holds a partial copy (where old/new show); %1 = the source's serial</extracomment>
        <translation>Unvollständige Kopie von S/N %1: nie davon neu aufbauen.</translation>
    </message>
    <message id="restart_stops_rebuild">
        <source>A rebuild is running. Restarting the controller stops it and it starts again from the beginning. Restart anyway?</source>
        <extracomment>Confirmation of the restart control while a rebuild runs (Cancel is the default)</extracomment>
        <translation>Ein Neuaufbau läuft. Ein Neustart des Controllers bricht ihn ab, danach beginnt er wieder von vorn. Trotzdem neu starten?</translation>
    </message>
    <message id="delete_stops_rebuild">
        <source>A rebuild is running. Deleting the RAID stops it, and the two disks no longer form a set. Delete anyway?</source>
        <extracomment>Confirmation of delete while a rebuild runs (Cancel is the default)</extracomment>
        <translation>Ein Neuaufbau läuft. Das Löschen des RAID bricht ihn ab, und die beiden Festplatten bilden danach keinen Verbund mehr. Trotzdem löschen?</translation>
    </message>
    <message id="rebuild_from_older">
        <source>The disk in Bay %1 holds OLDER data than the disk in Bay %2. Rebuilding from Bay %1 overwrites the current data in Bay %2 with older data. Rebuild from the older disk anyway?</source>
        <extracomment>Confirmation of a rebuild from the returning disk (older data) over the original member (current data); %1 = source disk, %2 = target disk (Cancel is the default)</extracomment>
        <translation>Die Festplatte in Schacht %1 enthält ÄLTERE Daten als die in Schacht %2. Ein Neuaufbau von Schacht %1 überschreibt die aktuellen Daten in Schacht %2 mit älteren. Trotzdem von der älteren Festplatte neu aufbauen?</translation>
    </message>
    <message id="rebuild_from_superseded">
        <source>The disk in Bay %1 is an older half of its mirror: its partner (S/N %2) has since been the source of a rebuild and holds newer data. Rebuilding from Bay %1 copies the older data over Bay %3 and makes it look the newest. Rebuild from the older disk anyway?</source>
        <extracomment>Confirmation of a rebuild from a mirror half whose partner, not in the enclosure, was rebuilt from since; %1 = source bay, %2 = the partner's serial, %3 = target bay (Cancel is the default)</extracomment>
        <translation>Die Festplatte in Schacht %1 ist eine ältere Hälfte ihres Spiegels: ihr Partner (S/N %2) war seither Quelle eines Neuaufbaus und enthält neuere Daten. Ein Neuaufbau von Schacht %1 kopiert die älteren Daten auf Schacht %3 und lässt sie als die neuesten erscheinen. Trotzdem von der älteren Festplatte neu aufbauen?</translation>
    </message>
    <message id="rebuild_from_diverged">
        <source>The disks in Bay %1 and Bay %2 were each written while the other was away: each may hold data the other lacks. Rebuilding from Bay %1 overwrites whatever only Bay %2 holds. Save what you need from both first. Rebuild from Bay %1 anyway?</source>
        <extracomment>Confirmation of a rebuild between two mirror halves that were each written alone; %1 = source bay, %2 = target bay (Cancel is the default)</extracomment>
        <translation>Die Festplatten in Schacht %1 und Schacht %2 wurden jeweils beschrieben, während die andere fehlte: jede kann Daten enthalten, die der anderen fehlen. Ein Neuaufbau von Schacht %1 überschreibt, was nur Schacht %2 enthält. Sichern Sie zuerst, was Sie von beiden brauchen. Trotzdem von Schacht %1 neu aufbauen?</translation>
    </message>
    <message id="fault_disk_changed">
        <source>The disk in Bay %1 is no longer the disk shown here. Nothing was written; the enclosure is scanned again.</source>
        <extracomment>Second paragraph of a failure alert: the disk in a bay changed; %1 = bay</extracomment>
        <translation>Die Festplatte in Schacht %1 ist nicht mehr die hier angezeigte. Es wurde nichts geschrieben; das Gehäuse wird neu eingelesen.</translation>
    </message>
    <message id="fault_disk_unknown">
        <source>The disk in Bay %1 (S/N %2) did not answer. Nothing was written.</source>
        <extracomment>Second paragraph of a failure alert: a record could not be read; %1 = bay, %2 = serial</extracomment>
        <translation>Die Festplatte in Schacht %1 (S/N %2) hat nicht geantwortet. Es wurde nichts geschrieben.</translation>
    </message>
    <message id="fault_write_failed">
        <source>Writing to the disk in Bay %1 (S/N %2) failed.</source>
        <extracomment>Second paragraph of a failure alert: a write failed; %1 = bay, %2 = serial (followed by fault_restored or fault_restore_failed)</extracomment>
        <translation>Das Schreiben auf die Festplatte in Schacht %1 (S/N %2) ist fehlgeschlagen.</translation>
    </message>
    <message id="fault_flush_failed">
        <source>The disk in Bay %1 (S/N %2) did not confirm that its cache was written.</source>
        <extracomment>Second paragraph of a failure alert: a cache flush failed; %1 = bay, %2 = serial (followed by fault_restored or fault_restore_failed)</extracomment>
        <translation>Die Festplatte in Schacht %1 (S/N %2) hat nicht bestätigt, dass ihr Cache geschrieben wurde.</translation>
    </message>
    <message id="fault_note_failed">
        <source>The rebuild was not started: its note could not be saved in %1. Without it a half-copied disk could later pass for one with current data. Nothing was written.</source>
        <extracomment>Second paragraph of the rebuild failure alert when the host-side rebuild note cannot be written; %1 = the file</extracomment>
        <translation>Der Neuaufbau wurde nicht gestartet: Seine Notiz konnte nicht in %1 gespeichert werden. Ohne sie könnte eine halb kopierte Festplatte später für eine mit aktuellen Daten gehalten werden. Es wurde nichts geschrieben.</translation>
    </message>
    <message id="fault_restored">
        <source>Everything written was put back as it was.</source>
        <extracomment>Follows fault_write_failed or fault_flush_failed when undoing the write worked</extracomment>
        <translation>Alles Geschriebene wurde wieder in den alten Zustand versetzt.</translation>
    </message>
    <message id="fault_restore_failed">
        <source>The disk in Bay %1 (S/N %2) may not be as it was: putting it back failed. Do not use it in a set before checking it.</source>
        <extracomment>Follows a write or flush failure when undoing it failed; %1 = bay, %2 = serial</extracomment>
        <translation>Die Festplatte in Schacht %1 (S/N %2) ist womöglich nicht mehr wie zuvor: sie zurückzusetzen schlug fehl. Verwenden Sie sie erst wieder in einem Verbund, nachdem Sie sie geprüft haben.</translation>
    </message>
    <message id="fault_restart_failed">
        <source>The controller did not restart. The new configuration takes effect when it does.</source>
        <extracomment>Second paragraph after a write whose restart failed</extracomment>
        <translation>Der Controller wurde nicht neu gestartet. Die neue Konfiguration wird beim nächsten Neustart wirksam.</translation>
    </message>
    <message id="fault_plain_restart_failed">
        <source>The controller did not restart.</source>
        <extracomment>Failure alert of the restart control</extracomment>
        <translation>Der Controller wurde nicht neu gestartet.</translation>
    </message>
    <message id="fault_rebuild_restart_failed">
        <source>The controller did not restart; the rebuild starts when it does.</source>
        <extracomment>Second paragraph of the rebuild failure alert when the restart after the rebuild records failed</extracomment>
        <translation>Der Controller wurde nicht neu gestartet; der Neuaufbau beginnt beim nächsten Neustart.</translation>
    </message>
    <message id="enclosure_unreadable">
        <source>An enclosure could not be read and is left out:</source>
        <extracomment>Notice (below the device tree) after a scan that left out an enclosure it could not read; the reason (a file and what is wrong with it) follows on the next line</extracomment>
        <translation>Ein Gehäuse konnte nicht gelesen werden und fehlt:</translation>
    </message>
    <message id="bridge_left_out">
        <source>A controller could not be opened and is left out until the next scan.</source>
        <extracomment>Notice (below the device tree) when a bridge could not be opened during a scan</extracomment>
        <translation>Ein Controller konnte nicht geöffnet werden und bleibt bis zum nächsten Einlesen unberücksichtigt.</translation>
    </message>
    <message id="rebuild_not_started">
        <source>The rebuild could not be started.</source>
        <extracomment>First paragraph of the rebuild failure alert when the engine names what failed (its words follow)</extracomment>
        <translation>Der Neuaufbau konnte nicht gestartet werden.</translation>
    </message>
    <message id="rebuild_stalled">
        <source>The rebuild has made no progress for a minute. Check that both disks are seated and the enclosure has power; restarting the controller starts the copy again.</source>
        <extracomment>Notice (below the device tree) when the rebuild progress has not moved for a minute</extracomment>
        <translation>Der Neuaufbau kommt seit einer Minute nicht voran. Prüfen Sie, ob beide Festplatten richtig sitzen und das Gehäuse Strom hat; ein Neustart des Controllers startet die Kopie erneut.</translation>
    </message>
    <!-- Rebuild speed
         Beside the progress bar while a rebuild is followed: the speed over the last minute and the time
         left at that speed. Units are decimal, as disk sizes are shown. -->
    <message id="rebuild_rate">
        <source>%1 · %2 left</source>
        <extracomment>Beside the rebuild progress bar; %1 = the copy speed (e.g. 85.3 MB/s), %2 = the time left (e.g. 2 h 05 min)</extracomment>
        <translation>%1 · noch %2</translation>
    </message>
    <message id="rebuild_rate_measuring">
        <source>measuring speed…</source>
        <extracomment>Beside the rebuild progress bar until the copy speed is known (a few seconds)</extracomment>
        <translation>Geschwindigkeit wird gemessen…</translation>
    </message>
    <message id="rebuild_rate_accessible">
        <source>Rebuild speed and time left</source>
        <extracomment>Accessible name of the speed text beside the rebuild progress bar</extracomment>
        <translation>Geschwindigkeit und Restzeit des Neuaufbaus</translation>
    </message>
    <!-- Record health
         Shown on the disk information page under a disk whose RAID record looks wrong, one line each. They
         only inform: the record is read and used as before. -->
    <message id="warning_stamp">
        <source>The record's date stamp is not a real date.</source>
        <extracomment>Disk page, below a disk whose RAID record carries a date stamp that is no real date and time</extracomment>
        <translation>Der Zeitstempel der RAID-Informationen ist kein gültiges Datum.</translation>
    </message>
    <message id="warning_set_size">
        <source>The set size in the record does not fit on this disk.</source>
        <extracomment>Disk page, below a disk whose RAID record names a set larger than this disk (and its partner) can hold</extracomment>
        <translation>Die Verbundgröße der RAID-Informationen passt nicht auf diese Festplatte.</translation>
    </message>
    <message id="warning_partner_text">
        <source>The partner named in the record is not readable text.</source>
        <extracomment>Disk page, below a disk whose RAID record names its partner's model or serial number with bytes that are not text</extracomment>
        <translation>Der Partner in den RAID-Informationen ist kein lesbarer Text.</translation>
    </message>
    <message id="warning_mode">
        <source>The record names a RAID mode that forms no set.</source>
        <extracomment>Disk page, below a disk whose RAID record names a mode that is none of RAID 0, RAID 1, span or none</extracomment>
        <translation>Die RAID-Informationen nennen einen RAID-Modus, der keinen Verbund bildet.</translation>
    </message>
    <message id="warning_member">
        <source>The record names another bay than the one this disk is in.</source>
        <extracomment>Disk page, below a disk whose RAID record gives it the member number of the other bay</extracomment>
        <translation>Die RAID-Informationen ordnen die Festplatte dem anderen Einschub zu.</translation>
    </message>
    <message id="warning_same_serial">
        <source>The other disk reports the same serial number: the RAID records cannot tell the two apart.</source>
        <extracomment>Disk page, below each of two RAID disks in one enclosure that report the same serial number</extracomment>
        <translation>Die andere Festplatte meldet dieselbe Seriennummer: die RAID-Informationen können die beiden nicht unterscheiden.</translation>
    </message>
    <message id="state_healthy">
        <source>healthy</source>
        <extracomment>states of a controller's set</extracomment>
        <translation>in Ordnung</translation>
    </message>
    <message id="state_rebuilding">
        <source>rebuilding</source>
        <translation>Neuaufbau läuft</translation>
    </message>
    <message id="state_degraded">
        <source>degraded: the mirror has only one disk</source>
        <translation>eingeschränkt: der Spiegel hat nur eine Platte</translation>
    </message>
    <message id="state_out_of_step">
        <source>out of step: the mirror halves were written at different times</source>
        <translation>nicht im Gleichschritt: die Spiegelhälften wurden zu verschiedenen Zeiten beschrieben</translation>
    </message>
    <message id="state_broken">
        <source>broken</source>
        <translation>defekt</translation>
    </message>
    <message id="state_broken_stripe">
        <source>broken stripe: a member is missing or does not match</source>
        <translation>defekter Stripe: ein Mitglied fehlt oder passt nicht</translation>
    </message>
    <message id="state_broken_span">
        <source>broken span: a member is missing or does not match</source>
        <translation>defekter Span: ein Mitglied fehlt oder passt nicht</translation>
    </message>
    <message id="state_broken_partial">
        <source>broken mirror: only an incomplete copy is here</source>
        <translation>defekter Spiegel: hier ist nur eine unvollständige Kopie</translation>
    </message>
    <message id="state_broken_mismatch">
        <source>broken: the disks' records form no set</source>
        <translation>defekt: die RAID-Informationen der Platten bilden keinen Verbund</translation>
    </message>
    <message id="state_not_configured">
        <source>not configured</source>
        <translation>nicht eingerichtet</translation>
    </message>
    <message id="state_disk_silent">
        <source>a disk is not responding</source>
        <translation>eine Platte antwortet nicht</translation>
    </message>
    <message id="refuse_mode">
        <source>that RAID mode is not offered</source>
        <extracomment>why a command cannot run</extracomment>
        <translation>dieser RAID-Modus wird nicht angeboten</translation>
    </message>
    <message id="refuse_bay_empty">
        <source>Bay %1 is empty</source>
        <translation>Schacht %1 ist leer</translation>
    </message>
    <message id="refuse_bay_silent">
        <source>the disk in Bay %1 does not answer</source>
        <translation>die Platte in Schacht %1 antwortet nicht</translation>
    </message>
    <message id="refuse_bay_unreadable">
        <source>the RAID record of the disk in Bay %1 could not be read</source>
        <translation>die RAID-Information der Platte in Schacht %1 war nicht lesbar</translation>
    </message>
    <message id="refuse_rebuild_running">
        <source>a rebuild is running</source>
        <translation>ein Neuaufbau läuft</translation>
    </message>
    <message id="refuse_too_small">
        <source>the disks are too small for that set</source>
        <translation>die Platten sind für diesen Verbund zu klein</translation>
    </message>
    <message id="refuse_no_set">
        <source>there is no set to delete</source>
        <translation>es gibt keinen Verbund zum Löschen</translation>
    </message>
    <message id="refuse_in_set">
        <source>the disk in Bay %1 is a member of the set: delete the set instead</source>
        <translation>die Platte in Schacht %1 gehört zum Verbund: stattdessen den Verbund löschen</translation>
    </message>
    <message id="refuse_no_record">
        <source>the disk in Bay %1 carries no RAID record</source>
        <translation>die Platte in Schacht %1 trägt keine RAID-Information</translation>
    </message>
    <message id="refuse_not_half">
        <source>the disk in Bay %1 is not a mirror (RAID 1) half</source>
        <translation>die Platte in Schacht %1 ist keine Spiegelhälfte (RAID 1)</translation>
    </message>
    <message id="refuse_partial_source">
        <source>the disk in Bay %1 holds an incomplete copy of S/N %2 and is never a source</source>
        <translation>die Platte in Schacht %1 enthält eine unvollständige Kopie von S/N %2 und ist nie eine Quelle</translation>
    </message>
    <message id="refuse_notes_unreadable">
        <source>the rebuild notes cannot be read (%1): a half-done copy cannot be told from a whole disk, so nothing is rebuilt until they can</source>
        <translation>die Neuaufbau-Notizen sind nicht lesbar (%1): eine halb fertige Kopie ist nicht von einer ganzen Platte zu unterscheiden, also wird nichts neu aufgebaut, bis sie lesbar sind</translation>
    </message>
    <message id="refuse_mirror_whole">
        <source>the mirror is whole: there is nothing to rebuild</source>
        <translation>der Spiegel ist vollständig: es gibt nichts neu aufzubauen</translation>
    </message>
    <message id="refuse_target_small">
        <source>the replacement disk in Bay %1 is %2 sectors</source>
        <extracomment>followed by refuse_mib</extracomment>
        <translation>die Ersatzplatte in Schacht %1 ist %2 Sektoren</translation>
    </message>
    <message id="refuse_mib">
        <source> (%1 MiB) smaller than the mirror</source>
        <translation> (%1 MiB) kleiner als der Spiegel</translation>
    </message>
    <message id="clear_disk_1_accessible">
        <source>Clear the RAID record of the disk in Bay 1</source>
        <translation>RAID-Informationen der Festplatte in Schacht 1 löschen</translation>
    </message>
    <message id="clear_disk_2_accessible">
        <source>Clear the RAID record of the disk in Bay 2</source>
        <translation>RAID-Informationen der Festplatte in Schacht 2 löschen</translation>
    </message>
    <message id="restarting">
        <source>Restarting the controller …</source>
        <extracomment>Shown while the selected enclosure's controller restarts</extracomment>
        <translation>Der Controller wird neu gestartet …</translation>
    </message>
    <message id="empty_state">
        <source>No enclosure attached. Connect one, or create a simulated one with ovraid-sim.</source>
        <extracomment>The panel when no enclosure is attached</extracomment>
        <translation>Kein Gehäuse angeschlossen. Schließen Sie eines an, oder legen Sie mit ovraid-sim ein simuliertes an.</translation>
    </message>
    <message id="refuse_choose_type">
        <source>choose a RAID type</source>
        <extracomment>Why Create is closed: the row 'None' is chosen</extracomment>
        <translation>wählen Sie einen RAID-Typ</translation>
    </message>
    <message id="refuse_no_enclosure">
        <source>no enclosure attached</source>
        <translation>kein Gehäuse angeschlossen</translation>
    </message>
    <message id="refuse_not_now">
        <source>not possible in this state</source>
        <translation>in diesem Zustand nicht möglich</translation>
    </message>
    <message id="refuse_busy">
        <source>another operation is running</source>
        <translation>ein anderer Vorgang läuft</translation>
    </message>
    <message id="clear_disk_question">
        <source>The RAID record of the disk in Bay %1 (%2, S/N %3) will be cleared.</source>
        <extracomment>%1 bay number, %2 model, %3 serial; followed by all_data_lost</extracomment>
        <translation>Die RAID-Informationen der Festplatte in Schacht %1 (%2, S/N %3) werden gelöscht.</translation>
    </message>
    <message id="enclosure_usb">
        <source>USB enclosure, S/N %1</source>
        <extracomment>%1 the enclosure's USB serial</extracomment>
        <translation>USB-Gehäuse, S/N %1</translation>
    </message>
    <message id="enclosure_firewire">
        <source>FireWire enclosure, GUID %1</source>
        <extracomment>%1 the enclosure's GUID in hexadecimal</extracomment>
        <translation>FireWire-Gehäuse, GUID %1</translation>
    </message>
    <message id="bay_disk">
        <source>Bay %1: %2, S/N %3</source>
        <extracomment>%1 bay number, %2 model, %3 serial</extracomment>
        <translation>Schacht %1: %2, S/N %3</translation>
    </message>
    <message id="size_detail">
        <source>%1 bytes (%2 sectors)</source>
        <extracomment>Tooltip of a size: exact bytes and 512-byte sectors</extracomment>
        <translation>%1 Byte (%2 Sektoren)</translation>
    </message>
    <message id="size_detail_sectors">
        <source>%1 sectors</source>
        <translation>%1 Sektoren</translation>
    </message>
    <message id="number_percent_suffix">
        <source>%</source>
        <extracomment>Written after a percentage (German: no-break space, then %)</extracomment>
        <translation> %</translation>
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
        <translation>Aufruf: ovraid [OPTIONEN]
Das Fenster für RAID-Gehäuse mit zwei Schächten: ihre Verbünde, ihre Festplatten, Neuaufbauten.

Optionen:
  --sim VERZ            die simulierten Gehäuse in VERZ; VERZ muss schon eine Simulation
                        enthalten, außer mit --demo
  --demo                mit --sim: die Demo-Gehäuse in VERZ anlegen, wenn dort keine sind
  --library PFAD        diese Bridge-Bibliothek laden und ihre Bridges über udev finden
                        (mit --sim: die Bridges der Simulation über sie ansteuern)
  --screenshot DATEI    ein Bild des Fensters in DATEI speichern, dann beenden
  --quit-after SEKUNDEN Laufzeit vor dem Bildschirmfoto in Sekunden (Vorgabe 12)
  -h, --help            diese Hilfe zeigen und beenden
  -v, --version         die Version zeigen und beenden

Ohne --sim und --library wird eine in ~/.config/ovraid/ovraid.conf genannte Bibliothek
verwendet, sonst die Standard-Simulation, die beim ersten Start die Demo-Gehäuse erhält:
  %1
ovraid-sim legt Simulationen an und ändert sie; ovraidctl liest sie im Terminal.
</translation>
    </message>
    <message id="program_usage_hint">
        <source>Run 'ovraid --help' for the options.</source>
        <extracomment>After a usage error</extracomment>
        <translation>Die Optionen zeigt 'ovraid --help'.</translation>
    </message>
    <message id="program_unknown_option">
        <source>unknown option %1</source>
        <extracomment>%1: the option as typed</extracomment>
        <translation>unbekannte Option %1</translation>
    </message>
    <message id="program_unexpected_argument">
        <source>unexpected argument '%1'</source>
        <extracomment>%1: the argument as typed (ovraid takes no arguments besides options)</extracomment>
        <translation>unerwartetes Argument '%1'</translation>
    </message>
    <message id="program_needs_value">
        <source>option %1 needs a value</source>
        <extracomment>%1: an option such as --sim</extracomment>
        <translation>Option %1 braucht einen Wert</translation>
    </message>
    <message id="program_given_twice">
        <source>option %1 is given twice</source>
        <extracomment>%1: an option such as --sim</extracomment>
        <translation>Option %1 ist zweimal angegeben</translation>
    </message>
    <message id="program_bad_seconds">
        <source>--quit-after needs a whole number of seconds, not '%1'</source>
        <extracomment>%1: what was given to --quit-after</extracomment>
        <translation>--quit-after braucht eine ganze Zahl von Sekunden, nicht '%1'</translation>
    </message>
    <message id="program_no_simulation">
        <source>%1: no simulated enclosures there. To make the demo enclosures there: ovraid --sim %1 --demo (or: ovraid-sim --sim %1 demo)</source>
        <extracomment>ovraid --sim DIR where DIR holds no simulation; %1: DIR</extracomment>
        <translation>%1: dort sind keine simulierten Gehäuse. Die Demo-Gehäuse dort anlegen: ovraid --sim %1 --demo (oder: ovraid-sim --sim %1 demo)</translation>
    </message>
    <message id="program_demo_exists">
        <source>%1 already holds simulated enclosures; they are shown as they are</source>
        <extracomment>ovraid --sim DIR --demo where DIR holds enclosures already; %1: DIR</extracomment>
        <translation>%1 enthält schon simulierte Gehäuse; sie werden so gezeigt, wie sie sind</translation>
    </message>
    <message id="program_demo_failed">
        <source>cannot make the demo enclosures in %1: %2</source>
        <extracomment>%1: the directory, %2: why</extracomment>
        <translation>die Demo-Gehäuse in %1 können nicht angelegt werden: %2</translation>
    </message>
    <message id="help_button">
        <source>Help</source>
        <extracomment>Accessible name of the title bar's help button, and of its menu</extracomment>
        <translation>Hilfe</translation>
    </message>
    <message id="help_button_tooltip">
        <source>Help and About (F1: Help)</source>
        <extracomment>Tooltip of the title bar's help button</extracomment>
        <translation>Hilfe und Info (F1: Hilfe)</translation>
    </message>
    <message id="help_action">
        <source>Help</source>
        <extracomment>Menu entry of the help button that opens the help page (F1)</extracomment>
        <translation>Hilfe</translation>
    </message>
    <message id="about_action">
        <source>About ovraid</source>
        <extracomment>Menu entry of the help button that opens the About box</extracomment>
        <translation>Über ovraid</translation>
    </message>
    <message id="help_title">
        <source>ovraid Help</source>
        <extracomment>Title of the help page</extracomment>
        <translation>ovraid-Hilfe</translation>
    </message>
    <message id="help_close">
        <source>Close</source>
        <extracomment>Button that closes the help page or the About box</extracomment>
        <translation>Schließen</translation>
    </message>
    <message id="help_states_heading">
        <source>What the states mean</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>Was die Zustände bedeuten</translation>
    </message>
    <message id="help_states_intro">
        <source>The list of enclosures shows each set in one of these states:</source>
        <extracomment>Help page, before the list of states</extracomment>
        <translation>Die Liste der Gehäuse zeigt jeden Verbund in einem dieser Zustände:</translation>
    </message>
    <message id="help_healthy">
        <source>Everything is in order; nothing to do.</source>
        <extracomment>Help page: what state_healthy means</extracomment>
        <translation>Alles ist in Ordnung; nichts zu tun.</translation>
    </message>
    <message id="help_degraded">
        <source>One disk of the mirror is missing or has failed, so your data is on one disk only. Put in a replacement soon and rebuild the mirror onto it.</source>
        <extracomment>Help page: what state_degraded means</extracomment>
        <translation>Eine Festplatte der Spiegelung fehlt oder ist ausgefallen; Ihre Daten liegen nur noch auf einer Festplatte. Setzen Sie bald einen Ersatz ein und bauen Sie die Spiegelung darauf neu auf.</translation>
    </message>
    <message id="help_out_of_step">
        <source>Both disks are there, but one was written while the other was away, so they hold different data. Rebuild from the bay holding the current data.</source>
        <extracomment>Help page: what state_out_of_step means</extracomment>
        <translation>Beide Festplatten sind da, aber eine wurde beschrieben, während die andere fehlte; sie enthalten daher verschiedene Daten. Bauen Sie vom Schacht mit den aktuellen Daten neu auf.</translation>
    </message>
    <message id="help_rebuilding">
        <source>The data is being copied from one bay onto the other; the bar shows the speed and the time left. You can keep using the set, but do not unplug the enclosure or pull a disk until the copy ends.</source>
        <extracomment>Help page: what state_rebuilding means</extracomment>
        <translation>Die Daten werden von einem Schacht auf den anderen kopiert; der Balken zeigt Geschwindigkeit und Restzeit. Sie können den Verbund weiter nutzen, trennen Sie aber bis zum Ende weder das Gehäuse noch eine Festplatte.</translation>
    </message>
    <message id="help_broken">
        <source>The set cannot be used: a disk of a stripe or span is missing, the disks' RAID information does not belong together, or only an incomplete copy is here. Put the missing disk back in. Creating a new set over these disks erases the data.</source>
        <extracomment>Help page: what state_broken means</extracomment>
        <translation>Der Verbund ist nicht nutzbar: Eine Festplatte eines Stripe- oder Span-Verbunds fehlt, die RAID-Informationen der Festplatten passen nicht zusammen, oder hier liegt nur eine unvollständige Kopie. Setzen Sie die fehlende Festplatte wieder ein. Ein neuer Verbund auf diesen Festplatten löscht die Daten.</translation>
    </message>
    <message id="help_not_configured">
        <source>The disks belong to no set. To make one, choose the RAID type on the configuration page and create it; that erases what is on both disks.</source>
        <extracomment>Help page: what state_not_configured means</extracomment>
        <translation>Die Festplatten gehören zu keinem Verbund. Wählen Sie auf der Konfigurationsseite einen RAID-Typ und erstellen Sie ihn; dabei wird der Inhalt beider Festplatten gelöscht.</translation>
    </message>
    <message id="help_disk_silent">
        <source>A disk is in a bay but does not answer; it may still be spinning up. Wait a moment and press F5. If it stays silent, the disk or its connection has failed: replace the disk.</source>
        <extracomment>Help page: what state_disk_silent means</extracomment>
        <translation>Eine Festplatte steckt in einem Schacht, antwortet aber nicht; vielleicht läuft sie noch an. Warten Sie kurz und drücken Sie F5. Bleibt sie stumm, ist die Festplatte oder ihre Verbindung defekt: Ersetzen Sie die Festplatte.</translation>
    </message>
    <message id="help_failure_heading">
        <source>When a disk fails</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>Wenn eine Festplatte ausfällt</translation>
    </message>
    <message id="help_failure_which">
        <source>Find the failed disk's bay (Bay 1 or Bay 2) on the disk information page.</source>
        <extracomment>Help page, step 1 after a disk failed</extracomment>
        <translation>Suchen Sie auf der Seite mit den Festplatteninformationen den Schacht der ausgefallenen Festplatte (Schacht 1 oder Schacht 2).</translation>
    </message>
    <message id="help_failure_replace">
        <source>Replace that disk with one at least as large as the other disk.</source>
        <extracomment>Help page, step 2</extracomment>
        <translation>Ersetzen Sie diese Festplatte durch eine, die mindestens so groß ist wie die andere.</translation>
    </message>
    <message id="help_failure_source">
        <source>Rebuild the mirror from the bay holding the current data, marked “%1”, onto the new disk.</source>
        <extracomment>Help page, step 3; %1: the marker of the mirror half with the current data (id old)</extracomment>
        <translation>Bauen Sie die Spiegelung vom Schacht mit den aktuellen Daten, markiert mit „%1“, auf die neue Festplatte neu auf.</translation>
    </message>
    <message id="help_failure_never">
        <source>Never rebuild from a disk that came back or holds older data, marked “%1”: the copy would overwrite your current data with old data.</source>
        <extracomment>Help page, step 4; %1: the marker of the returning mirror half (id new)</extracomment>
        <translation>Bauen Sie nie von einer zurückgekehrten Festplatte mit älteren Daten neu auf, markiert mit „%1“: Die Kopie würde Ihre aktuellen Daten mit alten überschreiben.</translation>
    </message>
    <message id="help_failure_wait">
        <source>Keep the enclosure plugged in and both disks in place until the rebuild has ended.</source>
        <extracomment>Help page, step 5</extracomment>
        <translation>Lassen Sie das Gehäuse angeschlossen und beide Festplatten eingesetzt, bis der Neuaufbau beendet ist.</translation>
    </message>
    <message id="help_keys_heading">
        <source>Keys</source>
        <extracomment>Heading on the help page</extracomment>
        <translation>Tasten</translation>
    </message>
    <message id="help_key_f1">
        <source>Show this help</source>
        <extracomment>Help page: what F1 does</extracomment>
        <translation>Diese Hilfe zeigen</translation>
    </message>
    <message id="help_key_f5">
        <source>Look at every enclosure again (Refresh)</source>
        <extracomment>Help page: what F5 does</extracomment>
        <translation>Alle Gehäuse neu einlesen (Aktualisieren)</translation>
    </message>
    <message id="about_title">
        <source>About ovraid</source>
        <extracomment>Title of the About box</extracomment>
        <translation>Über ovraid</translation>
    </message>
    <message id="about_version">
        <source>Version %1</source>
        <extracomment>About box; %1: the version number</extracomment>
        <translation>Version %1</translation>
    </message>
    <message id="about_what">
        <source>Manages the RAID sets of external enclosures with two bays, attached by USB or FireWire.</source>
        <extracomment>About box: what the program is</extracomment>
        <translation>Verwaltet die RAID-Verbünde externer Gehäuse mit zwei Schächten, angeschlossen über USB oder FireWire.</translation>
    </message>
    <message id="about_qt">
        <source>Built on Qt %1</source>
        <extracomment>About box; %1: the version of Qt in use</extracomment>
        <translation>Mit Qt %1</translation>
    </message>
    <message id="refuse_set_incomplete">
        <source>the disks form no whole set: clear the record of the disk in Bay %1 instead</source>
        <extracomment>%1 a bay whose disk holds a record</extracomment>
        <translation>die Festplatten bilden keinen vollständigen Verbund: löschen Sie stattdessen die RAID-Informationen der Festplatte in Schacht %1</translation>
    </message>
    <message id="program_no_display">
        <source>no display to open the window on (DISPLAY is not set). ovraidctl status shows the same on a terminal.</source>
        <extracomment>ovraid started without a graphical session</extracomment>
        <translation>keine Anzeige, auf der sich das Fenster öffnen ließe (DISPLAY ist nicht gesetzt). ovraidctl status zeigt dasselbe im Terminal.</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<!-- ovraid string table, id-based (see ovraid_de.ts): the texts of the program's command
     line, the help page and the About box. Build: lrelease -idbased -nounfinished help_de.ts -->
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
    <!-- Help and About
         The title bar's help button, the help page (F1) and the About box. -->
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
</context>
</TS>

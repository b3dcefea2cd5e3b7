<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CommandLine</name>
    <message>
        <source>Commands:
  list                 List the attached devices, also those in repair.
                       lumexor-capture-cli list --json
  check PACKAGE        Read a firmware package without touching a device and tell
                       whether an update with it would be refused.
                       lumexor-capture-cli check kestrel3.fw
  update PACKAGE       Update or repair exactly one device.
                       Refused while other programs have the device&apos;s video open,
                       unless --force is given.
                       lumexor-capture-cli update kestrel3.fw --serial A1B2C3D4
                       With --all, every device the selection admits, in any state,
                       each on its own thread, --jobs at a time (default: all at once,
                       up to 16: a flash mostly waits for the device&apos;s erase and
                       program, so the bus is not what limits it); a summary line per
                       device at the end.
                       lumexor-capture-cli update kestrel3.fw --all --pid 3601
  settings             Show the device&apos;s settings; change them with --aspect-ratio,
                       --performance and --audio-selector.
                       lumexor-capture-cli settings --performance on
  user-modes           Show the three user video modes; change them with --mode.
                       lumexor-capture-cli user-modes --mode 1=1920x1080 --mode 3=off
  signal               Show what the device sees on its input; --watch keeps showing
                       it every two seconds until interrupted.
                       lumexor-capture-cli signal --port 2-3.1 --watch
  history              Show the updates and repairs made on this computer, oldest
                       first: when, which device, the result and the package.
                       lumexor-capture-cli history --json

Devices are chosen by --vid, --pid, --serial and --port; the commands for one device
refuse to go on unless exactly one matches.

Exit status: 0 success (update --all: every device), 1 the operation failed, 2 usage
error, 3 no device or more than one matched.
--json output is described in docs/cli-json.md; every value carries its schemaVersion.</source>
        <translation>Befehle:
  list                 Die angeschlossenen Geräte auflisten, auch die im Reparaturmodus.
                       lumexor-capture-cli list --json
  check PACKAGE        Ein Firmware-Paket lesen, ohne ein Gerät zu berühren, und sagen,
                       ob eine Aktualisierung damit abgelehnt würde.
                       lumexor-capture-cli check kestrel3.fw
  update PACKAGE       Genau ein Gerät aktualisieren oder reparieren.
                       Abgelehnt, solange andere Programme das Video des Geräts geöffnet
                       haben, außer mit --force.
                       lumexor-capture-cli update kestrel3.fw --serial A1B2C3D4
                       Mit --all jedes Gerät, das die Auswahl zulässt, in jedem Zustand,
                       jedes in einem eigenen Thread, --jobs gleichzeitig (Standard: alle
                       auf einmal, bis zu 16: ein Flashvorgang wartet meist auf das Löschen
                       und Programmieren des Geräts, der Bus ist also nicht die Grenze);
                       am Ende eine Zusammenfassungszeile je Gerät.
                       lumexor-capture-cli update kestrel3.fw --all --pid 3601
  settings             Die Einstellungen des Geräts anzeigen; ändern mit --aspect-ratio,
                       --performance und --audio-selector.
                       lumexor-capture-cli settings --performance on
  user-modes           Die drei Benutzer-Videomodi anzeigen; ändern mit --mode.
                       lumexor-capture-cli user-modes --mode 1=1920x1080 --mode 3=off
  signal               Anzeigen, was das Gerät an seinem Eingang sieht; --watch zeigt es
                       alle zwei Sekunden erneut, bis unterbrochen wird.
                       lumexor-capture-cli signal --port 2-3.1 --watch
  history              Die auf diesem Computer ausgeführten Aktualisierungen und Reparaturen
                       anzeigen, älteste zuerst: wann, welches Gerät, Ergebnis und Paket.
                       lumexor-capture-cli history --json

Geräte werden mit --vid, --pid, --serial und --port gewählt; die Befehle für ein Gerät
fahren nur fort, wenn genau eines passt.

Exit-Status: 0 Erfolg (update --all: jedes Gerät), 1 der Vorgang schlug fehl, 2 Fehler
im Aufruf, 3 kein Gerät oder mehr als eines passte.
Die Ausgabe von --json ist in docs/cli-json.md beschrieben; jeder Wert trägt seine schemaVersion.</translation>
    </message>
    <message>
        <source>Try &apos;lumexor-capture-cli --help&apos;.</source>
        <translation>Siehe &apos;lumexor-capture-cli --help&apos;.</translation>
    </message>
    <message>
        <source>Lists, checks, updates and configures capture devices.</source>
        <translation>Listet, prüft, aktualisiert und konfiguriert Capture-Geräte.</translation>
    </message>
    <message>
        <source>Show this help.</source>
        <translation>Diese Hilfe anzeigen.</translation>
    </message>
    <message>
        <source>Show the version.</source>
        <translation>Die Version anzeigen.</translation>
    </message>
    <message>
        <source>Machine-readable output: JSON.</source>
        <translation>Maschinenlesbare Ausgabe: JSON.</translation>
    </message>
    <message>
        <source>Write the diagnostic lines of the USB layer and the update to standard error.</source>
        <translation>Die Diagnosezeilen der USB-Schicht und der Aktualisierung auf die Standardfehlerausgabe schreiben.</translation>
    </message>
    <message>
        <source>Only devices with this vendor id (hexadecimal).</source>
        <translation>Nur Geräte mit dieser Hersteller-ID (hexadezimal).</translation>
    </message>
    <message>
        <source>Only devices with this product id (hexadecimal).</source>
        <translation>Nur Geräte mit dieser Produkt-ID (hexadezimal).</translation>
    </message>
    <message>
        <source>Only the device with this serial number.</source>
        <translation>Nur das Gerät mit dieser Seriennummer.</translation>
    </message>
    <message>
        <source>Only the device at this bus and port path, as list shows it.</source>
        <translation>Nur das Gerät an diesem Bus- und Portpfad, wie list ihn zeigt.</translation>
    </message>
    <message>
        <source>settings: keep the aspect ratio.</source>
        <translation>settings: das Seitenverhältnis beibehalten.</translation>
    </message>
    <message>
        <source>settings: performance mode.</source>
        <translation>settings: Leistungsmodus.</translation>
    </message>
    <message>
        <source>settings: audio selector.</source>
        <translation>settings: Audioauswahl.</translation>
    </message>
    <message>
        <source>user-modes: set mode N (1 to 3) to a size or turn it off; repeatable.</source>
        <translation>user-modes: Modus N (1 bis 3) auf eine Größe setzen oder ausschalten; wiederholbar.</translation>
    </message>
    <message>
        <source>signal: keep showing it until interrupted.</source>
        <translation>signal: es fortlaufend anzeigen, bis unterbrochen wird.</translation>
    </message>
    <message>
        <source>update: go on although other programs have the device&apos;s video open; their capture ends.</source>
        <translation>update: fortfahren, obwohl andere Programme das Video des Geräts geöffnet haben; deren Aufnahme endet.</translation>
    </message>
    <message>
        <source>update: every device the selection admits, side by side.</source>
        <translation>update: jedes Gerät, das die Auswahl zulässt, parallel.</translation>
    </message>
    <message>
        <source>update --all: at most N devices at once (default 16).</source>
        <translation>update --all: höchstens N Geräte gleichzeitig (Standard 16).</translation>
    </message>
    <message>
        <source>list, check, update, settings, user-modes, signal, history</source>
        <translation>list, check, update, settings, user-modes, signal, history</translation>
    </message>
    <message>
        <source>The firmware package of check and update.</source>
        <translation>Das Firmware-Paket für check und update.</translation>
    </message>
    <message>
        <source>No command given.</source>
        <translation>Kein Befehl angegeben.</translation>
    </message>
    <message>
        <source>Unknown command: %1</source>
        <translation>Unbekannter Befehl: %1</translation>
    </message>
    <message>
        <source>%1 needs a firmware package.</source>
        <translation>%1 benötigt ein Firmware-Paket.</translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation>Unerwartetes Argument: %1</translation>
    </message>
    <message>
        <source>Option --%1 does not apply to %2.</source>
        <translation>Die Option --%1 gilt nicht für %2.</translation>
    </message>
    <message>
        <source>--jobs applies to update --all.</source>
        <translation>--jobs gilt für update --all.</translation>
    </message>
    <message>
        <source>--jobs takes a number from 1 to 64, not %1</source>
        <translation>--jobs erwartet eine Zahl von 1 bis 64, nicht %1</translation>
    </message>
    <message>
        <source>Not a vendor id: %1</source>
        <translation>Keine Hersteller-ID: %1</translation>
    </message>
    <message>
        <source>Not a product id: %1</source>
        <translation>Keine Produkt-ID: %1</translation>
    </message>
    <message>
        <source>Not a bus and port path such as 2-3.1: %1</source>
        <translation>Kein Bus- und Portpfad wie 2-3.1: %1</translation>
    </message>
    <message>
        <source>--%1 takes on or off, not %2</source>
        <translation>--%1 erwartet on oder off, nicht %2</translation>
    </message>
    <message>
        <source>Not a user mode such as 1=1920x1080 or 2=off: %1</source>
        <translation>Kein Benutzermodus wie 1=1920x1080 oder 2=off: %1</translation>
    </message>
    <message>
        <source>package: %1</source>
        <translation>Paket: %1</translation>
    </message>
    <message>
        <source>product: %1</source>
        <translation>Produkt: %1</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Bytes</translation>
    </message>
    <message>
        <source>missing</source>
        <translation>fehlt</translation>
    </message>
    <message>
        <source>, whole 32-bit words</source>
        <translation>, ganze 32-Bit-Wörter</translation>
    </message>
    <message>
        <source>, not whole words</source>
        <translation>, keine ganzen Wörter</translation>
    </message>
    <message numerus="yes">
        <source>, %n section(s), entry point 0x%1, checksum good</source>
        <translation>
            <numerusform>, %n Abschnitt, Einsprungpunkt 0x%1, Prüfsumme in Ordnung</numerusform>
            <numerusform>, %n Abschnitte, Einsprungpunkt 0x%1, Prüfsumme in Ordnung</numerusform>
        </translation>
    </message>
    <message>
        <source>, %1 bytes of EDID, checksums good</source>
        <translation>, %1 Bytes EDID, Prüfsummen in Ordnung</translation>
    </message>
    <message>
        <source>an update with this package would go ahead</source>
        <translation>eine Aktualisierung mit diesem Paket würde durchgeführt</translation>
    </message>
    <message>
        <source>an update with this package would be refused: %1</source>
        <translation>eine Aktualisierung mit diesem Paket würde abgelehnt: %1</translation>
    </message>
    <message>
        <source>No device found.</source>
        <translation>Kein Gerät gefunden.</translation>
    </message>
    <message>
        <source>No device matches; the devices found are:</source>
        <translation>Kein Gerät passt; gefunden wurden diese Geräte:</translation>
    </message>
    <message numerus="yes">
        <source>%n devices match; choose one with --serial or --port:</source>
        <translation>
            <numerusform>%n Gerät passt; wählen Sie eines mit --serial oder --port:</numerusform>
            <numerusform>%n Geräte passen; wählen Sie eines mit --serial oder --port:</numerusform>
        </translation>
    </message>
    <message>
        <source>request not supported</source>
        <translation>Anfrage nicht unterstützt</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>wartet</translation>
    </message>
    <message>
        <source>running</source>
        <translation>läuft</translation>
    </message>
    <message>
        <source>updated</source>
        <translation>aktualisiert</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>skipped</source>
        <translation>übersprungen</translation>
    </message>
    <message>
        <source>not started</source>
        <translation>nicht begonnen</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n device(s) updated</source>
        <translation>
            <numerusform>%1 von %n Gerät aktualisiert</numerusform>
            <numerusform>%1 von %n Geräten aktualisiert</numerusform>
        </translation>
    </message>
    <message>
        <source>Updating %1</source>
        <translation>Aktualisiere %1</translation>
    </message>
    <message>
        <source>Update completed</source>
        <translation>Aktualisierung abgeschlossen</translation>
    </message>
    <message>
        <source>Signal received: the updates in progress go on, no other starts, and the tool stops when they end. Do not unplug the devices.</source>
        <translation>Signal empfangen: Die laufenden Aktualisierungen gehen weiter, keine weitere beginnt, und das Programm endet, wenn sie fertig sind. Ziehen Sie die Geräte nicht ab.</translation>
    </message>
    <message>
        <source>Interrupted before the update started; nothing was written.</source>
        <translation>Vor Beginn der Aktualisierung unterbrochen; nichts wurde geschrieben.</translation>
    </message>
    <message>
        <source>%1, line %2: not a history record, skipped</source>
        <translation>%1, Zeile %2: kein Verlaufseintrag, übersprungen</translation>
    </message>
    <message>
        <source>done</source>
        <translation>fertig</translation>
    </message>
    <message>
        <source>keep aspect ratio</source>
        <translation>Seitenverhältnis beibehalten</translation>
    </message>
    <message>
        <source>performance mode</source>
        <translation>Leistungsmodus</translation>
    </message>
    <message>
        <source>audio selector</source>
        <translation>Audioauswahl</translation>
    </message>
    <message>
        <source>The device offers no settings.</source>
        <translation>Das Gerät bietet keine Einstellungen.</translation>
    </message>
    <message>
        <source>The device has no %1 setting.</source>
        <translation>Das Gerät hat keine Einstellung „%1“.</translation>
    </message>
    <message>
        <source>on</source>
        <translation>ein</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source>Signal received: the update goes on, and the tool stops when it ends. Do not unplug the device.</source>
        <translation>Signal empfangen: Die Aktualisierung geht weiter, und das Programm endet, wenn sie fertig ist. Ziehen Sie das Gerät nicht ab.</translation>
    </message>
    <message>
        <source>The device is in use by %1: an update restarts it and ends their capture. Close them, or give --force.</source>
        <translation>Das Gerät wird von %1 verwendet: Eine Aktualisierung startet es neu und beendet deren Aufnahme. Schließen Sie sie oder geben Sie --force an.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Aktualisierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>The device&apos;s firmware has no user modes.</source>
        <translation>Die Firmware des Geräts hat keine Benutzermodi.</translation>
    </message>
    <message>
        <source>off (%1)</source>
        <translation>aus (%1)</translation>
    </message>
    <message>
        <source>interrupted; nothing was written</source>
        <translation>unterbrochen; nichts wurde geschrieben</translation>
    </message>
    <message>
        <source>checking the package</source>
        <translation>Paket wird geprüft</translation>
    </message>
    <message>
        <source>loading the sandbox microcode</source>
        <translation>Sandbox-Mikrocode wird geladen</translation>
    </message>
    <message>
        <source>FX3 microcode</source>
        <translation>FX3-Mikrocode</translation>
    </message>
    <message>
        <source>FPGA image</source>
        <translation>FPGA-Abbild</translation>
    </message>
    <message>
        <source>EDID</source>
        <translation>EDID</translation>
    </message>
    <message>
        <source>opening the device</source>
        <translation>Gerät wird geöffnet</translation>
    </message>
</context>
<context>
    <name>DeviceScanner</name>
    <message>
        <source>Soft Repair Mode</source>
        <translation>Weicher Reparaturmodus</translation>
    </message>
    <message>
        <source>Hard Repair Mode</source>
        <translation>Harter Reparaturmodus</translation>
    </message>
</context>
<context>
    <name>DeviceUsers</name>
    <message>
        <source> (process %1)</source>
        <translation> (Prozess %1)</translation>
    </message>
</context>
<context>
    <name>UpdateRepair</name>
    <message>
        <source>Lumexor Capture Config</source>
        <translation>Lumexor Capture Config</translation>
    </message>
    <message>
        <source>Devices:</source>
        <translation>Geräte:</translation>
    </message>
    <message>
        <source>Refresh device list</source>
        <translation>Geräteliste aktualisieren</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
    </message>
    <message>
        <source>Device pages</source>
        <translation>Geräteseiten</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <source>Browse for firmware file</source>
        <translation>Firmware-Datei suchen</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Update firmware</source>
        <translation>Firmware aktualisieren</translation>
    </message>
    <message>
        <source>UPDATE</source>
        <translation>AKTUALISIEREN</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Preserve aspect ratio&lt;/span&gt;&lt;br/&gt;&lt;br/&gt;When selected, Capture device preserves the aspect ratio of your input signal by adding black bars to the sides or top and bottom of the frame if the application using the signal requests a frame size with a different aspect ratio.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Seitenverhältnis beibehalten&lt;/span&gt;&lt;br/&gt;&lt;br/&gt;Wenn ausgewählt, behält das Capture-Gerät das Seitenverhältnis Ihres Eingangssignals bei, indem es schwarze Balken an den Seiten oder oben und unten im Bild hinzufügt, wenn die Anwendung, die das Signal verwendet, eine Bildgröße mit einem anderen Seitenverhältnis anfordert.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Preserve aspect ratio</source>
        <translation>Seitenverhältnis beibehalten</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Performance mode&lt;/span&gt;&lt;/p&gt;&lt;p&gt;When selected, Capture device enters and exits system suspend mode (i.e. sleep) faster by disabling support for the Suspend/U3 USB power state. This means Capture device starts working again faster after your computer wakes from a sleep state, at the cost of increased power consumption.&lt;/p&gt;&lt;p&gt;&lt;span style=&quot; font-style:italic;&quot;&gt;Recommended to keep this option &lt;/span&gt;&lt;span style=&quot; font-weight:600; font-style:italic;&quot;&gt;turned off&lt;/span&gt;&lt;span style=&quot; font-style:italic;&quot;&gt;.&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Leistungsmodus&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Wenn ausgewählt, wechselt das Capture-Gerät schneller in den Systemruhezustand (d. h. Energiesparmodus) und wieder heraus, indem es die Unterstützung für den USB-Energiezustand Suspend/U3 abschaltet. Das Capture-Gerät arbeitet dadurch schneller wieder, nachdem Ihr Computer aus dem Ruhezustand erwacht, auf Kosten eines höheren Stromverbrauchs.&lt;/p&gt;&lt;p&gt;&lt;span style=&quot; font-style:italic;&quot;&gt;Es wird empfohlen, diese Option &lt;/span&gt;&lt;span style=&quot; font-weight:600; font-style:italic;&quot;&gt;ausgeschaltet&lt;/span&gt;&lt;span style=&quot; font-style:italic;&quot;&gt; zu lassen.&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Performance mode</source>
        <translation>Leistungsmodus</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Audio selector for multichannel inputs&lt;/span&gt;&lt;/p&gt;&lt;p&gt;&lt;br/&gt;&lt;/p&gt;&lt;p&gt;When selected, Norby SDI cards that captures multichannel inputs can export multiple outputs for Audio. User can select channel in OS-specific way.&lt;/p&gt;&lt;p&gt;&lt;br/&gt;&lt;/p&gt;&lt;p&gt;&lt;span style=&quot; font-style:italic;&quot;&gt;Valid only for Norby SDI.&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Audioauswahl für Mehrkanaleingänge&lt;/span&gt;&lt;/p&gt;&lt;p&gt;&lt;br/&gt;&lt;/p&gt;&lt;p&gt;Wenn ausgewählt, können Norby-SDI-Karten, die Mehrkanaleingänge aufnehmen, mehrere Audioausgänge bereitstellen. Der Benutzer kann den Kanal auf die für das Betriebssystem übliche Weise wählen.&lt;/p&gt;&lt;p&gt;&lt;br/&gt;&lt;/p&gt;&lt;p&gt;&lt;span style=&quot; font-style:italic;&quot;&gt;Gilt nur für Norby SDI.&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Audio selector for multichannel inputs</source>
        <translation>Audioauswahl für Mehrkanaleingänge</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Übernehmen</translation>
    </message>
    <message>
        <source>User Modes</source>
        <translation>Benutzermodi</translation>
    </message>
    <message>
        <source>User mode &amp;1</source>
        <translation>Benutzermodus &amp;1</translation>
    </message>
    <message>
        <source>Width:</source>
        <translation>Breite:</translation>
    </message>
    <message>
        <source>Height:</source>
        <translation>Höhe:</translation>
    </message>
    <message>
        <source>User mode &amp;2</source>
        <translation>Benutzermodus &amp;2</translation>
    </message>
    <message>
        <source>User mode &amp;3</source>
        <translation>Benutzermodus &amp;3</translation>
    </message>
    <message>
        <source>Input signal: </source>
        <translation>Eingangssignal: </translation>
    </message>
    <message>
        <source>Please select a device from the list</source>
        <translation>Bitte wählen Sie ein Gerät aus der Liste</translation>
    </message>
    <message>
        <source>Device Access Error</source>
        <translation>Fehler beim Gerätezugriff</translation>
    </message>
    <message>
        <source>DO NOT INTERRUPT</source>
        <translation>NICHT UNTERBRECHEN</translation>
    </message>
    <message>
        <source>The update goes on; the program ends when it has ended.</source>
        <translation>Die Aktualisierung geht weiter; das Programm endet, wenn sie beendet ist.</translation>
    </message>
    <message>
        <source>Lumexor Updater</source>
        <translation>Lumexor-Aktualisierung</translation>
    </message>
    <message>
        <source>device not selected</source>
        <translation>kein Gerät ausgewählt</translation>
    </message>
    <message>
        <source>%4 (%3, %5) [%1:%2]</source>
        <translation>%4 (%3, %5) [%1:%2]</translation>
    </message>
    <message>
        <source> (%1)</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>Device Scanning Error</source>
        <translation>Fehler bei der Gerätesuche</translation>
    </message>
    <message>
        <source>Select firmware update file</source>
        <translation>Firmware-Aktualisierungsdatei auswählen</translation>
    </message>
    <message>
        <source>Please select the firmware file</source>
        <translation>Bitte wählen Sie die Firmware-Datei</translation>
    </message>
    <message>
        <source>Device in use</source>
        <translation>Gerät in Verwendung</translation>
    </message>
    <message>
        <source>The device is in use by %1. The update restarts the device, which ends their capture.

Update anyway?</source>
        <translation>Das Gerät wird von %1 verwendet. Die Aktualisierung startet das Gerät neu, wodurch deren Aufnahme endet.

Trotzdem aktualisieren?</translation>
    </message>
    <message>
        <source>Update Error</source>
        <translation>Aktualisierungsfehler</translation>
    </message>
    <message>
        <source>Do not disconnect. Retry. Call Support.</source>
        <translation>Nicht trennen. Erneut versuchen. Support anrufen.</translation>
    </message>
    <message>
        <source>Update Completed</source>
        <translation>Aktualisierung abgeschlossen</translation>
    </message>
    <message>
        <source>no signal</source>
        <translation>kein Signal</translation>
    </message>
    <message>
        <source>request not supported</source>
        <translation>Anfrage nicht unterstützt</translation>
    </message>
    <message>
        <source>Firmware files (*.fw);; All (*)</source>
        <translation>Firmware-Dateien (*.fw);; Alle (*)</translation>
    </message>
</context>
<context>
    <name>Worker</name>
    <message>
        <source>Cannot open firmware package: %1</source>
        <translation>Firmware-Paket kann nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Selected device and firmware incompatible</source>
        <translation>Ausgewähltes Gerät und Firmware sind nicht kompatibel</translation>
    </message>
    <message>
        <source>EDID data is too large to send: %1 bytes; one USB control transfer carries at most %2 bytes on this system</source>
        <translation>EDID-Daten sind zu groß zum Senden: %1 Bytes; eine USB-Steuerübertragung trägt auf diesem System höchstens %2 Bytes</translation>
    </message>
    <message>
        <source>Can&apos;t open EDID file</source>
        <translation>EDID-Datei kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Can&apos;t read EDID file</source>
        <translation>EDID-Datei kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>EDID data has incorrect format</source>
        <translation>EDID-Daten haben ein falsches Format</translation>
    </message>
    <message>
        <source>EDID data has incorrect checksum</source>
        <translation>EDID-Daten haben eine falsche Prüfsumme</translation>
    </message>
    <message>
        <source>EDID data is empty</source>
        <translation>EDID-Daten sind leer</translation>
    </message>
    <message>
        <source>Can&apos;t initiate EDID IO access (err: %1)</source>
        <translation>EDID-Ein-/Ausgabezugriff kann nicht eingeleitet werden (Fehler: %1)</translation>
    </message>
    <message>
        <source>Can&apos;t send EDID data to the device (err: %1)</source>
        <translation>EDID-Daten können nicht an das Gerät gesendet werden (Fehler: %1)</translation>
    </message>
    <message>
        <source>Can&apos;t finalize EDID IO access (err: %1)</source>
        <translation>EDID-Ein-/Ausgabezugriff kann nicht abgeschlossen werden (Fehler: %1)</translation>
    </message>
    <message>
        <source>Error: failed to request flash status for %2: %1</source>
        <translation>Fehler: Flash-Status für %2 konnte nicht abgefragt werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to write FPGA header block:  %1</source>
        <translation>Fehler: FPGA-Kopfblock konnte nicht geschrieben werden:  %1</translation>
    </message>
    <message>
        <source>Error: failed FPGA CRC check: %1</source>
        <translation>Fehler: FPGA-CRC-Prüfung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Error: failed to start FPGA reflashing: %1</source>
        <translation>Fehler: FPGA-Neuprogrammierung konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to find FPGA image</source>
        <translation>Fehler: FPGA-Abbild nicht gefunden</translation>
    </message>
    <message>
        <source>Error: failed to read FPGA image: %1</source>
        <translation>Fehler: FPGA-Abbild konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to write FPGA block:  %1</source>
        <translation>Fehler: FPGA-Block konnte nicht geschrieben werden:  %1</translation>
    </message>
    <message>
        <source>Error: failed to complete FPGA reflash: %1</source>
        <translation>Fehler: FPGA-Neuprogrammierung konnte nicht abgeschlossen werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to verify microcode signature</source>
        <translation>Fehler: Mikrocode-Signatur konnte nicht geprüft werden</translation>
    </message>
    <message>
        <source>Error: sandbox microcode image is too large: %1 bytes, at most %2</source>
        <translation>Fehler: Sandbox-Mikrocode-Abbild ist zu groß: %1 Bytes, höchstens %2</translation>
    </message>
    <message>
        <source>Error: sandbox microcode image is truncated</source>
        <translation>Fehler: Sandbox-Mikrocode-Abbild ist abgeschnitten</translation>
    </message>
    <message>
        <source>Error: microcode section at 0x%1 is too long: %2 bytes, at most %3</source>
        <translation>Fehler: Mikrocode-Abschnitt bei 0x%1 ist zu lang: %2 Bytes, höchstens %3</translation>
    </message>
    <message>
        <source>FX3 checksum error</source>
        <translation>FX3-Prüfsummenfehler</translation>
    </message>
    <message>
        <source>Error: failed to open sandbox microcode: %1</source>
        <translation>Fehler: Sandbox-Mikrocode konnte nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to read sandbox microcode: %1</source>
        <translation>Fehler: Sandbox-Mikrocode konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to write microcode: %1</source>
        <translation>Fehler: Mikrocode konnte nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>Fail to verify image</source>
        <translation>Abbild konnte nicht überprüft werden</translation>
    </message>
    <message>
        <source>Error: failed to start microcode: %1</source>
        <translation>Fehler: Mikrocode konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>Error: microcode block does not aligned by 32 bit length: %1</source>
        <translation>Fehler: Mikrocode-Block ist nicht auf 32 Bit ausgerichtet: %1</translation>
    </message>
    <message>
        <source>Error: failed to find microcode image: %1</source>
        <translation>Fehler: Mikrocode-Abbild nicht gefunden: %1</translation>
    </message>
    <message>
        <source>Error: failed to start microcode reflashing: %1</source>
        <translation>Fehler: Mikrocode-Neuprogrammierung konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to read microcode image: %1</source>
        <translation>Fehler: Mikrocode-Abbild konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to write microcode block: %1</source>
        <translation>Fehler: Mikrocode-Block konnte nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>Error: failed to complete microcode reflash: %1</source>
        <translation>Fehler: Mikrocode-Neuprogrammierung konnte nicht abgeschlossen werden: %1</translation>
    </message>
    <message>
        <source>Invalid firmware package. File(s) not found: %1</source>
        <translation>Ungültiges Firmware-Paket. Datei(en) nicht gefunden: %1</translation>
    </message>
    <message>
        <source>more than one file is shown as &quot;%1&quot;; rename the package or name it from a shell</source>
        <translation>mehr als eine Datei wird als „%1“ angezeigt; benennen Sie das Paket um oder geben Sie es in einer Shell an</translation>
    </message>
    <message>
        <source>no file is shown as &quot;%1&quot;</source>
        <translation>keine Datei wird als „%1“ angezeigt</translation>
    </message>
    <message>
        <source>Error: microcode image is empty</source>
        <translation>Fehler: Mikrocode-Abbild ist leer</translation>
    </message>
    <message>
        <source>Error: FPGA image is empty</source>
        <translation>Fehler: FPGA-Abbild ist leer</translation>
    </message>
    <message>
        <source>Error: FPGA image is too large: %1 bytes</source>
        <translation>Fehler: FPGA-Abbild ist zu groß: %1 Bytes</translation>
    </message>
    <message>
        <source>Product info file found but can&apos;t be opened: %1</source>
        <translation>Produktinformationsdatei gefunden, kann aber nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Can&apos;t read Product info file: %1</source>
        <translation>Produktinformationsdatei kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Unsupported product: &apos;%1&apos;</source>
        <translation>Nicht unterstütztes Produkt: &apos;%1&apos;</translation>
    </message>
    <message>
        <source>Error: Failed to init device for repair</source>
        <translation>Fehler: Gerät konnte nicht für die Reparatur vorbereitet werden</translation>
    </message>
    <message>
        <source>Access Denied: Administrative privilegies are required to access the device</source>
        <translation>Zugriff verweigert: Für den Zugriff auf das Gerät sind Administratorrechte erforderlich</translation>
    </message>
    <message>
        <source>Error: the device did not come back after its restart (port %1, nor its companion port)</source>
        <translation>Fehler: Das Gerät ist nach seinem Neustart nicht zurückgekehrt (Port %1, auch nicht sein Begleitport)</translation>
    </message>
    <message>
        <source>Error: the device did not come back after its restart (port %1)</source>
        <translation>Fehler: Das Gerät ist nach seinem Neustart nicht zurückgekehrt (Port %1)</translation>
    </message>
    <message>
        <source>Error: Failed to install driver</source>
        <translation>Fehler: Treiber konnte nicht installiert werden</translation>
    </message>
    <message>
        <source>Updating the firmware of a capture device</source>
        <translation>Die Firmware eines Capture-Geräts wird aktualisiert</translation>
    </message>
    <message>
        <source>Error: another update of this device is running: %1 (process %2)</source>
        <translation>Fehler: Eine andere Aktualisierung dieses Geräts läuft: %1 (Prozess %2)</translation>
    </message>
    <message>
        <source>Cannot Access Device. Administrative privilegies may be required</source>
        <translation>Kein Zugriff auf das Gerät. Möglicherweise sind Administratorrechte erforderlich</translation>
    </message>
    <message>
        <source>Cannot access USB. Administrative rights may be required.</source>
        <translation>Kein Zugriff auf USB. Möglicherweise sind Administratorrechte erforderlich.</translation>
    </message>
    <message>
        <source>Error retreiving config device data: req=%1, status: %2</source>
        <translation>Fehler beim Abrufen der Konfigurationsdaten des Geräts: req=%1, Status: %2</translation>
    </message>
    <message>
        <source>Error setting device flags: %1</source>
        <translation>Fehler beim Setzen der Geräteflags: %1</translation>
    </message>
    <message>
        <source>Device busy: another program is using it</source>
        <translation>Gerät belegt: Ein anderes Programm verwendet es</translation>
    </message>
    <message>
        <source>Device busy: %1 (process %2) is using it for: %3</source>
        <translation>Gerät belegt: %1 (Prozess %2) verwendet es für: %3</translation>
    </message>
</context>
</TS>

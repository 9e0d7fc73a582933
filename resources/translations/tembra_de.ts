<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>BaseUI</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
</context>
<context>
    <name>ChosenFirmware</name>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation>%1 gibt es nicht</translation>
    </message>
    <message>
        <source>%1 is a folder, not a firmware file</source>
        <translation>%1 ist ein Ordner, keine Firmware-Datei</translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation>%1 ist leer</translation>
    </message>
    <message>
        <source>%1 has %2 bytes, more than a firmware file can have (%3 bytes)</source>
        <translation>%1 hat %2 Bytes, mehr als eine Firmware-Datei haben kann (%3 Bytes)</translation>
    </message>
    <message>
        <source>%1 has the SHA-256 %2, not the expected %3</source>
        <translation>%1 hat die SHA-256 %2, nicht die erwartete %3</translation>
    </message>
    <message>
        <source>%1 cannot be read: its symbolic links form a loop</source>
        <translation>%1 kann nicht gelesen werden: seine symbolischen Verknüpfungen bilden eine Schleife</translation>
    </message>
    <message>
        <source>%1 is not a regular file (%2)</source>
        <translation>%1 ist keine gewöhnliche Datei (%2)</translation>
    </message>
    <message>
        <source>a FIFO</source>
        <translation>eine FIFO</translation>
    </message>
    <message>
        <source>a character device</source>
        <translation>ein zeichenorientiertes Gerät</translation>
    </message>
    <message>
        <source>a block device</source>
        <translation>ein blockorientiertes Gerät</translation>
    </message>
    <message>
        <source>a socket</source>
        <translation>ein Socket</translation>
    </message>
    <message>
        <source>a file the system makes up as it is read, in %1</source>
        <translation>eine Datei, die das System beim Lesen erzeugt, in %1</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Options of the toolkit, taken before the tool&apos;s own:
  -platform &lt;name&gt;           The platform plugin: xcb, wayland, offscreen.
  -platformtheme &lt;name&gt;      The platform theme.
  -platformpluginpath &lt;path&gt; Where platform plugins are looked for.
  -plugin &lt;name&gt;             An input plugin to load.
  -style &lt;name&gt;              The widget style, such as fusion.
  -stylesheet &lt;file&gt;         A style sheet for the window.
  -reverse                   Lays the window out right to left.
  -qwindowgeometry &lt;geometry&gt;, -qwindowtitle &lt;title&gt;, -qwindowicon &lt;icon&gt;
  -session &lt;id&gt;, -widgetcount, -display &lt;display&gt; (X11), -nograb, -dograb
</source>
        <translation>Optionen des Toolkits, die vor denen des Werkzeugs ausgewertet werden:
  -platform &lt;name&gt;           Das Plattform-Plugin: xcb, wayland, offscreen.
  -platformtheme &lt;name&gt;      Das Plattform-Thema.
  -platformpluginpath &lt;path&gt; Wo Plattform-Plugins gesucht werden.
  -plugin &lt;name&gt;             Ein zu ladendes Eingabe-Plugin.
  -style &lt;name&gt;              Der Widget-Stil, etwa fusion.
  -stylesheet &lt;file&gt;         Ein Stylesheet für das Fenster.
  -reverse                   Ordnet das Fenster von rechts nach links an.
  -qwindowgeometry &lt;geometry&gt;, -qwindowtitle &lt;title&gt;, -qwindowicon &lt;icon&gt;
  -session &lt;id&gt;, -widgetcount, -display &lt;display&gt; (X11), -nograb, -dograb
</translation>
    </message>
    <message>
        <source>Updates the firmware of a Tembra wrist device plugged in by USB.
Without options it opens its window; --check and --update run without one, and without a display.</source>
        <translation>Aktualisiert die Firmware eines per USB angeschlossenen Tembra-Armbandgeräts.
Ohne Optionen öffnet es sein Fenster; --check und --update laufen ohne Fenster und ohne Bildschirm.</translation>
    </message>
    <message>
        <source>Identify the device and ask the update service; download nothing.</source>
        <translation>Das Gerät erkennen und den Aktualisierungsdienst fragen; nichts herunterladen.</translation>
    </message>
    <message>
        <source>Identify, check, download, transfer, confirm, restart, identify again.</source>
        <translation>Erkennen, prüfen, herunterladen, übertragen, bestätigen, neu starten, erneut erkennen.</translation>
    </message>
    <message>
        <source>The update service&apos;s base URL (http or https).</source>
        <translation>Die Basis-URL des Aktualisierungsdienstes (http oder https).</translation>
    </message>
    <message>
        <source>The folder for settings, firmware and logs.</source>
        <translation>Der Ordner für Einstellungen, Firmware und Protokolle.</translation>
    </message>
    <message>
        <source>The whole run&apos;s limit, 1 to 86400 seconds (default 600).</source>
        <translation>Die Frist für den ganzen Lauf, 1 bis 86400 Sekunden (Vorgabe 600).</translation>
    </message>
    <message>
        <source>Print one JSON object per line on standard output, nothing else.</source>
        <translation>Ein JSON-Objekt pro Zeile auf die Standardausgabe schreiben, sonst nichts.</translation>
    </message>
    <message>
        <source>Print every log line on standard error, not only warnings and errors.</source>
        <translation>Jede Protokollzeile auf die Standardfehlerausgabe schreiben, nicht nur Warnungen und Fehler.</translation>
    </message>
    <message>
        <source>Update a device that already has the offered version (without it, the run ends as up to date and nothing is sent to the device).</source>
        <translation>Ein Gerät aktualisieren, das die angebotene Version schon hat (ohne diese Option endet der Lauf als aktuell, und nichts wird an das Gerät gesendet).</translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation>Unerwartetes Argument: %1</translation>
    </message>
    <message>
        <source>--check and --update exclude each other</source>
        <translation>--check und --update schließen einander aus</translation>
    </message>
    <message>
        <source>--timeout takes a whole number of seconds from 1 to %1</source>
        <translation>--timeout erwartet eine ganze Zahl von Sekunden von 1 bis %1</translation>
    </message>
    <message>
        <source>--json and --timeout go with --check or --update</source>
        <translation>--json und --timeout gehören zu --check oder --update</translation>
    </message>
    <message>
        <source>--port takes a path</source>
        <translation>--port erwartet einen Pfad</translation>
    </message>
    <message>
        <source>--service-url takes an http or https URL, not &quot;%1&quot;</source>
        <translation>--service-url erwartet eine http- oder https-URL, nicht „%1“</translation>
    </message>
    <message>
        <source>See --help.</source>
        <translation>Siehe --help.</translation>
    </message>
    <message>
        <source>Another instance of the tool is using %1; nothing was done.</source>
        <translation>Eine andere Instanz des Werkzeugs benutzt %1; es wurde nichts getan.</translation>
    </message>
    <message>
        <source>The device&apos;s port as a path, such as a link under /dev/serial/by-id/, instead of the search. Given several times, the devices are updated at once, each by a run of its own, with a summary at the end.</source>
        <translation>Der Anschluss des Geräts als Pfad, etwa eine Verknüpfung unter /dev/serial/by-id/, statt der Suche. Mehrfach angegeben, werden die Geräte gleichzeitig aktualisiert, jedes in einem eigenen Lauf, mit einer Zusammenfassung am Ende.</translation>
    </message>
    <message>
        <source>Every device port the search finds at the start, each by a run of its own.</source>
        <translation>Jeder Geräteanschluss, den die Suche zu Beginn findet, jeder in einem eigenen Lauf.</translation>
    </message>
    <message>
        <source>Refuse a firmware image whose SHA-256 differs (exit code 6), before anything is sent to a device.</source>
        <translation>Ein Firmware-Abbild mit anderem SHA-256 ablehnen (Rückgabewert 6), bevor etwas an ein Gerät gesendet wird.</translation>
    </message>
    <message>
        <source>--all and --port exclude each other</source>
        <translation>--all und --port schließen einander aus</translation>
    </message>
    <message>
        <source>--all, a repeated --port and --expect-sha256 go with --check or --update</source>
        <translation>--all, ein wiederholtes --port und --expect-sha256 gehören zu --check oder --update</translation>
    </message>
    <message>
        <source>--expect-sha256 takes %1 hexadecimal digits</source>
        <translation>--expect-sha256 erwartet %1 Hexadezimalziffern</translation>
    </message>
    <message>
        <source>Exit codes:
  0   updated, or up to date (--check)
  10  an update is offered (--check)
  2   bad arguments
  3   no device found within the limit
  4   the port cannot be opened (busy, permission)
  5   update service failure
  6   download or checksum failure
  7   the device stopped answering, or the limit was reached later
  8   another instance holds the data folder, or another run the device
  9   several devices: at least one of them failed (see the summary)
  130 stopped by SIGINT, SIGTERM or SIGHUP before the end
</source>
        <translation>Rückgabewerte:
  0   aktualisiert, oder aktuell (--check)
  10  eine Aktualisierung wird angeboten (--check)
  2   ungültige Argumente
  3   kein Gerät innerhalb der Frist gefunden
  4   der Anschluss lässt sich nicht öffnen (belegt, keine Berechtigung)
  5   Fehler des Aktualisierungsdienstes
  6   Fehler beim Herunterladen oder bei der Prüfsumme
  7   das Gerät antwortet nicht mehr, oder die Frist lief später ab
  8   eine andere Instanz benutzt den Datenordner, oder ein anderer Lauf das Gerät
  9   mehrere Geräte: mindestens eines ist gescheitert (siehe die Zusammenfassung)
  130 durch SIGINT, SIGTERM oder SIGHUP vor dem Ende beendet
</translation>
    </message>
    <message>
        <source>With --update: install this firmware file instead of the update service&apos;s (no version check, no download).</source>
        <translation>Mit --update: diese Firmware-Datei statt der des Update-Dienstes installieren (ohne Versionsprüfung, ohne Download).</translation>
    </message>
    <message>
        <source>--firmware installs a file: it goes with --update, not with --check</source>
        <translation>--firmware installiert eine Datei: es gehört zu --update, nicht zu --check</translation>
    </message>
    <message>
        <source>--firmware takes a file and goes with --update</source>
        <translation>--firmware erwartet eine Datei und gehört zu --update</translation>
    </message>
    <message>
        <source>Print the update history: what was updated, when, to what, from which file (newest last). No device and no network are needed.</source>
        <translation>Den Aktualisierungsverlauf ausgeben: was wann worauf aus welcher Datei aktualisiert wurde (das Neueste zuletzt). Weder ein Gerät noch ein Netz ist nötig.</translation>
    </message>
    <message>
        <source>With --history: the newest N records (default 50).</source>
        <translation>Mit --history: die neuesten N Einträge (Vorgabe 50).</translation>
    </message>
    <message>
        <source>With --history: print CSV, for a spreadsheet.</source>
        <translation>Mit --history: CSV ausgeben, für eine Tabellenkalkulation.</translation>
    </message>
    <message>
        <source>With --history: only the records of this device (its USB serial number or its device number).</source>
        <translation>Mit --history: nur die Einträge dieses Geräts (seine USB-Seriennummer oder seine Gerätenummer).</translation>
    </message>
    <message>
        <source>--history reads what was done: it goes without --check and --update</source>
        <translation>--history liest, was getan wurde: es geht ohne --check und --update</translation>
    </message>
    <message>
        <source>--csv, --device and --history-limit go with --history</source>
        <translation>--csv, --device und --history-limit gehören zu --history</translation>
    </message>
    <message>
        <source>--csv and --json exclude each other</source>
        <translation>--csv und --json schließen einander aus</translation>
    </message>
    <message>
        <source>--history-limit takes a whole number from 1 to 1000000</source>
        <translation>--history-limit nimmt eine ganze Zahl von 1 bis 1000000</translation>
    </message>
    <message>
        <source>--device takes a serial number or a device number</source>
        <translation>--device nimmt eine Seriennummer oder eine Gerätenummer</translation>
    </message>
</context>
<context>
    <name>InitPage</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>null</source>
        <translation>null</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>D/N:</source>
        <translation>G/N:</translation>
    </message>
    <message>
        <source>1.Update Firmware</source>
        <translation>1.Firmware aktualisieren</translation>
    </message>
    <message>
        <source>2.Reset</source>
        <translation>2.Neu starten</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>D/N: %1</source>
        <translation>G/N: %1</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>Firmware: %1</translation>
    </message>
    <message>
        <source>Asks the update service for new firmware and sends it to the device (Alt+1)</source>
        <translation>Fragt den Aktualisierungsdienst nach neuer Firmware und sendet sie an das Gerät (Alt+1)</translation>
    </message>
    <message>
        <source>Restarts the device, after asking first (Alt+2)</source>
        <translation>Startet das Gerät neu, nach einer Rückfrage (Alt+2)</translation>
    </message>
    <message>
        <source>Firmware %1 is available</source>
        <translation>Firmware %1 ist verfügbar</translation>
    </message>
    <message>
        <source>Firmware %1 is available: %2</source>
        <translation>Firmware %1 ist verfügbar: %2</translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>Auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>The update service cannot be reached now</source>
        <translation>Der Aktualisierungsdienst ist gerade nicht erreichbar</translation>
    </message>
    <message>
        <source>Chosen file: %1 (1.Update Firmware installs it)</source>
        <translation>Gewählte Datei: %1 („1.Firmware aktualisieren“ installiert sie)</translation>
    </message>
    <message>
        <source>This is the device on %1; the other device is left alone</source>
        <translation>Dies ist das Gerät an %1; das andere Gerät bleibt unberührt</translation>
    </message>
    <message>
        <source>This is the device on %1; the %2 other devices are left alone</source>
        <translation>Dies ist das Gerät an %1; die %2 anderen Geräte bleiben unberührt</translation>
    </message>
    <message>
        <source>%1 (serial %2)</source>
        <translation>%1 (Seriennummer %2)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Halvoren</source>
        <translation>Halvoren</translation>
    </message>
    <message>
        <source>Tembra Update Tool V</source>
        <translation>Tembra Update Tool V</translation>
    </message>
    <message>
        <source>Tembra Update Tool is already running</source>
        <translation>Tembra Update Tool läuft bereits</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 lässt sich nicht öffnen: %2</translation>
    </message>
    <message>
        <source>The device was disconnected during the update. Plug it in again: the update continues by itself.</source>
        <translation>Das Gerät wurde während der Aktualisierung getrennt. Schließen Sie es wieder an: die Aktualisierung geht von selbst weiter.</translation>
    </message>
    <message>
        <source>The device stopped answering during the update. Unplug it and plug it in again: the update continues by itself.</source>
        <translation>Das Gerät antwortet während der Aktualisierung nicht mehr. Trennen Sie es und schließen Sie es wieder an: die Aktualisierung geht von selbst weiter.</translation>
    </message>
    <message>
        <source>The device reports a checksum that does not match the firmware. Unplug it and plug it in again to try once more.</source>
        <translation>Das Gerät meldet eine Prüfsumme, die nicht zur Firmware passt. Trennen Sie es und schließen Sie es wieder an, um es noch einmal zu versuchen.</translation>
    </message>
    <message>
        <source>Updated from %1 to %2</source>
        <translation>Von %1 auf %2 aktualisiert</translation>
    </message>
    <message>
        <source>Updated to %1</source>
        <translation>Auf %1 aktualisiert</translation>
    </message>
    <message>
        <source>Restarting the device...</source>
        <translation>Das Gerät wird neu gestartet …</translation>
    </message>
    <message>
        <source>The device restarted</source>
        <translation>Das Gerät wurde neu gestartet</translation>
    </message>
    <message>
        <source>Restart the device?</source>
        <translation>Das Gerät neu starten?</translation>
    </message>
    <message>
        <source>The device restarts, and is identified again once it answers.</source>
        <translation>Das Gerät startet neu und wird erneut erkannt, sobald es antwortet.</translation>
    </message>
    <message>
        <source>Close the update tool?</source>
        <translation>Das Aktualisierungswerkzeug schließen?</translation>
    </message>
    <message>
        <source>The device is in the middle of its update. It stays in its boot loader until it is updated; the tool will finish the update the next time it finds it.

Close the tool now?</source>
        <translation>Das Gerät ist mitten in seiner Aktualisierung. Es bleibt in seinem Bootloader, bis es aktualisiert ist; das Werkzeug beendet die Aktualisierung, wenn es das Gerät das nächste Mal findet.

Das Werkzeug jetzt schließen?</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Keep Updating</source>
        <translation>Weiter aktualisieren</translation>
    </message>
    <message>
        <source> firmware processing   %2/%1 KB</source>
        <translation> Firmware wird übertragen   %2/%1 KB</translation>
    </message>
    <message>
        <source> firmware processing    %1/%2 KB</source>
        <translation> Firmware wird übertragen    %1/%2 KB</translation>
    </message>
    <message>
        <source>Update Successfully</source>
        <translation>Aktualisierung erfolgreich</translation>
    </message>
    <message>
        <source>Firmware Update Successfully</source>
        <translation>Firmware erfolgreich aktualisiert</translation>
    </message>
    <message>
        <source>The device was disconnected before its update began. Plug it in again: the update starts again by itself.</source>
        <translation>Das Gerät wurde getrennt, bevor seine Aktualisierung begann. Schließen Sie es wieder an: Die Aktualisierung beginnt von selbst neu.</translation>
    </message>
    <message>
        <source>The device confirmed its new firmware but did not come back within %1 s. Unplug it and plug it in again.</source>
        <translation>Das Gerät hat seine neue Firmware bestätigt, ist aber nicht innerhalb von %1 s zurückgekehrt. Trennen Sie es und schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>Another run of the tool, %2, is using the device on %1</source>
        <translation>Ein anderer Lauf des Programms, %2, benutzt das Gerät an %1</translation>
    </message>
    <message>
        <source>Connecting to the device on %1…</source>
        <translation>Verbindung mit dem Gerät an %1 …</translation>
    </message>
    <message>
        <source>The device on %1 does not answer. Unplug it and plug it in again.</source>
        <translation>Das Gerät an %1 antwortet nicht. Trennen Sie es und schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>The device confirmed its new firmware and did not come back within %1 s</source>
        <translation>Das Gerät hat seine neue Firmware bestätigt und ist nicht innerhalb von %1 s zurückgekehrt</translation>
    </message>
    <message>
        <source>The device stopped answering during the update</source>
        <translation>Das Gerät antwortet während der Aktualisierung nicht mehr</translation>
    </message>
    <message>
        <source>Unplug the device and plug it in again.</source>
        <translation>Trennen Sie das Gerät und schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>%1: %2. %3</source>
        <translation>%1: %2. %3</translation>
    </message>
    <message>
        <source>The device reports a checksum that does not match the firmware</source>
        <translation>Das Gerät meldet eine Prüfsumme, die nicht zur Firmware passt</translation>
    </message>
    <message>
        <source>Choose a firmware file</source>
        <translation>Firmware-Datei wählen</translation>
    </message>
    <message>
        <source>Firmware files (*.bin)</source>
        <translation>Firmware-Dateien (*.bin)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Install this file?</source>
        <translation>Diese Datei installieren?</translation>
    </message>
    <message>
        <source>Install %1 (%2 KB, sha256 %3…) on the device (now %4)?</source>
        <translation>%1 (%2 KB, sha256 %3…) auf dem Gerät installieren (jetzt %4)?</translation>
    </message>
    <message>
        <source>Choose another file.</source>
        <translation>Wählen Sie eine andere Datei.</translation>
    </message>
    <message>
        <source>Last updated %1 from %2 to %3</source>
        <translation>Zuletzt aktualisiert am %1 von %2 auf %3</translation>
    </message>
    <message>
        <source>Last updated %1 to %2</source>
        <translation>Zuletzt aktualisiert am %1 auf %2</translation>
    </message>
    <message>
        <source>Open the log folder</source>
        <translation>Protokollordner öffnen</translation>
    </message>
    <message>
        <source>Copy details</source>
        <translation>Details kopieren</translation>
    </message>
    <message>
        <source>Another device (%1) is on that port; the device being updated (%2) has not come back.</source>
        <translation>An diesem Anschluss ist ein anderes Gerät (%1); das Gerät, das aktualisiert wird (%2), ist nicht zurückgekommen.</translation>
    </message>
    <message>
        <source>The device that came back (%1) is not the one that was updated (%2)</source>
        <translation>Das zurückgekommene Gerät (%1) ist nicht das aktualisierte (%2)</translation>
    </message>
    <message>
        <source>Plug in the device that was updated to see which firmware it runs.</source>
        <translation>Schließen Sie das aktualisierte Gerät an, um zu sehen, welche Firmware es hat.</translation>
    </message>
    <message>
        <source>The device restarted with its new firmware, but %1 stayed busy for %2 s: %3</source>
        <translation>Das Gerät ist mit seiner neuen Firmware neu gestartet, aber %1 blieb %2 s lang belegt: %3</translation>
    </message>
    <message>
        <source>Close the program that holds the port, then unplug the device and plug it in again.</source>
        <translation>Beenden Sie das Programm, das den Anschluss belegt, ziehen Sie dann das Gerät ab und schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>Install %1 (%2 KB, sha256 %3…) on the device? It is in its boot loader: its version is not known.</source>
        <translation>%1 (%2 KB, sha256 %3…) auf dem Gerät installieren? Es ist in seinem Bootloader: seine Version ist nicht bekannt.</translation>
    </message>
    <message>
        <source>Details: Ctrl+L</source>
        <translation>Details: Strg+L</translation>
    </message>
    <message>
        <source>There is no log file of this run to show.</source>
        <translation>Zu diesem Lauf gibt es keine Protokolldatei, die gezeigt werden kann.</translation>
    </message>
</context>
<context>
    <name>NoDevice</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Please plug in your device</source>
        <translation>Bitte schließen Sie Ihr Gerät an</translation>
    </message>
    <message>
        <source>Processing</source>
        <translation>In Arbeit</translation>
    </message>
</context>
<context>
    <name>Platform</name>
    <message>
        <source>Device or resource busy (in use by %1, process %2)</source>
        <translation>Gerät oder Ressource belegt (benutzt von %1, Prozess %2)</translation>
    </message>
    <message>
        <source>another program</source>
        <translation>einem anderen Programm</translation>
    </message>
</context>
<context>
    <name>ProgressPanel</name>
    <message>
        <source>Asking the update service</source>
        <translation>Der Aktualisierungsdienst wird gefragt</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Switching the device to its boot loader</source>
        <translation>Das Gerät wechselt in seinen Bootloader</translation>
    </message>
    <message>
        <source>Sending to the device</source>
        <translation>Senden an das Gerät</translation>
    </message>
    <message>
        <source>Device checking the firmware</source>
        <translation>Das Gerät prüft die Firmware</translation>
    </message>
    <message>
        <source>Waiting for the device</source>
        <translation>Warten auf das Gerät</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Keep the device plugged in</source>
        <translation>Lassen Sie das Gerät angeschlossen</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>noch etwa %1 s</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>noch etwa %1 min</translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation>%1 – %2</translation>
    </message>
    <message>
        <source>Downloading %1</source>
        <translation>%1 wird heruntergeladen</translation>
    </message>
    <message>
        <source>What the release brings</source>
        <translation>Was die Version bringt</translation>
    </message>
    <message>
        <source>Restarting the device</source>
        <translation>Das Gerät startet neu</translation>
    </message>
    <message>
        <source>Downloading the firmware</source>
        <translation>Die Firmware wird heruntergeladen</translation>
    </message>
    <message>
        <source>Sending the firmware</source>
        <translation>Die Firmware wird gesendet</translation>
    </message>
</context>
<context>
    <name>XModemUpdate</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>动画</source>
        <translation>Animation</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>wait for update firmware..</source>
        <translation>Warten auf die Firmware ..</translation>
    </message>
    <message>
        <source>downloading firmware....</source>
        <translation>Firmware wird heruntergeladen ....</translation>
    </message>
    <message>
        <source> downloading firmware  </source>
        <translation> Firmware wird heruntergeladen  </translation>
    </message>
    <message>
        <source>wait for update firmware...</source>
        <translation>Warten auf die Aktualisierung ...</translation>
    </message>
    <message>
        <source>update file error</source>
        <translation>Fehler in der Aktualisierungsdatei</translation>
    </message>
    <message>
        <source>Cannot reach the update service: %1</source>
        <translation>Der Aktualisierungsdienst ist nicht erreichbar: %1</translation>
    </message>
    <message>
        <source>The update service answered %1</source>
        <translation>Der Aktualisierungsdienst antwortete %1</translation>
    </message>
    <message>
        <source>The update service did not answer for %1 s</source>
        <translation>Der Aktualisierungsdienst antwortete %1 s lang nicht</translation>
    </message>
    <message>
        <source>The update service sent an answer that cannot be read</source>
        <translation>Der Aktualisierungsdienst sandte eine Antwort, die sich nicht lesen lässt</translation>
    </message>
    <message>
        <source>The update service refused the request: %1</source>
        <translation>Der Aktualisierungsdienst lehnte die Anfrage ab: %1</translation>
    </message>
    <message>
        <source>Working</source>
        <translation>In Arbeit</translation>
    </message>
    <message>
        <source>The firmware file kept from before was left as it was.</source>
        <translation>Die bisher gespeicherte Firmware-Datei blieb unverändert.</translation>
    </message>
    <message>
        <source>Update again?</source>
        <translation>Erneut aktualisieren?</translation>
    </message>
    <message>
        <source>The device already has %1. Update it again?</source>
        <translation>Das Gerät hat bereits %1. Erneut aktualisieren?</translation>
    </message>
    <message>
        <source>The answer of the update service cannot be stored in %1</source>
        <translation>Die Antwort des Aktualisierungsdienstes lässt sich nicht in %1 speichern</translation>
    </message>
    <message>
        <source>The device is in its boot loader, and the update service offers no firmware for it</source>
        <translation>Das Gerät ist in seinem Bootloader, und der Aktualisierungsdienst bietet keine Firmware dafür an</translation>
    </message>
    <message>
        <source>Press 1.Update Firmware to try again.</source>
        <translation>Drücken Sie „1.Firmware aktualisieren“, um es noch einmal zu versuchen.</translation>
    </message>
    <message>
        <source>Check the network connection, then press 1.Update Firmware to try again.</source>
        <translation>Prüfen Sie die Netzwerkverbindung und drücken Sie dann „1.Firmware aktualisieren“.</translation>
    </message>
    <message>
        <source>Wait a while, then press 1.Update Firmware to try again.</source>
        <translation>Warten Sie eine Weile und drücken Sie dann „1.Firmware aktualisieren“.</translation>
    </message>
    <message>
        <source>Free space in that folder or let this user write there, then press 1.Update Firmware.</source>
        <translation>Schaffen Sie Platz in dem Ordner oder erlauben Sie diesem Benutzer das Schreiben dort, und drücken Sie dann „1.Firmware aktualisieren“.</translation>
    </message>
    <message>
        <source>Try again later, or ask support which firmware the device needs.</source>
        <translation>Versuchen Sie es später noch einmal, oder fragen Sie den Support, welche Firmware das Gerät braucht.</translation>
    </message>
    <message>
        <source>The chosen file cannot be kept in %1: %2</source>
        <translation>Die gewählte Datei kann nicht in %1 abgelegt werden: %2</translation>
    </message>
    <message>
        <source>The update service offers nothing for this device</source>
        <translation>Der Aktualisierungsdienst bietet für dieses Gerät nichts an</translation>
    </message>
    <message>
        <source>Your device is up to date (%1)</source>
        <translation>Ihr Gerät ist auf dem neuesten Stand (%1)</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CommandLine</name>
    <message>
        <source>warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>unknown command or wrong arguments: %1</source>
        <translation>unbekannter Befehl oder falsche Argumente: %1</translation>
    </message>
    <message>
        <source>%1: the certificate of %2 expires on %3, %4</source>
        <translation>%1: das Zertifikat von %2 läuft am %3 ab, %4</translation>
    </message>
    <message>
        <source>Hardware timestamp: %1</source>
        <translation>Hardware-Zeitstempel: %1</translation>
    </message>
    <message>
        <source>Software version:   %1</source>
        <translation>Software-Version:   %1</translation>
    </message>
    <message>
        <source>PID version:        %1</source>
        <translation>PID-Version:        %1</translation>
    </message>
    <message>
        <source>%1 (not given by the driver: a stand-in)</source>
        <translation>%1 (nicht vom Treiber geliefert: ein Platzhalter)</translation>
    </message>
    <message>
        <source>%1. %2  version %3  min HW %4  address %5  size %6</source>
        <translation>%1. %2  Version %3  min. HW %4  Adresse %5  Größe %6</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n images, %2, ready to update</source>
        <translation>
            <numerusform>%1: %n Abbild, %2, bereit zur Aktualisierung</numerusform>
            <numerusform>%1: %n Abbilder, %2, bereit zur Aktualisierung</numerusform>
        </translation>
    </message>
    <message>
        <source>image %1 (%2) at %3: %4</source>
        <translation>Abbild %1 (%2) bei %3: %4</translation>
    </message>
    <message>
        <source>equal</source>
        <translation>gleich</translation>
    </message>
    <message>
        <source>DIFFERS</source>
        <translation>ABWEICHEND</translation>
    </message>
    <message numerus="yes">
        <source>the flash does not hold %1: %2 of %n images differ</source>
        <translation>
            <numerusform>der Flash enthält %1 nicht: %2 von %n Abbild weicht ab</numerusform>
            <numerusform>der Flash enthält %1 nicht: %2 von %n Abbildern weichen ab</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>it is a link to nothing</source>
        <translation>es ist ein Verweis ins Leere</translation>
    </message>
    <message>
        <source>%1 is not a regular file: a backup is written only to a regular file</source>
        <translation>%1 ist keine reguläre Datei: Eine Sicherung wird nur in eine reguläre Datei geschrieben</translation>
    </message>
    <message>
        <source>%1 is the update file itself: the backup would replace it</source>
        <translation>%1 ist die Aktualisierungsdatei selbst: Die Sicherung würde sie ersetzen</translation>
    </message>
    <message>
        <source>%1 exists: give --force to replace it</source>
        <translation>%1 existiert: Zum Ersetzen --force angeben</translation>
    </message>
    <message numerus="yes">
        <source>Saved what the flash holds for %n images in %1</source>
        <translation>
            <numerusform>Inhalt des Flash für %n Abbild in %1 gesichert</numerusform>
            <numerusform>Inhalt des Flash für %n Abbilder in %1 gesichert</numerusform>
        </translation>
    </message>
    <message>
        <source>%1  [zarn-update resume finishes it]  [zarn-update restore undoes it]</source>
        <translation>%1  [zarn-update resume führt sie zu Ende]  [zarn-update restore macht sie rückgängig]</translation>
    </message>
    <message>
        <source>%1  [zarn-update resume finishes it]</source>
        <translation>%1  [zarn-update resume führt sie zu Ende]</translation>
    </message>
    <message>
        <source>%1  [zarn-update restore undoes it]</source>
        <translation>%1  [zarn-update restore macht sie rückgängig]</translation>
    </message>
    <message numerus="yes">
        <source>%1  %2  %3  %4  %n images  %5 s  %6</source>
        <translation>
            <numerusform>%1  %2  %3  %4  %n Abbild  %5 s  %6</numerusform>
            <numerusform>%1  %2  %3  %4  %n Abbilder  %5 s  %6</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Update the ZARN flash with these %n images?</source>
        <translation>
            <numerusform>Den ZARN-Flash mit diesem %n Abbild aktualisieren?</numerusform>
            <numerusform>Den ZARN-Flash mit diesen %n Abbildern aktualisieren?</numerusform>
        </translation>
    </message>
    <message>
        <source>not confirmed: give --yes to update without a question</source>
        <translation>nicht bestätigt: Für eine Aktualisierung ohne Rückfrage --yes angeben</translation>
    </message>
    <message>
        <source>not confirmed: nothing was changed</source>
        <translation>nicht bestätigt: Nichts wurde verändert</translation>
    </message>
    <message>
        <source>image %1 of %2 %3 | %4 %5% | total %6% | %7 elapsed, %8 left</source>
        <translation>Abbild %1 von %2 %3 | %4 %5% | gesamt %6% | %7 vergangen, %8 übrig</translation>
    </message>
    <message>
        <source>starting</source>
        <translation>Beginn</translation>
    </message>
    <message>
        <source>comparing</source>
        <translation>Vergleichen</translation>
    </message>
    <message>
        <source>erasing</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>writing</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>verifying</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>final check</source>
        <translation>Schlussprüfung</translation>
    </message>
    <message>
        <source>The update will not be recorded in the history: %1</source>
        <translation>Die Aktualisierung wird nicht im Verlauf vermerkt: %1</translation>
    </message>
    <message>
        <source>Pages: %1 skipped, %2 written (%3 without erasing), of %4</source>
        <translation>Seiten: %1 übersprungen, %2 geschrieben (%3 ohne Löschen), von %4</translation>
    </message>
    <message>
        <source>the update failed: %1. The ZARN system may not start: run the update again before restarting.</source>
        <translation>die Aktualisierung ist fehlgeschlagen: %1. Das ZARN-System startet möglicherweise nicht: Führen Sie die Aktualisierung vor dem Neustart erneut aus.</translation>
    </message>
    <message>
        <source>the update did not take place: %1. The flash memory was not changed.</source>
        <translation>die Aktualisierung hat nicht stattgefunden: %1. Der Flash-Speicher wurde nicht verändert.</translation>
    </message>
    <message>
        <source>Going on as asked (%1): %2</source>
        <translation>Fortgesetzt wie verlangt (%1): %2</translation>
    </message>
    <message>
        <source>Nothing to finish: the newest update, started %1 from %2, ended verified.</source>
        <translation>Nichts zu Ende zu führen: Die neueste Aktualisierung, am %1 aus %2 gestartet, endete geprüft.</translation>
    </message>
    <message>
        <source>The update started %1 from %2 cannot be finished: the journal kept no copy of it</source>
        <translation>Die am %1 aus %2 gestartete Aktualisierung kann nicht zu Ende geführt werden: Das Journal hat keine Kopie davon</translation>
    </message>
    <message>
        <source>Finishing the update started %1 by %2 from %3.</source>
        <translation>Die am %1 von %2 aus %3 gestartete Aktualisierung wird zu Ende geführt.</translation>
    </message>
    <message numerus="yes">
        <source>Finishing it would erase and write %n pages back as they were; nothing was changed.</source>
        <translation>
            <numerusform>Sie zu Ende zu führen, würde %n Seite löschen und wie zuvor zurückschreiben; nichts wurde verändert.</numerusform>
            <numerusform>Sie zu Ende zu führen, würde %n Seiten löschen und wie zuvor zurückschreiben; nichts wurde verändert.</numerusform>
        </translation>
    </message>
    <message>
        <source>Finish this update of the ZARN flash?</source>
        <translation>Diese Aktualisierung des ZARN-Flash zu Ende führen?</translation>
    </message>
    <message>
        <source>Only the newest update can be undone: %1 was followed by %2, started %3</source>
        <translation>Nur die neueste Aktualisierung kann rückgängig gemacht werden: Auf %1 folgte %2, gestartet am %3</translation>
    </message>
    <message>
        <source>The update started %1 from %2 cannot be undone: the journal kept no copy of what the flash held before it</source>
        <translation>Die am %1 aus %2 gestartete Aktualisierung kann nicht rückgängig gemacht werden: Das Journal hat keine Kopie dessen, was der Flash davor enthielt</translation>
    </message>
    <message numerus="yes">
        <source>Restoring what the flash held before the update started %1 by %2 from %3: %n pages.</source>
        <translation>
            <numerusform>Wiederherstellen, was der Flash vor der am %1 von %2 aus %3 gestarteten Aktualisierung enthielt: %n Seite.</numerusform>
            <numerusform>Wiederherstellen, was der Flash vor der am %1 von %2 aus %3 gestarteten Aktualisierung enthielt: %n Seiten.</numerusform>
        </translation>
    </message>
    <message>
        <source>Restore the previous contents of the ZARN flash?</source>
        <translation>Den vorherigen Inhalt des ZARN-Flash wiederherstellen?</translation>
    </message>
    <message>
        <source>%1. %2 at %3: %4 pages: %5 to erase and write, %6 to write without erasing, %7 left as they are</source>
        <translation>%1. %2 bei %3: %4 Seiten: %5 zu löschen und zu schreiben, %6 ohne Löschen zu schreiben, %7 bleiben, wie sie sind</translation>
    </message>
    <message>
        <source>An update would erase and write %1 of %2 pages, write %3 without erasing and leave %4 as they are; nothing was changed.</source>
        <translation>Eine Aktualisierung würde %1 von %2 Seiten löschen und schreiben, %3 ohne Löschen schreiben und %4 lassen, wie sie sind; nichts wurde verändert.</translation>
    </message>
    <message>
        <source>No earlier update on this system gives the device&apos;s speed to estimate the time.</source>
        <translation>Keine frühere Aktualisierung auf diesem System liefert die Geschwindigkeit des Geräts, um die Zeit zu schätzen.</translation>
    </message>
    <message>
        <source>It would take about %1 s of device time, at the speed of the update of %2.</source>
        <translation>Es würde etwa %1 s Gerätezeit dauern, bei der Geschwindigkeit der Aktualisierung vom %2.</translation>
    </message>
    <message>
        <source>Certificate %1</source>
        <translation>Zertifikat %1</translation>
    </message>
    <message>
        <source>  subject       %1</source>
        <translation>  Inhaber       %1</translation>
    </message>
    <message>
        <source>  issuer        %1 (not installed)</source>
        <translation>  Aussteller    %1 (nicht installiert)</translation>
    </message>
    <message>
        <source>  issuer        %1 (installed, its signature verifies)</source>
        <translation>  Aussteller    %1 (installiert, ihre Signatur ist gültig)</translation>
    </message>
    <message>
        <source>  issuer        %1 (installed, but the signature does not verify)</source>
        <translation>  Aussteller    %1 (installiert, aber die Signatur ist ungültig)</translation>
    </message>
    <message>
        <source>  issuer        %1</source>
        <translation>  Aussteller    %1</translation>
    </message>
    <message>
        <source>  serial        %1</source>
        <translation>  Seriennummer  %1</translation>
    </message>
    <message>
        <source>  valid         %1</source>
        <translation>  gültig        %1</translation>
    </message>
    <message>
        <source>%1 to %2, expired %3 days ago</source>
        <translation>%1 bis %2, seit %3 Tagen abgelaufen</translation>
    </message>
    <message>
        <source>%1 to %2, %3 days left</source>
        <translation>%1 bis %2, noch %3 Tage</translation>
    </message>
    <message>
        <source>  code signing  %1</source>
        <translation>  Codesignatur  %1</translation>
    </message>
    <message>
        <source>  authority     %1</source>
        <translation>  Zertifizierungsstelle  %1</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>no</source>
        <translation>nein</translation>
    </message>
    <message>
        <source>Revocation list %1</source>
        <translation>Sperrliste %1</translation>
    </message>
    <message>
        <source>  updated       %1, next update %2 (passed; still used)</source>
        <translation>  aktualisiert  %1, nächste Aktualisierung %2 (verstrichen; wird weiter verwendet)</translation>
    </message>
    <message>
        <source>  updated       %1, next update %2</source>
        <translation>  aktualisiert  %1, nächste Aktualisierung %2</translation>
    </message>
    <message>
        <source>  updated       %1, no next update given</source>
        <translation>  aktualisiert  %1, keine nächste Aktualisierung angegeben</translation>
    </message>
    <message numerus="yes">
        <source>  revoked       %n certificates</source>
        <translation>
            <numerusform>  widerrufen    %n Zertifikat</numerusform>
            <numerusform>  widerrufen    %n Zertifikate</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>  revoked       %n certificate</source>
        <translation>
            <numerusform>  widerrufen    %n Zertifikat</numerusform>
            <numerusform>  widerrufen    %n Zertifikate</numerusform>
        </translation>
    </message>
    <message>
        <source>  refuses       every update file: %1</source>
        <translation>  lehnt ab      jede Aktualisierungsdatei: %1</translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation>%1 existiert nicht</translation>
    </message>
    <message>
        <source>No trusted certificate in %1: unsigned update files are accepted</source>
        <translation>Kein vertrauenswürdiges Zertifikat in %1: Unsignierte Aktualisierungsdateien werden angenommen</translation>
    </message>
    <message>
        <source>Usage: zarn-update [--json] COMMAND [ARGUMENTS]
       zarn-update --help | --version

  versions              the versions installed on the ZARN system
  info FILE             the images of an update file
  check FILE            check an update file as an update would, without the flash
  update FILE [--yes] [--only-changed] [--dry-run] [--allow-older-hardware] [--allow-downgrade]
              [--ignore-power] [--no-recovery-copy]
                        update the flash from FILE (asks first on a terminal); --only-changed
                        writes only the pages that do not hold FILE&apos;s bytes already; --dry-run
                        makes every check and shows the pages it would erase and write, without
                        touching the flash
  verify FILE           compare the flash with FILE&apos;s images, without writing
  backup FILE OUT [--force]
                        save what the flash holds where FILE&apos;s images go, as an update file;
                        an existing OUT is replaced only with --force, never FILE itself
  history               the updates made on this system, and which can be resumed or restored
  resume [--yes] [--dry-run]
                        finish the newest update that did not end verified, from the copy the
                        journal kept of it
  restore [ID] [--yes]  write back what the flash held before the newest update
  trust [FOLDER...]     the certificates and revocation lists of the trusted folders

check and update refuse an image that needs newer hardware than this system has, unless given
--allow-older-hardware, and an image older than the one last written and verified at its address
under its name, unless given --allow-downgrade; update refuses to start on a battery below the
site&apos;s minimum charge (30 %, or [power] minimum-battery-percent in
/etc/zarn-update-utility/update.conf), unless given --ignore-power. The history is the system&apos;s
journal in /var/lib/zarn-update-utility (or ZARN_JOURNAL_DIR), or the user&apos;s own where that
cannot be written.

--json writes one JSON object a line. Exit statuses: 0 success, 1 update failed, 2 usage,
3 refused file, 4 refused signature, 5 no device or permission, 6 busy, 7 verification
failed, 8 completed after a signal asked to stop, 9 not confirmed. See zarn-update(1).
</source>
        <translation>Aufruf: zarn-update [--json] BEFEHL [ARGUMENTE]
       zarn-update --help | --version

  versions              die auf dem ZARN-System installierten Versionen
  info DATEI            die Abbilder einer Aktualisierungsdatei
  check DATEI           eine Aktualisierungsdatei prüfen wie eine Aktualisierung, ohne den Flash
  update DATEI [--yes] [--only-changed] [--dry-run] [--allow-older-hardware] [--allow-downgrade]
              [--ignore-power] [--no-recovery-copy]
                        den Flash aus DATEI aktualisieren (fragt zuerst an einem Terminal);
                        --only-changed schreibt nur die Seiten, die die Bytes von DATEI noch
                        nicht enthalten; --dry-run macht jede Prüfung und zeigt die Seiten, die
                        gelöscht und geschrieben würden, ohne den Flash zu berühren
  verify DATEI          den Flash mit den Abbildern von DATEI vergleichen, ohne zu schreiben
  backup DATEI AUS [--force]
                        sichern, was der Flash dort enthält, wohin die Abbilder von DATEI gehen,
                        als Aktualisierungsdatei; eine vorhandene AUS wird nur mit --force
                        ersetzt, DATEI selbst nie
  history               die auf diesem System gemachten Aktualisierungen, und welche fortgesetzt
                        oder rückgängig gemacht werden können
  resume [--yes] [--dry-run]
                        die neueste Aktualisierung, die nicht geprüft endete, aus der Kopie im
                        Journal zu Ende führen
  restore [ID] [--yes]  zurückschreiben, was der Flash vor der neuesten Aktualisierung enthielt
  trust [ORDNER...]     die Zertifikate und Sperrlisten der vertrauenswürdigen Ordner

check und update lehnen ein Abbild ab, das neuere Hardware braucht, als dieses System hat, außer
mit --allow-older-hardware, und ein Abbild, das älter ist als das zuletzt an seiner Adresse unter
seinem Namen geschriebene und geprüfte, außer mit --allow-downgrade; update beginnt nicht mit einem
Akku unter der Mindestladung des Standorts (30 %, oder [power] minimum-battery-percent in
/etc/zarn-update-utility/update.conf), außer mit --ignore-power. Der Verlauf ist das Journal des
Systems in /var/lib/zarn-update-utility (oder ZARN_JOURNAL_DIR), oder das eigene des Benutzers,
wo dieses nicht geschrieben werden kann.

--json schreibt ein JSON-Objekt je Zeile. Rückgabewerte: 0 Erfolg, 1 Aktualisierung
fehlgeschlagen, 2 Aufruf, 3 Datei abgelehnt, 4 Signatur abgelehnt, 5 kein Gerät oder keine
Berechtigung, 6 belegt, 7 Prüfung fehlgeschlagen, 8 nach einem Signal zum Anhalten abgeschlossen,
9 nicht bestätigt. Siehe zarn-update(1).
</translation>
    </message>
    <message>
        <source>the update failed: %1 (%2). The ZARN system may not start: run the update again before restarting.</source>
        <translation>die Aktualisierung ist fehlgeschlagen: %1 (%2). Das ZARN-System startet möglicherweise nicht: Führen Sie die Aktualisierung vor dem Neustart erneut aus.</translation>
    </message>
    <message>
        <source>the update did not take place: %1 (%2). The flash memory was not changed.</source>
        <translation>die Aktualisierung hat nicht stattgefunden: %1 (%2). Der Flash-Speicher wurde nicht verändert.</translation>
    </message>
</context>
<context>
    <name>ImageInfoDialog</name>
    <message>
        <source>Image info</source>
        <translation>Abbildinformationen</translation>
    </message>
    <message>
        <source>Filename: </source>
        <translation>Dateiname: </translation>
    </message>
    <message>
        <source>Images</source>
        <translation>Abbilder</translation>
    </message>
</context>
<context>
    <name>ImageItem</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Min HW:</source>
        <translation>Min. HW:</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Adresse:</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>Größe:</translation>
    </message>
</context>
<context>
    <name>Line</name>
    <message>
        <source>the device moved no data</source>
        <translation>das Gerät hat keine Daten übertragen</translation>
    </message>
    <message>
        <source>%1: the user must be a member of the group zarn and log in again</source>
        <translation>%1: der Benutzer muss Mitglied der Gruppe zarn sein und sich neu anmelden</translation>
    </message>
    <message>
        <source>Error seeking Flash memory at 0x%1: %2</source>
        <translation>Fehler beim Positionieren im Flash-Speicher bei 0x%1: %2</translation>
    </message>
    <message>
        <source>Error reading Flash memory at 0x%1: %2</source>
        <translation>Fehler beim Lesen des Flash-Speichers bei 0x%1: %2</translation>
    </message>
    <message>
        <source>Error writing Flash memory at 0x%1: %2</source>
        <translation>Fehler beim Schreiben des Flash-Speichers bei 0x%1: %2</translation>
    </message>
    <message>
        <source>Error erasing Flash memory at 0x%1: %2</source>
        <translation>Fehler beim Löschen des Flash-Speichers bei 0x%1: %2</translation>
    </message>
    <message>
        <source>Error locking %1: %2</source>
        <translation>Fehler beim Sperren von %1: %2</translation>
    </message>
    <message>
        <source>Error unlocking Flash memory.</source>
        <translation>Fehler beim Entsperren des Flash-Speichers.</translation>
    </message>
    <message>
        <source>The ZARN flash is being verified by zarn-update verify (process %1).</source>
        <translation>Der ZARN-Flash wird gerade von zarn-update verify geprüft (Prozess %1).</translation>
    </message>
    <message>
        <source>The ZARN flash is being verified by zarn-update verify.</source>
        <translation>Der ZARN-Flash wird gerade von zarn-update verify geprüft.</translation>
    </message>
    <message>
        <source>The ZARN flash is being read by zarn-update backup (process %1).</source>
        <translation>Der ZARN-Flash wird gerade von zarn-update backup gelesen (Prozess %1).</translation>
    </message>
    <message>
        <source>The ZARN flash is being read by zarn-update backup.</source>
        <translation>Der ZARN-Flash wird gerade von zarn-update backup gelesen.</translation>
    </message>
    <message>
        <source>Another update of the ZARN flash is under way (process %1).</source>
        <translation>Eine andere Aktualisierung des ZARN-Flash läuft gerade (Prozess %1).</translation>
    </message>
    <message>
        <source>Another update of the ZARN flash is under way.</source>
        <translation>Eine andere Aktualisierung des ZARN-Flash läuft gerade.</translation>
    </message>
    <message>
        <source>Error in %1: %2</source>
        <translation>Fehler in %1: %2</translation>
    </message>
    <message>
        <source>Error opening %1: %2</source>
        <translation>Fehler beim Öffnen von %1: %2</translation>
    </message>
    <message>
        <source>Error opening %1</source>
        <translation>Fehler beim Öffnen von %1</translation>
    </message>
    <message>
        <source>the file is 4 GiB or larger</source>
        <translation>die Datei ist 4 GiB groß oder größer</translation>
    </message>
    <message>
        <source>no image found</source>
        <translation>kein Abbild gefunden</translation>
    </message>
    <message>
        <source>image header cut short at 0x%1</source>
        <translation>Abbildkopf bei 0x%1 abgeschnitten</translation>
    </message>
    <message>
        <source>%1 is larger than 32 MiB, size 0x%2</source>
        <translation>%1 ist größer als 32 MiB, Größe 0x%2</translation>
    </message>
    <message>
        <source>%1 at 0x%2 runs past the last flash address 0xffffffff</source>
        <translation>%1 bei 0x%2 reicht über die letzte Flash-Adresse 0xffffffff hinaus</translation>
    </message>
    <message>
        <source>%1 is shorter than its header, size 0x%2</source>
        <translation>%1 ist kürzer als sein Kopf, Größe 0x%2</translation>
    </message>
    <message>
        <source>%1 at 0x%2 would erase %3 at 0x%4</source>
        <translation>%1 bei 0x%2 würde %3 bei 0x%4 löschen</translation>
    </message>
    <message>
        <source>image %1 (%2)</source>
        <translation>Abbild %1 (%2)</translation>
    </message>
    <message>
        <source>image %1</source>
        <translation>Abbild %1</translation>
    </message>
    <message>
        <source>checksum file %1 is not in the format sha256sum writes</source>
        <translation>die Prüfsummendatei %1 hat nicht das Format, das sha256sum schreibt</translation>
    </message>
    <message>
        <source>checksum file %1 holds no checksum of %2</source>
        <translation>die Prüfsummendatei %1 enthält keine Prüfsumme von %2</translation>
    </message>
    <message>
        <source>checksum file %1 cannot be read</source>
        <translation>die Prüfsummendatei %1 kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>signature %1 is not a CMS signature</source>
        <translation>die Signatur %1 ist keine CMS-Signatur</translation>
    </message>
    <message>
        <source>signature %1 carries a content of its own instead of signing the file</source>
        <translation>die Signatur %1 trägt einen eigenen Inhalt, statt die Datei zu signieren</translation>
    </message>
    <message>
        <source>signature %1 cannot be checked: no trusted certificate is installed</source>
        <translation>die Signatur %1 kann nicht geprüft werden: kein vertrauenswürdiges Zertifikat ist installiert</translation>
    </message>
    <message>
        <source>signature %1 does not carry its signer&apos;s certificate</source>
        <translation>die Signatur %1 enthält das Zertifikat ihres Unterzeichners nicht</translation>
    </message>
    <message>
        <source>signature %1 does not match the file</source>
        <translation>die Signatur %1 passt nicht zur Datei</translation>
    </message>
    <message>
        <source>signature %1 names no signer</source>
        <translation>die Signatur %1 nennt keinen Unterzeichner</translation>
    </message>
    <message>
        <source>signature %1 cannot be read</source>
        <translation>die Signatur %1 kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>its bytes cannot be read again</source>
        <translation>ihre Bytes können nicht erneut gelesen werden</translation>
    </message>
    <message>
        <source>its SHA-256 checksum differs from the one in %1</source>
        <translation>ihre SHA-256-Prüfsumme weicht von der in %1 ab</translation>
    </message>
    <message>
        <source>not signed, and only files signed by a trusted certificate are accepted</source>
        <translation>nicht signiert, und nur von einem vertrauenswürdigen Zertifikat signierte Dateien werden angenommen</translation>
    </message>
    <message>
        <source>Signed by %1</source>
        <translation>Signiert von %1</translation>
    </message>
    <message>
        <source>Checksum verified</source>
        <translation>Prüfsumme bestätigt</translation>
    </message>
    <message>
        <source>Not signed</source>
        <translation>Nicht signiert</translation>
    </message>
    <message>
        <source>signed by %1, whom no trusted certificate vouches for</source>
        <translation>signiert von %1, für den kein vertrauenswürdiges Zertifikat bürgt</translation>
    </message>
    <message>
        <source>the certificate of %1 (serial %2) was revoked on %3: %4</source>
        <translation>das Zertifikat von %1 (Seriennummer %2) wurde am %3 widerrufen: %4</translation>
    </message>
    <message>
        <source>the certificate of %1 expires on %2, %3</source>
        <translation>das Zertifikat von %1 läuft am %2 ab, %3</translation>
    </message>
    <message>
        <source>today</source>
        <translation>heute</translation>
    </message>
    <message>
        <source>in 1 day</source>
        <translation>in 1 Tag</translation>
    </message>
    <message numerus="yes">
        <source>in %n days</source>
        <translation>
            <numerusform>in %n Tag</numerusform>
            <numerusform>in %n Tagen</numerusform>
        </translation>
    </message>
    <message>
        <source>the certificate of %1 cannot be checked</source>
        <translation>das Zertifikat von %1 kann nicht geprüft werden</translation>
    </message>
    <message>
        <source>the certificate of %1 expired on %2</source>
        <translation>das Zertifikat von %1 ist am %2 abgelaufen</translation>
    </message>
    <message>
        <source>the certificate of %1 is not valid before %2</source>
        <translation>das Zertifikat von %1 ist erst ab %2 gültig</translation>
    </message>
    <message>
        <source>the certificate of %1 cannot be verified: %2</source>
        <translation>das Zertifikat von %1 kann nicht bestätigt werden: %2</translation>
    </message>
    <message>
        <source>the certificate of %1 is not for code signing</source>
        <translation>das Zertifikat von %1 ist nicht zur Codesignierung bestimmt</translation>
    </message>
    <message>
        <source>a signer without a name</source>
        <translation>ein Unterzeichner ohne Namen</translation>
    </message>
    <message>
        <source>an unreadable date</source>
        <translation>ein unlesbares Datum</translation>
    </message>
    <message>
        <source>%1 bytes, more than the %2 a revocation list may have</source>
        <translation>%1 Byte, mehr als die %2, die eine Sperrliste haben darf</translation>
    </message>
    <message>
        <source>%1 bytes, more than the %2 a trusted certificate file may have</source>
        <translation>%1 Byte, mehr als die %2, die eine Datei vertrauenswürdiger Zertifikate haben darf</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>Error reading trusted certificate %1: %2</source>
        <translation>Fehler beim Lesen des vertrauenswürdigen Zertifikats %1: %2</translation>
    </message>
    <message>
        <source>Error reading trusted certificate %1</source>
        <translation>Fehler beim Lesen des vertrauenswürdigen Zertifikats %1</translation>
    </message>
    <message>
        <source>Error reading revocation list %1: %2</source>
        <translation>Fehler beim Lesen der Sperrliste %1: %2</translation>
    </message>
    <message>
        <source>Error reading revocation list %1</source>
        <translation>Fehler beim Lesen der Sperrliste %1</translation>
    </message>
    <message>
        <source>Error preparing the trusted certificates</source>
        <translation>Fehler beim Vorbereiten der vertrauenswürdigen Zertifikate</translation>
    </message>
    <message>
        <source>Error reading the trusted certificates in %1: %2</source>
        <translation>Fehler beim Lesen der vertrauenswürdigen Zertifikate in %1: %2</translation>
    </message>
    <message>
        <source>Error checking revocation list %1: %2</source>
        <translation>Fehler beim Prüfen der Sperrliste %1: %2</translation>
    </message>
    <message>
        <source>the revocation list %1 cannot be checked: no trusted certificate of its issuer, %2, is installed</source>
        <translation>die Sperrliste %1 kann nicht geprüft werden: kein vertrauenswürdiges Zertifikat ihres Ausstellers %2 ist installiert</translation>
    </message>
    <message>
        <source>the revocation list %1 cannot be used for the certificate of %2: %3</source>
        <translation>die Sperrliste %1 kann nicht für das Zertifikat von %2 verwendet werden: %3</translation>
    </message>
    <message>
        <source>no reason given</source>
        <translation>kein Grund angegeben</translation>
    </message>
    <message>
        <source>reason %1</source>
        <translation>Grund %1</translation>
    </message>
    <message>
        <source>an unreadable one</source>
        <translation>ein unlesbarer</translation>
    </message>
    <message>
        <source>its dates cannot be read</source>
        <translation>ihre Daten können nicht gelesen werden</translation>
    </message>
    <message>
        <source>it holds only the changes since another list (a delta list)</source>
        <translation>sie enthält nur die Änderungen seit einer anderen Liste (eine Delta-Liste)</translation>
    </message>
    <message>
        <source>its scope cannot be read</source>
        <translation>ihr Geltungsbereich kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>it covers only some of its issuer&apos;s certificates</source>
        <translation>sie deckt nur einige Zertifikate ihres Ausstellers ab</translation>
    </message>
    <message>
        <source>it holds a critical extension that cannot be applied, %1</source>
        <translation>sie enthält eine kritische Erweiterung, die nicht angewendet werden kann, %1</translation>
    </message>
    <message>
        <source>an entry holds a critical extension that cannot be applied, %1</source>
        <translation>ein Eintrag enthält eine kritische Erweiterung, die nicht angewendet werden kann, %1</translation>
    </message>
    <message>
        <source>it cannot be read</source>
        <translation>sie kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>its signature does not verify with the trusted certificate of its issuer, %1</source>
        <translation>ihre Signatur lässt sich mit dem vertrauenswürdigen Zertifikat ihres Ausstellers %1 nicht bestätigen</translation>
    </message>
    <message>
        <source>the trusted certificate of its issuer, %1, is not for signing revocation lists</source>
        <translation>das vertrauenswürdige Zertifikat ihres Ausstellers %1 ist nicht zum Signieren von Sperrlisten bestimmt</translation>
    </message>
    <message>
        <source>its signature does not verify with the certificate of its issuer</source>
        <translation>ihre Signatur lässt sich mit dem Zertifikat ihres Ausstellers nicht bestätigen</translation>
    </message>
    <message>
        <source>the certificate of its issuer is not for signing revocation lists</source>
        <translation>das Zertifikat ihres Ausstellers ist nicht zum Signieren von Sperrlisten bestimmt</translation>
    </message>
    <message>
        <source>The system&apos;s journal %1 cannot be written (%2): the history is kept in %3, for this user only.</source>
        <translation>Das Journal des Systems %1 kann nicht geschrieben werden (%2): Der Verlauf wird in %3 geführt, nur für diesen Benutzer.</translation>
    </message>
    <message>
        <source>An update of the ZARN flash started %1 by %2 from %3 never ended: the ZARN system may not start. Run the update again before restarting the computer.</source>
        <translation>Eine Aktualisierung des ZARN-Flash, am %1 von %2 aus %3 gestartet, wurde nie beendet: Das ZARN-System startet möglicherweise nicht. Führen Sie die Aktualisierung erneut aus, bevor Sie den Computer neu starten.</translation>
    </message>
    <message>
        <source>The history entry %1 cannot be read and is passed over: %2</source>
        <translation>Der Verlaufseintrag %1 kann nicht gelesen werden und wird übergangen: %2</translation>
    </message>
    <message>
        <source>not a JSON object</source>
        <translation>kein JSON-Objekt</translation>
    </message>
    <message>
        <source>larger than the %1 MiB an entry can hold</source>
        <translation>größer als die %1 MiB, die ein Eintrag fassen kann</translation>
    </message>
    <message>
        <source>cannot create %1: %2</source>
        <translation>%1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>%1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>no file name: %1</source>
        <translation>kein Dateiname: %1</translation>
    </message>
    <message>
        <source>not an absolute path</source>
        <translation>kein absoluter Pfad</translation>
    </message>
    <message>
        <source>%1 is not a folder</source>
        <translation>%1 ist kein Ordner</translation>
    </message>
    <message>
        <source>Updater initialization...</source>
        <translation>Aktualisierung wird vorbereitet...</translation>
    </message>
    <message>
        <source>Started erasing Flash memory...</source>
        <translation>Löschen des Flash-Speichers begonnen...</translation>
    </message>
    <message>
        <source>Started writing to Flash memory...</source>
        <translation>Schreiben in den Flash-Speicher begonnen...</translation>
    </message>
    <message>
        <source>Verifying Flash memory...</source>
        <translation>Flash-Speicher wird geprüft...</translation>
    </message>
    <message>
        <source>Verifying Flash memory content.</source>
        <translation>Inhalt des Flash-Speichers wird geprüft.</translation>
    </message>
    <message>
        <source>Comparing Flash memory with the update...</source>
        <translation>Flash-Speicher wird mit der Aktualisierung verglichen...</translation>
    </message>
    <message>
        <source>Pages to write: %1 of %2 (%3 without erasing); %4 already hold the update.</source>
        <translation>Zu schreibende Seiten: %1 von %2 (%3 ohne Löschen); %4 enthalten die Aktualisierung bereits.</translation>
    </message>
    <message>
        <source>Reading back the whole update...</source>
        <translation>Die ganze Aktualisierung wird zurückgelesen...</translation>
    </message>
    <message>
        <source>Writing to Flash memory at 0x%1</source>
        <translation>Schreiben in den Flash-Speicher bei 0x%1</translation>
    </message>
    <message>
        <source>Reading from Flash memory at 0x%1</source>
        <translation>Lesen aus dem Flash-Speicher bei 0x%1</translation>
    </message>
    <message>
        <source>Erasing page at 0x%1</source>
        <translation>Löschen der Seite bei 0x%1</translation>
    </message>
    <message>
        <source>Error erasing page at 0x%1</source>
        <translation>Fehler beim Löschen der Seite bei 0x%1</translation>
    </message>
    <message>
        <source>Error verifying Flash memory at 0x%1</source>
        <translation>Fehler beim Prüfen des Flash-Speichers bei 0x%1</translation>
    </message>
    <message>
        <source>Error allocating memory for the image at 0x%1</source>
        <translation>Fehler beim Reservieren von Arbeitsspeicher für das Abbild bei 0x%1</translation>
    </message>
    <message>
        <source>Error verifying %1: Flash memory differs from the update at 0x%2</source>
        <translation>Fehler beim Prüfen von %1: Der Flash-Speicher weicht bei 0x%2 von der Aktualisierung ab</translation>
    </message>
    <message>
        <source>Error reading the update file</source>
        <translation>Fehler beim Lesen der Aktualisierungsdatei</translation>
    </message>
    <message>
        <source>Error reading %1</source>
        <translation>Fehler beim Lesen von %1</translation>
    </message>
    <message>
        <source>Error writing %1: %2</source>
        <translation>Fehler beim Schreiben von %1: %2</translation>
    </message>
    <message>
        <source>Done updating. It is now safe to restart the computer.</source>
        <translation>Aktualisierung abgeschlossen. Der Computer kann jetzt gefahrlos neu gestartet werden.</translation>
    </message>
    <message>
        <source>%1 The update is not recorded in the history: %2.</source>
        <translation>%1 Die Aktualisierung ist nicht im Verlauf vermerkt: %2.</translation>
    </message>
    <message>
        <source>%1 Cause: %2.</source>
        <translation>%1 Ursache: %2.</translation>
    </message>
    <message>
        <source>The update is complete: the flash memory holds the update file, read back and verified.</source>
        <translation>Die Aktualisierung ist abgeschlossen: Der Flash-Speicher enthält die Aktualisierungsdatei, zurückgelesen und geprüft.</translation>
    </message>
    <message>
        <source>The update failed: the ZARN system may not start. Run the update again before restarting the computer.</source>
        <translation>Die Aktualisierung ist fehlgeschlagen: Das ZARN-System startet möglicherweise nicht. Führen Sie die Aktualisierung erneut aus, bevor Sie den Computer neu starten.</translation>
    </message>
    <message>
        <source>The update did not take place: the flash memory was not changed.</source>
        <translation>Die Aktualisierung hat nicht stattgefunden: Der Flash-Speicher wurde nicht verändert.</translation>
    </message>
    <message>
        <source>The recovery copy cannot be written in %1: %2</source>
        <translation>Die Wiederherstellungskopie kann nicht in %1 geschrieben werden: %2</translation>
    </message>
    <message>
        <source>The recovery copy cannot be written: %1</source>
        <translation>Die Wiederherstellungskopie kann nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>The room for the recovery copies in %1 cannot be told: %2</source>
        <translation>Der Platz für die Wiederherstellungskopien in %1 kann nicht ermittelt werden: %2</translation>
    </message>
    <message>
        <source>There is no room for the recovery copies in %1: %2 bytes are needed, %3 are free</source>
        <translation>In %1 ist kein Platz für die Wiederherstellungskopien: %2 Byte werden gebraucht, %3 sind frei</translation>
    </message>
    <message>
        <source>The update&apos;s bytes cannot be read for the recovery copy</source>
        <translation>Die Bytes der Aktualisierung können für die Wiederherstellungskopie nicht gelesen werden</translation>
    </message>
    <message>
        <source>The recovery copy %1 has changed since it was kept: its SHA-256 is not the history&apos;s</source>
        <translation>Die Wiederherstellungskopie %1 hat sich seit ihrer Aufbewahrung verändert: Ihr SHA-256 ist nicht der im Verlauf</translation>
    </message>
    <message>
        <source>it is not a pre-image</source>
        <translation>sie ist kein Vorher-Abbild</translation>
    </message>
    <message>
        <source>its page record at %1 is cut short</source>
        <translation>ihr Seitenverzeichnis bei %1 ist abgeschnitten</translation>
    </message>
    <message>
        <source>its page record at %1 is not one this program writes</source>
        <translation>ihr Seitenverzeichnis bei %1 ist keines, das dieses Programm schreibt</translation>
    </message>
    <message>
        <source>it holds no page</source>
        <translation>sie enthält keine Seite</translation>
    </message>
    <message>
        <source>the installed hardware value cannot be read (the ZARN driver gives none), so the images&apos; hardware requirements cannot be checked</source>
        <translation>der installierte Hardware-Wert kann nicht gelesen werden (der ZARN-Treiber liefert keinen), daher können die Hardware-Anforderungen der Abbilder nicht geprüft werden</translation>
    </message>
    <message>
        <source>the installed hardware value cannot be read (%1), so the images&apos; hardware requirements cannot be checked</source>
        <translation>der installierte Hardware-Wert kann nicht gelesen werden (%1), daher können die Hardware-Anforderungen der Abbilder nicht geprüft werden</translation>
    </message>
    <message>
        <source>the ZARN driver is not loaded</source>
        <translation>der ZARN-Treiber ist nicht geladen</translation>
    </message>
    <message>
        <source>%1; this system&apos;s hardware is %2</source>
        <translation>%1; die Hardware dieses Systems ist %2</translation>
    </message>
    <message>
        <source>%1 needs hardware %2 or newer</source>
        <translation>%1 braucht Hardware %2 oder neuer</translation>
    </message>
    <message>
        <source>%1 is version %2, older than version %3 written and verified at %4 on %5</source>
        <translation>%1 ist Version %2, älter als Version %3, die am %5 bei %4 geschrieben und geprüft wurde</translation>
    </message>
    <message>
        <source>the history cannot be read whole (%1), so whether an image is older than the one last written in its place cannot be checked</source>
        <translation>der Verlauf kann nicht vollständig gelesen werden (%1), daher kann nicht geprüft werden, ob ein Abbild älter ist als das zuletzt an seiner Stelle geschriebene</translation>
    </message>
    <message>
        <source>%1 could not be read: %2</source>
        <translation>%1 konnte nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>the computer runs on battery, and the site&apos;s settings cannot be used: %1</source>
        <translation>der Computer läuft mit Akku, und die Einstellungen des Standorts können nicht verwendet werden: %1</translation>
    </message>
    <message>
        <source>the computer runs on battery, and its charge cannot be read (UPower says %1): connect it to mains power</source>
        <translation>der Computer läuft mit Akku, und dessen Ladung kann nicht gelesen werden (UPower meldet %1): Schließen Sie ihn an das Stromnetz an</translation>
    </message>
    <message>
        <source>the computer runs on battery at %1 %, below the %2 % an update needs: connect it to mains power</source>
        <translation>der Computer läuft mit Akku bei %1 %, unter den %2 %, die eine Aktualisierung braucht: Schließen Sie ihn an das Stromnetz an</translation>
    </message>
    <message>
        <source>%1 (the site&apos;s settings cannot be used: an update on battery is refused)</source>
        <translation>%1 (die Einstellungen des Standorts können nicht verwendet werden: Eine Aktualisierung mit Akku wird abgelehnt)</translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>larger than %1 KiB</source>
        <translation>größer als %1 KiB</translation>
    </message>
    <message>
        <source>not UTF-8 text</source>
        <translation>kein UTF-8-Text</translation>
    </message>
    <message>
        <source>unknown section [%1], passed over with its settings (names are lower case: %2)</source>
        <translation>unbekannter Abschnitt [%1], mit seinen Einstellungen übergangen (Namen werden kleingeschrieben: %2)</translation>
    </message>
    <message>
        <source>unknown section [%1], passed over with its settings</source>
        <translation>unbekannter Abschnitt [%1], mit seinen Einstellungen übergangen</translation>
    </message>
    <message>
        <source>neither a section, a setting nor a comment</source>
        <translation>weder ein Abschnitt noch eine Einstellung noch ein Kommentar</translation>
    </message>
    <message>
        <source>%1 is outside any section, passed over (it belongs in [%2])</source>
        <translation>%1 steht außerhalb jedes Abschnitts, übergangen (gehört in [%2])</translation>
    </message>
    <message>
        <source>%1 is outside any section, passed over</source>
        <translation>%1 steht außerhalb jedes Abschnitts, übergangen</translation>
    </message>
    <message>
        <source>unknown key %1 in [%2], passed over (names are lower case: %3)</source>
        <translation>unbekannter Schlüssel %1 in [%2], übergangen (Namen werden kleingeschrieben: %3)</translation>
    </message>
    <message>
        <source>unknown key %1 in [%2], passed over</source>
        <translation>unbekannter Schlüssel %1 in [%2], übergangen</translation>
    </message>
    <message>
        <source>%1 given again in [%2] (first on line %3)</source>
        <translation>%1 in [%2] erneut angegeben (zuerst in Zeile %3)</translation>
    </message>
    <message>
        <source>%1 is not a whole number from %2 to %3: &quot;%4&quot;</source>
        <translation>%1 ist keine ganze Zahl von %2 bis %3: „%4“</translation>
    </message>
    <message>
        <source>%1:%2: %3</source>
        <translation>%1:%2: %3</translation>
    </message>
    <message>
        <source>Input/output error</source>
        <translation>Eingabe-/Ausgabefehler</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Keine Berechtigung</translation>
    </message>
    <message>
        <source>Operation not permitted</source>
        <translation>Die Operation ist nicht erlaubt</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>Datei oder Verzeichnis nicht gefunden</translation>
    </message>
    <message>
        <source>No such device</source>
        <translation>Kein passendes Gerät gefunden</translation>
    </message>
    <message>
        <source>No such device or address</source>
        <translation>Kein Gerät oder keine Adresse dieser Art</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>Auf dem Gerät ist kein Speicherplatz mehr verfügbar</translation>
    </message>
    <message>
        <source>Disk quota exceeded</source>
        <translation>Der zugewiesene Plattenplatz (Quota) ist überschritten</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>Das Dateisystem ist nur lesbar</translation>
    </message>
    <message>
        <source>Device or resource busy</source>
        <translation>Das Gerät oder die Ressource ist belegt</translation>
    </message>
    <message>
        <source>Resource temporarily unavailable</source>
        <translation>Die Ressource ist zur Zeit nicht verfügbar</translation>
    </message>
    <message>
        <source>Interrupted system call</source>
        <translation>Unterbrechung während des Betriebssystemaufrufs</translation>
    </message>
    <message>
        <source>Invalid argument</source>
        <translation>Das Argument ist ungültig</translation>
    </message>
    <message>
        <source>Bad address</source>
        <translation>Ungültige Adresse</translation>
    </message>
    <message>
        <source>Cannot allocate memory</source>
        <translation>Speicher kann nicht zugewiesen werden</translation>
    </message>
    <message>
        <source>Inappropriate ioctl for device</source>
        <translation>Unpassender IOCTL (I/O-Control) für das Gerät</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>Zu viele offene Dateien</translation>
    </message>
    <message>
        <source>Is a directory</source>
        <translation>Ist ein Verzeichnis</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>Ist kein Verzeichnis</translation>
    </message>
    <message>
        <source>File exists</source>
        <translation>Die Datei existiert bereits</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>ZARN Update Utility</source>
        <translation>ZARN-Aktualisierungsprogramm</translation>
    </message>
    <message>
        <source>Current Version of ZARN System:</source>
        <translation>Aktuelle Version des ZARN-Systems:</translation>
    </message>
    <message>
        <source>Current HW timestamp:</source>
        <translation>Aktueller HW-Zeitstempel:</translation>
    </message>
    <message>
        <source>Current SW version:</source>
        <translation>Aktuelle SW-Version:</translation>
    </message>
    <message>
        <source>Current PID version:</source>
        <translation>Aktuelle PID-Version:</translation>
    </message>
    <message>
        <source>ZARN Update Image file:</source>
        <translation>ZARN-Aktualisierungsdatei:</translation>
    </message>
    <message>
        <source>Enter image file name or search for it (button &apos;...&apos;)</source>
        <translation>Namen der Aktualisierungsdatei eingeben oder danach suchen (Schaltfläche „...“)</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Get Image Info</source>
        <translation>Abbilder anzeigen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Current progress:</source>
        <translation>Aktueller Fortschritt:</translation>
    </message>
    <message>
        <source>Total progress:</source>
        <translation>Gesamtfortschritt:</translation>
    </message>
    <message>
        <source>Time elapsed:</source>
        <translation>Verstrichene Zeit:</translation>
    </message>
    <message>
        <source>Time remaining: </source>
        <translation>Verbleibende Zeit: </translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Choose the ZARN update image file</source>
        <translation>ZARN-Aktualisierungsdatei auswählen</translation>
    </message>
    <message>
        <source>Enter image file name or search for it with Browse</source>
        <translation>Namen der Aktualisierungsdatei eingeben oder mit „Durchsuchen“ danach suchen</translation>
    </message>
    <message>
        <source>Velmora ZARN</source>
        <translation>Velmora ZARN</translation>
    </message>
    <message>
        <source>Update status</source>
        <translation>Stand der Aktualisierung</translation>
    </message>
    <message>
        <source>.

Update all the same?</source>
        <translation>.

Trotzdem aktualisieren?</translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation>Akku schwach</translation>
    </message>
    <message>
        <source>No room for a recovery copy</source>
        <translation>Kein Platz für eine Wiederherstellungskopie</translation>
    </message>
    <message>
        <source>Older image</source>
        <translation>Älteres Abbild</translation>
    </message>
    <message>
        <source>Hardware requirement</source>
        <translation>Hardware-Anforderung</translation>
    </message>
    <message>
        <source>Version %1 build %2</source>
        <translation>Version %1 Build %2</translation>
    </message>
    <message>
        <source>Cannot open file</source>
        <translation>Datei kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>System file </source>
        <translation>Die Systemdatei </translation>
    </message>
    <message>
        <source> could not be opened.

Please check if ZARN driver is loaded.
Application will now quit.
</source>
        <translation> konnte nicht geöffnet werden.

Bitte prüfen Sie, ob der ZARN-Treiber geladen ist.
Das Programm wird jetzt beendet.
</translation>
    </message>
    <message>
        <source>Open ZARN Update Image file</source>
        <translation>ZARN-Aktualisierungsdatei öffnen</translation>
    </message>
    <message>
        <source>ZARN RU Image (*.zarnru)</source>
        <translation>ZARN-Aktualisierungsdatei (*.zarnru)</translation>
    </message>
    <message>
        <source>Invalid filename</source>
        <translation>Ungültiger Dateiname</translation>
    </message>
    <message>
        <source>The filename is not valid.

Expecting file extenison: .zarnru, instead got: .</source>
        <translation>Der Dateiname ist nicht gültig.

Erwartete Dateiendung: .zarnru, stattdessen: .</translation>
    </message>
    <message>
        <source>Flash memory busy</source>
        <translation>Flash-Speicher belegt</translation>
    </message>
    <message>
        <source>Update file refused</source>
        <translation>Aktualisierungsdatei abgelehnt</translation>
    </message>
    <message>
        <source>Recovery copy refused</source>
        <translation>Wiederherstellungskopie abgelehnt</translation>
    </message>
    <message>
        <source>Update cut short</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>The update of the ZARN flash started %1 by %2 from %3 did not end verified: the ZARN system may not start.

The update can be finished from the copy kept of it, or the flash can be given back what it held before.</source>
        <translation>Die Aktualisierung des ZARN-Flash, am %1 von %2 aus %3 gestartet, endete nicht geprüft: Das ZARN-System startet möglicherweise nicht.

Die Aktualisierung kann aus ihrer aufbewahrten Kopie zu Ende geführt werden, oder der Flash-Speicher erhält seinen vorherigen Inhalt zurück.</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Finish the update</source>
        <translation>Aktualisierung abschließen</translation>
    </message>
    <message>
        <source>Restore the previous contents</source>
        <translation>Vorherigen Inhalt wiederherstellen</translation>
    </message>
    <message>
        <source>The recovery copy %1 cannot be read.</source>
        <translation>Die Wiederherstellungskopie %1 kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The recovery copy %1 has changed since it was kept: its SHA-256 is not the history&apos;s.</source>
        <translation>Die Wiederherstellungskopie %1 hat sich seit ihrer Aufbewahrung verändert: Ihr SHA-256 ist nicht der im Verlauf.</translation>
    </message>
    <message>
        <source>Error in %1: %2</source>
        <translation>Fehler in %1: %2</translation>
    </message>
</context>
<context>
    <name>RunAnnouncer</name>
    <message>
        <source>Comparing the flash memory with the update</source>
        <translation>Flash-Speicher wird mit der Aktualisierung verglichen</translation>
    </message>
    <message>
        <source>Erasing image %1 of %2, %3</source>
        <translation>Abbild %1 von %2 wird gelöscht, %3</translation>
    </message>
    <message>
        <source>Writing image %1 of %2, %3</source>
        <translation>Abbild %1 von %2 wird geschrieben, %3</translation>
    </message>
    <message>
        <source>Verifying image %1 of %2, %3</source>
        <translation>Abbild %1 von %2 wird geprüft, %3</translation>
    </message>
    <message>
        <source>Reading back the whole update</source>
        <translation>Die ganze Aktualisierung wird zurückgelesen</translation>
    </message>
</context>
<context>
    <name>RunDesktopReport</name>
    <message>
        <source>ZARN update complete</source>
        <translation>ZARN-Aktualisierung abgeschlossen</translation>
    </message>
    <message>
        <source>ZARN update failed</source>
        <translation>ZARN-Aktualisierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>ZARN update did not start</source>
        <translation>ZARN-Aktualisierung nicht begonnen</translation>
    </message>
</context>
<context>
    <name>RunGuard</name>
    <message>
        <source>The update failed</source>
        <translation>Die Aktualisierung ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>The last update did not finish: the flash memory is not as the update file wants it, and the ZARN system may not start.

Run the update again before restarting the computer. Close the window anyway?</source>
        <translation>Die letzte Aktualisierung wurde nicht beendet: Der Flash-Speicher entspricht nicht der Aktualisierungsdatei, und das ZARN-System startet möglicherweise nicht.

Führen Sie die Aktualisierung erneut aus, bevor Sie den Computer neu starten. Das Fenster trotzdem schließen?</translation>
    </message>
    <message>
        <source>Update in progress</source>
        <translation>Aktualisierung läuft</translation>
    </message>
    <message>
        <source>An update is under way and the window cannot be closed now.

Closing it before the update has finished could leave the ZARN system unable to start. Please wait until the update is done.</source>
        <translation>Eine Aktualisierung läuft, und das Fenster kann jetzt nicht geschlossen werden.

Wird es vor dem Ende der Aktualisierung geschlossen, startet das ZARN-System möglicherweise nicht mehr. Bitte warten Sie, bis die Aktualisierung fertig ist.</translation>
    </message>
</context>
<context>
    <name>zarn-update-utility</name>
    <message>
        <source>Usage: zarn-update-utility [-f | --force] [toolkit options]

Shows the versions installed on the ZARN system and updates its flash memory
from an update file (.zarnru). Needs read and write access to /dev/zarn_flash
and /dev/zarn_mailbox (membership of the group zarn).

  -f, --force  keep the window open when the ZARN driver cannot be reached
  --help       show this help and exit
  --version    show the version and exit

Only the first argument is looked at; the toolkit&apos;s own options (-platform,
-style, ...) are passed on. See zarn-update-utility(1).
</source>
        <translation>Aufruf: zarn-update-utility [-f | --force] [Toolkit-Optionen]

Zeigt die auf dem ZARN-System installierten Versionen und aktualisiert seinen
Flash-Speicher aus einer Aktualisierungsdatei (.zarnru). Braucht Lese- und
Schreibzugriff auf /dev/zarn_flash und /dev/zarn_mailbox (Mitglied der Gruppe zarn).

  -f, --force  Fenster offen lassen, wenn der ZARN-Treiber nicht erreichbar ist
  --help       diese Hilfe zeigen und beenden
  --version    die Version zeigen und beenden

Nur das erste Argument wird beachtet; die Optionen des Toolkits (-platform,
-style, ...) werden weitergegeben. Siehe zarn-update-utility(1).
</translation>
    </message>
    <message>
        <source>%1: cannot open the window: %2</source>
        <translation>%1: das Fenster kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>no display could be reached (is the X server or Wayland compositor running?)</source>
        <translation>keine Anzeige erreichbar (läuft der X-Server oder der Wayland-Compositor?)</translation>
    </message>
    <message>
        <source>no display (neither DISPLAY nor WAYLAND_DISPLAY is set)</source>
        <translation>keine Anzeige (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt)</translation>
    </message>
</context>
</TS>

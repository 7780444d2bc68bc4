<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AutoUpdateQt</name>
    <message>
        <source>%1 %2 is ready to install</source>
        <translation>%1 %2 ist bereit zur Installation</translation>
    </message>
    <message>
        <source>Open the update window to install it or to read what is new.</source>
        <translation>Öffnen Sie das Aktualisierungsfenster, um sie zu installieren oder die Neuerungen zu lesen.</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Check for &amp;Updates…</source>
        <translation>Nach &amp;Aktualisierungen suchen …</translation>
    </message>
    <message>
        <source>Look for a newer version of %1</source>
        <translation>Nach einer neueren Version von %1 suchen</translation>
    </message>
</context>
<context>
    <name>ProgressWindow</name>
    <message>
        <source>Updating %1</source>
        <translation>%1 wird aktualisiert</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Suche nach Aktualisierungen …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Fortschritt des Herunterladens</translation>
    </message>
    <message>
        <source>Downloaded, rate and time left</source>
        <translation>Heruntergeladen, Geschwindigkeit und Restzeit</translation>
    </message>
    <message>
        <source>Downloading the update…</source>
        <translation>Die Aktualisierung wird heruntergeladen …</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1 s left</source>
        <translation>noch %1 s</translation>
    </message>
    <message>
        <source>%1 min left</source>
        <translation>noch %1 min</translation>
    </message>
    <message>
        <source>%1 of %2 (%3/s), %4</source>
        <translation>%1 von %2 (%3/s), %4</translation>
    </message>
    <message>
        <source>Installing…</source>
        <translation>Wird installiert …</translation>
    </message>
    <message>
        <source>The app quits and opens again as the new version.</source>
        <translation>Die App wird beendet und als neue Version wieder geöffnet.</translation>
    </message>
</context>
<context>
    <name>UpdateMessages</name>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>Sie sind auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>The update check did not succeed.</source>
        <translation>Die Suche nach Aktualisierungen ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>The update server could not be reached. Check your internet connection and try again.</source>
        <translation>Der Aktualisierungsserver ist nicht erreichbar. Prüfen Sie Ihre Internetverbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>A secure connection to the update server could not be made.</source>
        <translation>Es konnte keine sichere Verbindung zum Aktualisierungsserver hergestellt werden.</translation>
    </message>
    <message>
        <source>The update could not be downloaded. Please try again later.</source>
        <translation>Die Aktualisierung konnte nicht heruntergeladen werden. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update server sent information that could not be trusted.</source>
        <translation>Der Aktualisierungsserver hat Angaben gesendet, denen nicht vertraut werden kann.</translation>
    </message>
    <message>
        <source>The update information from the server is out of date, so it was not used.</source>
        <translation>Die Angaben des Aktualisierungsservers sind veraltet und wurden daher nicht verwendet.</translation>
    </message>
    <message>
        <source>The app&apos;s update settings are not valid.</source>
        <translation>Die Aktualisierungseinstellungen der App sind ungültig.</translation>
    </message>
    <message>
        <source>The app&apos;s update address is not valid.</source>
        <translation>Die Aktualisierungsadresse der App ist ungültig.</translation>
    </message>
    <message>
        <source>The downloaded update is damaged or not genuine, so it was not installed.</source>
        <translation>Die heruntergeladene Aktualisierung ist beschädigt oder nicht echt und wurde daher nicht installiert.</translation>
    </message>
    <message>
        <source>This update needs a newer version of the operating system.</source>
        <translation>Diese Aktualisierung erfordert eine neuere Version des Betriebssystems.</translation>
    </message>
    <message>
        <source>This app is updated by your system&apos;s package manager.</source>
        <translation>Diese App wird von der Paketverwaltung Ihres Systems aktualisiert.</translation>
    </message>
    <message>
        <source>The update could not be saved on this computer. Check the free disk space.</source>
        <translation>Die Aktualisierung konnte auf diesem Computer nicht gespeichert werden. Prüfen Sie den freien Speicherplatz.</translation>
    </message>
    <message>
        <source>The update was cancelled.</source>
        <translation>Die Aktualisierung wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The update could not be installed. Nothing was changed.</source>
        <translation>Die Aktualisierung konnte nicht installiert werden. Es wurde nichts verändert.</translation>
    </message>
</context>
<context>
    <name>UpdateWindow</name>
    <message>
        <source>Update for %1</source>
        <translation>Aktualisierung für %1</translation>
    </message>
    <message>
        <source>%1 icon</source>
        <translation>Symbol von %1</translation>
    </message>
    <message>
        <source>&lt;b&gt;A new version of %1 is available.&lt;/b&gt;</source>
        <translation>&lt;b&gt;Eine neue Version von %1 ist verfügbar.&lt;/b&gt;</translation>
    </message>
    <message>
        <source>%1 %2 is ready to install; you have %3.</source>
        <translation>%1 %2 ist bereit zur Installation; Sie haben %3.</translation>
    </message>
    <message>
        <source>Released %1, %2 to download.</source>
        <translation>Veröffentlicht am %1, %2 zum Herunterladen.</translation>
    </message>
    <message>
        <source>No release notes.</source>
        <translation>Keine Versionshinweise.</translation>
    </message>
    <message>
        <source>Release notes</source>
        <translation>Versionshinweise</translation>
    </message>
    <message>
        <source>Install future updates &amp;automatically</source>
        <translation>Künftige Aktualisierungen &amp;automatisch installieren</translation>
    </message>
    <message>
        <source>Install future updates automatically</source>
        <translation>Künftige Aktualisierungen automatisch installieren</translation>
    </message>
    <message>
        <source>&amp;Skip This Version</source>
        <translation>Diese Version ü&amp;berspringen</translation>
    </message>
    <message>
        <source>Skip This Version</source>
        <translation>Diese Version überspringen</translation>
    </message>
    <message>
        <source>Remind Me &amp;Later</source>
        <translation>&amp;Später erinnern</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Später erinnern</translation>
    </message>
    <message>
        <source>&amp;Install and Relaunch</source>
        <translation>&amp;Installieren und neu starten</translation>
    </message>
    <message>
        <source>Install and Relaunch</source>
        <translation>Installieren und neu starten</translation>
    </message>
</context>
</TS>

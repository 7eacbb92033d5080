<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>Einstellungen…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>%1 beenden</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>Die neuesten Nachrichten von Veltrano, nur einen Klick entfernt.</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>%1-Einstellungen</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>Keine Daten geladen</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Veltrano-Feeds</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>um %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>am %1 um %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>Aktualisiert %1</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>Aktualisierung %1 fehlgeschlagen: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation> (zuletzt aktualisiert %1)</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>kein lesbarer Feed</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n neuer Eintrag</numerusform>
            <numerusform>%n neue Einträge</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
</context>
<context>
    <name>FeedDownload</name>
    <message>
        <source>no complete answer within %1 s</source>
        <translation>keine vollständige Antwort innerhalb von %1 s</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>keine Webadresse: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>Weiterleitung zu %1 abgelehnt</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>Weiterleitung von HTTPS zu %1 abgelehnt</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>Weiterleitungsschleife bei %1</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1, aber keine frühere Kopie vorhanden</translation>
    </message>
    <message>
        <source>HTTP %1</source>
        <translation>HTTP %1</translation>
    </message>
    <message>
        <source>HTTP %1 %2</source>
        <extracomment>%1 is the status code, %2 the server&apos;s own words for it</extracomment>
        <translation>HTTP %1 %2</translation>
    </message>
    <message>
        <source>the document is larger than %1 MiB</source>
        <translation>das Dokument ist größer als %1 MiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>das Dokument ist größer als %1 KiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>das Dokument ist größer als %1 Byte</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>mehr als %1 Weiterleitungen</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1 ohne Weiterleitungsziel</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>Host nicht gefunden: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>Verbindung abgelehnt</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>das komprimierte Dokument konnte nicht entpackt werden</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>%1 benötigt eine Leiste mit Infobereich; aktivieren Sie unter GNOME die Erweiterung AppIndicator</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>Kein Infobereich</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>Stattdessen über neue Einträge benachrichtigen</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>Täglich</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>Alle %n Tage</numerusform>
            <numerusform>Alle %n Tage</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>Stündlich</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>Alle %n Stunden</numerusform>
            <numerusform>Alle %n Stunden</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>Jede Minute</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>Alle %n Minuten</numerusform>
            <numerusform>Alle %n Minuten</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>Jede Sekunde</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>Alle %n Sekunden</numerusform>
            <numerusform>Alle %n Sekunden</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>Alle %1 Sekunden</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>Geben Sie eine vollständige Webadresse ein, die mit http:// oder https:// beginnt</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>Eine http- oder https-Adresse; leer für den eingebauten Feed</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>Alle 15 Minuten</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>Alle 30 Minuten</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>Alle 60 Minuten</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Nie</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>&amp;Feed-Adresse:</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>Feed-Adresse</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>&amp;Auf Neuigkeiten prüfen:</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>Auf Neuigkeiten prüfen</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>Quelle jedes Eintrags anzeigen</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>&amp;Quelle jedes Eintrags anzeigen</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>Lange Titel kürzen</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>Lange &amp;Titel kürzen</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>Bei neuen Einträgen benachrichtigen</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>Bei neuen Einträgen &amp;benachrichtigen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Speichern</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>unbekannte Zeichenkodierung „%1“</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>Text, der kein gültiges %1 ist</translation>
    </message>
</context>
</TS>

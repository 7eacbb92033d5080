<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>Preferenze…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Avvia all&apos;accesso</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Informazioni su %1</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>Esci da %1</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>Le ultime notizie di Veltrano, a portata di clic.</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>Preferenze di %1</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>Nessun dato caricato</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Feed di Veltrano</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>alle %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>il %1 alle %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>Aggiornato %1</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>Impossibile aggiornare %1: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation> (ultimo aggiornamento %1)</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>non è un feed leggibile</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n nuova voce</numerusform>
            <numerusform>%n nuove voci</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Apri</translation>
    </message>
</context>
<context>
    <name>FeedDownload</name>
    <message>
        <source>no complete answer within %1 s</source>
        <translation>nessuna risposta completa entro %1 s</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>non è un indirizzo web: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>reindirizzamento a %1 rifiutato</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>reindirizzamento da HTTPS a %1 rifiutato</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>ciclo di reindirizzamenti su %1</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1 senza una copia precedente</translation>
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
        <translation>il documento supera %1 MiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>il documento supera %1 KiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>il documento supera %1 byte</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>più di %1 reindirizzamenti</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1 senza indirizzo di destinazione</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>host non trovato: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>connessione rifiutata</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>impossibile decomprimere il documento</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>%1 richiede un pannello con un&apos;area di notifica; su GNOME, attiva l&apos;estensione AppIndicator</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>Nessuna area di notifica</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>Avvisami invece delle nuove voci</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>Ogni giorno</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>Ogni %n giorni</numerusform>
            <numerusform>Ogni %n giorni</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>Ogni ora</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>Ogni %n ore</numerusform>
            <numerusform>Ogni %n ore</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>Ogni minuto</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>Ogni %n minuti</numerusform>
            <numerusform>Ogni %n minuti</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>Ogni secondo</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>Ogni %n secondi</numerusform>
            <numerusform>Ogni %n secondi</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>Ogni %1 secondi</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>Usa un indirizzo web completo, che inizi con http:// o https://</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>Un indirizzo http o https; vuoto per il feed predefinito</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>Ogni 15 minuti</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>Ogni 30 minuti</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>Ogni 60 minuti</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Mai</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>Preferences</source>
        <translation>Preferenze</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>&amp;Indirizzo del feed:</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>Indirizzo del feed</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>&amp;Controlla le notizie:</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>Controlla le notizie</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>Mostra la fonte di ogni voce</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>Mostra la &amp;fonte di ogni voce</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>Accorcia i titoli lunghi</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>Accorcia i &amp;titoli lunghi</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>Mostra una notifica per le nuove voci</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>Mostra una &amp;notifica per le nuove voci</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Salva</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Salva</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>codifica «%1» sconosciuta</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>testo che non è %1 valido</translation>
    </message>
</context>
</TS>

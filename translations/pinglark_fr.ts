<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>Préférences…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Lancer à l&apos;ouverture de session</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>À propos de %1</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>Quitter %1</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>Les dernières nouvelles de Veltrano, à portée de clic.</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>Préférences de %1</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>Aucune donnée chargée</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Flux Veltrano</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>à %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>le %1 à %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>Mis à jour %1</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>Échec de la mise à jour %1&#xa0;: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation> (dernière mise à jour %1)</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>flux illisible</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n nouvel article</numerusform>
            <numerusform>%n nouveaux articles</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Ouvrir</translation>
    </message>
</context>
<context>
    <name>FeedDownload</name>
    <message>
        <source>no complete answer within %1 s</source>
        <translation>aucune réponse complète en %1&#xa0;s</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>ce n’est pas une adresse web&#xa0;: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>redirection vers %1 refusée</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>redirection de HTTPS vers %1 refusée</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>boucle de redirections sur %1</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1 sans copie antérieure</translation>
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
        <translation>le document dépasse %1&#xa0;Mio</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>le document dépasse %1&#xa0;Kio</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>le document dépasse %1&#xa0;octets</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>plus de %1 redirections</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1 sans adresse de destination</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS&#xa0;: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>hôte introuvable&#xa0;: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>connexion refusée</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>impossible de décompresser le document</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>%1 a besoin d&apos;un tableau de bord avec une zone de notification&#xa0;; sous GNOME, activez l&apos;extension AppIndicator</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>Aucune zone de notification</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>M&apos;avertir plutôt des nouveaux articles</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>Tous les jours</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>Tous les %n jours</numerusform>
            <numerusform>Tous les %n jours</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>Toutes les heures</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>Toutes les %n heures</numerusform>
            <numerusform>Toutes les %n heures</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>Toutes les minutes</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>Toutes les %n minutes</numerusform>
            <numerusform>Toutes les %n minutes</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>Toutes les secondes</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>Toutes les %n secondes</numerusform>
            <numerusform>Toutes les %n secondes</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>Toutes les %1 secondes</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>Saisissez une adresse web complète, commençant par http:// ou https://</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>Une adresse http ou https&#xa0;; vide pour le flux intégré</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>Toutes les 15 minutes</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>Toutes les 30 minutes</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>Toutes les 60 minutes</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Jamais</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>Preferences</source>
        <translation>Préférences</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>&amp;Adresse du flux&#xa0;:</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>Adresse du flux</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>&amp;Vérifier les nouveautés&#xa0;:</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>Vérifier les nouveautés</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>Afficher la source de chaque article</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>Afficher la &amp;source de chaque article</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>Raccourcir les titres longs</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>&amp;Raccourcir les titres longs</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>Afficher une notification pour les nouveaux articles</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>Afficher une &amp;notification pour les nouveaux articles</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Enregistrer</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>encodage «&#xa0;%1&#xa0;» inconnu</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>texte qui n’est pas du %1 valide</translation>
    </message>
</context>
</TS>

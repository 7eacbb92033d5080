<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>Preferencias…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Abrir al iniciar sesión</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Acerca de %1</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>Salir de %1</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>Las últimas noticias de Veltrano, a un clic.</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>Preferencias de %1</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>No se han cargado datos</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Fuentes de Veltrano</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>a las %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>el %1 a las %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>Actualizado %1</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>No se pudo actualizar %1: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation> (última actualización %1)</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>no es una fuente legible</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n entrada nueva</numerusform>
            <numerusform>%n entradas nuevas</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Abrir</translation>
    </message>
</context>
<context>
    <name>FeedDownload</name>
    <message>
        <source>no complete answer within %1 s</source>
        <translation>sin respuesta completa en %1 s</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>no es una dirección web: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>redirección a %1 rechazada</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>redirección de HTTPS a %1 rechazada</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>bucle de redirecciones en %1</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1 sin una copia anterior</translation>
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
        <translation>el documento supera los %1 MiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>el documento supera los %1 KiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>el documento supera los %1 bytes</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>más de %1 redirecciones</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1 sin dirección de destino</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>no se encontró el servidor: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>conexión rechazada</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>no se pudo descomprimir el documento</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>%1 necesita un panel con bandeja del sistema; en GNOME, active la extensión AppIndicator</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>No hay bandeja del sistema</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>Avisarme de las entradas nuevas en su lugar</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>Cada día</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>Cada %n días</numerusform>
            <numerusform>Cada %n días</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>Cada hora</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>Cada %n horas</numerusform>
            <numerusform>Cada %n horas</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>Cada minuto</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>Cada %n minutos</numerusform>
            <numerusform>Cada %n minutos</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>Cada segundo</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>Cada %n segundos</numerusform>
            <numerusform>Cada %n segundos</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>Cada %1 segundos</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>Escriba una dirección web completa, que empiece por http:// o https://</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>Una dirección http o https; vacía para la fuente integrada</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>Cada 15 minutos</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>Cada 30 minutos</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>Cada 60 minutos</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Nunca</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>Preferences</source>
        <translation>Preferencias</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>&amp;Dirección de la fuente:</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>Dirección de la fuente</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>&amp;Buscar noticias:</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>Buscar noticias</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>Mostrar la fuente de cada entrada</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>Mostrar la &amp;fuente de cada entrada</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>Acortar los títulos largos</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>Acortar los &amp;títulos largos</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>Mostrar una notificación de las entradas nuevas</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>Mostrar una &amp;notificación de las entradas nuevas</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Guardar</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>codificación «%1» desconocida</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>texto que no es %1 válido</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>Preferências…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Abrir ao iniciar sessão</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Sobre o %1</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>Sair do %1</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>As últimas notícias da Veltrano, a um clique.</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>Preferências do %1</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>Nenhum dado carregado</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Feeds da Veltrano</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>às %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>em %1 às %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>Atualizado %1</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>Não foi possível atualizar %1: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation> (última atualização %1)</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>não é um feed legível</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n nova entrada</numerusform>
            <numerusform>%n novas entradas</numerusform>
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
        <translation>nenhuma resposta completa em %1 s</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>não é um endereço da web: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>redirecionamento para %1 recusado</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>redirecionamento de HTTPS para %1 recusado</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>loop de redirecionamento em %1</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1 sem uma cópia anterior</translation>
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
        <translation>o documento é maior que %1 MiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>o documento é maior que %1 KiB</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>o documento é maior que %1 bytes</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>mais de %1 redirecionamentos</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1 sem endereço de destino</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>host não encontrado: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>conexão recusada</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>não foi possível descompactar o documento</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>O %1 precisa de um painel com bandeja do sistema; no GNOME, ative a extensão AppIndicator</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>Nenhuma bandeja do sistema</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>Notificar-me de novas entradas em vez disso</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>Todos os dias</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>A cada %n dias</numerusform>
            <numerusform>A cada %n dias</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>A cada hora</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>A cada %n horas</numerusform>
            <numerusform>A cada %n horas</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>A cada minuto</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>A cada %n minutos</numerusform>
            <numerusform>A cada %n minutos</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>A cada segundo</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>A cada %n segundos</numerusform>
            <numerusform>A cada %n segundos</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>A cada %1 segundos</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>Use um endereço web completo, começando com http:// ou https://</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>Um endereço http ou https; vazio para o feed embutido</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>A cada 15 minutos</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>A cada 30 minutos</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>A cada 60 minutos</translation>
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
        <translation>Preferências</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>&amp;Endereço do feed:</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>Endereço do feed</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>&amp;Verificar notícias:</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>Verificar notícias</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>Mostrar a fonte de cada entrada</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>Mostrar a &amp;fonte de cada entrada</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>Encurtar títulos longos</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>Encurtar &amp;títulos longos</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>Mostrar uma notificação para novas entradas</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>Mostrar uma &amp;notificação para novas entradas</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Salvar</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Salvar</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>codificação “%1” desconhecida</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>texto que não é %1 válido</translation>
    </message>
</context>
</TS>

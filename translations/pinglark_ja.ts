<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>AppController</name>
    <message>
        <source>Preferences…</source>
        <translation>設定…</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>ログイン時に起動</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>%1について</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>%1を終了</translation>
    </message>
    <message>
        <source>The newest Veltrano news, one click away.</source>
        <translation>Veltranoの最新ニュースをワンクリックで。</translation>
    </message>
    <message>
        <source>%1 Preferences</source>
        <translation>%1の設定</translation>
    </message>
    <message>
        <source>No Data Loaded</source>
        <translation>データが読み込まれていません</translation>
    </message>
    <message>
        <source>Veltrano Feeds</source>
        <translation>Veltranoフィード</translation>
    </message>
    <message>
        <source>at %1</source>
        <extracomment>When the feed was read today; %1 is the time</extracomment>
        <translation>%1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <extracomment>When the feed was read on another day; %1 is the date, %2 the time</extracomment>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>Updated %1</source>
        <translation>%1に更新</translation>
    </message>
    <message>
        <source>Could not update %1: %2</source>
        <extracomment>%1 is when (see &quot;at %1&quot;), %2 why</extracomment>
        <translation>%1に更新できませんでした: %2</translation>
    </message>
    <message>
        <source> (last updated %1)</source>
        <translation>（最終更新: %1）</translation>
    </message>
    <message>
        <source>not a readable feed</source>
        <translation>読み込めるフィードではありません</translation>
    </message>
    <message numerus="yes">
        <source>%n new entries</source>
        <translation>
            <numerusform>%n件の新しいエントリ</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <translation>開く</translation>
    </message>
</context>
<context>
    <name>FeedDownload</name>
    <message>
        <source>no complete answer within %1 s</source>
        <translation>%1秒以内に応答が完了しませんでした</translation>
    </message>
    <message>
        <source>not a web address: %1</source>
        <translation>Webアドレスではありません: %1</translation>
    </message>
    <message>
        <source>redirect to %1 refused</source>
        <translation>%1へのリダイレクトを拒否しました</translation>
    </message>
    <message>
        <source>redirect from HTTPS to %1 refused</source>
        <translation>HTTPSから%1へのリダイレクトを拒否しました</translation>
    </message>
    <message>
        <source>redirect loop at %1</source>
        <translation>%1でリダイレクトがループしています</translation>
    </message>
    <message>
        <source>%1 without an earlier copy</source>
        <extracomment>%1 is &quot;HTTP 304 Not Modified&quot;: an answer that means &quot;use your copy&quot;, sent when there is none</extracomment>
        <translation>%1（以前のコピーがありません）</translation>
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
        <translation>ドキュメントが%1 MiBを超えています</translation>
    </message>
    <message>
        <source>the document is larger than %1 KiB</source>
        <translation>ドキュメントが%1 KiBを超えています</translation>
    </message>
    <message>
        <source>the document is larger than %1 bytes</source>
        <translation>ドキュメントが%1バイトを超えています</translation>
    </message>
    <message>
        <source>more than %1 redirects</source>
        <translation>リダイレクトが%1回を超えました</translation>
    </message>
    <message>
        <source>%1 without a target</source>
        <extracomment>%1 is a redirect such as &quot;HTTP 302 Found&quot; that names no address to go to</extracomment>
        <translation>%1（リダイレクト先がありません）</translation>
    </message>
    <message>
        <source>TLS: %1</source>
        <translation>TLS: %1</translation>
    </message>
    <message>
        <source>host not found: %1</source>
        <translation>ホストが見つかりません: %1</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>接続が拒否されました</translation>
    </message>
    <message>
        <source>could not unpack the compressed document</source>
        <translation>圧縮されたドキュメントを展開できませんでした</translation>
    </message>
</context>
<context>
    <name>NoTrayNotice</name>
    <message>
        <source>%1 needs a panel with a system tray; on GNOME, enable the AppIndicator extension</source>
        <translation>%1にはシステムトレイのあるパネルが必要です。GNOMEではAppIndicator拡張機能を有効にしてください</translation>
    </message>
    <message>
        <source>No system tray</source>
        <translation>システムトレイがありません</translation>
    </message>
    <message>
        <source>Notify me of new entries instead</source>
        <translation>代わりに新しいエントリを通知する</translation>
    </message>
</context>
<context>
    <name>PreferenceController</name>
    <message>
        <source>Every day</source>
        <translation>毎日</translation>
    </message>
    <message numerus="yes">
        <source>Every %n days</source>
        <translation>
            <numerusform>%n日ごと</numerusform>
        </translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation>1時間ごと</translation>
    </message>
    <message numerus="yes">
        <source>Every %n hours</source>
        <translation>
            <numerusform>%n時間ごと</numerusform>
        </translation>
    </message>
    <message>
        <source>Every minute</source>
        <translation>1分ごと</translation>
    </message>
    <message numerus="yes">
        <source>Every %n minutes</source>
        <translation>
            <numerusform>%n分ごと</numerusform>
        </translation>
    </message>
    <message>
        <source>Every second</source>
        <translation>1秒ごと</translation>
    </message>
    <message numerus="yes">
        <source>Every %n seconds</source>
        <translation>
            <numerusform>%n秒ごと</numerusform>
        </translation>
    </message>
    <message>
        <source>Every %1 seconds</source>
        <extracomment>A period that is no whole number of seconds, such as 2.5</extracomment>
        <translation>%1秒ごと</translation>
    </message>
    <message>
        <source>Use a full web address, starting with http:// or https://</source>
        <translation>http:// または https:// で始まる完全なWebアドレスを入力してください</translation>
    </message>
    <message>
        <source>An http or https address; empty for the built-in feed</source>
        <translation>http または https のアドレス。空欄にすると組み込みのフィード</translation>
    </message>
    <message>
        <source>Every 15 minutes</source>
        <translation>15分ごと</translation>
    </message>
    <message>
        <source>Every 30 minutes</source>
        <translation>30分ごと</translation>
    </message>
    <message>
        <source>Every 60 minutes</source>
        <translation>60分ごと</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>しない</translation>
    </message>
</context>
<context>
    <name>Preferences</name>
    <message>
        <source>Preferences</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>&amp;Feed address:</source>
        <translation>フィードのアドレス(&amp;F):</translation>
    </message>
    <message>
        <source>Feed address</source>
        <translation>フィードのアドレス</translation>
    </message>
    <message>
        <source>&amp;Check for news:</source>
        <translation>ニュースの確認(&amp;C):</translation>
    </message>
    <message>
        <source>Check for news</source>
        <translation>ニュースの確認</translation>
    </message>
    <message>
        <source>Show each entry&apos;s source</source>
        <translation>各エントリの配信元を表示</translation>
    </message>
    <message>
        <source>Show &amp;each entry&apos;s source</source>
        <translation>各エントリの配信元を表示(&amp;E)</translation>
    </message>
    <message>
        <source>Shorten long titles</source>
        <translation>長いタイトルを短縮</translation>
    </message>
    <message>
        <source>Shorten long &amp;titles</source>
        <translation>長いタイトルを短縮(&amp;T)</translation>
    </message>
    <message>
        <source>Show a notification for new entries</source>
        <translation>新しいエントリを通知</translation>
    </message>
    <message>
        <source>Show a &amp;notification for new entries</source>
        <translation>新しいエントリを通知(&amp;N)</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>保存(&amp;S)</translation>
    </message>
</context>
<context>
    <name>XMLTree</name>
    <message>
        <source>unknown encoding &quot;%1&quot;</source>
        <translation>不明な文字コード「%1」</translation>
    </message>
    <message>
        <source>text that is not %1</source>
        <extracomment>%1 is the name of an encoding the feed&apos;s bytes do not follow, such as &quot;Shift_JIS&quot;</extracomment>
        <translation>%1として正しくないテキスト</translation>
    </message>
</context>
</TS>

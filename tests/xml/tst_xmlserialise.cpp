// Writing trees back out as XML text, the path query's log line, and the path evaluator.

#include "Parsed.h"
#include "XMLTree.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray feed = "<rdf:RDF xmlns:rdf='urn:r'><channel><title>CT</title></channel>"
                        "<item rdf:about='u1'><title>I1</title><link>L1</link></item>"
                        "<item rdf:about='u2'><title>I2</title><link>L2</link></item></rdf:RDF>";

} // namespace

class TestXMLSerialise : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each row: the document, and what it writes when that differs.
    void writtenForm_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("xml");
        const auto row = [](const char* title, const QByteArray& document,
                            const QString& xml = {}) {
            QTest::newRow(title) << document << (xml.isNull() ? QString::fromUtf8(document) : xml);
        };
        row("escaping", "<a k='&quot;&lt;&amp;&gt;&apos;'>x &amp; &lt;y&gt; \"'</a>",
            u"<a k=\"&quot;&lt;&amp;&gt;'\">x &amp; &lt;y&gt; \"'</a>"_s);
        row("forms as written", "<a><b/><c></c><d z=\"1\" xmlns:p=\"urn:p\" a=\"2\"/></a>");
        row("white space", "<a k=\"&#10;&#9;&#13;\">l1\nl2&#13;</a>");
        row("other kinds", "<a><!-- c --><?t d  e?><?u?><![CDATA[<&>]]>&undeclared;</a>");
        row("prolog",
            "<?xml version='1.0' encoding='ISO-8859-1' standalone='no'?>"
            "<!DOCTYPE a PUBLIC '-//P//EN' 'a.dtd'><!--c--><a/><?end?>",
            u"<?xml version=\"1.0\" standalone=\"no\"?>\n<!DOCTYPE a PUBLIC \"-//P//EN\" "
            "\"a.dtd\">\n<!--c-->\n<a/>\n<?end?>"_s);
        row("internal subset",
            "<!DOCTYPE a SYSTEM 'x\"y.dtd' [<!ENTITY e 'E'> <!--n--> <?p?>]><a>&e;</a>",
            u"<!DOCTYPE a SYSTEM 'x\"y.dtd' [<!ENTITY e 'E'> <!--n--> <?p?>]>\n<a>E</a>"_s);
        row("brackets in the subset",
            "<!DOCTYPE r SYSTEM 'r[1].dtd' [<!--[--><!ATTLIST r a CDATA '[a]'><?p ]?>"
            "<!NOTATION n SYSTEM ']'>]><r/>",
            u"<!DOCTYPE r SYSTEM \"r[1].dtd\" [<!--[--><!ATTLIST r a CDATA '[a]'><?p ]?>"
            "<!NOTATION n SYSTEM ']'>]>\n<r/>"_s);
        row("entities expanded, blank text dropped",
            "<!DOCTYPE r [<!ENTITY e '<x>e</x>'>]><r>t&e;<![CDATA[]]>&nbsp;<f>\r\n</f></r>",
            u"<!DOCTYPE r [<!ENTITY e '<x>e</x>'>]>\n<r>t<x>e</x><![CDATA[]]>&#160;<f></f></r>"_s);
        row("windows-1252",
            "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>"
            "<r k='\x93q\x94'>caf\xE9 \x80<s>&#x1F600;&#xFFFD;</s></r>",
            u"<?xml version=\"1.0\" standalone=\"yes\"?>\n"
            "<r k=\"&#8220;q&#8221;\">caf&#233; &#8364;<s>&#128512;&#65533;</s></r>"_s);
    }
    void writtenForm() {
        QFETCH(QByteArray, document);
        QFETCH(QString, xml);
        const XMLTree doc = parsed(document);
        QCOMPARE(doc.xml(), xml);
        // What is written reads back as the same document; each top-level node writes the same
        // text alone as within the whole.
        QCOMPARE(parsed(xml.toUtf8()).xml(), xml);
        for (int i = 0; i < doc.count(); ++i)
            QVERIFY(xml.contains(doc.childAtIndex(i)->xml().value()));
    }

    void unwritable() {
        // Names and text with no escaped form cannot be written in ASCII; what can, still can.
        for (const char* document :
             {"<caf\xC3\xA9/>", "<a caf\xC3\xA9='1'/>", "<a><!-- caf\xC3\xA9 --></a>",
              "<a><![CDATA[caf\xC3\xA9]]></a>"})
            QVERIFY(!parsed(document).xml());
        const XMLTree b =
            parsed("<a><b>caf\xC3\xA9</b><caf\xC3\xA9/></a>").descendentNamed(u"b"_s).value();
        QCOMPARE(b.xml().value() + b.childAtIndex(0)->xml().value(),
                 u"<b>caf&#233;</b>caf&#233;"_s);
    }

    void xpathLogsAndAnswersNothing() {
        QTest::ignoreMessage(
            QtWarningMsg,
            "The path function is still being developed. It doesn't work yet. Sorry.");
        QVERIFY(!parsed(feed).xpath(u"/rdf:RDF/channel/title"_s));
    }

    void evaluator_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("result"); // "node:<name>:<text>", "value:<text>" or "none"
        QTest::addColumn<QString>("left");   // what remains of the path afterwards
        const auto row = [](const char* title, const QByteArray& document, const char* path,
                            const char* result, const char* left = "") {
            QTest::newRow(title) << document << QString::fromUtf8(path) << QString::fromUtf8(result)
                                 << QString::fromUtf8(left);
        };
        row("absolute", feed, "/rdf:RDF/channel/title", "node:title:CT");
        row("descendants at any depth", feed, "rdf:RDF/title", "node:title:I2");
        row("attribute after a name", feed, "item@rdf:about", "value:u2", "rdf:about");
        row("attribute after a slash", feed, "item/@rdf:about", "none", "@rdf:about");
        row("missing attribute", feed, "item@nope", "none", "nope");
        row("bracket at a later step", feed, "item/link[1]", "none", "link[1]");
        row("attribute of the document", feed, "@version", "none", "@version");
        row("missing name", feed, "missing/title", "none", "/title");
        row("a//b/", "<a><x><b>1</b></x><b>2</b></a>", "a//b/", "node:b:2");
        row("x@@k@", "<x k='v'/>", "x@@k@", "value:v", "k");
        row("only slashes", "<a/>", "//", "none");
        row("empty path", feed, "", "node::CTI1L1I2L2");
        row("attribute of a text", feed, "title/I2@k", "none", "@k");
    }
    void evaluator() {
        QFETCH(QByteArray, document);
        QFETCH(QString, path);
        QFETCH(QString, result);
        QFETCH(QString, left);
        const XMLTree doc = parsed(document);
        const XMLPathResult found = XMLTreeXPath(path, doc.node());
        QString answer = u"none"_s;
        if (const auto* value = std::get_if<QString>(&found))
            answer = u"value:"_s + *value;
        if (const auto* node = std::get_if<XMLNodePtr>(&found)) {
            const XMLTree tree = XMLTree::treeWithNode(*node).value();
            answer = u"node:"_s + tree.name().value_or(QString()) + u':' + tree.description();
        }
        QCOMPARE(answer, result);
        QCOMPARE(path, left);
    }
};

QTEST_GUILESS_MAIN(TestXMLSerialise)
#include "tst_xmlserialise.moc"

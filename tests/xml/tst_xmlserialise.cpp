// Writing trees back out as XML text, the path query's log line, and the path evaluator.

#include "Parsed.h"
#include "XMLNode.h"
#include "XMLTree.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Whether two subtrees are the same: kinds, node strings, attributes, processing instruction
// data, empty-element form, children, all in order.
bool sameTree(const XMLNode& a, const XMLNode& b) {
    const auto sameAttribute = [](const auto& p, const auto& q) {
        return *p.name == *q.name && p.valueView() == q.valueView();
    };
    std::vector<std::pair<const XMLNode*, const XMLNode*>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        const auto ax = x->attributes(), ay = y->attributes();
        if (x->kind != y->kind || x->string() != y->string() ||
            x->emptyElement != y->emptyElement ||
            !std::equal(ax.begin(), ax.end(), ay.begin(), ay.end(), sameAttribute) ||
            x->childCount != y->childCount)
            return false;
        if (x->kind == XMLKindProcessingInstruction && x->extra->data != y->extra->data)
            return false;
        for (std::size_t i = 0; i < x->childCount; ++i)
            pending.emplace_back(x->children()[i], y->children()[i]);
    }
    return true;
}

const QByteArray feed = "<rdf:RDF xmlns:rdf='urn:r'><channel><title>CT</title></channel>"
                        "<item rdf:about='u1'><title>I1</title><link>L1</link></item>"
                        "<item rdf:about='u2'><title>I2</title><link>L2</link></item></rdf:RDF>";

} // namespace

class TestXMLSerialise : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writtenForm_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("xml");

        QTest::newRow("escaping")
            << QByteArray("<a k='&quot;&lt;&amp;&gt;&apos;'>x &amp; &lt;y&gt; \"'</a>")
            << u"<a k=\"&quot;&lt;&amp;&gt;'\">x &amp; &lt;y&gt; \"'</a>"_s;
        QTest::newRow("empty-element form as written")
            << QByteArray("<a><b/><c></c><d x='1' /></a>") << u"<a><b/><c></c><d x=\"1\"/></a>"_s;
        QTest::newRow("attributes in written order")
            << QByteArray("<a z='1' xmlns:p='urn:p' a='2' p:m='3'/>")
            << u"<a z=\"1\" xmlns:p=\"urn:p\" a=\"2\" p:m=\"3\"/>"_s;
        QTest::newRow("non-ASCII as references")
            << QByteArray("<a t='\xC3\xA9'>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80</a>")
            << u"<a t=\"&#233;\">caf&#233; &#8364; &#128512;</a>"_s;
        QTest::newRow("white space in attributes kept")
            << QByteArray("<a k='&#10;&#9;&#13;'>l1\nl2&#13;</a>")
            << u"<a k=\"&#10;&#9;&#13;\">l1\nl2&#13;</a>"_s;
        QTest::newRow("comments, PIs, CDATA, entity references")
            << QByteArray("<a><!-- c --><?t d  e?><?u?><![CDATA[<&>]]>&undeclared;</a>")
            << u"<a><!-- c --><?t d  e?><?u?><![CDATA[<&>]]>&undeclared;</a>"_s;
        QTest::newRow("prolog")
            << QByteArray("<?xml version='1.0' encoding='ISO-8859-1' standalone='no'?>"
                          "<!DOCTYPE a PUBLIC '-//P//EN' 'a.dtd'><!--c--><a/><?end?>")
            << u"<?xml version=\"1.0\" standalone=\"no\"?>\n<!DOCTYPE a PUBLIC \"-//P//EN\" "
               "\"a.dtd\">\n<!--c-->\n<a/>\n<?end?>"_s;
        QTest::newRow("internal subset")
            << QByteArray(
                   "<!DOCTYPE a SYSTEM 'x\"y.dtd' [<!ENTITY e 'E'> <!--n--> <?p?>]><a>&e;</a>")
            << u"<!DOCTYPE a SYSTEM 'x\"y.dtd' [<!ENTITY e 'E'> <!--n--> <?p?>]>\n<a>E</a>"_s;
        QTest::newRow("brackets inside the internal subset")
            << QByteArray("<!DOCTYPE r [<!ENTITY e \"[x]\"><!--]-->]><r/>")
            << u"<!DOCTYPE r [<!ENTITY e \"[x]\"><!--]-->]>\n<r/>"_s;
    }

    void writtenForm() {
        QFETCH(QByteArray, document);
        QFETCH(QString, xml);
        QCOMPARE(parsed(document).xml(), xml);
    }

    void roundTrip_data() {
        QTest::addColumn<QByteArray>("document");

        QTest::newRow("feed") << feed;
        QTest::newRow("non-ASCII text and attributes")
            << QByteArray("<?xml version='1.0' encoding='windows-1252'?>"
                          "<r k='\x93q\x94'>caf\xE9 \x80<s>&#x1F600;&#xFFFD;</s></r>");
        QTest::newRow("everything") << QByteArray(
            "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY e '<x>e</x>'>]><!--c--><?p d?>"
            "<r a='&lt;&#10;'>t&e;<![CDATA[ ]]><![CDATA[]]>&nbsp;&undeclared;<e/>"
            "<f>\r\n</f><g> &amp; </g></r><!--end-->");
        QTest::newRow("brackets in subset literals, comments, PIs")
            << QByteArray("<!DOCTYPE r SYSTEM 'r[1].dtd' [<!--[--><!ATTLIST r a CDATA '[a]'><?p ]?>"
                          "<!NOTATION n SYSTEM ']'>]><r>&nbsp;</r>");
    }

    void roundTrip() {
        QFETCH(QByteArray, document);
        const XMLTree first = parsed(document);
        const auto text = first.xml();
        QVERIFY(text);
        QVERIFY(
            std::all_of(text->begin(), text->end(), [](QChar c) { return c.unicode() < 0x80; }));
        const auto second = XMLTree::treeWithData(text->toUtf8());
        QVERIFY2(second, qPrintable(*text));
        QVERIFY(sameTree(*first.node(), *second->node()));
        QCOMPARE(second->xml(), text);

        // Each top-level node writes the same text as it has within the whole.
        for (int i = 0; i < first.count(); ++i) {
            const auto part = first.childAtIndex(i)->xml();
            QVERIFY(part);
            QVERIFY(text->contains(*part));
        }
    }

    void unwritable() {
        // Names and text with no escaped form cannot be written in ASCII.
        QVERIFY(!parsed("<caf\xC3\xA9/>").xml());
        QVERIFY(!parsed("<a caf\xC3\xA9='1'/>").xml());
        QVERIFY(!parsed("<a><!-- caf\xC3\xA9 --></a>").xml());
        QVERIFY(!parsed("<a><![CDATA[caf\xC3\xA9]]></a>").xml());
        // What can be written still can, beside them.
        const XMLTree doc = parsed("<a><b>caf\xC3\xA9</b><caf\xC3\xA9/></a>");
        QCOMPARE(doc.descendentNamed(u"b"_s)->xml(), u"<b>caf&#233;</b>"_s);
        QCOMPARE(doc.descendentNamed(u"b"_s)->childAtIndex(0)->xml(), u"caf&#233;"_s);
    }

    void xpathLogsAndAnswersNothing() {
        const XMLTree doc = parsed(feed);
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        for (const QString& path : {u"/rdf:RDF/channel/title"_s, QString(), u"["_s}) {
            QTest::ignoreMessage(
                QtWarningMsg,
                "The path function is still being developed. It doesn't work yet. Sorry.");
            QVERIFY(!doc.xpath(path));
        }
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
        row("bracket", feed, "item[1]", "none", "item[1]");
        row("bracket at a later step", feed, "item/link[1]", "none", "link[1]");
        row("attribute of the document", feed, "@version", "none", "@version");
        row("missing name", feed, "missing/title", "none", "/title");
        row("leading double slash", feed, "//rdf:RDF//item//link", "node:link:L2");
        row("a//b/", "<a><x><b>1</b></x><b>2</b></a>", "a//b/", "node:b:2");
        row("x@@k@", "<x k='v'/>", "x@@k@", "value:v", "k");
        row("outermost of nested names", "<a><a>inner</a>outer</a>", "a", "node:a:innerouter");
        row("only slashes", "<a/>", "//", "none");
    }
    void evaluator() {
        QFETCH(QByteArray, document);
        QFETCH(QString, path);
        QFETCH(QString, result);
        QFETCH(QString, left);
        const XMLTree doc = parsed(document);
        const XMLPathResult found = XMLTreeXPath(path, doc.node());
        if (result == u"none"_s) {
            QVERIFY(std::holds_alternative<std::monostate>(found));
        } else if (result.startsWith(u"value:"_s)) {
            QVERIFY(std::holds_alternative<QString>(found));
            QCOMPARE(std::get<QString>(found), result.mid(6));
        } else {
            QVERIFY(std::holds_alternative<XMLNodePtr>(found));
            const XMLTree node = XMLTree::treeWithNode(std::get<XMLNodePtr>(found)).value();
            QCOMPARE(u"node:"_s + node.name().value_or(QString()) + u':' + node.description(),
                     result);
        }
        QCOMPARE(path, left);
    }

    void evaluatorEmptyPathGivesSameNode() {
        const XMLTree doc = parsed(feed);
        const XMLNodePtr channel = doc.descendentNamed(u"channel"_s)->node();
        QString path;
        const XMLPathResult found = XMLTreeXPath(path, channel);
        QVERIFY(std::holds_alternative<XMLNodePtr>(found));
        QCOMPARE(std::get<XMLNodePtr>(found), channel);
        // A name step from the root's own name: the start node is never compared.
        path = u"rdf:RDF"_s;
        QVERIFY(std::holds_alternative<std::monostate>(
            XMLTreeXPath(path, doc.descendentNamed(u"rdf:RDF"_s)->node())));
        // An attribute step from a text node.
        path = u"@k"_s;
        QVERIFY(std::holds_alternative<std::monostate>(
            XMLTreeXPath(path, doc.descendentNamed(u"CT"_s)->node())));
    }
};

QTEST_GUILESS_MAIN(TestXMLSerialise)
#include "tst_xmlserialise.moc"

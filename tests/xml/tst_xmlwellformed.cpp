// XML 1.0 well-formedness: what must be refused, and what must be read, in each encoding.

#include "XMLTree.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray utf16(const QString& text, bool bigEndian) {
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace

class TestXMLWellFormed : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refused_data() {
        QTest::addColumn<QByteArray>("document");

        // Structure.
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("no root, only a comment") << QByteArray("<!-- c -->");
        QTest::newRow("unclosed root") << QByteArray("<a><b/>");
        QTest::newRow("mismatched tags") << QByteArray("<a><b></a></b>");
        QTest::newRow("end tag differs in case") << QByteArray("<a></A>");
        QTest::newRow("two roots") << QByteArray("<a/><b/>");
        QTest::newRow("text after the root") << QByteArray("<a/>tail");
        QTest::newRow("text before the root") << QByteArray("head<a/>");
        QTest::newRow("XML declaration not first") << QByteArray(" <?xml version='1.0'?><a/>");
        QTest::newRow("doctype after the root") << QByteArray("<a/><!DOCTYPE a>");
        // Names and attributes.
        QTest::newRow("name starting with a digit") << QByteArray("<1a/>");
        QTest::newRow("duplicate attribute") << QByteArray("<a k='1' k='2'/>");
        QTest::newRow("< in attribute value") << QByteArray("<a k='x<y'/>");
        QTest::newRow("unquoted attribute") << QByteArray("<a k=v/>");
        QTest::newRow("attribute without value") << QByteArray("<a k/>");
        QTest::newRow("attributes not separated") << QByteArray("<a k='1'j='2'/>");
        // Characters and references.
        QTest::newRow("bare ampersand") << QByteArray("<a>fish & chips</a>");
        QTest::newRow("ampersand without semicolon") << QByteArray("<a>&amp</a>");
        QTest::newRow("]]> in text") << QByteArray("<a>x]]>y</a>");
        QTest::newRow("-- inside a comment") << QByteArray("<a><!-- x -- y --></a>");
        QTest::newRow("control character") << QByteArray("<a>\x01</a>");
        QTest::newRow("NUL byte") << QByteArray("<a>x\0y</a>", 10);
        QTest::newRow("reference to NUL") << QByteArray("<a>&#0;</a>");
        QTest::newRow("reference to a surrogate") << QByteArray("<a>&#xD800;</a>");
        QTest::newRow("reference beyond Unicode") << QByteArray("<a>&#x110000;</a>");
        QTest::newRow("unterminated CDATA") << QByteArray("<a><![CDATA[x</a>");
        QTest::newRow("unterminated comment") << QByteArray("<a><!-- x</a>");
        QTest::newRow("recursive entity")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '&f;'><!ENTITY f '&e;'>]><a>&e;</a>");
        QTest::newRow("entity with unbalanced markup")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</b></a>");
        // Encodings.
        QTest::newRow("overlong UTF-8") << QByteArray("<a>\xC0\xAF</a>");
        QTest::newRow("UTF-8 surrogate") << QByteArray("<a>\xED\xA0\x80</a>");
        QTest::newRow("Latin-1 bytes without a declaration") << QByteArray("<a>caf\xE9</a>");
        QTest::newRow("Latin-1 bytes declared as UTF-8")
            << QByteArray("<?xml version='1.0' encoding='UTF-8'?><a>caf\xE9</a>");
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version='1.0' encoding='x-no-such-thing'?><a/>");
        QTest::newRow("truncated UTF-16") << utf16(u"<a>x</a>"_s, false).chopped(1);
        QTest::newRow("US-ASCII with a high byte")
            << QByteArray("<?xml version='1.0' encoding='US-ASCII'?><a>\xE9</a>");
    }

    void refused() {
        QFETCH(QByteArray, document);
        QVERIFY(!XMLTree::treeWithData(document));
    }

    void accepted_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("rootName");
        QTest::addColumn<QString>("text");

        QTest::newRow("smallest") << QByteArray("<a/>") << u"a"_s << QString();
        QTest::newRow("declaration, prolog and epilog")
            << QByteArray("<?xml version=\"1.0\" standalone='no' ?>\n<!-- c -->\n<?pi x?>\n"
                          "<!DOCTYPE a PUBLIC '-//X//Y//EN' 'http://example.invalid/a.dtd'>\n"
                          "<a>t</a>\n<!-- after -->\n<?after?>\n")
            << u"a"_s << u"t"_s;
        QTest::newRow("markup in CDATA and attributes")
            << QByteArray("<a k='>&quot;&apos;\"'><![CDATA[<b>&amp;</b>]]>&gt;</a>") << u"a"_s
            << u">"_s;
        QTest::newRow("prefixes without declarations")
            << QByteArray("<x:a y:k='1'><x:b:c/></x:a>") << u"x:a"_s << QString();
        QTest::newRow("internal entities")
            << QByteArray("<!DOCTYPE a [<!ENTITY e 'E<b>&f;</b>'><!ENTITY f 'F'>]><a>&e;</a>")
            << u"a"_s << u"EF"_s;
        QTest::newRow("UTF-8 with BOM and non-ASCII names")
            << QByteArray("\xEF\xBB\xBF<caf\xC3\xA9>\xE2\x82\xAC \xF0\x9F\x98\x80</caf\xC3\xA9>")
            << u"caf\u00e9"_s << u"\u20ac \U0001F600"_s;
        QTest::newRow("UTF-16 little-endian")
            << utf16(u"<?xml version='1.0' encoding='UTF-16'?><\u00e9>\u20ac\U0001F600</\u00e9>"_s,
                     false)
            << u"\u00e9"_s << u"\u20ac\U0001F600"_s;
        QTest::newRow("UTF-16 big-endian")
            << utf16(u"<r>\u4e2d\u6587 &nbsp;</r>"_s, true) << u"r"_s << u"\u4e2d\u6587 \u00a0"_s;
        QTest::newRow("ISO-8859-1")
            << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><r k='\xE9'>caf\xE9 \xFF</r>")
            << u"r"_s << u"caf\u00e9 \u00ff"_s;
        QTest::newRow("US-ASCII") << QByteArray("<?xml version='1.0' encoding='us-ascii'?><r>x</r>")
                                  << u"r"_s << u"x"_s;
        QTest::newRow("windows-1252")
            << QByteArray(
                   "<?xml version='1.0' encoding='windows-1252'?><r>\x93quoted\x94 \x80 \xE9</r>")
            << u"r"_s << u"\u201cquoted\u201d \u20ac \u00e9"_s;
        QTest::newRow("line ends normalised")
            << QByteArray("<r>a\r\nb\rc</r>") << u"r"_s << u"a\nb\nc"_s;
    }

    void accepted() {
        QFETCH(QByteArray, document);
        QFETCH(QString, rootName);
        QFETCH(QString, text);
        const auto tree = XMLTree::treeWithData(document);
        QVERIFY(tree);
        std::optional<XMLTree> root;
        for (int i = 0; i < tree->count(); ++i)
            if (tree->childAtIndex(i)->type() == XMLKindElement)
                root = tree->childAtIndex(i);
        QVERIFY(root);
        QCOMPARE(root->name(), rootName);
        QCOMPARE(tree->description(), text);
    }
};

QTEST_GUILESS_MAIN(TestXMLWellFormed)
#include "tst_xmlwellformed.moc"

// XML 1.0 well-formedness: what must be refused, and what must be read, in each encoding. Rows
// that only exercise expat's own checks are left to expat.

#include "XMLTree.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray utf16(const QString& text, bool bigEndian) {
    QStringEncoder encode(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                          QStringConverter::Flag::WriteBom);
    return encode(text);
}

} // namespace

class TestXMLWellFormed : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refused_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("unclosed root") << QByteArray("<a><b/>");
        QTest::newRow("NUL byte") << QByteArray("<a>x\0y</a>", 10);
        QTest::newRow("recursive entity")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '&f;'><!ENTITY f '&e;'>]><a>&e;</a>");
        QTest::newRow("entity with unbalanced markup")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</b></a>");
        QTest::newRow("Latin-1 bytes without a declaration") << QByteArray("<a>caf\xE9</a>");
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version='1.0' encoding='x-no-such-thing'?><a/>");
    }

    void refused() {
        QFETCH(QByteArray, document);
        QVERIFY(!XMLTree::treeWithData(document));
    }

    void accepted_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("rootName");
        QTest::addColumn<QString>("text");

        QTest::newRow("declaration, prolog and epilog")
            << QByteArray("<?xml version=\"1.0\" standalone='no' ?>\n<!-- c -->\n<?pi x?>\n"
                          "<!DOCTYPE a PUBLIC '-//X//Y//EN' 'http://example.invalid/a.dtd'>\n"
                          "<a>t</a>\n<!-- after -->\n<?after?>\n")
            << u"a"_s << u"t"_s;
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
        QTest::newRow("windows-1252")
            << QByteArray(
                   "<?xml version='1.0' encoding='windows-1252'?><r>\x93quoted\x94 \x80 \xE9</r>")
            << u"r"_s << u"\u201cquoted\u201d \u20ac \u00e9"_s;
    }

    void accepted() {
        QFETCH(QByteArray, document);
        QFETCH(QString, rootName);
        QFETCH(QString, text);
        const auto tree = XMLTree::treeWithData(document);
        QVERIFY(tree);
        QCOMPARE(tree->descendentNamed(rootName).value_or(XMLTree()).type(), int(XMLKindElement));
        QCOMPARE(tree->description(), text);
    }
};

QTEST_GUILESS_MAIN(TestXMLWellFormed)
#include "tst_xmlwellformed.moc"

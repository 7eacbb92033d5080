// The node tree: creation, kinds and names, text content, the searches, ownership, encodings, and
// documents that are malformed or try to exhaust the stack or memory.

#include "Parsed.h"
#include "XMLTree.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Follows a list of child indexes from tree.
XMLTree at(const XMLTree& tree, std::initializer_list<int> path) {
    XMLTree node = tree;
    for (int index : path)
        node = node.childAtIndex(index).value();
    return node;
}

QByteArray nested(int depth, const QByteArray& inner) {
    return QByteArray("<a>").repeated(depth) + inner + QByteArray("</a>").repeated(depth);
}

// One entity of size characters, referenced so many times.
QByteArray amplified(int size, int references) {
    return "<!DOCTYPE r [<!ENTITY e '" + QByteArray(size, 'x') + "'>]><r>" +
           QByteArray("&e;").repeated(references) + "</r>";
}

// Entities that each refer fanout times to the one before, the first of them holding bottom.
QByteArray nestedEntities(const QByteArray& bottom, int levels, int fanout) {
    QByteArray doc = "<!DOCTYPE r [<!ENTITY e0 '" + bottom + "'>";
    for (int i = 1; i <= levels; ++i)
        doc += "<!ENTITY e" + QByteArray::number(i) + " '" +
               ("&e" + QByteArray::number(i - 1) + ";").repeated(fanout) + "'>";
    return doc + "]><r>&e" + QByteArray::number(levels) + ";</r>";
}

QByteArray utf16(const QString& text, bool bigEndian) {
    QStringEncoder encode(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                          QStringConverter::Flag::WriteBom);
    return encode(text);
}

// A file called name in dir with content; its URL.
QUrl written(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("could not write %s", qPrintable(file.fileName()));
    return QUrl::fromLocalFile(file.fileName());
}

// The tree as one line: each node as kind:name, its children in brackets.
QString outline(const XMLTree& node) {
    QString text = QString::number(node.type()) + u':' + node.name().value_or(QString());
    if (node.count() <= 0)
        return text;
    QStringList children;
    for (int i = 0; i < node.count(); ++i)
        children.append(outline(node.childAtIndex(i).value()));
    return text + u'[' + children.join(u' ') + u']';
}

} // namespace

class TestXMLTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void creationAndTheEmptyWrapper() {
        QVERIFY(!XMLTree::treeWithData(QByteArray()) && !XMLTree::treeWithNode(nullptr));
        // From a URL: only a local file that can be read and parses.
        QTemporaryDir dir;
        const auto read = XMLTree::treeWithURL(written(dir, u"feed.xml"_s, "<r><t>hi</t></r>"));
        QCOMPARE(read.value_or(XMLTree()).description(), u"hi"_s);
        for (const QUrl& url : {written(dir, u"bad.xml"_s, "<r>"), QUrl::fromLocalFile(dir.path()),
                                QUrl(u"http://127.0.0.1:1/feed.xml"_s)})
            QVERIFY2(!XMLTree::treeWithURL(url), qPrintable(url.toString()));

        // The empty wrapper answers everything with nothing.
        const XMLTree empty;
        QCOMPARE(empty.count() * 10 + empty.type(), -10);
        QVERIFY(empty.description().isNull() && !empty.childAtIndex(0) && !empty.parent() &&
                !empty.xml() && !empty.descendentNamed(u"a"_s) &&
                !empty.childNamed(u"a"_s, u"k"_s, u"v"_s) && !empty.attributeNamed(u"k"_s));
    }

    void kindsNamesAndChildren() {
        // Text that is only blank makes no node; other text keeps its blanks.
        const XMLTree doc = parsed("<?xml version='1.0'?><!DOCTYPE rdf:RDF><!--top--><?style x?>"
                                   "<rdf:RDF>\n  <i>t<![CDATA[c]]>&undeclared;</i>\r\n\t"
                                   "<j> spaced </j>\n</rdf:RDF>\n");
        QCOMPARE(outline(doc), u"1:[11:rdf:RDF 5:top 4:style 2:rdf:RDF[2:i[6:t 7:c 10:undeclared] "
                               "2:j[6: spaced ]]]"_s);
        // Comments and CDATA describe themselves by their text.
        QCOMPARE(at(doc, {1}).description() + at(doc, {3, 0, 1}).description(), u"topc"_s);
        for (int outside : {2, -1, std::numeric_limits<int>::min()})
            QVERIFY(!at(doc, {3}).childAtIndex(outside));
    }

    void description_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("text"); // of the document and of its root alike
        const auto row = [](const char* document, const QString& text) {
            QTest::newRow(document) << QByteArray(document) << text;
        };
        row("<a><![CDATA[hidden]]>1<!--c-->2<?p d?>3&nope;4</a>", u"1234"_s);
        row("<a>&lt;&amp;&#233;&#x1F600;&nbsp;&eacute;</a>", u"<&\u00e9\U0001F600\u00a0\u00e9"_s);
        row("<a><b><c>1</c>2</b><d><e><f>3</f></e></d></a>", u"123"_s);
        row("<a>x<![CDATA[y]]>z</a>", u"xz"_s);
        row("<!DOCTYPE a [<!ENTITY e 'E<b>&f;</b>'><!ENTITY f 'F'>]><a>&e;</a>", u"EF"_s);
        row("<?xml version='1.0' encoding='windows-1252'?><r>\x93q\x94 \x80 \xE9</r>",
            u"\u201cq\u201d \u20ac \u00e9"_s);
        row("\xEF\xBB\xBF<caf\xC3\xA9>\xE2\x82\xAC \xF0\x9F\x98\x80</caf\xC3\xA9>",
            u"\u20ac \U0001F600"_s);
        QTest::newRow("UTF-16LE") << utf16(u"<?xml version='1.0' encoding='UTF-16'?><\u00e9>"
                                           "\u20ac\U0001F600</\u00e9>"_s,
                                           false)
                                  << u"\u20ac\U0001F600"_s;
        QTest::newRow("UTF-16BE") << utf16(u"<r>\u4e2d &nbsp;</r>"_s, true) << u"\u4e2d \u00a0"_s;
    }
    void description() {
        QFETCH(QByteArray, document);
        QFETCH(QString, text);
        const XMLTree doc = parsed(document);
        QCOMPARE(doc.description(), text);
        QCOMPARE(at(doc, {doc.count() - 1}).description(), text);
    }

    void descendentNamed_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("found"); // "<kind>:<description>", empty for nothing
        const auto row = [](const char* document, const char* name, const char* found) {
            QTest::newRow(document)
                << QByteArray(document) << QString::fromUtf8(name) << QString::fromUtf8(found);
        };
        row("<a><b><b>inner</b>outer</b></a>", "b", "2:innerouter");
        row("<a><b>1<b>2</b></b><c><b>3<b>4</b></b></c><d/></a>", "b", "2:34");
        row("<item><link>u</link><title>link</title></item>", "link", "6:link");
        row("<rdf:RDF xmlns:rdf='urn:r'/>", "RDF", "");
        row("<a><b>x</b><!--b--></a>", "b", "5:b");
        row("<!DOCTYPE z><z/>", "z", "2:");
        row("<a k='b'/>", "k", "");
    }
    void descendentNamed() {
        QFETCH(QByteArray, document);
        QFETCH(QString, name);
        QFETCH(QString, found);
        const auto hit = parsed(document).descendentNamed(name);
        QCOMPARE(hit ? QString::number(hit->type()) + u':' + hit->description() : QString(), found);
    }

    // Parts kept after the document and every other wrapper are gone, on another thread: each
    // keeps exactly its subtree readable, and the rest goes (the sanitizer build checks both).
    void partsOutliveTheDocument() {
        QByteArray doc = "<r>";
        for (int i = 0; i < 500; ++i)
            doc += "<item about='u" + QByteArray::number(i) + "'><title>T" + QByteArray::number(i) +
                   " caf\xc3\xa9</title><link>L</link></item>";
        std::vector<XMLTree> items;
        std::optional<XMLTree> tree = parsed(doc + "</r>"), link, text;
        std::thread([&] {
            for (int i = 0; i < 500; i += 7)
                items.push_back(at(*tree, {0, i}));
            link = at(*tree, {0, 499, 1});
            text = at(*tree, {0, 1, 0, 0}); // of an item that no wrapper holds
            tree.reset();
        }).join();
        QCOMPARE(text->description(), u"T1 caf\u00e9"_s);
        QVERIFY(!text->parent() && !link->parent() && !items[1].parent());
        QCOMPARE(link->childAtIndex(0)->parent()->node(), link->node());
        for (std::size_t i = 0; i < items.size(); i += 2)
            items[i] = XMLTree();
        QCOMPARE(items[3].attributeNamed(u"about"_s), u"u21"_s);
        QCOMPARE(items[3].description(), u"T21 caf\u00e9L"_s);
        QCOMPARE(items[3].childAtIndex(1)->parent()->node(), items[3].node());
    }

    // Texts and attribute values longer than the blocks that most nodes take, in and out of ASCII,
    // and a byte order mark at the start of a text.
    void longTextsAndValues() {
        const QByteArray ascii(100000, 'a');
        const QByteArray accented =
            QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80").repeated(30000);
        const XMLTree a = at(parsed("<r><a k='" + ascii + "' j='" + accented + "'>\xef\xbb\xbf" +
                                    ascii + accented + "</a></r>"),
                             {0, 0});
        QCOMPARE(a.description(),
                 QChar(0xfeff) + QString::fromLatin1(ascii) + QString::fromUtf8(accented));
        QCOMPARE(a.attributeNamed(u"k"_s), QString::fromLatin1(ascii));
        QCOMPARE(a.attributeNamed(u"j"_s), QString::fromUtf8(accented));
    }

    void childrenByNameAndAttributes() {
        // The first child of that name, of any kind; but by attribute value, elements only.
        const XMLTree item = at(parsed("<item>e<link>1</link><link k='x'>2</link><x><deep/></x>"
                                       "<e k='X'>upper</e><f k='x'/><e k='x'>lower</e></item>"),
                                {0});
        QCOMPARE(item.childNamed(u"link"_s)->description(), u"1"_s);
        QCOMPARE(item.childNamed(u"e"_s)->type(), int(XMLKindText));
        QVERIFY(!item.childNamed(u"deep"_s) && !item.descendentNamed(u"item"_s));
        QCOMPARE(item.childNamed(u"e"_s, u"k"_s, u"x"_s)->description(), u"lower"_s);
        QCOMPARE(item.childNamed(u"e"_s, u"k"_s, u"X"_s)->description(), u"upper"_s);
        QVERIFY(!item.childNamed(u"e"_s, u"K"_s, u"x"_s));

        // Attributes as written, in order; none that a DTD adds by default; none for other kinds.
        const XMLTree root = at(parsed("<!DOCTYPE r [<!ATTLIST r d CDATA 'dv'>]>"
                                       "<r xmlns:p='urn:p' z='1' p:about='u&amp;v'>text</r>"),
                                {1});
        const XMLAttributes expected = {
            {u"xmlns:p"_s, u"urn:p"_s}, {u"z"_s, u"1"_s}, {u"p:about"_s, u"u&v"_s}};
        QCOMPARE(root.attributes(), expected);
        QVERIFY(!root.attributeNamed(u"about"_s) && !at(root, {0}).attributes());
    }

    void entities() {
        // An HTML name resolves to its character, in text and in attribute values; other undeclared
        // names become entity-reference nodes (between two texts here) that add nothing.
        const XMLTree title =
            at(parsed("<title a='x&nbsp;y&mdash;'>A&nbsp;B &hellip; &madeup;C</title>"), {0});
        QCOMPARE(title.description() + title.attributeNamed(u"a"_s).value(),
                 u"A\u00a0B \u2026 Cx\u00a0y\u2014"_s);
        QCOMPARE(title.count(), 3);
        // The document's own declarations come first, and may be used generously.
        QCOMPARE(parsed("<!DOCTYPE r [<!ENTITY nbsp 'NB'>]><r>&nbsp;&copy;</r>").description(),
                 u"NB\u00a9"_s);
        QCOMPARE(parsed(amplified(80, 10000)).description().size(), 800000);
        // External entities and DTDs are never read.
        QTemporaryDir dir;
        const QByteArray url = written(dir, u"secret.txt"_s, "SECRET").toEncoded();
        QCOMPARE(
            parsed("<!DOCTYPE r [<!ENTITY ext SYSTEM '" + url + "'>]><r>a&ext;b</r>").description(),
            u"ab"_s);
        QCOMPARE(parsed("<!DOCTYPE r SYSTEM '" + url + "'><r>&nbsp;</r>").description(),
                 u"\u00a0"_s);
    }

    // Malformed documents, and documents that would build more than the parse affords, whatever
    // their size, are refused.
    void refused_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("unclosed root") << QByteArray("<a><b/>");
        QTest::newRow("NUL byte") << QByteArray("<a>x\0y</a>", 10);
        QTest::newRow("recursive entity")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '&f;'><!ENTITY f '&e;'>]><a>&e;</a>");
        QTest::newRow("entity with unbalanced markup")
            << QByteArray("<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</b></a>");
        QTest::newRow("Latin-1 without a declaration") << QByteArray("<a>caf\xE9</a>");
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version='1.0' encoding='x-no-such-thing'?><a/>");
        QTest::newRow("standalone, undeclared")
            << QByteArray("<?xml version='1.0' standalone='yes'?><r>&madeup;</r>");
        QTest::newRow("billion laughs") << nestedEntities("lollollollollollollollollollol", 9, 10);
        QTest::newRow("element bomb") << nestedEntities("<e/><e/><e/><e/><e/><e/><e/><e/>", 7, 8);
        // Past 16 MiB of text, below expat's own limit of amplification.
        QTest::newRow("amplified") << amplified(50, 400000);
        for (const char* declared : {"<!--x-->", "<!ENTITY a \"x\">"})
            QTest::newRow(declared) << "<!DOCTYPE r [<!ENTITY % p '" + QByteArray(declared) +
                                           QByteArray(60, ' ') + "'>" +
                                           QByteArray("%p;").repeated(300000) + "]><r/>";
        // Past 64 MiB of tree, with no entity at all.
        QTest::newRow("empty elements") << "<r>" + QByteArray("<a/>").repeated(1500000) + "</r>";
        QTest::newRow("PIs") << "<r>" + QByteArray("<?a?>").repeated(500000) + "</r>";
        QByteArray names = "<r>";
        for (int i = 0; i <= 100000; ++i)
            names += "<n" + QByteArray::number(i) + "/>";
        QTest::newRow("100,001 names") << names + "</r>";
        QTest::newRow("100,000 levels") << nested(100000, "<b/>");
    }
    void refused() {
        QFETCH(QByteArray, document);
        QVERIFY(!XMLTree::treeWithData(document));
    }

    void veryDeepDocuments() {
        // Searching, writing and letting go need no recursion.
        const int depth = 100000 - 1;
        std::optional<XMLTree> doc = XMLTree::treeWithData(nested(depth, "<b>deep</b>"));
        QCOMPARE(doc.value_or(XMLTree()).description(), u"deep"_s);
        QVERIFY(!doc->descendentNamed(u"missing"_s));
        QCOMPARE(doc->xml().value_or(QString()).size(), qsizetype(depth) * 7 + 11);
        QString path = u"a/b"_s;
        QVERIFY(std::holds_alternative<XMLNodePtr>(XMLTreeXPath(path, doc->node())));
        const auto inner = doc->descendentNamed(u"b"_s)->parent();
        doc.reset();
        QCOMPARE(inner->description(), u"deep"_s);
    }
};

QTEST_GUILESS_MAIN(TestXMLTree)
#include "tst_xmltree.moc"

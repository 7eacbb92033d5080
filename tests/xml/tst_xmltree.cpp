// The node tree: creation, kinds and names, text content, the searches, ownership, and documents
// that try to exhaust the stack or memory.

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

// Writes content to a file called name in dir; its path.
QString written(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("could not write %s", qPrintable(file.fileName()));
    return file.fileName();
}

} // namespace

class TestXMLTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void creationAndTheEmptyWrapper() {
        QVERIFY(!XMLTree::treeWithData(QByteArray()));
        QVERIFY(!XMLTree::treeWithNode(nullptr));
        // From a URL: only a local file that can be read and parses.
        QTemporaryDir dir;
        const auto read = XMLTree::treeWithURL(
            QUrl::fromLocalFile(written(dir, u"feed.xml"_s, "<r><t>hi</t></r>")));
        QCOMPARE(read.value_or(XMLTree()).description(), u"hi"_s);
        for (const QString& path :
             {written(dir, u"bad.xml"_s, "<r>"), dir.filePath(u"missing.xml"_s), dir.path()})
            QVERIFY2(!XMLTree::treeWithURL(QUrl::fromLocalFile(path)), qPrintable(path));
        QVERIFY(!XMLTree::treeWithURL(QUrl(u"http://127.0.0.1:1/feed.xml"_s)));

        // The empty wrapper answers everything with nothing.
        const XMLTree empty;
        QCOMPARE(empty.count(), -1);
        QCOMPARE(empty.type(), 0);
        QCOMPARE(empty.description(), QString());
        QVERIFY(!empty.childAtIndex(0) && !empty.name() && !empty.parent() && !empty.xml());
        QVERIFY(!empty.descendentNamed(u"a"_s) && !empty.childNamed(u"a"_s) &&
                !empty.childNamed(u"a"_s, u"k"_s, u"v"_s));
        QVERIFY(!empty.attributes() && !empty.attributeNamed(u"k"_s));
    }

    void kindsNamesAndChildren() {
        // Text that is only blank makes no node; other text keeps its blanks.
        const XMLTree doc = parsed("<?xml version='1.0'?><!DOCTYPE rdf:RDF><!--top--><?style x?>"
                                   "<rdf:RDF>\n  <i>t<![CDATA[c]]>&undeclared;</i>\r\n\t"
                                   "<j> spaced </j>\n</rdf:RDF>\n");
        QCOMPARE(doc.count(), 4);
        const std::tuple<XMLTree, XMLNodeKind, QString> expected[] = {
            {at(doc, {0}), XMLKindDocumentType, u"rdf:RDF"_s},
            {at(doc, {1}), XMLKindComment, u"top"_s},
            {at(doc, {2}), XMLKindProcessingInstruction, u"style"_s},
            {at(doc, {3}), XMLKindElement, u"rdf:RDF"_s},
            {at(doc, {3, 0, 0}), XMLKindText, u"t"_s},
            {at(doc, {3, 0, 1}), XMLKindCDATASection, u"c"_s},
            {at(doc, {3, 0, 2}), XMLKindEntityReference, u"undeclared"_s},
            {at(doc, {3, 1, 0}), XMLKindText, u" spaced "_s},
        };
        for (const auto& [node, kind, name] : expected) {
            QCOMPARE(node.type(), int(kind));
            QCOMPARE(node.name(), name);
        }
        // Comments, processing instructions, texts and CDATA describe themselves by their name.
        QCOMPARE(at(doc, {1}).description(), u"top"_s);
        QCOMPARE(at(doc, {3, 0, 1}).description(), u"c"_s);
        const XMLTree root = at(doc, {3});
        QCOMPARE(root.count(), 2);
        for (int outside : {2, -1, std::numeric_limits<int>::min()})
            QVERIFY(!root.childAtIndex(outside));
    }

    void description_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("text"); // of the document and of its root alike
        QTest::newRow("cdata only") << QByteArray("<a><![CDATA[hidden]]></a>") << QString();
        QTest::newRow("comments, PIs, entity references add nothing")
            << QByteArray("<a>1<!--c-->2<?p d?>3&nope;4</a>") << u"1234"_s;
        QTest::newRow("references folded into text")
            << QByteArray("<a>&lt;&amp;&#233;&#x1F600;&nbsp;&eacute;</a>")
            << u"<&\u00e9\U0001F600\u00a0\u00e9"_s;
        QTest::newRow("deeply nested text, no separators")
            << QByteArray("<a><b><c>1</c>2</b><d><e><f>3</f></e></d></a>") << u"123"_s;
        QTest::newRow("text beside cdata stays apart")
            << QByteArray("<a>x<![CDATA[y]]>z</a>") << u"xz"_s;
    }
    void description() {
        QFETCH(QByteArray, document);
        QFETCH(QString, text);
        const XMLTree doc = parsed(document);
        QCOMPARE(doc.description(), text);
        QCOMPARE(at(doc, {0}).description(), text);
    }

    void descendentNamed_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("found"); // "<kind>:<description>", empty for nothing
        const auto row = [](const char* title, const char* document, const char* name,
                            const char* found) {
            QTest::newRow(title) << QByteArray(document) << QString::fromUtf8(name)
                                 << QString::fromUtf8(found);
        };
        row("outer of nested", "<a><b><b>inner</b>outer</b></a>", "b", "2:innerouter");
        row("last outermost, after a nested one",
            "<a><b>1<b>2</b></b><c><b>3<b>4</b></b></c><d/></a>", "b", "2:34");
        row("text in title beats earlier link", "<item><link>u</link><title>link</title></item>",
            "link", "6:link");
        row("no namespace processing", "<rdf:RDF xmlns:rdf='urn:r'/>", "RDF", "");
        row("comment compared by its text", "<a><b>x</b><!--b--></a>", "b", "5:b");
        row("document type declaration is compared", "<!DOCTYPE z><z/>", "z", "2:");
        row("attributes are not nodes", "<a k='b'/>", "k", "");
    }
    void descendentNamed() {
        QFETCH(QByteArray, document);
        QFETCH(QString, name);
        QFETCH(QString, found);
        const auto hit = parsed(document).descendentNamed(name);
        QCOMPARE(hit ? QString::number(hit->type()) + u':' + hit->description() : QString(), found);
    }

    // Parts of a feed kept after the document and every other wrapper are gone: each keeps exactly
    // its subtree readable, and the rest goes (the sanitizer build checks both: reading what has
    // gone, and leaking what was kept).
    void partsOutliveTheDocument() {
        QByteArray doc = "<r>";
        for (int i = 0; i < 500; ++i)
            doc += "<item about='u" + QByteArray::number(i) + "'><title>T" + QByteArray::number(i) +
                   " caf\xc3\xa9</title><link>L</link><d>" + QByteArray(200, 'd') + "</d></item>";
        std::vector<XMLTree> items;
        std::optional<XMLTree> root, lastLink, firstTitleText;
        {
            const XMLTree tree = parsed(doc + "</r>");
            root = tree.childAtIndex(0);
            for (int i = 0; i < 500; i += 7)
                items.push_back(*root->childAtIndex(i));
            lastLink = root->childAtIndex(499)->childNamed(u"link"_s);
            firstTitleText = at(*root, {1, 0, 0}); // of an item that no wrapper holds
        }
        // The root element still holds every item; its parent, the document, has gone.
        QVERIFY(!root->parent());
        QCOMPARE(lastLink->parent()->parent()->node(), root->node());
        root.reset();
        QCOMPARE(firstTitleText->description(), u"T1 caf\u00e9"_s);
        QVERIFY(!firstTitleText->parent() && !lastLink->parent());
        QCOMPARE(lastLink->childAtIndex(0)->parent()->node(), lastLink->node());
        // Let go of every other item, then of the rest.
        for (std::size_t i = 0; i < items.size(); i += 2)
            items[i] = XMLTree();
        for (std::size_t i = 1; i < items.size(); i += 2) {
            const QString n = QString::number(7 * i);
            QVERIFY(!items[i].parent());
            QCOMPARE(items[i].attributeNamed(u"about"_s), u"u"_s + n);
            QCOMPARE(items[i].description(), u"T"_s + n + u" caf\u00e9L"_s + QString(200, u'd'));
            QCOMPARE(items[i].childAtIndex(1)->parent()->node(), items[i].node());
        }
    }

    // Texts and attribute values longer than the blocks that most nodes take, in and out of ASCII,
    // and a byte order mark at the start of a text.
    void longTextsAndValues() {
        const QByteArray ascii(100000, 'a');
        const QByteArray accented =
            QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80").repeated(30000);
        const XMLTree doc =
            parsed("<r><a k='" + ascii + "' j='" + accented + "'>" + ascii + accented +
                   "</a><c>\xef\xbb\xbf"
                   "bom</c></r>");
        const XMLTree a = doc.descendentNamed(u"a"_s).value();
        QCOMPARE(a.description(), QString::fromLatin1(ascii) + QString::fromUtf8(accented));
        QCOMPARE(a.attributeNamed(u"k"_s), QString::fromLatin1(ascii));
        QCOMPARE(a.attributeNamed(u"j"_s), QString::fromUtf8(accented));
        QCOMPARE(doc.descendentNamed(u"c"_s)->description(), u"\ufeffbom"_s);
    }

    // A document and its wrappers are used by one thread at a time, which need not be the thread
    // that parsed it. Wrappers made and dropped on another thread, and the last holder going there
    // after the thread that made it has ended, leave nothing behind (the sanitizer build checks).
    void wrappersMoveBetweenThreads() {
        std::optional<XMLTree> doc = parsed("<r><i>1</i><i>2</i><i>3</i></r>");
        std::optional<XMLTree> kept;
        std::thread([&] {
            kept = doc->descendentNamed(u"i"_s);
            doc.reset();
        }).join();
        QCOMPARE(kept->description(), u"3"_s);
        QVERIFY(!kept->parent()); // its ancestors went on the other thread
        std::thread([&] { kept.reset(); }).join();
    }

    void childrenByNameAndAttributes() {
        // The first child of that name, of any kind; but by attribute value, elements only.
        const XMLTree item = at(parsed("<item>e<link>1</link><link k='x'>2</link><x><deep/></x>"
                                       "<e k='X'>upper</e><f k='x'/><e k='x'>lower</e></item>"),
                                {0});
        QCOMPARE(item.childNamed(u"link"_s)->description(), u"1"_s);
        QCOMPARE(item.childNamed(u"e"_s)->type(), int(XMLKindText));
        QVERIFY(!item.childNamed(u"deep"_s));
        QVERIFY(!item.descendentNamed(u"item"_s)); // a search never compares where it starts
        QCOMPARE(item.childNamed(u"e"_s, u"k"_s, u"x"_s)->description(), u"lower"_s);
        QCOMPARE(item.childNamed(u"e"_s, u"k"_s, u"X"_s)->description(), u"upper"_s);
        QVERIFY(!item.childNamed(u"e"_s, u"K"_s, u"x"_s));

        // Attributes as written, in order; none that a DTD adds by default; none for other kinds.
        const XMLTree doc = parsed("<!DOCTYPE r [<!ATTLIST r d CDATA 'dv'>]>"
                                   "<r xmlns:p='urn:p' z='1' p:about='u&amp;v'>text</r>");
        const XMLTree root = at(doc, {1});
        const XMLAttributes expected = {
            {u"xmlns:p"_s, u"urn:p"_s}, {u"z"_s, u"1"_s}, {u"p:about"_s, u"u&v"_s}};
        QCOMPARE(root.attributes(), expected);
        QCOMPARE(root.attributeNamed(u"p:about"_s), u"u&v"_s);
        QVERIFY(!root.attributeNamed(u"about"_s));
        QVERIFY(!at(root, {0}).attributes() && !at(root, {0}).attributeNamed(u"z"_s));
        QCOMPARE(at(parsed("<a/>"), {0}).attributes(), XMLAttributes());
    }

    void entities() {
        // An HTML name resolves to its character, in text and in attribute values; other undeclared
        // names become entity-reference nodes (between two texts here) that add nothing.
        const XMLTree title =
            at(parsed("<title a='x&nbsp;y&mdash;'>A&nbsp;B &hellip; &madeup;C</title>"), {0});
        QCOMPARE(title.description(), u"A\u00a0B \u2026 C"_s);
        QCOMPARE(title.attributeNamed(u"a"_s), u"x\u00a0y\u2014"_s);
        QCOMPARE(title.count(), 3);

        // The document's own declarations come first, and may be used generously.
        QCOMPARE(
            parsed("<!DOCTYPE r [<!ENTITY nbsp 'NB'><!ENTITY me 'ME'>]><r>&nbsp;&me;&copy;</r>")
                .description(),
            u"NBME\u00a9"_s);
        QCOMPARE(parsed(amplified(80, 10000)).description().size(), 800000);

        // A document that says it stands alone has no excuse for an undeclared name.
        QVERIFY(!XMLTree::treeWithData("<?xml version='1.0' standalone='yes'?><r>&madeup;</r>"));

        // External entities and DTDs are never read.
        QTemporaryDir dir;
        const QByteArray url =
            QUrl::fromLocalFile(written(dir, u"secret.txt"_s, "SECRET")).toEncoded();
        QCOMPARE(
            parsed("<!DOCTYPE r [<!ENTITY ext SYSTEM '" + url + "'>]><r>a&ext;b</r>").description(),
            u"ab"_s);
        QCOMPARE(parsed("<!DOCTYPE r SYSTEM '" + url + "'><r>&nbsp;</r>").description(),
                 u"\u00a0"_s);
    }

    // Documents that would build more than the parse affords are refused, whatever their size.
    void buildingIsBounded_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("billion laughs") << nestedEntities("lollollollollollollollollollol", 9, 10);
        QTest::newRow("element bomb") << nestedEntities("<e/><e/><e/><e/><e/><e/><e/><e/>", 7, 8);
        // Past 16 MiB of text, below expat's own limit of amplification.
        QTest::newRow("amplified from a small document") << amplified(50, 400000);
        // The same through parameter entities, in the internal subset.
        QTest::newRow("comments from parameter entities")
            << "<!DOCTYPE r [<!ENTITY % p '<!--" + QByteArray(60, 'x') + "-->'>" +
                   QByteArray("%p;").repeated(300000) + "]><r/>";
        QTest::newRow("declarations from parameter entities")
            << "<!DOCTYPE r [<!ENTITY % p '<!ENTITY a \"" + QByteArray(60, 'x') + "\">'>" +
                   QByteArray("%p;").repeated(300000) + "]><r/>";
        // Past 64 MiB of tree, with no entity at all.
        QTest::newRow("empty elements") << "<r>" + QByteArray("<a/>").repeated(1500000) + "</r>";
        QTest::newRow("processing instructions")
            << "<r>" + QByteArray("<?a?>").repeated(500000) + "</r>";
        QByteArray names = "<r>";
        for (int i = 0; i <= 100000; ++i)
            names += "<n" + QByteArray::number(i) + "/>";
        QTest::newRow("100,001 names") << names + "</r>";
    }
    void buildingIsBounded() {
        QFETCH(QByteArray, document);
        QVERIFY(!XMLTree::treeWithData(document));
    }

    void veryDeepDocuments() {
        // 100,000 levels of elements at most; searching, writing and letting go need no recursion.
        QVERIFY(!XMLTree::treeWithData(nested(100000, "<b>deep</b>")));
        const int depth = 100000 - 1;
        std::optional<XMLTree> doc = XMLTree::treeWithData(nested(depth, "<b>deep</b>"));
        QCOMPARE(doc.value_or(XMLTree()).description(), u"deep"_s);
        QVERIFY(!doc->descendentNamed(u"missing"_s));
        QCOMPARE(doc->xml().value_or(QString()).size(), qsizetype(depth) * 7 + 11);
        QString path = u"a/b"_s;
        QVERIFY(std::holds_alternative<XMLNodePtr>(XMLTreeXPath(path, doc->node())));
        // The innermost element outlives the document.
        const auto inner = doc->descendentNamed(u"b"_s)->parent();
        doc.reset();
        QVERIFY(!inner->parent()); // its parent went with the document
        QCOMPARE(inner->description(), u"deep"_s);
    }
};

QTEST_GUILESS_MAIN(TestXMLTree)
#include "tst_xmltree.moc"

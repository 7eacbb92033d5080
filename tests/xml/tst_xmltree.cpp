// The node tree: creation, kinds and names, text content, the searches, ownership, and documents
// that try to exhaust the stack or memory.

#include "Parsed.h"
#include "XMLTree.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Follows a list of child indexes from tree.
XMLTree at(const XMLTree& tree, std::initializer_list<int> path) {
    XMLTree node = tree;
    for (int index : path) {
        auto child = node.childAtIndex(index);
        if (!child)
            qFatal("no child at %d", index);
        node = *child;
    }
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
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("could not write %s", qPrintable(path));
    return path;
}

} // namespace

class TestXMLTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void creation() {
        QVERIFY(!XMLTree::treeWithData(QByteArray()));
        QVERIFY(!XMLTree::treeWithNode(nullptr));
        auto tree = XMLTree::treeWithData("<a/>", QUrl(u"http://example.org/feed.xml"_s));
        QVERIFY(tree);
        QCOMPARE(tree->type(), int(XMLKindDocument));
        QVERIFY(!tree->name());
        QCOMPARE(tree->count(), 1);
        // A wrapper made from a node stands for that very node.
        auto again = XMLTree::treeWithNode(tree->childAtIndex(0)->node());
        QVERIFY(again);
        QCOMPARE(again->node(), tree->childAtIndex(0)->node());

        // From a URL: only a local file that can be read and parses.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto read = XMLTree::treeWithURL(
            QUrl::fromLocalFile(written(dir, u"feed.xml"_s, "<r><t>hi</t></r>")));
        QVERIFY(read);
        QCOMPARE(read->description(), u"hi"_s);
        for (const QString& path :
             {written(dir, u"bad.xml"_s, "<r>"), written(dir, u"empty.xml"_s, QByteArray()),
              dir.filePath(u"missing.xml"_s), dir.path()})
            QVERIFY2(!XMLTree::treeWithURL(QUrl::fromLocalFile(path)), qPrintable(path));
        QVERIFY(!XMLTree::treeWithURL(QUrl(u"http://127.0.0.1:1/feed.xml"_s)));
        QVERIFY(!XMLTree::treeWithURL(QUrl()));
    }

    void emptyWrapper() {
        const XMLTree empty;
        QCOMPARE(empty.count(), -1);
        QCOMPARE(empty.type(), 0);
        QVERIFY(!empty.childAtIndex(0));
        QVERIFY(!empty.name());
        QCOMPARE(empty.description(), QString());
        QVERIFY(!empty.descendentNamed(u"a"_s));
        QVERIFY(!empty.parent());
        QVERIFY(!empty.childNamed(u"a"_s));
        QVERIFY(!empty.childNamed(u"a"_s, u"k"_s, u"v"_s));
        QVERIFY(!empty.attributes());
        QVERIFY(!empty.attributeNamed(u"k"_s));
        QVERIFY(!empty.xml());
    }

    void kindsAndNames() {
        const XMLTree doc = parsed("<?xml version='1.0'?><!DOCTYPE rdf:RDF><!--top--><?style x?>"
                                   "<rdf:RDF><i>t<![CDATA[c]]>&undeclared;</i></rdf:RDF>");
        QCOMPARE(doc.count(), 4);
        const std::tuple<XMLTree, XMLNodeKind, QString> expected[] = {
            {at(doc, {0}), XMLKindDocumentType, u"rdf:RDF"_s},
            {at(doc, {1}), XMLKindComment, u"top"_s},
            {at(doc, {2}), XMLKindProcessingInstruction, u"style"_s},
            {at(doc, {3}), XMLKindElement, u"rdf:RDF"_s},
            {at(doc, {3, 0}), XMLKindElement, u"i"_s},
            {at(doc, {3, 0, 0}), XMLKindText, u"t"_s},
            {at(doc, {3, 0, 1}), XMLKindCDATASection, u"c"_s},
            {at(doc, {3, 0, 2}), XMLKindEntityReference, u"undeclared"_s},
        };
        for (const auto& [node, kind, name] : expected) {
            QCOMPARE(node.type(), int(kind));
            QCOMPARE(node.name(), name);
            // These kinds describe themselves by their node string.
            if (kind == XMLKindComment || kind == XMLKindProcessingInstruction ||
                kind == XMLKindText || kind == XMLKindCDATASection)
                QCOMPARE(node.description(), name);
        }
    }

    void children() {
        // Text that is only blank makes no node; other text keeps its blanks.
        const XMLTree doc = parsed("<rss>\n  <item>\n    <title> spaced </title>\n"
                                   "    <!-- note -->\n  </item>\r\n\t</rss>\n");
        const XMLTree item = at(doc, {0, 0});
        QCOMPARE(at(doc, {0}).count(), 1);
        QCOMPARE(item.count(), 2);
        QCOMPARE(at(item, {1}).type(), int(XMLKindComment));
        QCOMPARE(at(item, {0}).description(), u" spaced "_s);
        QVERIFY(!item.childAtIndex(2));
        QVERIFY(!item.childAtIndex(-1));
        QVERIFY(!item.childAtIndex(std::numeric_limits<int>::min()));
    }

    void description_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("text"); // of the document and of its root alike
        QTest::newRow("text around an element") << QByteArray("<a>x<b>y</b>z</a>") << u"xyz"_s;
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
        QTest::newRow("nothing") << QByteArray("<a/>") << QString();
    }
    void description() {
        QFETCH(QByteArray, document);
        QFETCH(QString, text);
        const XMLTree doc = parsed(document);
        QCOMPARE(doc.description(), text);
        QCOMPARE(at(doc, {0}).description(), text);
        // The free function appends to what it is given.
        QString appended = u"pre:"_s;
        QCOMPARE(XMLTreeDescription(appended, *doc.node()), u"pre:"_s + text);
    }

    void descendentNamed_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind"); // 0: none found
        QTest::addColumn<QString>("description");
        const auto row = [](const char* title, const char* document, const char* name, int kind,
                            const char* description = "") {
            QTest::newRow(title) << QByteArray(document) << QString::fromUtf8(name) << kind
                                 << QString::fromUtf8(description);
        };
        const int element = XMLKindElement;
        row("last of two", "<a><b>x</b><b>y</b></a>", "b", element, "y");
        row("outer of nested", "<a><b><b>inner</b>outer</b></a>", "b", element, "innerouter");
        row("last outermost, after a nested one",
            "<a><b>1<b>2</b></b><c><b>3<b>4</b></b></c><d/></a>", "b", element, "34");
        row("text in title beats earlier link", "<item><link>u</link><title>link</title></item>",
            "link", XMLKindText, "link");
        row("prefixed name", "<rdf:RDF><x>1</x></rdf:RDF>", "rdf:RDF", element, "1");
        row("no namespace processing", "<rdf:RDF xmlns:rdf='urn:r'/>", "RDF", 0);
        row("case-sensitive", "<a><title>t</title></a>", "Title", 0);
        row("comment compared by its text", "<a><b>x</b><!--b--></a>", "b", XMLKindComment, "b");
        row("CDATA section compared by its text", "<a><b>x</b><![CDATA[b]]></a>", "b",
            XMLKindCDATASection, "b");
        row("document type declaration is compared", "<!DOCTYPE z><z/>", "z", element);
        row("attributes are not nodes", "<a k='b'/>", "k", 0);
    }
    void descendentNamed() {
        QFETCH(QByteArray, document);
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(QString, description);
        const XMLTree doc = parsed(document);
        const auto hit = doc.descendentNamed(name);
        QCOMPARE(hit ? hit->type() : 0, kind);
        QCOMPARE(XMLTreeDescendentNamed(name, doc.node()) != nullptr, bool(hit));
        if (hit)
            QCOMPARE(hit->description(), description);
    }

    // A large feed reads back item by item. Then wrappers of scattered parts of it, kept after the
    // document and every other wrapper are gone: each keeps exactly its subtree readable, and the
    // rest goes (the sanitizer build checks both: reading what has gone, and leaking what was
    // kept).
    void largeFeedAndPartsThatOutliveIt() {
        QByteArray doc = "<?xml version='1.0' encoding='utf-8'?>\n<rdf:RDF xmlns:rdf='urn:r' "
                         "xmlns:dc='urn:dc'>\n<channel><title>C</title></channel>\n";
        for (int i = 0; i < 5000; ++i) {
            const QByteArray n = QByteArray::number(i);
            doc += "  <item rdf:about='http://e/" + n + "'>\n    <title>T" + n +
                   " &amp; caf\xc3\xa9</title>\n    <link>L" + n + "</link>\n    <dc:creator>A" +
                   n + "</dc:creator>\n    <description>" + QByteArray(200, 'd') +
                   "</description>\n  </item>\n";
        }
        doc += "</rdf:RDF>\n";

        std::vector<std::pair<int, XMLTree>> items;
        std::optional<XMLTree> lastLink, firstTitleText, root;
        {
            const XMLTree tree = parsed(doc);
            root = tree.descendentNamed(u"rdf:RDF"_s);
            QVERIFY(!tree.parent());
            QCOMPARE(root->parent()->node(), tree.node());
            QCOMPARE(root->count(), 5001);
            for (int i = 0; i < 5000; ++i) {
                const XMLTree item = *root->childAtIndex(i + 1);
                const QString n = QString::number(i);
                QCOMPARE(item.name(), u"item"_s);
                QCOMPARE(item.descendentNamed(u"title"_s)->description(),
                         u"T"_s + n + u" & caf\u00e9"_s);
                QCOMPARE(item.descendentNamed(u"link"_s)->description(), u"L"_s + n);
                QCOMPARE(item.descendentNamed(u"dc:creator"_s)->description(), u"A"_s + n);
                if (i % 97 == 0)
                    items.emplace_back(i, item);
            }
            lastLink = root->childAtIndex(5000)->childNamed(u"link"_s);
            firstTitleText = at(*root, {2, 0, 0}); // of an item that no wrapper holds
        }
        // The root element still holds every item; its parent, the document, has gone.
        QVERIFY(!root->parent());
        QCOMPARE(lastLink->parent()->parent()->node(), root->node());
        QCOMPARE(root->count(), 5001);
        root.reset();

        QCOMPARE(firstTitleText->type(), int(XMLKindText));
        QCOMPARE(firstTitleText->description(), u"T1 & caf\u00e9"_s);
        QVERIFY(!firstTitleText->parent());
        firstTitleText.reset();

        QCOMPARE(lastLink->description(), u"L4999"_s);
        QVERIFY(!lastLink->parent());
        QCOMPARE(lastLink->childAtIndex(0)->parent()->node(), lastLink->node());

        for (const auto& [index, item] : items) {
            const QString n = QString::number(index);
            QVERIFY(!item.parent());
            QCOMPARE(item.attributeNamed(u"rdf:about"_s), u"http://e/"_s + n);
            QCOMPARE(item.count(), 4);
            QCOMPARE(item.description(),
                     u"T"_s + n + u" & caf\u00e9L"_s + n + u"A"_s + n + QString(200, u'd'));
            QCOMPARE(item.descendentNamed(u"title"_s)->parent()->node(), item.node());
        }
        // Let go of every other item, then of the rest.
        for (std::size_t i = 0; i < items.size(); i += 2)
            items[i].second = XMLTree();
        for (std::size_t i = 1; i < items.size(); i += 2)
            QCOMPARE(items[i].second.childAtIndex(1)->description(),
                     u"L"_s + QString::number(items[i].first));
        items.clear();
        QCOMPARE(lastLink->name(), u"link"_s);
    }

    // Texts and attribute values longer than the blocks that most nodes take, in and out of ASCII,
    // and characters that a decoder might treat specially at the start of a text.
    void longTextsAndValues() {
        const QByteArray ascii(100000, 'a');
        const QByteArray accented =
            QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80").repeated(30000);
        const QByteArray value(20000, 'v');
        const XMLTree doc =
            parsed("<r><a k='" + value + "' j='" + accented + "'>" + ascii + "</a><b>" + accented +
                   "</b><c>\xef\xbb\xbf"
                   "bom</c><d k='x'>short</d></r>");
        const XMLTree a = doc.descendentNamed(u"a"_s).value();
        QCOMPARE(a.description(), QString::fromLatin1(ascii));
        QCOMPARE(a.attributeNamed(u"k"_s), QString::fromLatin1(value));
        QCOMPARE(a.attributeNamed(u"j"_s), QString::fromUtf8(accented));
        QCOMPARE(doc.descendentNamed(u"b"_s)->description(), QString::fromUtf8(accented));
        QCOMPARE(doc.descendentNamed(u"c"_s)->description(), u"\ufeffbom"_s);
        QCOMPARE(doc.descendentNamed(u"d"_s)->attributeNamed(u"k"_s), u"x"_s);
        QCOMPARE(doc.descendentNamed(u"d"_s)->description(), u"short"_s);
    }

    // A document and its wrappers are used by one thread at a time, which need not be the thread
    // that parsed it. Wrappers made and dropped on another thread, and the last holder going there
    // after the thread that made it has ended, leave nothing behind (the sanitizer build checks).
    void wrappersMoveBetweenThreads() {
        std::optional<XMLTree> doc = parsed("<r><i>1</i><i>2</i><i>3</i></r>");
        std::optional<XMLTree> kept;
        QString seen;
        std::thread reader([&] {
            const XMLTree root = *doc->childAtIndex(0);
            for (int i = 0; i < root.count(); ++i)
                seen += root.childAtIndex(i)->description();
            kept = root.descendentNamed(u"i"_s);
            doc.reset();
        });
        reader.join();
        QCOMPARE(seen, u"123"_s);
        QCOMPARE(kept->description(), u"3"_s);
        QVERIFY(!kept->parent()); // its ancestors went on the other thread
        std::thread([&] { kept.reset(); }).join();
    }

    void searchesFromANode() {
        // A search never compares the node it starts from.
        const XMLTree doc = parsed("<a><x/></a>");
        QVERIFY(!at(doc, {0}).descendentNamed(u"a"_s));
        QCOMPARE(doc.descendentNamed(u"a"_s)->node(), at(doc, {0}).node());
        QVERIFY(!XMLTreeDescendentNamed(u"a"_s, nullptr));

        // Children by name: the first one.
        const XMLTree item = at(parsed("<item><link>1</link><title>link</title><link>2</link>"
                                       "<x><deep/></x>plain</item>"),
                                {0});
        QCOMPARE(item.childNamed(u"link"_s)->description(), u"1"_s);
        QVERIFY(!item.childNamed(u"deep"_s));
        QVERIFY(!item.childNamed(u"Link"_s));
        // Any kind of child is compared by name alone...
        QCOMPARE(item.childNamed(u"plain"_s)->type(), int(XMLKindText));

        // ...but only elements by name and attribute value, both exactly.
        const XMLTree root =
            at(parsed("<r>e<e>none</e><e k='X'>upper</e><f k='x'>other</f><e k='x'>lower</e>"
                      "<e k='x'>later</e></r>"),
               {0});
        QCOMPARE(root.childNamed(u"e"_s, u"k"_s, u"x"_s)->description(), u"lower"_s);
        QCOMPARE(root.childNamed(u"e"_s, u"k"_s, u"X"_s)->description(), u"upper"_s);
        QVERIFY(!root.childNamed(u"e"_s, u"k"_s, u"y"_s));
        QVERIFY(!root.childNamed(u"e"_s, u"K"_s, u"x"_s));
        QCOMPARE(root.childNamed(u"e"_s)->type(), int(XMLKindText));
    }

    void attributes() {
        const XMLTree doc =
            parsed("<rdf:RDF xmlns:rdf='urn:rdf' xmlns='urn:rss' z='1' a='2' rdf:about='u&amp;v'>"
                   "<x href='h'/>text</rdf:RDF>");
        const XMLTree root = at(doc, {0});
        const XMLAttributes expected = {{u"xmlns:rdf"_s, u"urn:rdf"_s},
                                        {u"xmlns"_s, u"urn:rss"_s},
                                        {u"z"_s, u"1"_s},
                                        {u"a"_s, u"2"_s},
                                        {u"rdf:about"_s, u"u&v"_s}};
        QCOMPARE(root.attributes(), expected);
        QCOMPARE(root.attributeNamed(u"rdf:about"_s), u"u&v"_s);
        const XMLTree x = at(root, {0});
        QCOMPARE(x.attributeNamed(u"href"_s), u"h"_s);
        QVERIFY(!x.attributeNamed(u"HREF"_s));
        QVERIFY(!x.attributeNamed(u"about"_s));
        const XMLTree text = at(root, {1});
        QVERIFY(!text.attributes());
        QVERIFY(!text.attributeNamed(u"href"_s));
        QVERIFY(!doc.attributes());
        QCOMPARE(at(parsed("<a/>"), {0}).attributes(), XMLAttributes());

        // Attributes a DTD adds by default were not written, and do not appear.
        const XMLTree defaulted =
            at(parsed("<!DOCTYPE a [<!ATTLIST a d CDATA 'dv'>]><a k='v'/>"), {1});
        QCOMPARE(defaulted.attributes(), (XMLAttributes{{u"k"_s, u"v"_s}}));
    }

    void entities() {
        // An HTML name resolves to its character, in text and in attribute values; other undeclared
        // names become entity-reference nodes (between two texts here) that add nothing.
        const XMLTree doc =
            parsed("<rss><title a='x&nbsp;y&mdash;'>A&nbsp;B &hellip; &madeup;C</title></rss>");
        const XMLTree title = doc.descendentNamed(u"title"_s).value();
        QCOMPARE(title.description(), u"A\u00a0B \u2026 C"_s);
        QCOMPARE(title.attributeNamed(u"a"_s), u"x\u00a0y\u2014"_s);
        QCOMPARE(title.count(), 3);

        // The document's own declarations come first.
        const XMLTree own = parsed("<!DOCTYPE r [<!ENTITY nbsp 'NB'><!ENTITY me 'ME'>]>"
                                   "<r>&nbsp;&me;&copy;</r>");
        QCOMPARE(own.description(), u"NBME\u00a9"_s);

        // A document that says it stands alone has no excuse for an undeclared name.
        QVERIFY(!XMLTree::treeWithData("<?xml version='1.0' standalone='yes'?><r>&madeup;</r>"));

        // External entities and DTDs are never read.
        QTemporaryDir dir;
        const QByteArray url =
            QUrl::fromLocalFile(written(dir, u"secret.txt"_s, "SECRET")).toEncoded();
        const XMLTree ext =
            parsed("<!DOCTYPE r [<!ENTITY ext SYSTEM '" + url + "'>]><r>a&ext;b</r>");
        QCOMPARE(ext.description(), u"ab"_s);
        QCOMPARE(parsed("<!DOCTYPE r SYSTEM '" + url + "'><r>&nbsp;</r>").description(),
                 u"\u00a0"_s);
    }

    // Documents that would build more than the parse affords are refused, whatever their size.
    void buildingIsBounded_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("billion laughs") << nestedEntities("lollollollollollollollollollol", 9, 10);
        // One large entity referenced very often: a quadratic blow-up with no nesting.
        QTest::newRow("quadratic blow-up") << amplified(60000, 20000);
        QTest::newRow("element bomb") << nestedEntities("<e/><e/><e/><e/><e/><e/><e/><e/>", 7, 8);
        // Below expat's own limit of amplification, but past 16 MiB of text.
        QTest::newRow("amplified below expat's limit") << amplified(80, 1000000);
        QTest::newRow("amplified from a small document") << amplified(50, 400000);
        // The same through parameter entities, in the internal subset.
        const QByteArray subset = "<!DOCTYPE r [<!ENTITY % p '<!--" + QByteArray(60, 'x') + "-->'>";
        QTest::newRow("comments from parameter entities")
            << subset + QByteArray("%p;").repeated(300000) + "]><r/>";
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
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!XMLTree::treeWithData(document));
        QVERIFY2(timer.elapsed() < 20000, "refusing took too long");

        // The same use of entities, at a sensible scale, is fine.
        const auto fine = XMLTree::treeWithData(amplified(80, 10000));
        QVERIFY(fine);
        QCOMPARE(fine->description().size(), 800000);
    }

    void veryDeepDocuments() {
        // 100,000 levels of elements at most.
        QVERIFY(!XMLTree::treeWithData(nested(100000, "<b>deep</b>")));
        const int depth = 100000 - 1;
        std::optional<XMLTree> doc = XMLTree::treeWithData(nested(depth, "<b>deep</b>"));
        QVERIFY(doc);
        QCOMPARE(doc->description(), u"deep"_s);
        const auto b = doc->descendentNamed(u"b"_s);
        QVERIFY(b);
        QVERIFY(!doc->descendentNamed(u"missing"_s));
        QCOMPARE(doc->xml().value_or(QString()).size(), qsizetype(depth) * 7 + 11);
        QString path = u"a/b"_s;
        QVERIFY(std::holds_alternative<XMLNodePtr>(XMLTreeXPath(path, doc->node())));

        // The innermost element outlives the document; then the last holder lets go of all of it.
        const auto inner = b->parent();
        doc.reset();
        QVERIFY(!inner->parent()); // its parent went with the document
        QCOMPARE(inner->description(), u"deep"_s);
        XMLTree middle = *XMLTree::treeWithData(nested(depth, QByteArray()))->childAtIndex(0);
        QCOMPARE(middle.count(), 1); // the rest of that document went when its wrapper did
        middle = XMLTree();          // and this goes without recursion
    }
};

QTEST_GUILESS_MAIN(TestXMLTree)
#include "tst_xmltree.moc"

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
    QByteArray doc;
    doc.reserve(depth * 7 + inner.size());
    for (int i = 0; i < depth; ++i)
        doc += "<a>";
    doc += inner;
    for (int i = 0; i < depth; ++i)
        doc += "</a>";
    return doc;
}

QByteArray amplified(int references) {
    QByteArray doc = "<!DOCTYPE r [<!ENTITY e '" + QByteArray(80, 'x') + "'>]><r>";
    doc.reserve(doc.size() + references * 3 + 4);
    for (int i = 0; i < references; ++i)
        doc += "&e;";
    return doc + "</r>";
}

} // namespace

class TestXMLTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void creation();
    void creationFromURL();
    void emptyWrapper();
    void kindsAndNames();
    void whitespaceOnlyTextMakesNoNodes();
    void childAtIndexBounds();
    void description_data();
    void description();
    void descriptionOfOtherKinds();
    void descendentNamed_data();
    void descendentNamed();
    void descendentNamedSkipsStartNode();
    void wrappersKeepTheirSubtreeAlive();
    void partsOfALargeDocumentOutliveIt();
    void longTextsAndValues();
    void wrappersMoveBetweenThreads();
    void parent();
    void childNamed();
    void childNamedWithAttribute();
    void attributes();
    void undeclaredEntities();
    void externalEntitiesAreNeverRead();
    void entityExpansionIsBounded_data();
    void entityExpansionIsBounded();
    void veryDeepDocuments_data();
    void veryDeepDocuments();
    void largeFeed();
};

void TestXMLTree::creation() {
    QVERIFY(!XMLTree::treeWithData(QByteArray()));
    QVERIFY(!XMLTree::treeWithData(QByteArray("")));
    QVERIFY(!XMLTree::treeWithData("<a><b></a></b>"));
    QVERIFY(!XMLTree::treeWithData("just text"));
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
}

void TestXMLTree::creationFromURL() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString good = dir.filePath(u"feed.xml"_s);
    const QString bad = dir.filePath(u"bad.xml"_s);
    const QString empty = dir.filePath(u"empty.xml"_s);
    for (const auto& [path, content] :
         {std::pair{good, QByteArray("<r><t>hi</t></r>")}, std::pair{bad, QByteArray("<r>")},
          std::pair{empty, QByteArray()}}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    auto tree = XMLTree::treeWithURL(QUrl::fromLocalFile(good));
    QVERIFY(tree);
    QCOMPARE(tree->description(), u"hi"_s);
    QVERIFY(!XMLTree::treeWithURL(QUrl::fromLocalFile(bad)));
    QVERIFY(!XMLTree::treeWithURL(QUrl::fromLocalFile(empty)));
    QVERIFY(!XMLTree::treeWithURL(QUrl::fromLocalFile(dir.filePath(u"missing.xml"_s))));
    QVERIFY(!XMLTree::treeWithURL(QUrl::fromLocalFile(dir.path()))); // a folder
    QVERIFY(!XMLTree::treeWithURL(QUrl(u"http://127.0.0.1:1/feed.xml"_s)));
    QVERIFY(!XMLTree::treeWithURL(QUrl()));
}

void TestXMLTree::emptyWrapper() {
    const XMLTree empty;
    QVERIFY(empty.isEmpty());
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

void TestXMLTree::kindsAndNames() {
    const XMLTree doc = parsed("<?xml version='1.0'?><!DOCTYPE rdf:RDF><!--top--><?style x?>"
                               "<rdf:RDF><i>t<![CDATA[c]]>&undeclared;</i></rdf:RDF>");
    QCOMPARE(doc.count(), 4);
    const struct {
        XMLTree node;
        XMLNodeKind kind;
        QString name;
    } expected[] = {
        {at(doc, {0}), XMLKindDocumentType, u"rdf:RDF"_s},
        {at(doc, {1}), XMLKindComment, u"top"_s},
        {at(doc, {2}), XMLKindProcessingInstruction, u"style"_s},
        {at(doc, {3}), XMLKindElement, u"rdf:RDF"_s},
        {at(doc, {3, 0}), XMLKindElement, u"i"_s},
        {at(doc, {3, 0, 0}), XMLKindText, u"t"_s},
        {at(doc, {3, 0, 1}), XMLKindCDATASection, u"c"_s},
        {at(doc, {3, 0, 2}), XMLKindEntityReference, u"undeclared"_s},
    };
    for (const auto& e : expected) {
        QCOMPARE(e.node.type(), int(e.kind));
        QCOMPARE(e.node.name(), e.name);
    }
}

void TestXMLTree::whitespaceOnlyTextMakesNoNodes() {
    const XMLTree doc = parsed("<rss>\n  <item>\n    <title> spaced </title>\n"
                               "    <!-- note -->\n  </item>\r\n\t</rss>\n");
    const XMLTree item = at(doc, {0, 0});
    QCOMPARE(at(doc, {0}).count(), 1);
    QCOMPARE(item.count(), 2);
    QCOMPARE(at(item, {1}).type(), int(XMLKindComment));
    // Text that is not only blank keeps its blanks.
    QCOMPARE(at(item, {0}).description(), u" spaced "_s);
}

void TestXMLTree::childAtIndexBounds() {
    const XMLTree root = at(parsed("<a><b/><c/></a>"), {0});
    QCOMPARE(root.count(), 2);
    QCOMPARE(root.childAtIndex(1)->name(), u"c"_s);
    QVERIFY(!root.childAtIndex(2));
    QVERIFY(!root.childAtIndex(-1));
    QVERIFY(!root.childAtIndex(std::numeric_limits<int>::min()));
}

void TestXMLTree::description_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("ofDocument");
    QTest::addColumn<QString>("ofRoot");

    QTest::newRow("text around an element")
        << QByteArray("<a>x<b>y</b>z</a>") << u"xyz"_s << u"xyz"_s;
    QTest::newRow("cdata only") << QByteArray("<a><![CDATA[hidden]]></a>") << QString()
                                << QString();
    QTest::newRow("comments, PIs, entity references add nothing")
        << QByteArray("<a>1<!--c-->2<?p d?>3&nope;4</a>") << u"1234"_s << u"1234"_s;
    QTest::newRow("references folded into text")
        << QByteArray("<a>&lt;&amp;&#233;&#x1F600;&nbsp;&eacute;</a>")
        << u"<&\u00e9\U0001F600\u00a0\u00e9"_s << u"<&\u00e9\U0001F600\u00a0\u00e9"_s;
    QTest::newRow("deeply nested text, no separators")
        << QByteArray("<a><b><c>1</c>2</b><d><e><f>3</f></e></d></a>") << u"123"_s << u"123"_s;
    QTest::newRow("text beside cdata stays apart")
        << QByteArray("<a>x<![CDATA[y]]>z</a>") << u"xz"_s << u"xz"_s;
    QTest::newRow("nothing") << QByteArray("<a/>") << QString() << QString();
}

void TestXMLTree::description() {
    QFETCH(QByteArray, document);
    QFETCH(QString, ofDocument);
    QFETCH(QString, ofRoot);
    const XMLTree doc = parsed(document);
    QCOMPARE(doc.description(), ofDocument);
    QCOMPARE(at(doc, {0}).description(), ofRoot);

    // The free function appends to what it is given.
    QString text = u"pre:"_s;
    QCOMPARE(XMLTreeDescription(text, *doc.node()), u"pre:"_s + ofDocument);
}

void TestXMLTree::descriptionOfOtherKinds() {
    const XMLTree root = at(parsed("<a>text<!--comment--><?target data?><![CDATA[cd]]></a>"), {0});
    QCOMPARE(at(root, {0}).description(), u"text"_s);
    QCOMPARE(at(root, {1}).description(), u"comment"_s);
    QCOMPARE(at(root, {2}).description(), u"target"_s);
    QCOMPARE(at(root, {3}).description(), u"cd"_s);
}

void TestXMLTree::descendentNamed_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("description");

    QTest::newRow("last of two") << QByteArray("<a><b>x</b><b>y</b></a>") << u"b"_s << true
                                 << int(XMLKindElement) << u"y"_s;
    QTest::newRow("outer of nested") << QByteArray("<a><b><b>inner</b>outer</b></a>") << u"b"_s
                                     << true << int(XMLKindElement) << u"innerouter"_s;
    QTest::newRow("last outermost, after a nested one")
        << QByteArray("<a><b>1<b>2</b></b><c><b>3<b>4</b></b></c><d/></a>") << u"b"_s << true
        << int(XMLKindElement) << u"34"_s;
    QTest::newRow("text in title beats earlier link")
        << QByteArray("<item><link>u</link><title>link</title></item>") << u"link"_s << true
        << int(XMLKindText) << u"link"_s;
    QTest::newRow("prefixed name") << QByteArray("<rdf:RDF><x>1</x></rdf:RDF>") << u"rdf:RDF"_s
                                   << true << int(XMLKindElement) << u"1"_s;
    QTest::newRow("no namespace processing: local name")
        << QByteArray("<rdf:RDF xmlns:rdf='urn:r'/>") << u"RDF"_s << false << 0 << QString();
    QTest::newRow("no namespace processing: swapped")
        << QByteArray("<rdf:RDF xmlns:rdf='urn:r'/>") << u"RDF:rdf"_s << false << 0 << QString();
    QTest::newRow("case-sensitive")
        << QByteArray("<a><title>t</title></a>") << u"Title"_s << false << 0 << QString();
    QTest::newRow("comment compared by its text")
        << QByteArray("<a><b>x</b><!--b--></a>") << u"b"_s << true << int(XMLKindComment) << u"b"_s;
    QTest::newRow("CDATA section compared by its text")
        << QByteArray("<a><b>x</b><![CDATA[b]]></a>") << u"b"_s << true << int(XMLKindCDATASection)
        << u"b"_s;
    QTest::newRow("document type declaration is compared")
        << QByteArray("<!DOCTYPE z><z/>") << u"z"_s << true << int(XMLKindElement) << QString();
    QTest::newRow("attributes are not nodes")
        << QByteArray("<a k='b'/>") << u"k"_s << false << 0 << QString();
}

void TestXMLTree::descendentNamed() {
    QFETCH(QByteArray, document);
    QFETCH(QString, name);
    QFETCH(bool, found);
    QFETCH(int, kind);
    QFETCH(QString, description);
    const XMLTree doc = parsed(document);
    const auto hit = doc.descendentNamed(name);
    QCOMPARE(bool(hit), found);
    QCOMPARE(XMLTreeDescendentNamed(name, doc.node()) != nullptr, found);
    if (!found)
        return;
    QCOMPARE(hit->type(), kind);
    QCOMPARE(hit->description(), description);
}

void TestXMLTree::descendentNamedSkipsStartNode() {
    const XMLTree doc = parsed("<a><x/></a>");
    const XMLTree root = at(doc, {0});
    QVERIFY(!root.descendentNamed(u"a"_s));
    QCOMPARE(doc.descendentNamed(u"a"_s)->node(), root.node());
    QVERIFY(!XMLTreeDescendentNamed(u"a"_s, nullptr));
}

void TestXMLTree::wrappersKeepTheirSubtreeAlive() {
    std::optional<XMLTree> item;
    {
        auto doc = XMLTree::treeWithData("<rdf:RDF><item><title>T</title><link>L</link></item>"
                                         "</rdf:RDF>");
        QVERIFY(doc);
        item = doc->descendentNamed(u"item"_s);
        QVERIFY(item);
    }
    QCOMPARE(item->count(), 2);
    QCOMPARE(item->descendentNamed(u"title"_s)->description(), u"T"_s);
    QCOMPARE(item->childAtIndex(1)->description(), u"L"_s);
}

// Wrappers of scattered parts of a document that spans many blocks of storage, kept after the
// document and every other wrapper are gone: each keeps exactly its subtree readable, and the rest
// goes (the sanitizer build checks both: reading what has gone, and leaking what was kept).
void TestXMLTree::partsOfALargeDocumentOutliveIt() {
    QByteArray doc = "<rdf:RDF xmlns:rdf='urn:r'>";
    for (int i = 0; i < 3000; ++i) {
        const QByteArray n = QByteArray::number(i);
        doc += "<item rdf:about='http://e/" + n + "'><title>T" + n + "</title><link>L" + n +
               "</link><description>" + QByteArray(200, 'd') + "</description></item>";
    }
    doc += "</rdf:RDF>";

    std::vector<std::pair<int, XMLTree>> items;
    std::optional<XMLTree> lastLink, firstTitleText, root;
    {
        const XMLTree tree = parsed(doc);
        root = tree.descendentNamed(u"rdf:RDF"_s);
        for (int i = 0; i < 3000; i += 97)
            items.emplace_back(i, *root->childAtIndex(i));
        lastLink = root->childAtIndex(2999)->childNamed(u"link"_s);
        firstTitleText = at(*root, {1, 0, 0}); // of an item that no wrapper holds
        QCOMPARE(lastLink->parent()->parent()->node(), root->node());
    }
    // The root element still holds every item; its parent, the document, has gone.
    QVERIFY(!root->parent());
    QCOMPARE(root->count(), 3000);
    root.reset();

    QCOMPARE(firstTitleText->type(), int(XMLKindText));
    QCOMPARE(firstTitleText->description(), u"T1"_s);
    QVERIFY(!firstTitleText->parent());
    firstTitleText.reset();

    QCOMPARE(lastLink->description(), u"L2999"_s);
    QVERIFY(!lastLink->parent());
    QCOMPARE(lastLink->childAtIndex(0)->parent()->node(), lastLink->node());

    for (const auto& [index, item] : items) {
        const QString n = QString::number(index);
        QVERIFY(!item.parent());
        QCOMPARE(item.attributeNamed(u"rdf:about"_s), u"http://e/"_s + n);
        QCOMPARE(item.count(), 3);
        QCOMPARE(item.description(), u"T"_s + n + u"L"_s + n + QString(200, u'd'));
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
void TestXMLTree::longTextsAndValues() {
    const QByteArray ascii(100000, 'a');
    QByteArray accented;
    for (int i = 0; i < 30000; ++i)
        accented += "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
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
void TestXMLTree::wrappersMoveBetweenThreads() {
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

void TestXMLTree::parent() {
    auto doc = XMLTree::treeWithData("<a><b><c/></b></a>");
    QVERIFY(doc);
    QVERIFY(!doc->parent());
    std::optional<XMLTree> root = doc->childAtIndex(0);
    QCOMPARE(root->parent()->type(), int(XMLKindDocument));
    QCOMPARE(root->parent()->node(), doc->node());
    const std::optional<XMLTree> c = doc->descendentNamed(u"c"_s);
    QCOMPARE(c->parent()->name(), u"b"_s);

    // A wrapper keeps its subtree alive, not its ancestors.
    doc.reset();
    QVERIFY(!root->parent());
    QCOMPARE(c->parent()->parent()->name(), u"a"_s);
    root.reset();
    QVERIFY(!c->parent());
    QCOMPARE(c->name(), u"c"_s);
}

void TestXMLTree::childNamed() {
    const XMLTree item = at(parsed("<item><link>1</link><title>link</title><link>2</link>"
                                   "<x><deep/></x>plain</item>"),
                            {0});
    QCOMPARE(item.childNamed(u"link"_s)->description(), u"1"_s);
    QCOMPARE(item.descendentNamed(u"link"_s)->description(), u"2"_s);
    QVERIFY(!item.childNamed(u"deep"_s));
    QVERIFY(!item.childNamed(u"Link"_s));
    // Any kind of child is compared.
    QCOMPARE(item.childNamed(u"plain"_s)->type(), int(XMLKindText));
}

void TestXMLTree::childNamedWithAttribute() {
    const XMLTree root =
        at(parsed("<r>e<e>none</e><e k='X'>upper</e><f k='x'>other</f><e k='x'>lower</e>"
                  "<e k='x'>later</e></r>"),
           {0});
    QCOMPARE(root.childNamed(u"e"_s, u"k"_s, u"x"_s)->description(), u"lower"_s);
    QCOMPARE(root.childNamed(u"e"_s, u"k"_s, u"X"_s)->description(), u"upper"_s);
    QVERIFY(!root.childNamed(u"e"_s, u"k"_s, u"y"_s));
    QVERIFY(!root.childNamed(u"e"_s, u"K"_s, u"x"_s));
    // The text child "e" matches by name but is not an element.
    QCOMPARE(root.childNamed(u"e"_s)->type(), int(XMLKindText));
}

void TestXMLTree::attributes() {
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
    const XMLTree defaulted = at(parsed("<!DOCTYPE a [<!ATTLIST a d CDATA 'dv'>]><a k='v'/>"), {1});
    QCOMPARE(defaulted.attributes(), (XMLAttributes{{u"k"_s, u"v"_s}}));
}

void TestXMLTree::undeclaredEntities() {
    // An HTML name resolves to its character, in text and in attribute values; other undeclared
    // names become entity-reference nodes that add nothing.
    const XMLTree doc = parsed("<rss><title a='x&nbsp;y&mdash;'>A&nbsp;B &hellip; &madeup;C</title>"
                               "</rss>");
    const XMLTree title = doc.descendentNamed(u"title"_s).value();
    QCOMPARE(title.description(), u"A\u00a0B \u2026 C"_s);
    QCOMPARE(title.attributeNamed(u"a"_s), u"x\u00a0y\u2014"_s);
    QCOMPARE(title.count(), 3);
    QCOMPARE(at(title, {1}).type(), int(XMLKindEntityReference));
    QCOMPARE(at(title, {1}).name(), u"madeup"_s);

    // The document's own declarations come first.
    const XMLTree own = parsed("<!DOCTYPE r [<!ENTITY nbsp 'NB'><!ENTITY me 'ME'>]>"
                               "<r>&nbsp;&me;&copy;</r>");
    QCOMPARE(own.description(), u"NBME\u00a9"_s);

    // A document that says it stands alone has no excuse for an undeclared name.
    QVERIFY(!XMLTree::treeWithData("<?xml version='1.0' standalone='yes'?><r>&madeup;</r>"));
}

void TestXMLTree::externalEntitiesAreNeverRead() {
    QTemporaryDir dir;
    const QString secret = dir.filePath(u"secret.txt"_s);
    {
        QFile file(secret);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("SECRET");
    }
    const QByteArray url = QUrl::fromLocalFile(secret).toEncoded();
    const XMLTree doc = parsed("<!DOCTYPE r [<!ENTITY ext SYSTEM '" + url + "'>]><r>a&ext;b</r>");
    QCOMPARE(doc.description(), u"ab"_s);
    const auto dtd = XMLTree::treeWithData("<!DOCTYPE r SYSTEM '" + url + "'><r>&nbsp;</r>");
    QVERIFY(dtd);
    QCOMPARE(dtd->description(), u"\u00a0"_s);
}

void TestXMLTree::entityExpansionIsBounded_data() {
    QTest::addColumn<QByteArray>("document");

    QByteArray laughs = "<!DOCTYPE r [<!ENTITY l0 'lollollollollollollollollollol'>";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + QByteArray::number(i) + " '";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + QByteArray::number(i - 1) + ";";
        laughs += "'>";
    }
    laughs += "]><r>&l9;</r>";
    QTest::newRow("billion laughs") << laughs;

    // One large entity referenced very often: a quadratic blow-up with no nesting.
    QByteArray quadratic = "<!DOCTYPE r [<!ENTITY big '" + QByteArray(60000, 'x') + "'>]><r>";
    for (int i = 0; i < 20000; ++i)
        quadratic += "&big;";
    quadratic += "</r>";
    QTest::newRow("quadratic blow-up") << quadratic;

    QByteArray elements = "<!DOCTYPE r [<!ENTITY e0 '<e/><e/><e/><e/><e/><e/><e/><e/>'>";
    for (int i = 1; i <= 7; ++i) {
        elements += "<!ENTITY e" + QByteArray::number(i) + " '";
        for (int j = 0; j < 8; ++j)
            elements += "&e" + QByteArray::number(i - 1) + ";";
        elements += "'>";
    }
    elements += "]><r>&e7;</r>";
    QTest::newRow("element bomb") << elements;

    // Thirty times amplified: below expat's own limit, but past what a document of this size may
    // build.
    QTest::newRow("amplified below expat's limit") << amplified(1000000);
}

void TestXMLTree::entityExpansionIsBounded() {
    QFETCH(QByteArray, document);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!XMLTree::treeWithData(document));
    QVERIFY2(timer.elapsed() < 20000, "refusing took too long");

    // The same use of entities, at a sensible scale, is fine.
    const auto fine = XMLTree::treeWithData(amplified(10000));
    QVERIFY(fine);
    QCOMPARE(fine->description().size(), 800000);
}

void TestXMLTree::veryDeepDocuments_data() {
    QTest::addColumn<int>("depth");
    QTest::newRow("100,000") << 100000;
    QTest::newRow("1,000,000") << 1000000;
}

void TestXMLTree::veryDeepDocuments() {
    QFETCH(int, depth);
    std::optional<XMLTree> doc = XMLTree::treeWithData(nested(depth, "<b>deep</b>"));
    QVERIFY(doc);
    QCOMPARE(doc->description(), u"deep"_s);
    const auto b = doc->descendentNamed(u"b"_s);
    QVERIFY(b);
    QCOMPARE(b->description(), u"deep"_s);
    QVERIFY(!doc->descendentNamed(u"missing"_s));
    const auto xml = doc->xml();
    QVERIFY(xml);
    QCOMPARE(xml->size(), qsizetype(depth) * 7 + 11);
    QString path = u"a/b"_s;
    QVERIFY(std::holds_alternative<XMLNodePtr>(XMLTreeXPath(path, doc->node())));

    // The innermost element outlives the document; then the last holder lets go of all of it.
    const auto inner = doc->descendentNamed(u"b"_s)->parent();
    doc.reset();
    QVERIFY(!inner->parent()); // its parent went with the document
    QCOMPARE(inner->description(), u"deep"_s);
    XMLTree middle = *XMLTree::treeWithData(nested(depth, QByteArray()))->childAtIndex(0);
    QCOMPARE(middle.count(), 1); // the rest of that document went when its wrapper did
    middle = XMLTree();          // and this goes without recursion
}

void TestXMLTree::largeFeed() {
    QByteArray doc = "<?xml version='1.0' encoding='utf-8'?>\n<rdf:RDF xmlns:rdf='urn:r' "
                     "xmlns:dc='urn:dc'>\n<channel><title>C</title></channel>\n";
    for (int i = 0; i < 5000; ++i) {
        const QByteArray n = QByteArray::number(i);
        doc += "  <item rdf:about='http://e/" + n + "'>\n    <title>T" + n +
               " &amp; caf\xc3\xa9</title>\n    <link>http://e/" + n +
               "</link>\n    <dc:creator>A" + n + "</dc:creator>\n  </item>\n";
    }
    doc += "</rdf:RDF>\n";
    const XMLTree tree = parsed(doc);
    const XMLTree rdf = tree.descendentNamed(u"rdf:RDF"_s).value();
    QCOMPARE(rdf.count(), 5001);
    int items = 0;
    for (int i = 0; i < rdf.count(); ++i) {
        const XMLTree child = *rdf.childAtIndex(i);
        if (child.name() != u"item"_s)
            continue;
        const QString n = QString::number(items);
        QCOMPARE(child.descendentNamed(u"title"_s)->description(), u"T"_s + n + u" & caf\u00e9"_s);
        QCOMPARE(child.descendentNamed(u"link"_s)->description(), u"http://e/"_s + n);
        QCOMPARE(child.descendentNamed(u"dc:creator"_s)->description(), u"A"_s + n);
        ++items;
    }
    QCOMPARE(items, 5000);
}

QTEST_GUILESS_MAIN(TestXMLTree)
#include "tst_xmltree.moc"

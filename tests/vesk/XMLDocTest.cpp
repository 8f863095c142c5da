#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "Vesk/XMLDoc.h"

using Vesk::String;
using Vesk::XMLDoc;
using Vesk::XMLException;
using Vesk::XMLNode;

namespace {

std::vector<std::string> childNames(const XMLNode* pnode)
{
    std::vector<std::string> nameS;
    for (const XMLNode* p = pnode->nextChild(nullptr); p; p = pnode->nextChild(p))
        nameS.push_back(p->qualifiedName().str());
    return nameS;
}

} // namespace

class XMLRoundTrip : public ::testing::Test {
protected:
    // Builds, writes and reads back a document; the tests look at what survived.
    XMLDoc roundTrip(const XMLDoc& doc) { return XMLDoc::parse(doc.stream()); }
};

TEST_F(XMLRoundTrip, BuiltDocumentReadsBackTheSame)
{
    XMLDoc doc("ostrelservice", "1.0", "UTF-8");
    XMLNode* proot = doc.rootNode();
    proot->attribute("request", "authenticate");
    XMLNode* puser = proot->addNode("user", "");
    puser->addNode("userid", "jdoe");
    puser->addNode("name", "John Doe");

    XMLDoc back = roundTrip(doc);
    const XMLNode* pbackRoot = back.rootNode();
    ASSERT_NE(nullptr, pbackRoot);
    EXPECT_EQ("ostrelservice", pbackRoot->name().str());
    EXPECT_EQ("authenticate", pbackRoot->attribute("request").str());
    const XMLNode* pbackUser = pbackRoot->findChild("user", nullptr);
    ASSERT_NE(nullptr, pbackUser);
    EXPECT_EQ("jdoe", pbackUser->findChild("userid", nullptr)->value().str());
    EXPECT_EQ("John Doe", pbackUser->findChild("name", nullptr)->value().str());
    EXPECT_EQ(doc.stream().str(), back.stream().str());
    EXPECT_EQ(0u, doc.stream().str().find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
}

TEST_F(XMLRoundTrip, ValuesNeedingEscapesSurvive)
{
    const std::vector<std::string> valueS = {"a<b>&c", "\"quoted\" 'single'", "]]>", "&amp; literally",
                                             "  padded  ", " ", "caf\xc3\xa9 \xe2\x82\xac", "<!DOCTYPE x>"};
    XMLDoc doc("r");
    for (const std::string& str : valueS) {
        XMLNode* p = doc.rootNode()->addNode("v", str);
        p->attribute("a", str);
    }
    XMLDoc back = roundTrip(doc);
    const XMLNode* p = nullptr;
    for (const std::string& str : valueS) {
        p = back.rootNode()->findChild("v", p);
        ASSERT_NE(nullptr, p) << str;
        EXPECT_EQ(str, p->value().str());
        EXPECT_EQ(str, p->attribute("a").str());
    }
}

TEST_F(XMLRoundTrip, EmptyValueIsNullAfterwardsAndInMemory)
{
    XMLDoc doc("r");
    XMLNode* pempty = doc.rootNode()->addNode("empty", "");
    XMLNode* pset = doc.rootNode()->addNode("set", "x");
    EXPECT_TRUE(pempty->value().isNull());
    pset->value("");
    EXPECT_TRUE(pset->value().isNull());

    XMLDoc back = roundTrip(doc);
    EXPECT_TRUE(back.rootNode()->findChild("empty", nullptr)->value().isNull());
    EXPECT_TRUE(back.rootNode()->findChild("set", nullptr)->value().isNull());
}

TEST_F(XMLRoundTrip, ValueReplacesTheTextButKeepsChildElements)
{
    XMLDoc doc("r");
    XMLNode* p = doc.rootNode()->addNode("m", "old");
    p->addNode("child", "c");
    p->value("new");
    EXPECT_EQ("new", p->value().str());
    XMLDoc back = roundTrip(doc);
    const XMLNode* pback = back.rootNode()->findChild("m", nullptr);
    EXPECT_EQ("new", pback->value().str());
    EXPECT_EQ("c", pback->findChild("child", nullptr)->value().str());
}

TEST_F(XMLRoundTrip, Latin1DocumentWritesLatin1AndReadsBack)
{
    XMLDoc doc("r", "1.0", "ISO-8859-1");
    doc.rootNode()->addNode("v", "caf\xc3\xa9");
    std::string strText = doc.stream().str();
    EXPECT_NE(std::string::npos, strText.find("caf\xe9"));
    EXPECT_EQ("caf\xc3\xa9", XMLDoc::parse(strText).rootNode()->findChild("v", nullptr)->value().str());
}

TEST_F(XMLRoundTrip, EmptyDocumentHasNoRootAndWritesNothing)
{
    XMLDoc doc;
    EXPECT_EQ(nullptr, doc.rootNode());
    EXPECT_EQ("", doc.stream().str());
}

class XMLNavigation : public ::testing::Test {
protected:
    void SetUp() override
    {
        _doc.fromStream("<r xmlns:ns='urn:x'><a>1</a><!-- skipped --><b>2</b>text<a>3</a><ns:c>4</ns:c></r>");
        _proot = _doc.rootNode();
    }
    XMLDoc _doc;
    XMLNode* _proot = nullptr;
};

TEST_F(XMLNavigation, FindChildWalksSameNamedElementsInOrder)
{
    const XMLNode* pfirst = _proot->findChild("a", nullptr);
    ASSERT_NE(nullptr, pfirst);
    EXPECT_EQ("1", pfirst->value().str());
    const XMLNode* psecond = _proot->findChild("a", pfirst);
    ASSERT_NE(nullptr, psecond);
    EXPECT_EQ("3", psecond->value().str());
    EXPECT_EQ(nullptr, _proot->findChild("a", psecond));
    EXPECT_EQ(nullptr, _proot->findChild("missing", nullptr));
}

TEST_F(XMLNavigation, NextChildVisitsElementsOnly)
{
    EXPECT_EQ((std::vector<std::string>{"a", "b", "a", "ns:c"}), childNames(_proot));
}

TEST_F(XMLNavigation, AfterNodeOfAnotherParentFindsNothing)
{
    XMLNode* pa = _proot->findChild("a", nullptr);
    XMLNode* pinner = pa->addNode("b", "x");
    EXPECT_EQ(nullptr, _proot->findChild("b", pinner));
    EXPECT_EQ(nullptr, _proot->nextChild(pinner));
    EXPECT_EQ(nullptr, pa->findChild("b", _proot->findChild("b", nullptr)));
}

TEST_F(XMLNavigation, PrefixIsSplitFromTheLocalName)
{
    const XMLNode* pc = _proot->findChild("ns:c", nullptr);
    ASSERT_NE(nullptr, pc);
    EXPECT_EQ("c", pc->name().str());
    EXPECT_EQ("ns", pc->nameSpace().str());
    EXPECT_EQ("", _proot->nameSpace().str());
    EXPECT_FALSE(_proot->nameSpace().isNull());
    EXPECT_EQ("r", _proot->name().str());
}

TEST_F(XMLNavigation, ValueIsTheFirstTextOrCDataChild)
{
    XMLDoc doc = XMLDoc::parse("<r><a><![CDATA[c<d]]>tail</a><b><x/>after<y/>more</b><c>   </c><d></d>"
                               "<e><![CDATA[]]></e></r>");
    const XMLNode* proot = doc.rootNode();
    EXPECT_EQ("c<d", proot->findChild("a")->value().str());
    EXPECT_EQ("after", proot->findChild("b")->value().str());
    EXPECT_EQ("   ", proot->findChild("c")->value().str());
    EXPECT_TRUE(proot->findChild("d")->value().isNull());
    const String empty = proot->findChild("e")->value();
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ("", empty.str());
}

TEST_F(XMLNavigation, NameHoldingANulFindsNothing)
{
    EXPECT_EQ(nullptr, _proot->findChild(String(std::string("a\0", 2))));
    EXPECT_EQ(nullptr, _proot->findChild(String(std::string("a\0b", 3))));
    EXPECT_EQ(nullptr, _proot->findChild(String()));
    EXPECT_NE(nullptr, _proot->findChild(String("a")));
}

TEST_F(XMLNavigation, FindChildrenTakesTheFirstOfEachNameInOneWalk)
{
    const String nameS[] = {"ns:c", "a", "missing", String(std::string("b\0", 2)), "a", "b"};
    const XMLNode* pchildS[6];
    const XMLNode* proot = _proot;
    proot->findChildren(nameS, 6, pchildS);
    EXPECT_EQ(proot->findChild("ns:c"), pchildS[0]);
    EXPECT_EQ("1", pchildS[1]->value().str());
    EXPECT_EQ(nullptr, pchildS[2]);
    EXPECT_EQ(nullptr, pchildS[3]);
    EXPECT_EQ(pchildS[1], pchildS[4]);
    EXPECT_EQ(proot->findChild("b"), pchildS[5]);
    proot->findChild("b")->findChildren(nameS, 6, pchildS);
    for (const XMLNode* p : pchildS)
        EXPECT_EQ(nullptr, p);
}

// Text handed over is parsed where it lies; the document must not depend on
// what the caller's variable holds afterwards, and a copy must not depend on
// the document it came from.
TEST_F(XMLNavigation, TextHandedOverIsReadInPlaceAndKeptByTheDocument)
{
    const std::string strText = "<r a='&lt;1&gt;'><v>caf&#233; &amp; more</v><w><![CDATA[x]]></w></r>";
    const String kept(strText);
    XMLDoc copied = XMLDoc::parse(kept);
    EXPECT_EQ(strText, kept.str());
    String handed(strText);
    XMLDoc inPlace = XMLDoc::parse(std::move(handed));
    handed = String(std::string(strText.size(), 'z'));
    EXPECT_EQ(copied.stream().str(), inPlace.stream().str());
    EXPECT_EQ("caf\xc3\xa9 & more", inPlace.rootNode()->findChild("v")->value().str());
    EXPECT_EQ("<1>", inPlace.rootNode()->attribute("a").str());
    XMLDoc copy(inPlace);
    inPlace.fromStream(String("<other/>"));
    EXPECT_EQ("x", copy.rootNode()->findChild("w")->value().str());
    EXPECT_THROW(inPlace.fromStream(String("<a><b></a>")), XMLException);
    EXPECT_EQ("other", inPlace.rootNode()->name().str());
}

TEST_F(XMLNavigation, ElementsAddedToAParsedTreeComeAfterItsOwn)
{
    XMLNode* padded = _proot->addNode("a", "4");
    EXPECT_EQ((std::vector<std::string>{"a", "b", "a", "ns:c", "a"}), childNames(_proot));
    const XMLNode* psecond = _proot->findChild("a", _proot->findChild("a"));
    EXPECT_EQ(padded, _proot->findChild("a", psecond));
    EXPECT_EQ(_proot, padded->parent());

    XMLDoc back = XMLDoc::parse(_doc.stream());
    const XMLNode* plast = nullptr;
    for (const XMLNode* p = back.rootNode()->findChild("a"); p != nullptr; p = back.rootNode()->findChild("a", p))
        plast = p;
    ASSERT_NE(nullptr, plast);
    EXPECT_EQ("4", plast->value().str());
}

TEST_F(XMLNavigation, SameElementGivesTheSamePointerEveryTime)
{
    XMLNode* pb = _proot->findChild("b", nullptr);
    EXPECT_EQ(pb, _proot->nextChild(_proot->findChild("a", nullptr)));
    EXPECT_EQ(_proot, pb->parent());
    EXPECT_EQ(nullptr, _proot->parent());
    const XMLDoc& docConst = _doc;
    EXPECT_EQ(_proot, docConst.rootNode());
}

TEST_F(XMLNavigation, AttributesAreSetReplacedAndMissingOnesReadEmpty)
{
    EXPECT_EQ("urn:x", _proot->attribute("xmlns:ns").str());
    EXPECT_FALSE(_proot->attribute("nothing").isNull());
    EXPECT_EQ("", _proot->attribute("nothing").str());
    _proot->attribute("k", "v1");
    _proot->attribute("k", "v2");
    EXPECT_EQ("v2", _proot->attribute("k").str());
    EXPECT_EQ("v2", XMLDoc::parse(_doc.stream()).rootNode()->attribute("k").str());
}

TEST_F(XMLNavigation, BadNamesAreRefusedBeforeTheyReachTheText)
{
    for (const char* psz : {"", "1abc", "a b", "a<b", "a\"b", "-x"}) {
        EXPECT_THROW(_proot->addNode(psz, "v"), XMLException) << psz;
        EXPECT_THROW(_proot->attribute(psz, "v"), XMLException) << psz;
    }
    EXPECT_THROW(_proot->addNode("ok", std::string("a\0b", 3)), XMLException);
    EXPECT_THROW(XMLDoc("bad name"), XMLException);
    EXPECT_THROW(XMLDoc("r", "1.0\"?><x", "UTF-8"), XMLException);
    EXPECT_THROW(XMLDoc("r", "1.0", "UTF 8"), XMLException);
}

class XMLCopy : public ::testing::Test {};

TEST_F(XMLCopy, CopyIsIndependentAndItsPointersPointIntoIt)
{
    XMLDoc original("r");
    XMLNode* poriginalChild = original.rootNode()->addNode("c", "before");
    XMLDoc copy(original);
    XMLNode* pcopyChild = copy.rootNode()->findChild("c", nullptr);
    ASSERT_NE(nullptr, pcopyChild);
    EXPECT_NE(poriginalChild, pcopyChild);

    pcopyChild->value("after");
    copy.rootNode()->addNode("extra", "");
    EXPECT_EQ("before", poriginalChild->value().str());
    EXPECT_EQ(nullptr, original.rootNode()->findChild("extra", nullptr));
    // A node of one document is no position in another.
    EXPECT_EQ(nullptr, copy.rootNode()->nextChild(poriginalChild));
}

TEST_F(XMLCopy, AssignmentReplacesTheTreeAndNodesSurviveAMove)
{
    XMLDoc source("src");
    source.rootNode()->addNode("x", "1");
    XMLDoc target("dst");
    target = source;
    EXPECT_EQ("src", target.rootNode()->name().str());
    EXPECT_EQ("1", target.rootNode()->findChild("x", nullptr)->value().str());
    target = target;
    EXPECT_EQ("src", target.rootNode()->name().str());

    XMLNode* proot = source.rootNode();
    XMLDoc moved(std::move(source));
    EXPECT_EQ(proot, moved.rootNode());
    EXPECT_EQ("1", proot->findChild("x", nullptr)->value().str());
}

TEST_F(XMLCopy, PointersStayValidWhileTheTreeGrows)
{
    XMLDoc doc("r");
    std::vector<XMLNode*> nodeS;
    for (int i = 0; i < 2000; ++i)
        nodeS.push_back(doc.rootNode()->addNode("n", String().format("%d", i)));
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(std::to_string(i), nodeS[i]->value().str());
}

TEST_F(XMLCopy, CopyOfADocumentBuiltDeeperThanTextMayNestIsWhole)
{
    XMLDoc deep("r");
    XMLNode* p = deep.rootNode();
    for (int i = 0; i < XMLDoc::nMaxDepth + 40; ++i)
        p = p->addNode("e", String().format("%d", i));

    XMLDoc copy(deep);
    const XMLNode* pcopy = copy.rootNode();
    int nDepth = 0;
    while (const XMLNode* pchild = pcopy->nextChild())
        pcopy = pchild, ++nDepth;
    EXPECT_EQ(XMLDoc::nMaxDepth + 40, nDepth);
    EXPECT_EQ(std::to_string(XMLDoc::nMaxDepth + 39), pcopy->value().str());
    while (pcopy->parent() != nullptr)
        pcopy = pcopy->parent();
    EXPECT_EQ(copy.rootNode(), pcopy);
    // Text is held to the limit, so the copy cannot go through text.
    EXPECT_THROW(XMLDoc::parse(copy.stream()), XMLException);
}

TEST_F(XMLCopy, CopyReadsWhatTheSourceHeldWhenCopied)
{
    XMLDoc source("r");
    XMLNode* pchanged = source.rootNode()->addNode("changed", "before");
    XMLNode* pcleared = source.rootNode()->addNode("cleared", "x");
    pchanged->value("after");
    pcleared->value("");
    source.rootNode()->attribute("k", "v");

    const XMLDoc copy(source);
    EXPECT_EQ("after", copy.rootNode()->findChild("changed")->value().str());
    EXPECT_TRUE(copy.rootNode()->findChild("cleared")->value().isNull());
    EXPECT_EQ("v", copy.rootNode()->attribute("k").str());
    EXPECT_EQ(source.stream().str(), copy.stream().str());
}

class XMLSharedReading : public ::testing::Test {
protected:
    // Everything a reader can see of a subtree, in document order; a node
    // whose parent or lookup disagrees with the walk shows as "!".
    static void readAll(const XMLNode* pnode, std::string& strOut)
    {
        strOut += pnode->qualifiedName().str() + "=" + pnode->value().str() + ";" + pnode->attribute("n").str();
        for (const XMLNode* p = pnode->nextChild(); p != nullptr; p = pnode->nextChild(p)) {
            if (p->parent() != pnode || pnode->findChild(p->qualifiedName()) == nullptr)
                strOut += "!";
            readAll(p, strOut);
        }
    }
};

TEST_F(XMLSharedReading, SeveralThreadsReadOneDocumentAtOnce)
{
    XMLDoc built("r");
    for (int i = 0; i < 50; ++i) {
        XMLNode* p = built.rootNode()->addNode("item", String().format("%d", i));
        p->attribute("n", String().format("%d", i * 7));
        for (int j = 0; j < 20; ++j)
            p->addNode("sub", String().format("%d.%d", i, j));
    }
    const XMLDoc doc = XMLDoc::parse(built.stream());

    std::string strExpected;
    readAll(doc.rootNode(), strExpected);
    std::vector<std::string> seenS(4);
    std::vector<std::thread> threadS;
    for (std::string& strSeen : seenS)
        threadS.emplace_back([&doc, &strSeen] {
            for (int nRound = 0; nRound < 20; ++nRound) {
                std::string str;
                readAll(doc.rootNode(), str);
                if (nRound == 0)
                    strSeen = str;
                doc.stream();
            }
        });
    for (std::thread& thread : threadS)
        thread.join();
    for (const std::string& strSeen : seenS)
        EXPECT_EQ(strExpected, strSeen);
}

class XMLLongText : public ::testing::Test {};

TEST_F(XMLLongText, ValuesFarLongerThanUsualStreamWhole)
{
    XMLDoc doc("r", "1.0", "ISO-8859-1");
    const std::string strLong(300000, 'v');
    doc.rootNode()->addNode("long", strLong);
    XMLNode* plater = doc.rootNode()->addNode("later", "");
    plater->value(strLong + "\xc3\xa9");
    XMLDoc back = XMLDoc::parse(doc.stream());
    EXPECT_EQ(strLong, back.rootNode()->findChild("long")->value().str());
    EXPECT_EQ(strLong + "\xc3\xa9", back.rootNode()->findChild("later")->value().str());
    EXPECT_EQ(doc.stream().str(), back.stream().str());
}

class XMLNodeMemory : public ::testing::Test {};

// Node memory of a destroyed document goes to the next one, on whichever thread.
TEST_F(XMLNodeMemory, DocumentsMadeAndDroppedOnSeveralThreadsKeepTheirOwnNodes)
{
    std::vector<int> badS(4, 0);
    std::vector<std::thread> threadS;
    for (int nThread = 0; nThread < 4; ++nThread)
        threadS.emplace_back([nThread, &badS] {
            for (int nRound = 0; nRound < 10; ++nRound) {
                XMLDoc doc("r");
                std::vector<XMLNode*> nodeS;
                for (int i = 0; i < 1500; ++i)
                    nodeS.push_back(doc.rootNode()->addNode("n", String().format("%d.%d", nThread, i)));
                XMLDoc copy(doc);
                const XMLNode* pcopied = copy.rootNode()->nextChild();
                for (int i = 0; i < 1500; ++i, pcopied = copy.rootNode()->nextChild(pcopied)) {
                    std::string strExpected = std::to_string(nThread) + "." + std::to_string(i);
                    if (nodeS[i]->value().str() != strExpected || pcopied == nullptr ||
                        pcopied->value().str() != strExpected)
                        ++badS[nThread];
                }
            }
        });
    for (std::thread& thread : threadS)
        thread.join();
    EXPECT_EQ(std::vector<int>(4, 0), badS);
}

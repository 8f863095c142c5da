#include <gtest/gtest.h>

#include "Corvel/Framing.h"

using namespace Corvel::framing;

namespace {

// Feeds a whole byte string, a piece of nChunk bytes at a time, collecting frames.
FrameReader::State feedAll(FrameReader& reader, const std::string& strBytes, size_t nChunk,
                           std::vector<Frame>& frameS)
{
    size_t nAt = 0;
    while (nAt < strBytes.size()) {
        size_t nPiece = std::min(nChunk, strBytes.size() - nAt);
        size_t nUsed = 0;
        while (nUsed < nPiece) {
            nUsed += reader.feed(strBytes.data() + nAt + nUsed, nPiece - nUsed);
            if (reader.state() == FrameReader::complete)
                frameS.push_back(reader.take());
            else if (reader.state() != FrameReader::partial)
                return reader.state();
        }
        nAt += nPiece;
    }
    return reader.state();
}

} // namespace

TEST(FrameReader, SplitsAStreamIntoFramesWhateverTheChunking)
{
    std::string strStream = encodeFrame(kindReply, 7, "first") + encodeFrame(kindPush, 0, "") +
                            encodeFrame(kindReply, 0xFFFFFFFEu, std::string(70000, 'x'));
    for (size_t nChunk : {size_t(1), size_t(5), size_t(13), size_t(65536), strStream.size()}) {
        FrameReader reader;
        std::vector<Frame> frameS;
        EXPECT_EQ(FrameReader::partial, feedAll(reader, strStream, nChunk, frameS)) << nChunk;
        ASSERT_EQ(3u, frameS.size()) << nChunk;
        EXPECT_EQ(kindReply, frameS[0].kind);
        EXPECT_EQ(7u, frameS[0].uId);
        EXPECT_EQ("first", frameS[0].strPayload);
        EXPECT_EQ(kindPush, frameS[1].kind);
        EXPECT_EQ("", frameS[1].strPayload);
        EXPECT_EQ(0xFFFFFFFEu, frameS[2].uId);
        EXPECT_EQ(70000u, frameS[2].strPayload.size());
        EXPECT_FALSE(reader.inFrame());
    }
}

TEST(FrameReader, HeaderIsBigEndianWithMagicVersionKind)
{
    std::string strHeader = encodeHeader(kindRequest, 0x01020304u, 0x00A0B0C0u);
    ASSERT_EQ(nFRM_HeaderSize, strHeader.size());
    EXPECT_EQ(std::string("\xC7\x4F\x01\x01\x00\xA0\xB0\xC0\x01\x02\x03\x04", 12), strHeader);
}

TEST(FrameReader, WrongMagicIsRefusedAtTheFirstByte)
{
    FrameReader reader;
    // One byte is enough to tell: a peer speaking another protocol is not kept
    // waiting for a header's worth of bytes it may never send.
    reader.feed("G", 1);
    EXPECT_EQ(FrameReader::malformed, reader.state());
    EXPECT_NE(std::string::npos, reader.error().find("bad magic"));
    EXPECT_EQ(0u, reader.feed("x", 1)) << "nothing is taken after a refusal";
}

TEST(FrameReader, LengthOverTheBoundIsRefusedBeforeAnyPayload)
{
    FrameReader reader;
    std::string strHeader = encodeHeader(kindRequest, 1, nFRM_MaxPayload + 1);
    reader.feed(strHeader.data(), strHeader.size());
    EXPECT_EQ(FrameReader::oversized, reader.state());
    EXPECT_NE(std::string::npos, reader.error().find("16777217"));

    FrameReader atBound;
    std::string strAtBound = encodeHeader(kindRequest, 1, nFRM_MaxPayload);
    atBound.feed(strAtBound.data(), strAtBound.size());
    EXPECT_EQ(FrameReader::partial, atBound.state());
    EXPECT_TRUE(atBound.inFrame());
}

TEST(FrameReader, IdentifierAndKindRulesAreEnforced)
{
    struct Case {
        std::string strBytes;
        const char* pszWhy;
    } caseS[] = {
        {encodeFrame(kindRequest, 0, "x"), "request without identifier"},
        {encodeFrame(kindReply, 0, "x"), "reply without identifier"},
        {encodeFrame(kindPush, 3, "x"), "push with identifier"},
        {encodeFrame(kindPing, 0, "x"), "ping with payload"},
        {std::string("\xC7\x4F\x02\x01\0\0\0\0\0\0\0\1", 12), "unknown version"},
        {std::string("\xC7\x4F\x01\x09\0\0\0\0\0\0\0\1", 12), "unknown kind"},
    };
    for (const Case& c : caseS) {
        FrameReader reader;
        reader.feed(c.strBytes.data(), c.strBytes.size());
        EXPECT_EQ(FrameReader::malformed, reader.state()) << c.pszWhy;
        EXPECT_FALSE(reader.error().empty()) << c.pszWhy;
    }
}

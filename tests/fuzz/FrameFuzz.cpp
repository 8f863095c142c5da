// Arbitrary bytes as a peer sends them to a daemon: the first code a network peer reaches.
//
// The frame reader alone, fed the input whole, byte by byte and in uneven pieces: the frames and the
// verdict must not depend on how the bytes arrived, and each frame must be exactly the bytes it
// came from. Then the same bytes over a unix socket to a DaemonServer of this process that echoes
// each request: the replies must be those of the requests before the first thing the server
// refuses, and the server must end the connection once the bytes end.

#include <algorithm>
#include <string>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Framing.h"
#include "FuzzSocket.h"
#include "FuzzTarget.h"

namespace {

using namespace Corvel::framing;
using OstrelFuzz::finding;

// The server's bound, small so that short inputs cross it.
constexpr uint32_t nMaxRequest = 2048;

struct Cut {
    std::vector<Frame> frameS;
    FrameReader::State state = FrameReader::partial;
    std::string strError;
};

// Cuts strInput into frames the way the transport does, the bytes arriving in pieces of
// nextPiece() bytes.
template <class NextPiece>
Cut cutFrames(const std::string& strInput, uint32_t uMaxPayload, NextPiece nextPiece)
{
    Cut cut;
    FrameReader reader(uMaxPayload);
    size_t nFrameStart = 0;
    for (size_t nAt = 0; nAt < strInput.size();) {
        size_t nPiece = std::min(nextPiece(), strInput.size() - nAt);
        for (size_t nUsed = 0; nUsed < nPiece;) {
            size_t nTaken = reader.feed(strInput.data() + nAt + nUsed, nPiece - nUsed);
            nUsed += nTaken;
            if (reader.state() == FrameReader::malformed || reader.state() == FrameReader::oversized) {
                cut.state = reader.state();
                cut.strError = reader.error();
                return cut;
            }
            if (reader.state() == FrameReader::complete) {
                Frame frame = reader.take();
                const size_t nFrameEnd = nAt + nUsed;
                if (strInput.compare(nFrameStart, nFrameEnd - nFrameStart,
                                     encodeFrame(frame.kind, frame.uId, frame.strPayload)) != 0)
                    finding("a frame is not the bytes it was read from");
                nFrameStart = nFrameEnd;
                cut.frameS.push_back(std::move(frame));
            } else if (nTaken == 0 || nUsed < nPiece) {
                finding("the reader left bytes of a partial frame untaken");
            }
        }
        nAt += nPiece;
    }
    cut.state = reader.state();
    return cut;
}

bool sameCut(const Cut& a, const Cut& b)
{
    if (a.state != b.state || a.strError != b.strError || a.frameS.size() != b.frameS.size()) return false;
    for (size_t i = 0; i < a.frameS.size(); ++i)
        if (a.frameS[i].kind != b.frameS[i].kind || a.frameS[i].uId != b.frameS[i].uId ||
            a.frameS[i].strPayload != b.frameS[i].strPayload)
            return false;
    return true;
}

// Answers each request with its own text behind a mark, so that every request gets a reply.
class EchoServer {
public:
    EchoServer()
        : _strSocket(OstrelFuzz::scratchFolder() + "/frames.sock"),
          _server([](Corvel::ConnectionContext&, const std::string& strRequest) { return "re:" + strRequest; },
                  options())
    {
        _server.listen("unix:" + _strSocket);
        _server.start();
    }
    const std::string& socketPath() const { return _strSocket; }

private:
    static Corvel::DaemonServerOptions options()
    {
        Corvel::DaemonServerOptions options;
        options.nMaxRequest = nMaxRequest;
        return options;
    }
    std::string _strSocket;
    Corvel::DaemonServer _server;
};

EchoServer& echoServer()
{
    // Never destroyed: its connection threads may still be ending when the process exits.
    static EchoServer* s_pserver = [] {
        Corvel::EventLogger::setLevel(Corvel::EventLogger::levelDebug);
        Corvel::EventLogger::setSink([](const std::string&) {});
        return new EchoServer();
    }();
    return *s_pserver;
}

} // namespace

OSTREL_FUZZ_TARGET(fuzzFrames)
{
    const std::string strInput(reinterpret_cast<const char*>(pbyData), nSize);
    const Cut whole = cutFrames(strInput, nMaxRequest, [] { return size_t(-1); });
    if (!sameCut(whole, cutFrames(strInput, nMaxRequest, [] { return size_t(1); })))
        finding("byte by byte the reader cuts otherwise than all at once");
    size_t nByte = 0;
    auto uneven = [&] { return size_t(1 + (nSize ? pbyData[nByte++ % nSize] % 23 : 0)); };
    if (!sameCut(whole, cutFrames(strInput, nMaxRequest, uneven)))
        finding("in pieces the reader cuts otherwise than all at once");

    // The server answers requests in order, skips pings and stops at the first frame of a kind a
    // client does not send, or at the first bad one.
    std::string strExpected;
    for (const Frame& frame : whole.frameS) {
        if (frame.kind == kindPing) continue;
        if (frame.kind != kindRequest) break;
        strExpected += encodeFrame(kindReply, frame.uId, "re:" + frame.strPayload);
    }
    if (OstrelFuzz::exchangeOnce(echoServer().socketPath(), strInput) != strExpected)
        finding("the server's replies are not those of the requests it was sent");
    return 0;
}

#ifndef CORVEL_FRAMING_H
#define CORVEL_FRAMING_H

// The wire form shared by DaemonComm (client) and DaemonServer. Internal: not
// installed; header-only so that tests can craft and read frames directly.
//
// Every message travels as one frame: a 12-byte header, then the payload.
//
//   offset  size  field
//   0       2     magic, the bytes 0xC7 0x4F
//   2       1     version, 1
//   3       1     kind (FrameKind below)
//   4       4     payload length in bytes, unsigned big-endian, at most nFRM_MaxPayload (16 MiB)
//   8       4     request identifier, unsigned big-endian
//   12      n     payload: the message text, not NUL-terminated
//
// Kinds and the identifiers they carry:
//   request (1)  client -> server; identifier chosen by the client, never 0
//   reply   (2)  server -> client; the identifier of the request it answers, never 0
//   push    (3)  server -> client on the server's own initiative; identifier 0
//   ping    (4)  client -> server keep-alive; identifier 0, empty payload, never answered
//
// A receiver that meets anything else (wrong magic or version, an unknown kind,
// an identifier or payload that breaks the rules above, a length over the bound)
// cannot find the next frame boundary with any confidence, so it drops the
// connection. Which kinds a side accepts is up to that side.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvel {
namespace framing {

constexpr unsigned char nFRM_Magic0 = 0xC7;
constexpr unsigned char nFRM_Magic1 = 0x4F;
constexpr unsigned char nFRM_Version = 1;
constexpr size_t nFRM_HeaderSize = 12;
constexpr uint32_t nFRM_MaxPayload = 16u * 1024u * 1024u;

enum FrameKind : unsigned char { kindRequest = 1, kindReply = 2, kindPush = 3, kindPing = 4 };

inline const char* kindName(FrameKind kind)
{
    switch (kind) {
    case kindRequest: return "request";
    case kindReply: return "reply";
    case kindPush: return "push";
    case kindPing: return "ping";
    }
    return "unknown";
}

inline void putBigEndian32(unsigned char* p, uint32_t u)
{
    p[0] = static_cast<unsigned char>(u >> 24);
    p[1] = static_cast<unsigned char>(u >> 16);
    p[2] = static_cast<unsigned char>(u >> 8);
    p[3] = static_cast<unsigned char>(u);
}

inline uint32_t getBigEndian32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// The header of a frame; the caller checks the length against the bound first.
inline std::string encodeHeader(FrameKind kind, uint32_t uId, uint32_t uLength)
{
    unsigned char ab[nFRM_HeaderSize];
    ab[0] = nFRM_Magic0;
    ab[1] = nFRM_Magic1;
    ab[2] = nFRM_Version;
    ab[3] = kind;
    putBigEndian32(ab + 4, uLength);
    putBigEndian32(ab + 8, uId);
    return std::string(reinterpret_cast<const char*>(ab), sizeof ab);
}

// A whole frame in one string (tests and small messages; the senders use
// scatter writes to avoid copying large payloads).
inline std::string encodeFrame(FrameKind kind, uint32_t uId, const std::string& strPayload)
{
    return encodeHeader(kind, uId, static_cast<uint32_t>(strPayload.size())) + strPayload;
}

struct Frame {
    FrameKind kind = kindRequest;
    uint32_t uId = 0;
    std::string strPayload;
};

// Cuts a byte stream into frames. Feed it what arrives; it takes bytes up to the
// end of the current frame and stops there, so the caller hands out each
// complete frame with take() before feeding the rest. Memory grows with the
// bytes that actually arrive, never with the length a header merely claims.
class FrameReader {
public:
    enum State { partial, complete, malformed, oversized };

    // uMaxPayload: a receiver may accept less than the wire allows, never more.
    explicit FrameReader(uint32_t uMaxPayload = nFRM_MaxPayload)
        : _uMaxPayload(uMaxPayload < nFRM_MaxPayload ? uMaxPayload : nFRM_MaxPayload)
    {
    }

    // Returns how many bytes of [pData, pData + nSize) were used. Once the state
    // is malformed or oversized the reader takes nothing more.
    size_t feed(const char* pData, size_t nSize)
    {
        if (_state == malformed || _state == oversized || _state == complete) return 0;
        size_t nUsed = 0;
        if (_nHeaderHave < nFRM_HeaderSize) {
            size_t nTake = nFRM_HeaderSize - _nHeaderHave;
            if (nTake > nSize) nTake = nSize;
            for (size_t i = 0; i < nTake; ++i)
                _abHeader[_nHeaderHave + i] = static_cast<unsigned char>(pData[i]);
            _nHeaderHave += nTake;
            nUsed = nTake;
            // Check the magic as soon as it is there, so that a peer speaking
            // something else is found out without waiting for a whole header.
            if (_abHeader[0] != nFRM_Magic0 || (_nHeaderHave >= 2 && _abHeader[1] != nFRM_Magic1))
                return fail(malformed, "bad magic"), nUsed;
            if (_nHeaderHave < nFRM_HeaderSize) return nUsed;
            if (!checkHeader()) return nUsed;
            _frame.strPayload.reserve(_uLength < 65536 ? _uLength : 65536);
        }
        size_t nTake = _uLength - _frame.strPayload.size();
        if (nTake > nSize - nUsed) nTake = nSize - nUsed;
        _frame.strPayload.append(pData + nUsed, nTake);
        nUsed += nTake;
        if (_frame.strPayload.size() == _uLength) _state = complete;
        return nUsed;
    }

    State state() const { return _state; }
    // Some bytes of a frame not yet complete have arrived.
    bool inFrame() const { return _state == partial && _nHeaderHave > 0; }
    // Why the stream was refused (malformed or oversized).
    const std::string& error() const { return _strError; }
    // The length the current header declares (valid once the header is in).
    uint32_t declaredLength() const { return _uLength; }

    // Hands out the complete frame and gets ready for the next one.
    Frame take()
    {
        Frame frame = std::move(_frame);
        _frame = Frame();
        _nHeaderHave = 0;
        _uLength = 0;
        _state = partial;
        return frame;
    }

private:
    bool checkHeader()
    {
        if (_abHeader[2] != nFRM_Version)
            return fail(malformed, "unsupported frame version " + std::to_string(_abHeader[2]));
        unsigned char nKind = _abHeader[3];
        if (nKind < kindRequest || nKind > kindPing)
            return fail(malformed, "unknown frame kind " + std::to_string(nKind));
        _frame.kind = static_cast<FrameKind>(nKind);
        _uLength = getBigEndian32(_abHeader + 4);
        _frame.uId = getBigEndian32(_abHeader + 8);
        if (_uLength > _uMaxPayload)
            return fail(oversized, "frame of " + std::to_string(_uLength) + " bytes is over the bound of " +
                                       std::to_string(_uMaxPayload) + " bytes");
        bool bIdRequired = _frame.kind == kindRequest || _frame.kind == kindReply;
        if (bIdRequired != (_frame.uId != 0))
            return fail(malformed, std::string(kindName(_frame.kind)) + " frame with identifier " +
                                       std::to_string(_frame.uId));
        if (_frame.kind == kindPing && _uLength != 0) return fail(malformed, "ping frame with a payload");
        if (_uLength == 0) _state = complete;
        return true;
    }

    bool fail(State state, const std::string& strError)
    {
        _state = state;
        _strError = strError;
        return false;
    }

    uint32_t _uMaxPayload;
    unsigned char _abHeader[nFRM_HeaderSize] = {};
    size_t _nHeaderHave = 0;
    uint32_t _uLength = 0;
    Frame _frame;
    State _state = partial;
    std::string _strError;
};

} // namespace framing
} // namespace Corvel

#endif

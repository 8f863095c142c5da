#include "crypto/base64.h"

#include <climits>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace {

// EVP's block functions take an int length; larger inputs go through in
// pieces that keep the quanta whole (3 bytes in, 4 characters out).
constexpr unsigned long kEncodeChunk = 3ul * 1024 * 1024;
constexpr unsigned long kDecodeChunk = 4ul * 1024;

int sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

int base64_encode(const unsigned char* in, unsigned long inlen, unsigned char* out, unsigned long* outlen)
{
    if ((!in && inlen) || !out || !outlen)
        return CRYPT_ERROR;
    unsigned long nQuanta = inlen / 3 + (inlen % 3 != 0);
    if (nQuanta > (ULONG_MAX - 1) / 4)
        return CRYPT_ERROR;
    unsigned long nText = 4 * nQuanta;
    if (*outlen < nText + 1)
        return CRYPT_ERROR;
    out[0] = '\0';
    unsigned long nIn = 0, nOut = 0;
    while (nIn < inlen) {
        unsigned long nChunk = inlen - nIn < kEncodeChunk ? inlen - nIn : kEncodeChunk;
        nOut += static_cast<unsigned long>(EVP_EncodeBlock(out + nOut, in + nIn, static_cast<int>(nChunk)));
        nIn += nChunk;
    }
    *outlen = nOut;
    return CRYPT_OK;
}

int base64_decode(const unsigned char* in, unsigned long inlen, unsigned char* out, unsigned long* outlen)
{
    if ((!in && inlen) || !outlen || inlen % 4 != 0)
        return CRYPT_ERROR;
    // EVP's decoder forgives too much (whitespace, stray padding), so the text
    // is checked here first and only well-formed text reaches it.
    unsigned long nPad = 0;
    if (inlen && in[inlen - 1] == '=')
        nPad = in[inlen - 2] == '=' ? 2 : 1;
    for (unsigned long i = 0; i < inlen - nPad; ++i)
        if (sextet(in[i]) < 0)
            return CRYPT_ERROR;
    // The bits below the last whole byte must be zero, so a text has exactly
    // one decoding and one encoding.
    if (nPad == 1 && (sextet(in[inlen - 2]) & 0x03) != 0)
        return CRYPT_ERROR;
    if (nPad == 2 && (sextet(in[inlen - 3]) & 0x0f) != 0)
        return CRYPT_ERROR;
    unsigned long nBytes = inlen / 4 * 3 - nPad;
    if (*outlen < nBytes || (!out && nBytes))
        return CRYPT_ERROR;

    unsigned char abyBlock[kDecodeChunk / 4 * 3];
    unsigned long nIn = 0, nOut = 0;
    while (nIn < inlen) {
        unsigned long nChunk = inlen - nIn < kDecodeChunk ? inlen - nIn : kDecodeChunk;
        if (EVP_DecodeBlock(abyBlock, in + nIn, static_cast<int>(nChunk)) < 0) {
            OPENSSL_cleanse(abyBlock, sizeof abyBlock);
            return CRYPT_ERROR;
        }
        // The padded final quantum decodes to zero bytes that are not data.
        unsigned long nData = nChunk / 4 * 3;
        if (nIn + nChunk == inlen)
            nData -= nPad;
        std::memcpy(out + nOut, abyBlock, nData);
        nOut += nData;
        nIn += nChunk;
    }
    OPENSSL_cleanse(abyBlock, sizeof abyBlock);
    *outlen = nOut;
    return CRYPT_OK;
}

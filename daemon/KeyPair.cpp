#include "KeyPair.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/base64.h"
#include "crypto/openssl.h"

namespace Ostreld {

namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

struct BignumFree {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

// Tokens are under 4096 bytes, so their encryption and its Base64 are too.
constexpr size_t nMaxTokenText = 8192;

Bignum keyParam(const EVP_PKEY* pkey, const char* pszName)
{
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, pszName, &bn) != 1) throw std::runtime_error("cannot read the RSA key");
    return Bignum(bn);
}

// Wipes a buffer that held a decrypted token.
void wipe(std::vector<unsigned char>& buffer)
{
    OPENSSL_cleanse(buffer.data(), buffer.size());
}

} // namespace

KeyPair::KeyPair(int nBits) : _nBits(nBits), _pkey(nullptr), _publicKey{}
{
    mp_init(&_publicKey.e);
    mp_init(&_publicKey.d);
    mp_init(&_publicKey.N);
    // A destructor does not run for an object whose constructor throws: free here what it made.
    try {
        if (nBits < 512 || nBits > MP_MAX_DIGITS * MP_DIGIT_BIT)
            throw std::runtime_error("the key size must be 512 to 16384 bits");
        PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), nBits) != 1 ||
            EVP_PKEY_generate(ctx.get(), &_pkey) != 1)
            throw std::runtime_error("cannot generate an RSA key of " + std::to_string(nBits) + " bits");
        Bignum n = keyParam(_pkey, OSSL_PKEY_PARAM_RSA_N);
        Bignum e = keyParam(_pkey, OSSL_PKEY_PARAM_RSA_E);
        // The protocol marks the key it sends as private though it holds no private part.
        _publicKey.type = PK_PRIVATE;
        if (mp_from_bignum(&_publicKey.N, n.get()) != CRYPT_OK || mp_from_bignum(&_publicKey.e, e.get()) != CRYPT_OK)
            throw std::runtime_error("cannot convert the RSA key");
    } catch (...) {
        EVP_PKEY_free(_pkey);
        rsa_free(&_publicKey);
        throw;
    }
}

KeyPair::~KeyPair()
{
    EVP_PKEY_free(_pkey);
    rsa_free(&_publicKey);
}

bool KeyPair::decrypt(const std::string& strBase64, std::string& strPlain) const
{
    strPlain.clear();
    if (strBase64.empty() || strBase64.size() > nMaxTokenText) return false;
    const size_t nModulus = static_cast<size_t>(EVP_PKEY_get_size(_pkey));
    std::vector<unsigned char> cipher(strBase64.size());
    unsigned long nCipher = cipher.size();
    if (base64_decode(reinterpret_cast<const unsigned char*>(strBase64.data()), strBase64.size(), cipher.data(),
                      &nCipher) != CRYPT_OK)
        return false;
    // The number may come with fewer bytes than the modulus (leading zeros left out), never more.
    size_t nSkip = rsa_leading_zeros(cipher.data(), nCipher);
    if (nCipher - nSkip > nModulus) return false;
    std::vector<unsigned char> padded(nModulus, 0);
    std::copy(cipher.begin() + static_cast<long>(nSkip), cipher.begin() + static_cast<long>(nCipher),
              padded.end() - static_cast<long>(nCipher - nSkip));

    PkeyCtx ctx(EVP_PKEY_CTX_new(_pkey, nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1)
        return false;
    std::vector<unsigned char> plain(nModulus);
    size_t nPlain = plain.size();
    // OpenSSL refuses a number not below the modulus.
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &nPlain, padded.data(), padded.size()) != 1) {
        wipe(plain);
        return false;
    }
    size_t nZeros = rsa_leading_zeros(plain.data(), nPlain);
    strPlain.assign(reinterpret_cast<const char*>(plain.data()) + nZeros, nPlain - nZeros);
    wipe(plain);
    return true;
}

} // namespace Ostreld

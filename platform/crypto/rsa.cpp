#include "crypto/rsa.h"

#include <climits>
#include <memory>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "crypto/openssl.h"

namespace {

struct BignumFree {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

struct BnCtxFree {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct MontFree {
    void operator()(BN_MONT_CTX* mont) const { BN_MONT_CTX_free(mont); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* pkey) const { EVP_PKEY_free(pkey); }
};

// A key part the exponentiation can use: well formed, positive.
Bignum keyPart(const mp_int* a)
{
    BIGNUM* bn = nullptr;
    if (!mp_valid(a) || a->sign != MP_ZPOS || mp_to_bignum(a, &bn) != CRYPT_OK)
        return nullptr;
    Bignum part(bn);
    if (BN_is_zero(part.get()))
        return nullptr;
    return part;
}

Bignum keyParam(const EVP_PKEY* pkey, const char* pszName)
{
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, pszName, &bn) != 1)
        return nullptr;
    return Bignum(bn);
}

void clearKey(rsa_key* key)
{
    key->type = PK_PUBLIC;
    mp_init(&key->e);
    mp_init(&key->d);
    mp_init(&key->N);
}

} // namespace

int rsa_exptmod(const unsigned char* in, unsigned long inlen, unsigned char* out, unsigned long* outlen, int which,
                const rsa_key* key)
{
    if ((!in && inlen) || !out || !outlen || !key || (which != PK_PUBLIC && which != PK_PRIVATE))
        return CRYPT_ERROR;
    if (which == PK_PRIVATE && key->type != PK_PRIVATE)
        return CRYPT_ERROR;
    Bignum n = keyPart(&key->N);
    Bignum x = keyPart(which == PK_PUBLIC ? &key->e : &key->d);
    if (!n || !x || BN_is_one(n.get()))
        return CRYPT_ERROR;

    unsigned long nModulusBytes = static_cast<unsigned long>(BN_num_bytes(n.get()));
    if (*outlen < nModulusBytes)
        return CRYPT_ERROR;
    // Leading zero bytes do not change the number; past them, anything longer
    // than the modulus is certainly not below it.
    unsigned long nSkip = rsa_leading_zeros(in, inlen);
    if (inlen - nSkip > nModulusBytes)
        return CRYPT_ERROR;

    std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
    Bignum m(BN_bin2bn(in + nSkip, static_cast<int>(inlen - nSkip), nullptr));
    Bignum r(BN_new());
    if (!ctx || !m || !r || BN_cmp(m.get(), n.get()) >= 0)
        return CRYPT_ERROR;

    if (which == PK_PRIVATE) {
        // The private exponent must not leak through timing: Montgomery
        // exponentiation in constant time, which also needs an odd modulus.
        BN_set_flags(x.get(), BN_FLG_CONSTTIME);
        std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
        if (!mont || !BN_is_odd(n.get()) || BN_MONT_CTX_set(mont.get(), n.get(), ctx.get()) != 1 ||
            BN_mod_exp_mont_consttime(r.get(), m.get(), x.get(), n.get(), ctx.get(), mont.get()) != 1)
            return CRYPT_ERROR;
    } else if (BN_mod_exp(r.get(), m.get(), x.get(), n.get(), ctx.get()) != 1) {
        return CRYPT_ERROR;
    }
    if (BN_bn2binpad(r.get(), out, static_cast<int>(nModulusBytes)) < 0)
        return CRYPT_ERROR;
    *outlen = nModulusBytes;
    return CRYPT_OK;
}

unsigned long rsa_leading_zeros(const unsigned char* buf, unsigned long len)
{
    unsigned long n = 0;
    if (buf)
        while (n < len && buf[n] == 0)
            ++n;
    return n;
}

int rsa_make_key(int nBits, rsa_key* key)
{
    if (!key)
        return CRYPT_ERROR;
    clearKey(key);
    if (nBits < 512 || nBits > MP_MAX_DIGITS * MP_DIGIT_BIT)
        return CRYPT_ERROR;

    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    Bignum e(BN_new());
    if (!ctx || !e || BN_set_word(e.get(), RSA_F4) != 1 || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), nBits) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) != 1)
        return CRYPT_ERROR;
    EVP_PKEY* pkeyRaw = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &pkeyRaw) != 1)
        return CRYPT_ERROR;
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(pkeyRaw);

    Bignum n = keyParam(pkey.get(), OSSL_PKEY_PARAM_RSA_N);
    Bignum eOut = keyParam(pkey.get(), OSSL_PKEY_PARAM_RSA_E);
    Bignum d = keyParam(pkey.get(), OSSL_PKEY_PARAM_RSA_D);
    if (!n || !eOut || !d || mp_from_bignum(&key->e, eOut.get()) != CRYPT_OK ||
        mp_from_bignum(&key->d, d.get()) != CRYPT_OK || mp_from_bignum(&key->N, n.get()) != CRYPT_OK) {
        rsa_free(key);
        return CRYPT_ERROR;
    }
    key->type = PK_PRIVATE;
    return CRYPT_OK;
}

int rsa_public_key(rsa_key* pub, const rsa_key* key)
{
    if (!pub)
        return CRYPT_ERROR;
    clearKey(pub);
    if (!key || mp_init_copy(&pub->e, &key->e) != CRYPT_OK || mp_init_copy(&pub->N, &key->N) != CRYPT_OK) {
        rsa_free(pub);
        return CRYPT_ERROR;
    }
    return CRYPT_OK;
}

int rsa_init_copy(rsa_key* dst, const rsa_key* src)
{
    if (!dst)
        return CRYPT_ERROR;
    clearKey(dst);
    if (!src || mp_init_copy(&dst->e, &src->e) != CRYPT_OK || mp_init_copy(&dst->d, &src->d) != CRYPT_OK ||
        mp_init_copy(&dst->N, &src->N) != CRYPT_OK) {
        rsa_free(dst);
        return CRYPT_ERROR;
    }
    dst->type = src->type;
    return CRYPT_OK;
}

void rsa_free(rsa_key* key)
{
    if (!key)
        return;
    mp_clear(&key->e);
    mp_clear(&key->d);
    mp_clear(&key->N);
}

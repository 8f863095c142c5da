#include "crypto/mp.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <openssl/crypto.h>

#include "crypto/openssl.h"

int mp_init(mp_int* a)
{
    if (!a)
        return CRYPT_ERROR;
    a->sign = MP_ZPOS;
    a->alloc = 0;
    a->used = 0;
    a->dp = nullptr;
    return CRYPT_OK;
}

int mp_init_size(mp_int* a, unsigned int nDigits)
{
    if (mp_init(a) != CRYPT_OK || nDigits > MP_MAX_DIGITS)
        return CRYPT_ERROR;
    if (nDigits == 0)
        return CRYPT_OK;
    a->dp = static_cast<mp_digit*>(std::calloc(nDigits, sizeof(mp_digit)));
    if (!a->dp)
        return CRYPT_ERROR;
    a->alloc = nDigits;
    return CRYPT_OK;
}

void mp_clear(mp_int* a)
{
    if (!a)
        return;
    if (a->dp)
        OPENSSL_cleanse(a->dp, a->alloc * sizeof(mp_digit));
    std::free(a->dp);
    mp_init(a);
}

bool mp_valid(const mp_int* a)
{
    return a && (a->sign == MP_ZPOS || a->sign == MP_NEG) && a->used <= a->alloc && a->alloc <= MP_MAX_DIGITS &&
           (a->alloc == 0 || a->dp);
}

int mp_init_copy(mp_int* a, const mp_int* b)
{
    if (!a || !mp_valid(b)) {
        mp_init(a);
        return CRYPT_ERROR;
    }
    if (mp_init_size(a, b->alloc) != CRYPT_OK)
        return CRYPT_ERROR;
    if (b->alloc)
        std::memcpy(a->dp, b->dp, b->alloc * sizeof(mp_digit));
    a->used = b->used;
    a->sign = b->sign;
    return CRYPT_OK;
}

int mp_to_bignum(const mp_int* a, BIGNUM** out)
{
    if (!out || !mp_valid(a))
        return CRYPT_ERROR;
    // Digits are numbers, not bytes: spelling them out little-endian makes the
    // conversion independent of the machine's byte order.
    std::vector<unsigned char> byteS(a->used * 2u);
    for (unsigned int i = 0; i < a->used; ++i) {
        byteS[2 * i] = static_cast<unsigned char>(a->dp[i] & 0xff);
        byteS[2 * i + 1] = static_cast<unsigned char>(a->dp[i] >> 8);
    }
    BIGNUM* bn = BN_lebin2bn(byteS.data(), static_cast<int>(byteS.size()), nullptr);
    OPENSSL_cleanse(byteS.data(), byteS.size());
    if (!bn)
        return CRYPT_ERROR;
    BN_set_negative(bn, a->sign == MP_NEG && !BN_is_zero(bn));
    *out = bn;
    return CRYPT_OK;
}

int mp_from_bignum(mp_int* a, const BIGNUM* bn)
{
    if (mp_init(a) != CRYPT_OK || !bn)
        return CRYPT_ERROR;
    int nBytes = BN_num_bytes(bn);
    unsigned int nDigits = static_cast<unsigned int>(nBytes + 1) / 2;
    if (nDigits > MP_MAX_DIGITS || mp_init_size(a, nDigits) != CRYPT_OK)
        return CRYPT_ERROR;
    std::vector<unsigned char> byteS(nDigits * 2u);
    if (nDigits && BN_bn2lebinpad(bn, byteS.data(), static_cast<int>(byteS.size())) < 0) {
        mp_clear(a);
        return CRYPT_ERROR;
    }
    for (unsigned int i = 0; i < nDigits; ++i)
        a->dp[i] = static_cast<mp_digit>(byteS[2 * i] | (byteS[2 * i + 1] << 8));
    OPENSSL_cleanse(byteS.data(), byteS.size());
    a->used = nDigits;
    a->sign = BN_is_negative(bn) ? MP_NEG : MP_ZPOS;
    return CRYPT_OK;
}

#ifndef OSTRELCRYPTO_OPENSSL_H
#define OSTRELCRYPTO_OPENSSL_H

#include <openssl/bn.h>

#include "crypto/Export.h"
#include "crypto/mp.h"

// Bridges to OpenSSL's numbers for code that already works with them.

// A new BIGNUM with a's value into *out (the caller frees it with BN_free or
// BN_clear_free). CRYPT_ERROR for a malformed a or no memory.
OSTRELCRYPTO_API int mp_to_bignum(const mp_int* a, BIGNUM** out);
// a (previous contents not released) gets bn's value. CRYPT_ERROR when bn
// needs more than MP_MAX_DIGITS digits or on no memory (a is then zero).
OSTRELCRYPTO_API int mp_from_bignum(mp_int* a, const BIGNUM* bn);

#endif

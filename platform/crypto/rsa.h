#ifndef OSTRELCRYPTO_RSA_H
#define OSTRELCRYPTO_RSA_H

#include "crypto/Export.h"
#include "crypto/crypt.h"
#include "crypto/mp.h"

enum {
    PK_PRIVATE = 0,
    PK_PUBLIC = 1
};

// An RSA key: public exponent e, private exponent d and modulus N. d is empty
// (alloc 0, no digits) in a public key.
struct rsa_key {
    int type;  // PK_PRIVATE or PK_PUBLIC
    mp_int e;
    mp_int d;
    mp_int N;
};

// Raw RSA: reads in[0..inlen) as a big-endian unsigned number m and writes
// m^e mod N (which = PK_PUBLIC) or m^d mod N (PK_PRIVATE, computed in constant
// time) to out, big-endian and left-padded with zeros to exactly the length of
// N in bytes. *outlen is the size of out on entry and the bytes written on
// return. No padding scheme is applied: the protocol raises the message bytes
// themselves, so the private side gets the text back by dropping the leading
// zero bytes of the result (rsa_leading_zeros).
// Returns CRYPT_ERROR, writing nothing, when m >= N, out is too small, a key
// part is missing, empty, negative or malformed, which is neither PK_PUBLIC nor
// PK_PRIVATE, or PK_PRIVATE is asked of a key without d or of type PK_PUBLIC.
OSTRELCRYPTO_API int rsa_exptmod(const unsigned char* in, unsigned long inlen, unsigned char* out,
                                 unsigned long* outlen, int which, const rsa_key* key);

// Number of zero bytes at the start of buf[0..len).
OSTRELCRYPTO_API unsigned long rsa_leading_zeros(const unsigned char* buf, unsigned long len);

// Generates a private key with a modulus of nBits bits (512 to 16384) and
// e = 65537 into key, whose previous contents are not released.
OSTRELCRYPTO_API int rsa_make_key(int nBits, rsa_key* key);
// Makes pub a public key (type PK_PUBLIC, empty d) holding copies of key's e
// and N; pub's previous contents are not released.
OSTRELCRYPTO_API int rsa_public_key(rsa_key* pub, const rsa_key* key);
// Makes dst a deep copy of src; dst's previous contents are not released.
OSTRELCRYPTO_API int rsa_init_copy(rsa_key* dst, const rsa_key* src);
// Releases the digits of e, d and N (wiping d first) and leaves them empty.
// Accepts null.
OSTRELCRYPTO_API void rsa_free(rsa_key* key);

#endif

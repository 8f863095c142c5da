#ifndef OSTRELCRYPTO_BASE64_H
#define OSTRELCRYPTO_BASE64_H

#include "crypto/Export.h"
#include "crypto/crypt.h"

// Base64 with the standard alphabet and '=' padding, on one line.

// Encodes in[0..inlen) into out and NUL-terminates it. *outlen is the size of
// out on entry (at least 4*ceil(inlen/3)+1) and the length written, without
// the NUL, on return. CRYPT_ERROR when out is too small.
OSTRELCRYPTO_API int base64_encode(const unsigned char* in, unsigned long inlen, unsigned char* out,
                                   unsigned long* outlen);

// Decodes in[0..inlen) into out. *outlen is the size of out on entry and the
// bytes written on return. CRYPT_ERROR, writing nothing, for a length that is
// not a multiple of 4, a character outside the alphabet (whitespace included),
// misplaced padding, non-zero padding bits, or out too small.
OSTRELCRYPTO_API int base64_decode(const unsigned char* in, unsigned long inlen, unsigned char* out,
                                   unsigned long* outlen);

#endif

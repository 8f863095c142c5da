#ifndef OSTRELCRYPTO_MP_H
#define OSTRELCRYPTO_MP_H

#include <cstdint>

#include "crypto/Export.h"
#include "crypto/crypt.h"

typedef uint16_t mp_digit;

enum {
    MP_ZPOS = 0,           // sign of a number >= 0
    MP_NEG = 1,            // sign of a number < 0
    MP_DIGIT_BIT = 16,     // bits per digit
    MP_MAX_DIGITS = 1024   // largest number accepted anywhere: 16384 bits
};

// A big number as it travels between the daemon and its clients: `alloc`
// 16-bit digits, least significant first, each in the machine's byte order;
// `used` of them are significant and the rest are zero. Zero has used = 0.
//
// The digit array is owned by the struct and is always allocated by these
// functions (mp_init_size, mp_init_copy, the key functions); release it with
// mp_clear or rsa_free, never with delete.
struct mp_int {
    signed char sign;  // MP_ZPOS or MP_NEG
    unsigned int alloc;
    unsigned int used;
    mp_digit* dp;      // alloc digits, null when alloc is 0
};

// Zero without digits. Returns CRYPT_OK, or CRYPT_ERROR for a null a.
OSTRELCRYPTO_API int mp_init(mp_int* a);
// Zero with nDigits zeroed digits allocated. CRYPT_ERROR for a null a, more
// than MP_MAX_DIGITS digits or no memory (a is then zero without digits).
OSTRELCRYPTO_API int mp_init_size(mp_int* a, unsigned int nDigits);
// Releases the digits and leaves zero without digits. Accepts null.
OSTRELCRYPTO_API void mp_clear(mp_int* a);
// Makes a a deep copy of b; a's previous contents are not released.
// CRYPT_ERROR when b is not a well-formed number (a is then zero).
OSTRELCRYPTO_API int mp_init_copy(mp_int* a, const mp_int* b);
// True when a is well formed: sign 0 or 1, used <= alloc <= MP_MAX_DIGITS,
// and digits present when alloc is not 0.
OSTRELCRYPTO_API bool mp_valid(const mp_int* a);

#endif

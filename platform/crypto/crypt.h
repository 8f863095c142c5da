#ifndef OSTRELCRYPTO_CRYPT_H
#define OSTRELCRYPTO_CRYPT_H

// Result of every crypto operation that can fail.
enum {
    CRYPT_OK = 0,
    CRYPT_ERROR = 1
};

#endif

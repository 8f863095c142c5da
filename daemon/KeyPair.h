#ifndef OSTRELD_KEYPAIR_H
#define OSTRELD_KEYPAIR_H

#include <string>

#include "crypto/rsa.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace Ostreld {

// The daemon's RSA key pair, made at start and never written to disk. Clients raise their tokens'
// bytes to the public exponent without padding; decrypting runs OpenSSL's private operation with
// the CRT factors and blinding, which is several times faster than the plain exponent and safe
// against timing. Safe to use from several threads once made.
class KeyPair {
public:
    // Generates a key of nBits bits (512 to 16384); throws std::runtime_error.
    explicit KeyPair(int nBits);
    ~KeyPair();
    KeyPair(const KeyPair&) = delete;
    KeyPair& operator=(const KeyPair&) = delete;

    // e and N as the wire form needs them; d is empty.
    const rsa_key& publicKey() const { return _publicKey; }
    int bits() const { return _nBits; }

    // The text a client encrypted, from the Base64 of the token element; false for anything that
    // is no encryption under this key (bad Base64, a number too long or not below the modulus).
    bool decrypt(const std::string& strBase64, std::string& strPlain) const;

private:
    int _nBits;
    EVP_PKEY* _pkey;  // owned
    rsa_key _publicKey;
};

} // namespace Ostreld

#endif

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/openssl.h"
#include "crypto/rsa.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& str)
{
    return Bytes(str.begin(), str.end());
}

// Fills an mp_int from its digits, least significant first.
void setDigits(mp_int* a, std::initializer_list<mp_digit> digitS)
{
    ASSERT_EQ(CRYPT_OK, mp_init_size(a, static_cast<unsigned int>(digitS.size())));
    unsigned int i = 0;
    for (mp_digit digit : digitS)
        a->dp[i++] = digit;
    a->used = a->alloc;
}

int exptmod(const Bytes& in, Bytes& out, int which, const rsa_key* key, unsigned long nRoom = 4096)
{
    out.assign(nRoom, 0xAA);
    unsigned long nOut = nRoom;
    int nResult = rsa_exptmod(in.data(), in.size(), out.data(), &nOut, which, key);
    if (nResult == CRYPT_OK)
        out.resize(nOut);
    else
        EXPECT_EQ(nRoom, nOut);
    return nResult;
}

std::string textOf(const Bytes& decrypted)
{
    unsigned long nSkip = rsa_leading_zeros(decrypted.data(), decrypted.size());
    return std::string(decrypted.begin() + static_cast<long>(nSkip), decrypted.end());
}

} // namespace

// A key small enough to check by hand: N = 1000003 * 1000033, three digits.
class RsaKnownKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        _key.type = PK_PRIVATE;
        setDigits(&_key.e, {0x0001, 0x0001});
        setDigits(&_key.d, {0x3081, 0xef1e, 0x00e4});
        setDigits(&_key.N, {0x6163, 0xd6ca, 0x00e8});
    }
    void TearDown() override { rsa_free(&_key); }
    rsa_key _key{};
};

TEST_F(RsaKnownKey, DigitsAreReadLeastSignificantFirst)
{
    Bytes out;
    ASSERT_EQ(CRYPT_OK, exptmod({0x01, 0x23, 0x45, 0x67, 0x89}, out, PK_PUBLIC, &_key));
    EXPECT_EQ((Bytes{0x85, 0xa9, 0xa1, 0xde, 0x0b}), out);
    Bytes back;
    ASSERT_EQ(CRYPT_OK, exptmod(out, back, PK_PRIVATE, &_key));
    EXPECT_EQ((Bytes{0x01, 0x23, 0x45, 0x67, 0x89}), back);
}

TEST_F(RsaKnownKey, ResultIsLeftPaddedToTheModulusLength)
{
    Bytes out;
    ASSERT_EQ(CRYPT_OK, exptmod({0x01}, out, PK_PUBLIC, &_key));
    EXPECT_EQ((Bytes{0, 0, 0, 0, 1}), out);
    ASSERT_EQ(CRYPT_OK, exptmod({}, out, PK_PUBLIC, &_key));
    EXPECT_EQ((Bytes{0, 0, 0, 0, 0}), out);
}

TEST_F(RsaKnownKey, InputNotBelowTheModulusIsRefused)
{
    Bytes out;
    EXPECT_EQ(CRYPT_ERROR, exptmod({0xe8, 0xd6, 0xca, 0x61, 0x63}, out, PK_PUBLIC, &_key));
    EXPECT_EQ(CRYPT_ERROR, exptmod({0xff, 0xff, 0xff, 0xff, 0xff}, out, PK_PRIVATE, &_key));
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, out, PK_PUBLIC, &_key));
    // Leading zeros do not make a number bigger.
    EXPECT_EQ(CRYPT_OK, exptmod({0, 0, 0, 0xe8, 0xd6, 0xca, 0x61, 0x62}, out, PK_PUBLIC, &_key));
}

TEST_F(RsaKnownKey, TooSmallAnOutputIsRefused)
{
    Bytes out;
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PUBLIC, &_key, 4));
    EXPECT_EQ(CRYPT_OK, exptmod({0x01}, out, PK_PUBLIC, &_key, 5));
}

TEST_F(RsaKnownKey, MissingOrMalformedKeyPartsAreRefused)
{
    Bytes out;
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, 2, &_key));
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, -1, &_key));
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PUBLIC, nullptr));

    rsa_key pub{};
    ASSERT_EQ(CRYPT_OK, rsa_public_key(&pub, &_key));
    EXPECT_EQ(PK_PUBLIC, pub.type);
    EXPECT_EQ(0u, pub.d.alloc);
    EXPECT_EQ(nullptr, pub.d.dp);
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PRIVATE, &pub));
    pub.type = PK_PRIVATE;  // a type alone does not make a private exponent
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PRIVATE, &pub));
    EXPECT_EQ(CRYPT_OK, exptmod({0x01}, out, PK_PUBLIC, &pub));
    rsa_free(&pub);

    _key.N.used = 4;  // more than allocated
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PUBLIC, &_key));
    _key.N.used = 3;
    _key.N.sign = MP_NEG;
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PUBLIC, &_key));
    _key.N.sign = MP_ZPOS;
    _key.e.used = 0;  // zero exponent
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PUBLIC, &_key));
    _key.e.used = 2;
    _key.N.dp[0] = 0x6164;  // even modulus: no constant-time private operation
    EXPECT_EQ(CRYPT_ERROR, exptmod({0x01}, out, PK_PRIVATE, &_key));
}

TEST_F(RsaKnownKey, CopiesAreDeep)
{
    rsa_key copy{};
    ASSERT_EQ(CRYPT_OK, rsa_init_copy(&copy, &_key));
    EXPECT_NE(_key.N.dp, copy.N.dp);
    rsa_free(&_key);
    EXPECT_EQ(nullptr, _key.N.dp);
    EXPECT_EQ(0u, _key.N.used);
    Bytes out;
    ASSERT_EQ(CRYPT_OK, exptmod({0x01, 0x23, 0x45, 0x67, 0x89}, out, PK_PUBLIC, &copy));
    EXPECT_EQ((Bytes{0x85, 0xa9, 0xa1, 0xde, 0x0b}), out);
    rsa_free(&copy);

    _key.N.alloc = 2;  // dp null with digits claimed: refused, not dereferenced
    EXPECT_EQ(CRYPT_ERROR, rsa_init_copy(&copy, &_key));
    EXPECT_EQ(nullptr, copy.e.dp);
    _key.N.alloc = 0;
}

class BigNumber : public ::testing::Test {};

TEST_F(BigNumber, DigitsHoldSixteenBitsLeastSignificantFirst)
{
    BIGNUM* bn = nullptr;
    ASSERT_NE(0, BN_hex2bn(&bn, "-102030405"));
    mp_int a;
    ASSERT_EQ(CRYPT_OK, mp_from_bignum(&a, bn));
    EXPECT_EQ(MP_NEG, a.sign);
    ASSERT_EQ(3u, a.used);
    ASSERT_LE(a.used, a.alloc);
    EXPECT_EQ(0x0405, a.dp[0]);
    EXPECT_EQ(0x0203, a.dp[1]);
    EXPECT_EQ(0x0001, a.dp[2]);

    BIGNUM* back = nullptr;
    ASSERT_EQ(CRYPT_OK, mp_to_bignum(&a, &back));
    EXPECT_EQ(0, BN_cmp(bn, back));
    BN_free(back);
    BN_free(bn);
    mp_clear(&a);
    EXPECT_EQ(nullptr, a.dp);
}

TEST_F(BigNumber, ZeroHasNoDigitsInUse)
{
    BIGNUM* bn = BN_new();
    BN_zero(bn);
    mp_int a;
    ASSERT_EQ(CRYPT_OK, mp_from_bignum(&a, bn));
    EXPECT_EQ(0u, a.used);
    EXPECT_EQ(MP_ZPOS, a.sign);
    BIGNUM* back = nullptr;
    ASSERT_EQ(CRYPT_OK, mp_to_bignum(&a, &back));
    EXPECT_TRUE(BN_is_zero(back));
    BN_free(back);
    BN_free(bn);
    mp_clear(&a);
}

TEST_F(BigNumber, MalformedNumbersAndOversizeAllocationsAreRefused)
{
    mp_int a;
    EXPECT_EQ(CRYPT_ERROR, mp_init_size(&a, MP_MAX_DIGITS + 1));
    EXPECT_EQ(nullptr, a.dp);
    EXPECT_EQ(CRYPT_ERROR, mp_init_size(nullptr, 1));

    ASSERT_EQ(CRYPT_OK, mp_init_size(&a, 2));
    a.used = 2;
    a.sign = 2;
    BIGNUM* bn = nullptr;
    EXPECT_EQ(CRYPT_ERROR, mp_to_bignum(&a, &bn));
    EXPECT_EQ(nullptr, bn);
    a.sign = MP_ZPOS;
    mp_int b;
    ASSERT_EQ(CRYPT_OK, mp_init_copy(&b, &a));
    a.dp[0] = 7;
    EXPECT_EQ(0, b.dp[0]);
    mp_clear(&a);
    mp_clear(&b);
}

// Real keys from the generator: 1024 bits for speed, one 2048-bit key for the
// size the daemon hands out.
class RsaGeneratedKey : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(CRYPT_OK, rsa_make_key(1024, &s_key)); }
    static void TearDownTestSuite() { rsa_free(&s_key); }
    static rsa_key s_key;
};
rsa_key RsaGeneratedKey::s_key{};

TEST_F(RsaGeneratedKey, PublicEncryptionPrivateDecryptionGivesTheMessageBack)
{
    rsa_key pub{};
    ASSERT_EQ(CRYPT_OK, rsa_public_key(&pub, &s_key));
    for (const std::string& str : {std::string("secret"), std::string("x"), std::string(127, 'p')}) {
        Bytes encrypted, decrypted;
        ASSERT_EQ(CRYPT_OK, exptmod(bytesOf(str), encrypted, PK_PUBLIC, &pub)) << str;
        EXPECT_EQ(128u, encrypted.size());
        EXPECT_NE(bytesOf(str), encrypted);
        ASSERT_EQ(CRYPT_OK, exptmod(encrypted, decrypted, PK_PRIVATE, &s_key));
        EXPECT_EQ(str, textOf(decrypted));
    }
    rsa_free(&pub);
}

TEST_F(RsaGeneratedKey, GeneratedKeyHasTheAskedShape)
{
    EXPECT_EQ(PK_PRIVATE, s_key.type);
    EXPECT_EQ(64u, s_key.N.used);
    EXPECT_NE(0, s_key.N.dp[63] & 0x8000);
    ASSERT_EQ(2u, s_key.e.used);
    EXPECT_EQ(0x0001, s_key.e.dp[0]);
    EXPECT_EQ(0x0001, s_key.e.dp[1]);
    EXPECT_GT(s_key.d.used, 0u);
    rsa_key tooSmall{};
    EXPECT_EQ(CRYPT_ERROR, rsa_make_key(256, &tooSmall));
    EXPECT_EQ(nullptr, tooSmall.N.dp);
}

TEST_F(RsaGeneratedKey, KeyTravelsAsBase64OfItsDigitArray)
{
    // What the daemon sends and the client rebuilds: the digit array's bytes.
    const mp_int& n = s_key.N;
    std::vector<unsigned char> text(4 * ((n.alloc * 2 + 2) / 3) + 1);
    unsigned long nText = text.size();
    ASSERT_EQ(CRYPT_OK, base64_encode(reinterpret_cast<const unsigned char*>(n.dp), n.alloc * 2, text.data(), &nText));
    rsa_key received{};
    received.type = PK_PRIVATE;
    ASSERT_EQ(CRYPT_OK, mp_init_copy(&received.e, &s_key.e));
    ASSERT_EQ(CRYPT_OK, mp_init_size(&received.N, n.alloc));
    unsigned long nDigitBytes = n.alloc * 2;
    ASSERT_EQ(CRYPT_OK, base64_decode(text.data(), nText, reinterpret_cast<unsigned char*>(received.N.dp), &nDigitBytes));
    received.N.used = n.used;
    EXPECT_EQ(0, std::memcmp(n.dp, received.N.dp, n.alloc * 2));

    Bytes encrypted, decrypted;
    ASSERT_EQ(CRYPT_OK, exptmod(bytesOf("token"), encrypted, PK_PUBLIC, &received));
    ASSERT_EQ(CRYPT_OK, exptmod(encrypted, decrypted, PK_PRIVATE, &s_key));
    EXPECT_EQ("token", textOf(decrypted));
    rsa_free(&received);
}

TEST(RsaFullSizeKey, TwoThousandFortyEightBitModulusUsesOneHundredTwentyEightDigits)
{
    rsa_key key{};
    ASSERT_EQ(CRYPT_OK, rsa_make_key(2048, &key));
    EXPECT_EQ(128u, key.N.used);
    Bytes encrypted, decrypted;
    std::string strToken(255, 't');
    ASSERT_EQ(CRYPT_OK, exptmod(bytesOf(strToken), encrypted, PK_PUBLIC, &key));
    EXPECT_EQ(256u, encrypted.size());
    ASSERT_EQ(CRYPT_OK, exptmod(encrypted, decrypted, PK_PRIVATE, &key));
    EXPECT_EQ(strToken, textOf(decrypted));
    // A token as long as the modulus is not below it.
    EXPECT_EQ(CRYPT_ERROR, exptmod(Bytes(256, 0xff), encrypted, PK_PUBLIC, &key));
    rsa_free(&key);
}

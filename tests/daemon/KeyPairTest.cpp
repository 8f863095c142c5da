// The daemon's key pair against what clients send: tokens raised to the public exponent without
// padding, in Base64.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "KeyPair.h"
#include "crypto/base64.h"

namespace {

std::string base64(const std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> text(bytes.size() * 2 + 8);
    unsigned long nText = text.size();
    if (base64_encode(bytes.data(), bytes.size(), text.data(), &nText) != CRYPT_OK)
        throw std::runtime_error("cannot encode");
    return std::string(reinterpret_cast<const char*>(text.data()), nText);
}

// What the client factory does with a token.
std::string clientEncrypts(const Ostreld::KeyPair& key, const std::string& strToken)
{
    std::vector<unsigned char> cipher(4096);
    unsigned long nCipher = cipher.size();
    if (rsa_exptmod(reinterpret_cast<const unsigned char*>(strToken.data()), strToken.size(), cipher.data(),
                    &nCipher, PK_PUBLIC, &key.publicKey()) != CRYPT_OK)
        throw std::runtime_error("cannot encrypt");
    cipher.resize(nCipher);
    return base64(cipher);
}

class KeyPairTest : public ::testing::Test {
protected:
    static Ostreld::KeyPair& key()
    {
        static Ostreld::KeyPair s_key(1024);
        return s_key;
    }
};

TEST_F(KeyPairTest, DecryptsWhatTheClientEncrypted)
{
    for (const std::string& strToken : {std::string("secret"), std::string("p\xc3\xa4ss w\xc3\xb6rd"),
                                        std::string(100, 'x'), std::string("a")}) {
        std::string strPlain;
        ASSERT_TRUE(key().decrypt(clientEncrypts(key(), strToken), strPlain)) << strToken;
        EXPECT_EQ(strToken, strPlain);
    }
    EXPECT_EQ(1024, key().bits());
    EXPECT_EQ(0, key().publicKey().d.alloc) << "the wire form carries no private part";
}

TEST_F(KeyPairTest, CipherWithoutItsLeadingZerosStillDecrypts)
{
    // Find a token whose encryption starts with a zero byte, and send it without.
    for (int i = 0; i < 2000; ++i) {
        std::string strToken = "token" + std::to_string(i);
        std::vector<unsigned char> cipher(4096);
        unsigned long nCipher = cipher.size();
        ASSERT_EQ(CRYPT_OK, rsa_exptmod(reinterpret_cast<const unsigned char*>(strToken.data()), strToken.size(),
                                        cipher.data(), &nCipher, PK_PUBLIC, &key().publicKey()));
        if (cipher[0] != 0) continue;
        std::vector<unsigned char> shortened(cipher.begin() + 1, cipher.begin() + static_cast<long>(nCipher));
        std::string strPlain;
        ASSERT_TRUE(key().decrypt(base64(shortened), strPlain));
        EXPECT_EQ(strToken, strPlain);
        return;
    }
    GTEST_SKIP() << "no cipher with a leading zero byte among the tokens tried";
}

TEST_F(KeyPairTest, RefusesWhatIsNoEncryptionUnderTheKey)
{
    std::string strPlain = "left over";
    EXPECT_FALSE(key().decrypt("", strPlain));
    EXPECT_TRUE(strPlain.empty());
    EXPECT_FALSE(key().decrypt("not base64!", strPlain));
    EXPECT_FALSE(key().decrypt(std::string(9000, 'A'), strPlain));
    // Longer than the modulus, and not below it.
    EXPECT_FALSE(key().decrypt(base64(std::vector<unsigned char>(129, 0x7f)), strPlain));
    EXPECT_FALSE(key().decrypt(base64(std::vector<unsigned char>(128, 0xff)), strPlain));
}

TEST_F(KeyPairTest, RefusesKeySizesOutsideTheRange)
{
    EXPECT_THROW(Ostreld::KeyPair(256), std::runtime_error);
    EXPECT_THROW(Ostreld::KeyPair(20000), std::runtime_error);
}

} // namespace

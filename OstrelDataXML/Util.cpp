#include "OstrelDataXML/Util.h"

#include <cstdio>
#include <cstdlib>

namespace OstrelDataXML {

namespace {

void dumpNumber(char cName, const mp_int& number)
{
    std::printf("%c\n", cName);
    std::printf("sign=%i\nalloc=%i\nused=%i\n", static_cast<int>(number.sign), static_cast<int>(number.alloc),
                static_cast<int>(number.used));
    // A malformed number (digits missing) shows its sizes but no digits.
    unsigned int uDigits = number.dp != nullptr ? number.alloc : 0;
    for (unsigned int i = 0; i < uDigits; ++i) {
        std::printf("dp[%02x]=%04x  ", i, static_cast<unsigned int>(number.dp[i]));
        if (i % 8 == 0) std::printf("\n");
    }
    std::printf("\n");
}

} // namespace

int boo(std::string& strTarget, const unsigned char* pbySource, unsigned int uSourceLen)
{
    static const char s_szDigits[] = "0123456789abcdef";
    strTarget.clear();
    if (pbySource == nullptr) return 0;
    strTarget.reserve(2 * static_cast<std::size_t>(uSourceLen));
    for (unsigned int i = 0; i < uSourceLen; ++i) {
        strTarget += s_szDigits[pbySource[i] >> 4];
        strTarget += s_szDigits[pbySource[i] & 0x0f];
    }
    return 0;
}

int deboo(unsigned char* pbyTarget, unsigned int uTargetLen, const std::string& strSource)
{
    std::size_t nPairs = strSource.size() / 2;
    if (nPairs > uTargetLen) return -1;
    for (std::size_t i = 0; i < nPairs; ++i) {
        // Each pair on its own, as strtol reads it in base 16.
        char szPair[3] = {strSource[2 * i], strSource[2 * i + 1], '\0'};
        pbyTarget[i] = static_cast<unsigned char>(std::strtol(szPair, nullptr, 16));
    }
    return static_cast<int>(nPairs);
}

void dumpkey(const rsa_key& key)
{
    std::printf("Keytype = %s\n", key.type == PK_PRIVATE ? "Private" : " Public");
    dumpNumber('e', key.e);
    dumpNumber('d', key.d);
    dumpNumber('N', key.N);
    std::fflush(stdout);
}

} // namespace OstrelDataXML

#include "harness/TestPki.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <ftw.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace OstrelTest {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

void check(bool bOk, const char* pszWhat)
{
    if (!bOk) throw std::runtime_error(std::string("test PKI: ") + pszWhat);
}

Key newKey()
{
    Key pkey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    check(pkey != nullptr, "EC key");
    return pkey;
}

void addExtension(X509* pcert, X509* pissuer, int nNid, const char* pszValue)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, pissuer, pcert, nullptr, nullptr, 0);
    X509_EXTENSION* pext = X509V3_EXT_conf_nid(nullptr, &ctx, nNid, pszValue);
    check(pext != nullptr, "extension");
    X509_add_ext(pcert, pext, -1);
    X509_EXTENSION_free(pext);
}

// A certificate for strCommonName; self-signed when pissuer is null. nFromDays and nToDays are the
// validity relative to now.
Cert makeCert(EVP_PKEY* pkey, const std::string& strCommonName, X509* pissuer, EVP_PKEY* pissuerKey,
              const char* pszAltNames, bool bCA, long nFromDays, long nToDays, bool bClient = false)
{
    static long s_nSerial = 1;
    Cert pcert(X509_new(), X509_free);
    X509_set_version(pcert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(pcert.get()), s_nSerial++);
    X509_gmtime_adj(X509_getm_notBefore(pcert.get()), nFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(pcert.get()), nToDays * 86400);
    X509_set_pubkey(pcert.get(), pkey);
    X509_NAME* pname = X509_get_subject_name(pcert.get());
    X509_NAME_add_entry_by_txt(pname, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(strCommonName.c_str()), -1, -1, 0);
    X509* psigner = pissuer ? pissuer : pcert.get();
    X509_set_issuer_name(pcert.get(), X509_get_subject_name(psigner));
    addExtension(pcert.get(), psigner, NID_basic_constraints, bCA ? "critical,CA:TRUE" : "CA:FALSE");
    if (bCA) addExtension(pcert.get(), psigner, NID_key_usage, "critical,keyCertSign,cRLSign");
    if (pszAltNames) addExtension(pcert.get(), psigner, NID_subject_alt_name, pszAltNames);
    if (!bCA) addExtension(pcert.get(), psigner, NID_ext_key_usage, bClient ? "clientAuth" : "serverAuth");
    check(X509_sign(pcert.get(), pissuerKey ? pissuerKey : pkey, EVP_sha256()) > 0, "signing");
    return pcert;
}

void writeCert(const std::string& strPath, X509* pcert)
{
    FILE* pfile = std::fopen(strPath.c_str(), "w");
    check(pfile != nullptr, "writing a certificate");
    PEM_write_X509(pfile, pcert);
    std::fclose(pfile);
}

void writeKey(const std::string& strPath, EVP_PKEY* pkey)
{
    FILE* pfile = std::fopen(strPath.c_str(), "w");
    check(pfile != nullptr, "writing a key");
    PEM_write_PrivateKey(pfile, pkey, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(pfile);
}

const char* const pszLoopbackNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

} // namespace

TestPki::TestPki()
{
    char szDir[] = "/tmp/ostrel-pki-XXXXXX";
    check(mkdtemp(szDir) != nullptr, "temporary folder");
    _strDir = szDir;

    Key caKey = newKey();
    Cert ca = makeCert(caKey.get(), "Ostrel Test CA", nullptr, nullptr, nullptr, true, -1, 30);
    Key otherKey = newKey();
    Cert other = makeCert(otherKey.get(), "Ostrel Test CA", nullptr, nullptr, nullptr, true, -1, 30);
    _strCA = _strDir + "/ca.pem";
    _strOtherCA = _strDir + "/other-ca.pem";
    writeCert(_strCA, ca.get());
    writeCert(_strOtherCA, other.get());

    auto issue = [&](CertFiles& files, const char* pszName, const std::string& strCN, const char* pszAlt,
                     X509* pissuer, EVP_PKEY* pissuerKey, long nFrom, long nTo, bool bClient) {
        Key key = newKey();
        Cert cert = makeCert(key.get(), strCN, pissuer, pissuerKey, pszAlt, false, nFrom, nTo, bClient);
        files.strCert = _strDir + "/" + pszName + ".pem";
        files.strKey = _strDir + "/" + pszName + ".key";
        writeCert(files.strCert, cert.get());
        writeKey(files.strKey, key.get());
    };
    issue(_server, "server", "localhost", pszLoopbackNames, ca.get(), caKey.get(), -1, 30, false);
    issue(_renewed, "renewed", "localhost", pszLoopbackNames, ca.get(), caKey.get(), -1, 30, false);
    issue(_wrongName, "wrong-name", "elsewhere.example", "DNS:elsewhere.example", ca.get(), caKey.get(), -1, 30,
          false);
    issue(_expired, "expired", "localhost", pszLoopbackNames, ca.get(), caKey.get(), -30, -1, false);
    issue(_untrusted, "untrusted", "localhost", pszLoopbackNames, other.get(), otherKey.get(), -1, 30, false);
    issue(_client, "client", "app-01", nullptr, ca.get(), caKey.get(), -1, 30, true);
}

TestPki::~TestPki()
{
    nftw(
        _strDir.c_str(),
        [](const char* pszPath, const struct stat*, int, struct FTW*) { return std::remove(pszPath); }, 8,
        FTW_DEPTH | FTW_PHYS);
}

std::string TestPki::pinOf(const std::string& strCertFile)
{
    FILE* pfile = std::fopen(strCertFile.c_str(), "r");
    check(pfile != nullptr, "reading a certificate");
    Cert pcert(PEM_read_X509(pfile, nullptr, nullptr, nullptr), X509_free);
    std::fclose(pfile);
    check(pcert != nullptr, "parsing a certificate");
    unsigned char* pbDer = nullptr;
    int nLen = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(pcert.get()), &pbDer);
    unsigned char abDigest[32];
    unsigned int nDigest = 0;
    EVP_Digest(pbDer, size_t(nLen), abDigest, &nDigest, EVP_sha256(), nullptr);
    OPENSSL_free(pbDer);
    static const char acDigit[] = "0123456789abcdef";
    std::string strPin;
    for (unsigned i = 0; i < nDigest; ++i) {
        strPin += acDigit[abDigest[i] >> 4];
        strPin += acDigit[abDigest[i] & 15];
    }
    return strPin;
}

} // namespace OstrelTest

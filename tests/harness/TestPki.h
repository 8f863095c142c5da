#ifndef OSTREL_TESTS_HARNESS_TESTPKI_H
#define OSTREL_TESTS_HARNESS_TESTPKI_H

// Throw-away certificates for the TLS tests, made with OpenSSL in a temporary folder that goes with
// the object: a CA, certificates it signs (for loopback, for another name, expired, for a client),
// and a second CA nobody trusts. P-256 keys, so that making them costs milliseconds.

#include <string>

namespace OstrelTest {

// Paths of one certificate and its key (PEM files).
struct CertFiles {
    std::string strCert;
    std::string strKey;
};

class TestPki {
public:
    TestPki();
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    // The CA the clients trust, and another one they do not.
    const std::string& caFile() const { return _strCA; }
    const std::string& otherCaFile() const { return _strOtherCA; }

    // A server certificate for 127.0.0.1, ::1 and localhost, signed by the trusted CA.
    const CertFiles& server() const { return _server; }
    // Like server(), with a key of its own (a renewed certificate).
    const CertFiles& renewed() const { return _renewed; }
    // Signed by the trusted CA for "elsewhere.example" only.
    const CertFiles& wrongName() const { return _wrongName; }
    // Signed by the trusted CA for loopback, valid until yesterday.
    const CertFiles& expired() const { return _expired; }
    // For loopback, signed by the other CA.
    const CertFiles& untrusted() const { return _untrusted; }
    // A client certificate ("CN=app-01") signed by the trusted CA.
    const CertFiles& client() const { return _client; }

    // The SHA-256 of a certificate's public key, as pins are written.
    static std::string pinOf(const std::string& strCertFile);
    const std::string& dir() const { return _strDir; }

private:
    std::string _strDir;
    std::string _strCA;
    std::string _strOtherCA;
    CertFiles _server;
    CertFiles _renewed;
    CertFiles _wrongName;
    CertFiles _expired;
    CertFiles _untrusted;
    CertFiles _client;
};

} // namespace OstrelTest

#endif

// TLS under the framing: a real DaemonServer and DaemonComm on loopback with throw-away
// certificates. What a client trusts, what it refuses and why, what an attacker between the two
// sees, and what a server does with peers that do not speak TLS.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "Corvel/DaemonComm.h"
#include "Corvel/DaemonServer.h"
#include "Corvel/Exception.h"
#include "TransportHelpers.h"
#include "harness/TestPki.h"

using namespace Corvel;
using namespace transport_test;
using OstrelTest::CertFiles;
using OstrelTest::TestPki;

namespace {

const TestPki& pki()
{
    static TestPki s_pki;
    return s_pki;
}

DaemonServerTls serverTls(const CertFiles& files, const std::string& strClientCA = std::string())
{
    DaemonServerTls tls;
    tls.strCertFile = files.strCert;
    tls.strKeyFile = files.strKey;
    tls.strClientCAFile = strClientCA;
    return tls;
}

DaemonCommTls trustCA(const std::string& strCAFile)
{
    DaemonCommTls tls;
    tls.strCAFile = strCAFile;
    return tls;
}

DaemonCommTls trustPin(const std::string& strPin)
{
    DaemonCommTls tls;
    tls.strPin = strPin;
    return tls;
}

// A server answering "echo:<request>" on a TLS and a plain loopback port; it notes how each
// request came.
class TlsServer {
public:
    explicit TlsServer(const DaemonServerTls& tls, DaemonServer::Handler handler = nullptr)
        : _server(handler ? handler : [this](ConnectionContext& context, const std::string& strRequest) {
              ++_nRequests;
              std::lock_guard<std::mutex> lock(_mx);
              _bLastTls = context.isTls();
              _strLastSubject = context.tlsSubject();
              return "echo:" + strRequest;
          }, options())
    {
        _server.setTls(tls);
        _server.listen("tls:127.0.0.1:0");
        _server.listen("127.0.0.1:0");
        _server.start();
    }

    static DaemonServerOptions options()
    {
        DaemonServerOptions options;
        options.nHandshakeMs = 500;
        return options;
    }

    DaemonServer& server() { return _server; }
    std::string tlsAddress() const { return _server.addresses()[0]; }
    std::string plainAddress() const { return _server.addresses()[1]; }
    int requests() const { return _nRequests; }
    bool lastTls()
    {
        std::lock_guard<std::mutex> lock(_mx);
        return _bLastTls;
    }
    std::string lastSubject()
    {
        std::lock_guard<std::mutex> lock(_mx);
        return _strLastSubject;
    }

private:
    std::atomic<int> _nRequests{0};
    std::mutex _mx;
    bool _bLastTls = false;
    std::string _strLastSubject;
    DaemonServer _server;
};

// A client link with its own inbox.
struct Client {
    Inbox inbox;
    DaemonComm comm{inbox.callback()};

    Client(const std::string& strService, const DaemonCommTls& tls)
    {
        std::string s1, s2, strHost;
        int n = 0;
        comm.setTls(tls);
        comm.locateService(s1, s2, strHost, n, strService, "ostreld");
        comm.connect();
    }

    // The reply to strRequest, or what went wrong.
    std::string ask(const std::string& strRequest)
    {
        try {
            comm.send(strRequest);
        } catch (const Corvel::Exception& e) {
            return "failed: " + e.legend();
        }
        Message message;
        if (!inbox.next(message, 5000)) return "failed: no reply";
        return message.status == DaemonComm::response ? message.strText : "failed: " + message.strText;
    }
};

// "ok" when a client with that trust gets its echo, else the reason it was refused.
std::string attempt(const std::string& strService, const DaemonCommTls& tls)
{
    try {
        Client client(strService, tls);
        std::string strReply = client.ask("hello");
        return strReply == "echo:hello" ? "ok" : strReply;
    } catch (const Corvel::Exception& e) {
        return e.legend();
    }
}

// The port of an address text ("tls:127.0.0.1:5000", "127.0.0.1:5000").
std::string portOf(const std::string& strAddress)
{
    return strAddress.substr(strAddress.rfind(':') + 1);
}

TEST(Tls, VerifiedDaemonServesOverTlsByAddressAndByName)
{
    TlsServer server(serverTls(pki().server()));
    Client client(server.tlsAddress(), trustCA(pki().caFile()));
    EXPECT_TRUE(client.comm.isTls());
    EXPECT_EQ("echo:one", client.ask("one"));
    EXPECT_TRUE(server.lastTls());
    EXPECT_EQ("", server.lastSubject());
    EXPECT_EQ("ok", attempt("tls:localhost:" + portOf(server.tlsAddress()), trustCA(pki().caFile())));
    // The plain port of the same server is still plain.
    Client plain(server.plainAddress(), DaemonCommTls());
    EXPECT_FALSE(plain.comm.isTls());
    EXPECT_EQ("echo:two", plain.ask("two"));
    EXPECT_FALSE(server.lastTls());
}

TEST(Tls, UntrustedDaemonIsRefusedSayingWhy)
{
    struct Case {
        const CertFiles* pserver;
        DaemonCommTls trust;
        const char* pszReason;
    } caseS[] = {
        {&pki().untrusted(), trustCA(pki().caFile()), "unknown issuer"},
        {&pki().server(), DaemonCommTls(), "unknown issuer"},  // the system store knows no test CA
        {&pki().wrongName(), trustCA(pki().caFile()), "name mismatch"},
        {&pki().expired(), trustCA(pki().caFile()), "expired"},
        {&pki().server(), trustPin(TestPki::pinOf(pki().renewed().strCert)), "pin mismatch"},
    };
    for (const Case& c : caseS) {
        TlsServer server(serverTls(*c.pserver));
        std::string strResult = attempt(server.tlsAddress(), c.trust);
        EXPECT_NE(std::string::npos, strResult.find(c.pszReason)) << c.pszReason << ": " << strResult;
        EXPECT_NE(std::string::npos, strResult.find("TLS with '" + server.tlsAddress() + "' refused")) << strResult;
        EXPECT_EQ(0, server.requests()) << c.pszReason;
    }
}

// The system's store is OpenSSL's default paths, so the variables other OpenSSL programs honour
// work here too. (Each test runs in a process of its own: the store is read once per process.)
TEST(Tls, SystemStoreFollowsSslCertFile)
{
    TlsServer server(serverTls(pki().server()));
    ASSERT_EQ(0, ::setenv("SSL_CERT_FILE", pki().caFile().c_str(), 1));
    EXPECT_EQ("ok", attempt(server.tlsAddress(), DaemonCommTls()));
    ::unsetenv("SSL_CERT_FILE");
}

TEST(Tls, PinnedKeyIsTrustedWhoeverSignedIt)
{
    TlsServer server(serverTls(pki().untrusted()));
    std::string strPin = TestPki::pinOf(pki().untrusted().strCert);
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustPin(strPin)));
    std::string strColons;
    for (size_t i = 0; i < strPin.size(); i += 2)
        strColons += (i ? ":" : "") + strPin.substr(i, 2);
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustPin(strColons)));
    EXPECT_NE(std::string::npos, attempt(server.tlsAddress(), trustPin("abc")).find("64 hex digits"));
}

// A man in the middle answers with a certificate of his own and would pass every request on to the
// real daemon. The client must refuse before anything of its own crosses.
TEST(Tls, ManInTheMiddleIsRefusedBeforeAnyRequestReachesHim)
{
    TlsServer daemon(serverTls(pki().server()));
    for (const CertFiles* pfake : {&pki().untrusted(), &pki().wrongName()}) {
        std::atomic<int> nRelayed{0};
        TlsServer relay(serverTls(*pfake), [&](ConnectionContext&, const std::string& strRequest) {
            ++nRelayed;
            Client onward(daemon.tlsAddress(), trustCA(pki().caFile()));
            return onward.ask(strRequest);
        });
        std::string strResult = attempt(relay.tlsAddress(), trustCA(pki().caFile()));
        EXPECT_NE(std::string::npos, strResult.find("refused")) << strResult;
        EXPECT_EQ(0, nRelayed.load());
    }
    EXPECT_EQ(0, daemon.requests());
}

TEST(Tls, BytesOnTheWireHoldNothingOfTheRequestOrReply)
{
    TlsServer server(serverTls(pki().server()));
    ByteRelay relay(server.tlsAddress().substr(4));
    Client client("tls:127.0.0.1:" + std::to_string(relay.port()), trustCA(pki().caFile()));
    EXPECT_EQ("echo:password=hunter2-secret", client.ask("password=hunter2-secret"));
    std::string strSeen = relay.seen();
    EXPECT_GT(strSeen.size(), 100u);
    EXPECT_EQ(std::string::npos, strSeen.find("hunter2"));
}

TEST(Tls, WrongProtocolEitherWayFailsCleanlyAndTheServerGoesOn)
{
    LogCapture log;
    TlsServer server(serverTls(pki().server()));
    // A plain client on the TLS port: its frame is no ClientHello.
    std::string strPlain = attempt(server.tlsAddress().substr(4), DaemonCommTls());
    EXPECT_NE("ok", strPlain);
    EXPECT_TRUE(log.waitFor({"Closed connection from", "TLS handshake failed"}));
    // A TLS client on the plain port: the server drops it for a bad frame.
    std::string strTls = attempt("tls:" + server.plainAddress(), trustCA(pki().caFile()));
    EXPECT_NE(std::string::npos, strTls.find("refused")) << strTls;
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustCA(pki().caFile())));
    EXPECT_EQ("ok", attempt(server.plainAddress(), DaemonCommTls()));
}

TEST(Tls, ClientCertificateWhenRequired)
{
    TlsServer server(serverTls(pki().server(), pki().caFile()));
    EXPECT_NE("ok", attempt(server.tlsAddress(), trustCA(pki().caFile())));
    DaemonCommTls untrustedClient = trustCA(pki().caFile());
    untrustedClient.strCertFile = pki().untrusted().strCert;
    untrustedClient.strKeyFile = pki().untrusted().strKey;
    EXPECT_NE("ok", attempt(server.tlsAddress(), untrustedClient));
    EXPECT_EQ(0, server.requests());

    DaemonCommTls withCert = trustCA(pki().caFile());
    withCert.strCertFile = pki().client().strCert;
    withCert.strKeyFile = pki().client().strKey;
    EXPECT_EQ("ok", attempt(server.tlsAddress(), withCert));
    EXPECT_NE(std::string::npos, server.lastSubject().find("CN=app-01")) << server.lastSubject();
}

TEST(Tls, SilentOrGarbageHandshakeIsClosedInTime)
{
    TlsServer server(serverTls(pki().server()));
    RawPeer silent(server.tlsAddress().substr(4));
    RawPeer garbage(server.tlsAddress().substr(4));
    ASSERT_TRUE(garbage.write("GET / HTTP/1.0\r\n\r\n"));
    Clock::time_point t0 = Clock::now();
    EXPECT_TRUE(garbage.closedWithin(3000));
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustCA(pki().caFile())));
    EXPECT_TRUE(silent.closedWithin(3000));
    EXPECT_LT(msSince(t0), 2500);
}

TEST(Tls, RenewedCertificateReachesNewConnectionsOnly)
{
    TlsServer server(serverTls(pki().server()));
    const std::string strOldPin = TestPki::pinOf(pki().server().strCert);
    const std::string strNewPin = TestPki::pinOf(pki().renewed().strCert);
    Client before(server.tlsAddress(), trustPin(strOldPin));
    server.server().setTls(serverTls(pki().renewed()));
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustPin(strNewPin)));
    EXPECT_NE(std::string::npos, attempt(server.tlsAddress(), trustPin(strOldPin)).find("pin mismatch"));
    EXPECT_EQ("echo:still", before.ask("still"));
    // A certificate that cannot be read leaves the current one in place.
    DaemonServerTls missing = serverTls(pki().renewed());
    missing.strCertFile = pki().dir() + "/none.pem";
    EXPECT_THROW(server.server().setTls(missing), Corvel::Exception);
    EXPECT_EQ("ok", attempt(server.tlsAddress(), trustPin(strNewPin)));
}

TEST(Tls, ServerRefusesTlsListenerWithoutCertificateAndBadPolicy)
{
    DaemonServer server([](ConnectionContext&, const std::string&) { return std::string(); });
    server.listen("tls:127.0.0.1:0");
    EXPECT_THROW(server.start(), Corvel::Exception);
    DaemonServerTls tls = serverTls(pki().server());
    tls.strMinVersion = "1.0";
    EXPECT_THROW(server.setTls(tls), Corvel::Exception);
    tls = serverTls(pki().server());
    tls.strKeyFile = pki().renewed().strKey;  // not this certificate's key
    EXPECT_THROW(server.setTls(tls), Corvel::Exception);
}

} // namespace

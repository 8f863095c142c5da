#ifndef OSTREL_TESTS_XML_SCRIPTEDDAEMON_H
#define OSTREL_TESTS_XML_SCRIPTEDDAEMON_H

// A stand-in for ostreld on loopback: a real DaemonServer whose answers the test
// scripts, recording every request it is sent. Also the one RSA key pair the
// tests share, and helpers that build the daemon's side of the exchange.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Vesk/XMLDoc.h"
#include "crypto/rsa.h"

namespace xml_test {

// A private key of 2048 bits (the least a client takes), made once per process.
const rsa_key& testKey();

// The response document "rsa" carrying the test key's public part.
std::string rsaResponse();
// A response named strName whose root holds an "exception" child.
std::string exceptionResponse(const std::string& strName, int nCode, const std::string& strLegend);
// The token text as the daemon reads it: Base64, then raised to the private
// exponent; empty when either step fails.
std::string decryptToken(const std::string& strBase64);

class ScriptedDaemon {
public:
    // Returns the reply text for a request (empty: no reply).
    typedef std::function<std::string(Corvel::ConnectionContext& context, const Vesk::XMLDoc& docRequest)> Script;

    // Listens on 127.0.0.1 with a port of the system's choice and starts. The
    // default script answers "initialize" with rsaResponse() and everything else
    // with an empty "ok" response.
    ScriptedDaemon();
    ~ScriptedDaemon();

    const std::string& address() const { return _strAddress; }
    void setScript(Script script);
    // Answers requests named strRequest with strReply, others as the current script.
    void answer(const std::string& strRequest, const std::string& strReply);

    // The requests received so far, as text.
    std::vector<std::string> requests();
    // The last request named strRequest, parsed; an empty document when none came.
    Vesk::XMLDoc lastRequest(const std::string& strRequest);
    // Pushes strMessage to every open connection; false when there is none.
    bool pushToAll(const std::string& strMessage);
    // Waits up to 3 s until exactly nCount connections are open.
    bool waitForConnections(size_t nCount);
    void stop();

private:
    std::string handle(Corvel::ConnectionContext& context, const std::string& strRequest);

    std::mutex _mx;  // guards _script and _requestS
    Script _script;
    std::vector<std::string> _requestS;
    std::unique_ptr<Corvel::DaemonServer> _pserver;
    std::string _strAddress;
};

} // namespace xml_test

#endif

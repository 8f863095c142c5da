#include "FakeDaemon.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Corvel/DaemonServer.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "crypto/base64.h"
#include "crypto/rsa.h"

namespace {

using OstrelDataXML::Factory;
using Vesk::XMLNode;

// What the service knows; built once, read by the connection threads.
struct Model {
    OstrelData::Customer customer{"ACME", "Acme Ltd"};
    OstrelData::DomainMap domainS;
    std::map<std::string, std::string> passwordS;  // user id of EAST -> password
    OstrelData::UserMap userS;
    OstrelData::ProfileMap profileS;

    Model()
    {
        domainS.emplace("EAST", OstrelData::Domain(customer, "EAST"));
        domainS.emplace("WEST", OstrelData::Domain(customer, "WEST"));
        const OstrelData::Domain& east = domainS.at("EAST");

        OstrelData::User alice(east, "alice", "Alice Example", "", "alice@example.org");
        alice.teams().emplace(7, OstrelData::Team(customer, 7, "Ops"));
        OstrelData::Product product(3);
        using S = OstrelData::PRStatus;
        product.roles().emplace(2, OstrelData::Role(product, 2, "operator", S(S::statusGranted)));
        product.roles().emplace(4, OstrelData::Role(product, 4, "auditor", S(S::statusDenied)));
        product.permissions().emplace(5, OstrelData::Permission(product, 5, "start", S(S::statusGranted)));
        product.permissions().emplace(6, OstrelData::Permission(product, 6, "stop", S(S::statusRevoked)));
        alice.products().emplace(3, product);
        userS.emplace(alice.key(), alice);
        passwordS["alice"] = "secret";

        OstrelData::User bob(east, "bob", "Bob Example", "", "bob@example.org");
        userS.emplace(bob.key(), bob);
        passwordS["bob"] = "hunter2";

        profileS.emplace("default", OstrelData::Profile("default", false));
        profileS.emplace("night", OstrelData::Profile("night", false));
    }
};

struct Service {
    Model model;
    rsa_key key{};
    std::unique_ptr<Corvel::DaemonServer> pserver;
    std::string strAddress;
    std::string strDir;  // the folder made for the socket; removed at the stop

    std::mutex mx;  // guards the two maps below
    std::map<std::string, int> countS;
    // Persisted session id -> the user and the profile he logged in with.
    std::map<std::string, std::pair<OstrelData::User::Key, std::string>> sessionS;
    int nNextSession = 1;

    ~Service()
    {
        pserver.reset();  // no connection thread may use the key any more
        rsa_free(&key);
        if (!strDir.empty())
            ::rmdir(strDir.c_str());
    }
};

Service* g_pservice = nullptr;

std::string childText(const XMLNode* pnode, const char* pszPath0, const char* pszPath1 = nullptr,
                      const char* pszPath2 = nullptr)
{
    for (const char* psz : {pszPath0, pszPath1, pszPath2}) {
        if (!psz || !pnode)
            break;
        pnode = pnode->findChild(psz);
    }
    return pnode ? pnode->value().str() : std::string();
}

std::string failure(int nCode, const std::string& strLegend)
{
    Vesk::XMLDoc doc = Factory::Envelope::response("exception");
    Factory::Envelope::addException(doc, OstrelData::Exception("FakeDaemon.cpp", 1, nCode, strLegend, false));
    return doc.stream().str();
}

// The password the client encrypted, or a text that matches no password.
std::string decrypt(Service& service, const std::string& strToken)
{
    unsigned char abyCipher[4096];
    unsigned long nCipher = sizeof abyCipher;
    if (base64_decode(reinterpret_cast<const unsigned char*>(strToken.data()), strToken.size(), abyCipher,
                      &nCipher) != CRYPT_OK)
        return std::string(1, '\0');
    unsigned char abyPlain[4096];
    unsigned long nPlain = sizeof abyPlain;
    if (rsa_exptmod(abyCipher, nCipher, abyPlain, &nPlain, PK_PRIVATE, &service.key) != CRYPT_OK)
        return std::string(1, '\0');
    unsigned long nZeros = rsa_leading_zeros(abyPlain, nPlain);
    return std::string(reinterpret_cast<const char*>(abyPlain + nZeros), nPlain - nZeros);
}

std::string userReply(const OstrelData::User& user, const std::string& strSession, const std::string& strProfile)
{
    Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
    OstrelData::AuthenticatedUser authenticated(user, OstrelData::SessionString(strSession),
                                                OstrelData::Profile(strProfile, false));
    Factory::AuthenticatedUser::toXML(doc.rootNode(), authenticated, false);
    return doc.stream().str();
}

std::string answer(Service& service, const std::string& strRequest)
{
    Vesk::XMLDoc docRequest = Vesk::XMLDoc::parse(strRequest);
    XMLNode* proot = docRequest.rootNode();
    const std::string strName = proot->attribute("request").str();
    {
        std::lock_guard<std::mutex> lock(service.mx);
        ++service.countS[strName];
    }

    if (strName == "initialize") {
        Vesk::XMLDoc doc = Factory::Envelope::response("rsa");
        Factory::RsaKey::toXML(doc.rootNode(), service.key);
        return doc.stream().str();
    }
    if (strName == "domains") {
        Vesk::XMLDoc doc = Factory::Envelope::response("domains");
        Factory::DomainMap::toXML(doc.rootNode(), service.model.domainS, false);
        return doc.stream().str();
    }
    if (strName == "profiles") {
        Vesk::XMLDoc doc = Factory::Envelope::response("profiles");
        Factory::ProfileMap::toXML(doc.rootNode(), service.model.profileS, false);
        return doc.stream().str();
    }
    if (strName == "authenticate") {
        const std::string strDomain = childText(proot, "user", "domain", "domain");
        const std::string strUserId = childText(proot, "user", "userid");
        const std::string strProfile = childText(proot, "profile", "profile");
        auto it = service.model.userS.find(OstrelData::User::Key(strDomain, strUserId));
        if (it == service.model.userS.end())
            return failure(OstrelData::nNAX_USERNOTFOUND, "No such user - " + strDomain + "/" + strUserId + ".");
        if (decrypt(service, childText(proot, "authenticationtoken")) != service.model.passwordS[strUserId])
            return failure(OstrelData::nNAX_AUTHENTICATIONFAILED, "Wrong password.");
        std::string strSession;
        {
            std::lock_guard<std::mutex> lock(service.mx);
            strSession = "S" + std::to_string(service.nNextSession++) + "-" + strUserId;
        }
        return userReply(it->second, strSession, strProfile);
    }
    if (strName == "persistsession") {
        const XMLNode* puser = proot->findChild("authenticateduser");
        const std::string strSession = childText(puser, "sessionstring", "session", "sessionid");
        const std::string strDomain = childText(puser, "user", "domain", "domain");
        const std::string strUserId = childText(puser, "user", "userid");
        const std::string strProfile = childText(puser, "profile", "profile");
        if (strSession.empty())
            return failure(OstrelData::nNAX_BADSESSION, "Null session.");
        std::lock_guard<std::mutex> lock(service.mx);
        service.sessionS[strSession] = {OstrelData::User::Key(strDomain, strUserId), strProfile};
        return Factory::Envelope::response("persistsession").stream().str();
    }
    if (strName == "retrievesession" || strName == "killsession") {
        const std::string strSession = childText(proot, "session", "sessionid");
        std::lock_guard<std::mutex> lock(service.mx);
        auto it = service.sessionS.find(strSession);
        if (it == service.sessionS.end())
            return failure(OstrelData::nNAX_BADSESSION, "No such session.");
        if (strName == "killsession") {
            service.sessionS.erase(it);
            return Factory::Envelope::response("killsession").stream().str();
        }
        return userReply(service.model.userS.at(it->second.first), strSession, it->second.second);
    }
    return failure(OstrelData::nNAX_NOTIMPLEMENTED, "Not scripted: " + strName);
}

const char* startService(const char* pszSocket)
{
    auto pservice = std::make_unique<Service>();
    // The clients take no key weaker than this.
    if (rsa_make_key(2048, &pservice->key) != CRYPT_OK)
        return nullptr;
    std::string strSocket;
    if (pszSocket) {
        strSocket = pszSocket;
    } else {
        char szDir[] = "/tmp/ostrel-capi-XXXXXX";
        if (!::mkdtemp(szDir))
            return nullptr;
        pservice->strDir = szDir;
        strSocket = pservice->strDir + "/ostreld.sock";
    }
    Service* p = pservice.get();
    pservice->pserver = std::make_unique<Corvel::DaemonServer>(
        [p](Corvel::ConnectionContext&, const std::string& strRequest) { return answer(*p, strRequest); });
    pservice->pserver->listen("unix:" + strSocket);
    pservice->pserver->start();
    pservice->strAddress = "unix:" + strSocket;
    g_pservice = pservice.release();
    return g_pservice->strAddress.c_str();
}

} // namespace

extern "C" {

const char* fake_daemon_start(const char* pszSocket)
{
    try {
        return startService(pszSocket);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scripted service: %s\n", e.what());
        return nullptr;
    }
}

void fake_daemon_stop(void)
{
    if (!g_pservice)
        return;
    delete g_pservice;
    g_pservice = nullptr;
}

int fake_daemon_count(const char* pszRequest)
{
    if (!g_pservice)
        return 0;
    std::lock_guard<std::mutex> lock(g_pservice->mx);
    auto it = g_pservice->countS.find(pszRequest);
    return it == g_pservice->countS.end() ? 0 : it->second;
}

} // extern "C"

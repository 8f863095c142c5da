#include "ScriptedDaemon.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "crypto/base64.h"

namespace xml_test {

using OstrelDataXML::Factory;

const rsa_key& testKey()
{
    static rsa_key s_key = [] {
        rsa_key key{};
        if (rsa_make_key(2048, &key) != CRYPT_OK) throw std::runtime_error("no test key");
        return key;
    }();
    return s_key;
}

std::string rsaResponse()
{
    Vesk::XMLDoc doc = Factory::Envelope::response("rsa");
    Factory::RsaKey::toXML(doc.rootNode(), testKey());
    return doc.stream().str();
}

std::string exceptionResponse(const std::string& strName, int nCode, const std::string& strLegend)
{
    Vesk::XMLDoc doc = Factory::Envelope::response(strName);
    Factory::Envelope::addException(doc, OstrelData::Exception("daemon.cpp", 42, nCode, strLegend, false));
    return doc.stream().str();
}

std::string decryptToken(const std::string& strBase64)
{
    std::vector<unsigned char> encrypted(4096);
    unsigned long nEncrypted = encrypted.size();
    if (base64_decode(reinterpret_cast<const unsigned char*>(strBase64.data()), strBase64.size(), encrypted.data(),
                      &nEncrypted) != CRYPT_OK)
        return std::string();
    std::vector<unsigned char> plain(4096);
    unsigned long nPlain = plain.size();
    if (rsa_exptmod(encrypted.data(), nEncrypted, plain.data(), &nPlain, PK_PRIVATE, &testKey()) != CRYPT_OK)
        return std::string();
    unsigned long nSkip = rsa_leading_zeros(plain.data(), nPlain);
    return std::string(plain.begin() + long(nSkip), plain.begin() + long(nPlain));
}

ScriptedDaemon::ScriptedDaemon()
{
    _script = [](Corvel::ConnectionContext&, const Vesk::XMLDoc& docRequest) {
        if (docRequest.rootNode()->attribute("request") == "initialize") return rsaResponse();
        return Factory::Envelope::response("ok").stream().str();
    };
    _pserver.reset(new Corvel::DaemonServer(
        [this](Corvel::ConnectionContext& context, const std::string& strRequest) {
            return handle(context, strRequest);
        }));
    _pserver->listen("127.0.0.1:0");
    _pserver->start();
    _strAddress = _pserver->addresses().front();
}

ScriptedDaemon::~ScriptedDaemon()
{
    stop();
}

void ScriptedDaemon::stop()
{
    if (_pserver) _pserver->stop();
}

void ScriptedDaemon::setScript(Script script)
{
    std::lock_guard<std::mutex> lock(_mx);
    _script = std::move(script);
}

void ScriptedDaemon::answer(const std::string& strRequest, const std::string& strReply)
{
    std::lock_guard<std::mutex> lock(_mx);
    Script scriptBefore = _script;
    _script = [scriptBefore, strRequest, strReply](Corvel::ConnectionContext& context, const Vesk::XMLDoc& doc) {
        if (doc.rootNode()->attribute("request") == strRequest) return strReply;
        return scriptBefore(context, doc);
    };
}

std::vector<std::string> ScriptedDaemon::requests()
{
    std::lock_guard<std::mutex> lock(_mx);
    return _requestS;
}

Vesk::XMLDoc ScriptedDaemon::lastRequest(const std::string& strRequest)
{
    std::vector<std::string> requestS = requests();
    for (auto it = requestS.rbegin(); it != requestS.rend(); ++it) {
        Vesk::XMLDoc doc = Vesk::XMLDoc::parse(*it);
        if (doc.rootNode()->attribute("request") == strRequest) return doc;
    }
    return Vesk::XMLDoc();
}

bool ScriptedDaemon::pushToAll(const std::string& strMessage)
{
    bool bAny = false;
    for (const auto& pcontext : _pserver->connections())
        bAny = pcontext->push(strMessage) || bAny;
    return bAny;
}

bool ScriptedDaemon::waitForConnections(size_t nCount)
{
    for (int i = 0; i < 300; ++i) {
        if (_pserver->connections().size() == nCount) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string ScriptedDaemon::handle(Corvel::ConnectionContext& context, const std::string& strRequest)
{
    Script script;
    {
        std::lock_guard<std::mutex> lock(_mx);
        _requestS.push_back(strRequest);
        script = _script;
    }
    return script(context, Vesk::XMLDoc::parse(strRequest));
}

} // namespace xml_test

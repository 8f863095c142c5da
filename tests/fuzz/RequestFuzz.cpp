// Arbitrary requests as a peer without a login sends them: an in-process daemon service behind a
// DaemonServer on a unix socket, over a scratch SQLite database made once per process. The input
// holds the requests of one connection, separated by the separator line of FuzzTarget.h.
//
// Every request must get one reply, a well-formed response or exception element; an exception that
// says the service failed (unknown, database) is a finding, as is anything the requests leave
// behind in the registries and caches once their connection has ended.

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Framing.h"
#include "FuzzSocket.h"
#include "FuzzTarget.h"
#include "KeyPair.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelDal/StatementEcho.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Service.h"
#include "Vesk/XMLDoc.h"

namespace {

using namespace Corvel::framing;
using OstrelFuzz::finding;

// A domain that knows nobody, its customer and team, product 0 and a profile: enough for every
// anonymous request to find something.
const char* const pszRows = R"(
INSERT INTO "Customer" VALUES ('ACME', 'Acme Ltd');
INSERT INTO "Domain" ("Domain", "Description", "Customer") VALUES ('EAST', 'East office', 'ACME');
INSERT INTO "Team" VALUES (7, 'ACME', 'Seven');
INSERT INTO "Product" VALUES (0, 'Ostrel');
INSERT INTO "ProductRole" VALUES (0, 1, 'Maintainer', 0);
INSERT INTO "ProductPermission" VALUES (0, 1, 'Reload', 0);
INSERT INTO "Profile" VALUES ('default', 'Y');
INSERT INTO "ProfileHost" VALUES ('default', 'localhost');
)";

std::string makeDatabase()
{
    const std::string strFile = OstrelFuzz::scratchFolder() + "/ostrel.db";
    std::ifstream in(OSTREL_SQL_DIR "/sqlite.sql");
    std::stringstream schema;
    schema << in.rdbuf();
    sqlite3* pdb = nullptr;
    char* pszError = nullptr;
    if (!in || sqlite3_open(strFile.c_str(), &pdb) != SQLITE_OK ||
        sqlite3_exec(pdb, (schema.str() + pszRows).c_str(), nullptr, nullptr, &pszError) != SQLITE_OK)
        finding(std::string("cannot make the scratch database: ") + (pszError ? pszError : strFile.c_str()));
    sqlite3_close(pdb);
    return "engine=sqlite;database=ostrel;file=" + strFile;
}

// How much the process keeps of what requests name: none of it may grow with anonymous requests.
std::vector<size_t> keptSizes()
{
    using Core = OstrelData::Factory;
    using Codec = OstrelDataXML::Factory;
    return {Core::domains().size(),         Core::customers().size(),     Core::teams().size(),
            Core::profiles().size(),        Core::products().size(),      Core::xteams().size(),
            Core::aliens().size(),          Codec::cachedDomains().size(), Codec::cachedCustomers().size(),
            Codec::cachedTeams().size(),    Codec::cachedProfiles().size(), Codec::cachedProducts().size()};
}

class Daemon {
public:
    Daemon() : _strSocket(OstrelFuzz::scratchFolder() + "/ostreld.sock"), _keyPair(512)
    {
        OstrelDataDB::Factory::initialize(makeDatabase(), OstrelData::Factory::modeAuthenticator);
        Ostreld::Service::Settings settings;
        settings.nFailureDelayMaxMs = 0;  // a failed login must not slow the next input down
        _pservice = std::make_unique<Ostreld::Service>(_keyPair, settings);
        _pserver = std::make_unique<Corvel::DaemonServer>(
            [this](Corvel::ConnectionContext& context, const std::string& strRequest) {
                return _pservice->answer(context, strRequest);
            });
        _pserver->setCloseHandler([this](Corvel::ConnectionContext& context) { _pservice->connectionClosed(context); });
        _pserver->listen("unix:" + _strSocket);
        _pserver->start();
    }
    const std::string& socketPath() const { return _strSocket; }

private:
    std::string _strSocket;
    Ostreld::KeyPair _keyPair;
    std::unique_ptr<Ostreld::Service> _pservice;
    std::unique_ptr<Corvel::DaemonServer> _pserver;
};

Daemon& theDaemon()
{
    // Never destroyed: its connection threads may still be ending when the process exits.
    static Daemon* s_pdaemon = [] {
        Corvel::EventLogger::setLevel(Corvel::EventLogger::levelDebug);
        Corvel::EventLogger::setSink([](const std::string&) {});
        // Rendered, so that what requests put into statements is rendered too, and dropped.
        OstrelDal::setStatementEcho(OstrelDal::echoLogger);
        return new Daemon();
    }();
    return *s_pdaemon;
}

void checkReply(const std::string& strReply)
{
    Vesk::XMLDoc doc;
    try {
        doc = Vesk::XMLDoc::parse(Vesk::String(strReply));
    } catch (const Vesk::XMLException&) {
        finding("a reply that does not parse: " + strReply);
    }
    const Vesk::XMLNode* proot = doc.rootNode();
    if (!proot || proot->attribute("response").str().empty()) finding("a reply without a response: " + strReply);
    const Vesk::XMLNode* pexception = proot->findChild("exception");
    const Vesk::XMLNode* pcode = pexception ? pexception->findChild("errorcode") : nullptr;
    if (!pcode) return;
    const std::string strCode = pcode->value().str();
    if (strCode == std::to_string(OstrelData::nNAX_UNKNOWN) || strCode == std::to_string(OstrelData::nNAX_DATABASE))
        finding("the service failed on a request: " + strReply);
}

} // namespace

OSTREL_FUZZ_TARGET(fuzzRequests)
{
    Daemon& d = theDaemon();
    static const std::vector<size_t> s_keptS = keptSizes();
    const std::vector<std::string> requestS = OstrelFuzz::splitInput(pbyData, nSize);
    std::string strBytes;
    for (size_t i = 0; i < requestS.size(); ++i)
        strBytes += encodeFrame(kindRequest, uint32_t(i + 1), requestS[i]);

    const std::string strReceived = OstrelFuzz::exchangeOnce(d.socketPath(), strBytes);
    FrameReader reader;
    size_t nAt = 0;
    for (size_t i = 0; i < requestS.size(); ++i) {
        nAt += reader.feed(strReceived.data() + nAt, strReceived.size() - nAt);
        if (reader.state() != FrameReader::complete) finding("a request without a reply");
        Frame frame = reader.take();
        if (frame.kind != kindReply || frame.uId != i + 1) finding("a reply out of turn");
        checkReply(frame.strPayload);
    }
    if (nAt != strReceived.size()) finding("more replies than requests");
    if (keptSizes() != s_keptS) finding("requests without a login left something behind");
    return 0;
}

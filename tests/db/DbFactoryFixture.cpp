#include "DbFactoryFixture.h"

#include <fstream>
#include <sstream>

#include "Corvel/EventLogger.h"

namespace OstrelDbTest {

namespace {

// Reaches the registries that have no public accessor.
struct FactoryState : OstrelData::Factory {
    static OstrelData::AuthenticatedUser& userAuth() { return _userAuth; }
    static OstrelData::SessionMap& sessionS() { return _sessionS; }
};

std::string schemaFile(const std::string& strEngine)
{
    return std::string(OSTREL_SQL_DIR) + "/" + strEngine + ".sql";
}

// The statements of a schema file, cut at every line that ends in ";" (how the file is laid out).
std::vector<std::string> schemaStatements(const std::string& strPath)
{
    std::ifstream in(strPath);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    std::vector<std::string> statementS;
    std::string strLine;
    std::string strBlock;
    bool bCode = false;
    while (std::getline(in, strLine)) {
        strBlock += strLine + "\n";
        const size_t nFirst = strLine.find_first_not_of(" \t");
        if (nFirst != std::string::npos && strLine.compare(nFirst, 2, "--") != 0)
            bCode = true;
        const size_t nLast = strLine.find_last_not_of(" \t\r");
        if (nLast != std::string::npos && strLine[nLast] == ';') {
            if (bCode)
                statementS.push_back(strBlock);
            strBlock.clear();
            bCode = false;
        }
    }
    return statementS;
}

VeskDal::SqlCompoundCondition matching(const VeskDal::SqlTable& table, const Fields& fieldS)
{
    VeskDal::SqlCompoundCondition conditionS(VeskDal::compAnd);
    for (const auto& field : fieldS)
        conditionS.addCondition(VeskDal::SqlCondition(VeskDal::SqlColumn(table, field.first), field.second.value,
                                                      VeskDal::condEqual));
    return conditionS;
}

void captureLog(const std::shared_ptr<std::vector<std::string>>& plogS)
{
    Corvel::EventLogger::setSink([plogS](const std::string& strLine) { plogS->push_back(strLine); });
}

bool anyLineHolds(const std::vector<std::string>& lineS, const std::vector<std::string>& textS)
{
    for (const std::string& strLine : lineS) {
        bool bAll = true;
        for (const std::string& strText : textS)
            bAll = bAll && strLine.find(strText) != std::string::npos;
        if (bAll)
            return true;
    }
    return false;
}

} // namespace

void resetRegistries()
{
    using OstrelData::Factory;
    FactoryState::sessionS().clear();
    FactoryState::userAuth() = OstrelData::AuthenticatedUser();
    Factory::setExporter(nullptr);
    Factory::authenticators().clear();
    Factory::authenticationLibraries().clear();
    Factory::authenticationLibraryTemplates().clear();
    Factory::sharedObjects().clear();
    Factory::platforms().clear();
    Factory::raliens().clear();
    Factory::aliens().clear();
    Factory::xteams().clear();
    Factory::teams().clear();
    Factory::domains().clear();
    Factory::customers().clear();
    Factory::profiles().clear();
    Factory::products().clear();
}

std::string testPlugin()
{
    return OSTREL_TEST_PLUGIN;
}

// ---- RegistryFixture

void RegistryFixture::SetUp()
{
    resetRegistries();
    captureLog(_plogS);
}

void RegistryFixture::TearDown()
{
    Corvel::EventLogger::setSink(nullptr);
    resetRegistries();
}

bool RegistryFixture::logged(const std::vector<std::string>& textS) const
{
    return anyLineHolds(*_plogS, textS);
}

// ---- EngineFixture

void EngineFixture::SetUp()
{
    resetRegistries();
    OstrelDal::setStatementEcho(OstrelDal::echoOff);
    _pscratch = std::make_unique<OstrelTest::ScratchDatabase>(engine());
    _pdb = _pscratch->open();
    // A scratch file need not survive a crash: no waiting for the disk on every statement.
    if (engine() == "sqlite")
        script("PRAGMA synchronous = OFF");
    for (const std::string& strStatement : schemaStatements(schemaFile(engine())))
        _pdb->executeScript(strStatement);
    _pdb->begin();
    seed();
    _pdb->commit();
    captureLog(_plogS);
}

void EngineFixture::TearDown()
{
    Corvel::EventLogger::setSink(nullptr);
    OstrelDal::setStatementEcho(OstrelDal::echoStdout);
    resetRegistries();
    OstrelDal::disconnect();
    _pdb.reset();
    _pscratch.reset();
}

void EngineFixture::insert(const std::string& strTable, const Fields& fieldS)
{
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), strTable);
    VeskDal::SqlInsertStatement statement(table);
    for (const auto& field : fieldS)
        statement.addColumn(VeskDal::SqlColumn(table, field.first), field.second.value);
    _pdb->execute(statement);
}

void EngineFixture::uncheckReferences(const std::string& strTable)
{
    if (engine() == "sqlite") {
        if (!_bUnchecked)
            script("PRAGMA foreign_keys = OFF");
    } else if (engine() == "mysql") {
        if (!_bUnchecked)
            script("SET FOREIGN_KEY_CHECKS = 0");
    } else {
        // The owner of a table may drop its references; the names are the server's own.
        script("DO $$DECLARE r record; BEGIN FOR r IN SELECT conname FROM pg_constraint WHERE conrelid = '\"" +
               strTable +
               "\"'::regclass AND contype = 'f' LOOP EXECUTE 'ALTER TABLE \"" + strTable +
               "\" DROP CONSTRAINT ' || quote_ident(r.conname); END LOOP; END$$");
        // Tables that refer to this one lose their references to it as well.
        script("DO $$DECLARE r record; BEGIN FOR r IN SELECT conrelid::regclass AS t, conname FROM pg_constraint "
               "WHERE confrelid = '\"" +
               strTable +
               "\"'::regclass AND contype = 'f' LOOP EXECUTE 'ALTER TABLE ' || r.t || ' DROP CONSTRAINT ' || "
               "quote_ident(r.conname); END LOOP; END$$");
    }
    _bUnchecked = true;
}

void EngineFixture::insertUnchecked(const std::string& strTable, const Fields& fieldS)
{
    uncheckReferences(strTable);
    insert(strTable, fieldS);
}

void EngineFixture::removeUnchecked(const std::string& strTable, const Fields& fieldS)
{
    uncheckReferences(strTable);
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), strTable);
    VeskDal::SqlDeleteStatement statement(table);
    statement.setWhere(matching(table, fieldS));
    _pdb->execute(statement);
}

int EngineFixture::count(const std::string& strTable, const Fields& fieldS)
{
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), strTable);
    VeskDal::SqlSelectStatement statement(table);
    statement.addColumn(VeskDal::SqlColumnPtr(VeskDal::SqlFunction("COUNT", "n")));
    if (!fieldS.empty())
        statement.setWhere(matching(table, fieldS));
    VeskDal::DalDatabase::Result result;
    _pdb->query(result, statement, 0);
    return result.at(0).at("n").asInt();
}

void EngineFixture::actAsMaintainer(bool bGranted)
{
    using namespace OstrelData;
    Product& product0 = Factory::createProduct(OSROstrel::nOSRD_Ostrel);
    Factory::createPermission(product0, OSROstrel::nOSRP_Maintain_Products);
    Product copy(product0);
    copy.permissions().at(OSROstrel::nOSRP_Maintain_Products)
        .setStatus(PRStatus(bGranted ? PRStatus::statusGranted : PRStatus::statusDenied));
    User user;
    user.setUserId("maintainer");
    user.products().emplace(copy.product(), copy);
    Factory::setAuthenticatedUser(AuthenticatedUser(user, SessionString("sid-maintainer"), Profile()));
}

bool EngineFixture::logged(const std::vector<std::string>& textS) const
{
    return anyLineHolds(*_plogS, textS);
}

int EngineFixture::loggedCount(const std::string& strText) const
{
    int n = 0;
    for (const std::string& strLine : *_plogS)
        n += strLine.find(strText) != std::string::npos ? 1 : 0;
    return n;
}

void EngineFixture::seed()
{
    insert("Product", {{"Product", 0}, {"Description", "Ostrel"}});
    for (int nPermission = 1; nPermission <= 7; ++nPermission)
        insert("ProductPermission", {{"Product", 0}, {"Permission", nPermission}, {"Description", "Maintain"},
                                     {"Status", 0}});
    insert("ProductRole", {{"Product", 0}, {"Role", 1}, {"Description", "Maintainer"}, {"Status", 0}});
    insert("ProductRole", {{"Product", 0}, {"Role", 2}, {"Description", "Administrator"}, {"Status", 0}});
    insert("ProductRolePermission", {{"Product", 0}, {"Role", 1}, {"Permission", 3}, {"Status", 1}});

    insert("Product", {{"Product", 5}, {"Description", "Ledger"}});
    insert("ProductPermission", {{"Product", 5}, {"Permission", 7}, {"Description", "read"}, {"Status", 0}});
    insert("ProductPermission", {{"Product", 5}, {"Permission", 8}, {"Description", "write"}, {"Status", 1}});
    insert("ProductPermission", {{"Product", 5}, {"Permission", 9}, {"Description", "audit"}, {"Status", 0}});
    insert("ProductRole", {{"Product", 5}, {"Role", 1}, {"Description", "Clerk"}, {"Status", 0}});
    insert("ProductRole", {{"Product", 5}, {"Role", 2}, {"Description", "Auditor"}, {"Status", 0}});
    insert("ProductRolePermission", {{"Product", 5}, {"Role", 1}, {"Permission", 7}, {"Status", 1}});
    insert("ProductRolePermission", {{"Product", 5}, {"Role", 1}, {"Permission", 8}, {"Status", -1}});
    insert("ProductRolePermission", {{"Product", 5}, {"Role", 2}, {"Permission", 9}, {"Status", 1}});

    insert("Product", {{"Product", 6}, {"Description", "Mail"}});
    insert("ProductPermission", {{"Product", 6}, {"Permission", 1}, {"Description", "send"}, {"Status", 0}});
    insert("ProductRole", {{"Product", 6}, {"Role", 1}, {"Description", "Sender"}, {"Status", 0}});

    insert("Profile", {{"Profile", "office"}, {"IsDefault", "Y"}});
    insert("Profile", {{"Profile", "home"}, {"IsDefault", "N"}});
    insert("ProfileHost", {{"Profile", "home"}, {"Host", "pc1"}});
    insert("ProductParam", {{"Profile", "office"}, {"Product", 5}, {"Param", "url"}, {"Value", "https://ledger"}});
    insert("ProductParam", {{"Profile", "office"}, {"Product", 5}, {"Param", "mode"}, {"Value", "fast"}});

    insert("Customer", {{"Customer", "acme"}, {"Name", "Acme Ltd"}});
    insert("Customer", {{"Customer", "globex"}, {"Name", "Globex"}});

    insert("Platform", {{"Platform", "LNX"}, {"Description", "Linux"}});
    insert("AuthenticationLibrary", {{"AuthenticationLibrary", 1}, {"Description", "Table"},
                                     {"AuthenticationTokenDisposition", "P"}, {"UserTools", "Y"}});
    insert("SharedObject", {{"Platform", "LNX"}, {"AuthenticationLibrary", 1}, {"SharedObject", testPlugin()}});
    insert("AuthenticationLibraryParam", {{"AuthenticationLibrary", 1}, {"Param", "opt"}, {"Value", "x"}});

    insert("Domain", {{"Domain", "acme.local"}, {"Description", "Acme staff"}, {"Customer", "acme"},
                      {"AuthenticationLibrary", 1}, {"UserTools", "Y"}});
    insert("Domain", {{"Domain", "globex.local"}, {"Description", "Globex staff"}, {"Customer", "globex"},
                      {"AuthenticationLibrary", 1}, {"UserTools", "y"}});
    insert("AuthenticatorParam", {{"Domain", "acme.local"}, {"Param", "server"}, {"Value", "ldap1"}});

    for (const char* pszUserId : {"jdoe", "asmith"})
        insert("User", {{"Domain", "acme.local"}, {"UserId", pszUserId}, {"Name", std::string("Name of ") + pszUserId},
                        {"AuthenticationToken", ""}, {"Contact", "somewhere"}});
    insert("User", {{"Domain", "globex.local"}, {"UserId", "bwong"}, {"Name", "Bo Wong"},
                    {"AuthenticationToken", ""}, {"Contact", "3 Low Road"}});

    insert("Team", {{"Team", 10}, {"Customer", "acme"}, {"Name", "Ops"}});
    insert("Team", {{"Team", 11}, {"Customer", "acme"}, {"Name", "Dev"}});
    insert("Team", {{"Team", 12}, {"Customer", "globex"}, {"Name", "Sales"}});
    insert("UserTeam", {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Team", 10}, {"IsLead", "Y"}});
    insert("UserTeam", {{"Domain", "acme.local"}, {"UserId", "jdoe"}, {"Team", 11}, {"IsLead", "N"}});
    insert("UserTeam", {{"Domain", "acme.local"}, {"UserId", "asmith"}, {"Team", 10}, {"IsLead", "N"}});
    insert("UserTeam", {{"Domain", "globex.local"}, {"UserId", "bwong"}, {"Team", 12}, {"IsLead", "Y"}});
    insert("TeamProductRole", {{"Team", 10}, {"Product", 5}, {"Role", 1}, {"Status", 1}});
    insert("TeamMap", {{"Domain", "acme.local"}, {"AlienGroup", "ops-group"}, {"AlienGroupLeadGroup", "ops-leads"},
                       {"Team", 10}});
}

} // namespace OstrelDbTest

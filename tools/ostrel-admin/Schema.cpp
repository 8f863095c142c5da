// init and upgrade: the schema and the rows every installation starts with.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Admin.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/DalDatabase.h"

namespace OstrelAdmin {

namespace {

using VeskDal::SqlInteger;
using VeskDal::SqlText;
using Result = VeskDal::DalDatabase::Result;

// The statements of a schema file: each ends with a ";" at the end of a line; comment lines and
// blank lines between statements are dropped.
std::vector<std::string> splitStatements(const std::string& strText)
{
    std::vector<std::string> statementS;
    std::istringstream in(strText);
    std::string strLine, strStatement;
    while (std::getline(in, strLine)) {
        std::string::size_type nFirst = strLine.find_first_not_of(" \t\r");
        if (nFirst == std::string::npos || strLine.compare(nFirst, 2, "--") == 0) continue;
        std::string::size_type nLast = strLine.find_last_not_of(" \t\r");
        strStatement += strLine.substr(0, nLast + 1) + "\n";
        if (strLine[nLast] == ';') {
            statementS.push_back(strStatement);
            strStatement.clear();
        }
    }
    if (strStatement.find_first_not_of(" \t\r\n") != std::string::npos)
        throw Failure("the schema file ends in the middle of a statement");
    return statementS;
}

std::string readSchemaFile(const std::string& strSqlDir, const std::string& strEngine)
{
    std::string strPath = strSqlDir + "/" + strEngine + ".sql";
    std::ifstream in(strPath);
    if (!in) throw Failure("cannot read the schema file " + strPath + " (give the folder with --sql-dir)");
    // The schema files are some tens of KiB; a larger file is not one of them.
    constexpr std::streamsize nMost = 4 << 20;
    std::string strText(static_cast<size_t>(nMost) + 1, '\0');
    in.read(&strText[0], nMost + 1);
    if (in.bad() || (in.fail() && !in.eof()))
        throw Failure("cannot read the schema file " + strPath + " (give the folder with --sql-dir)");
    if (in.gcount() > nMost) throw Failure("the schema file " + strPath + " is larger than 4 MiB");
    strText.resize(static_cast<size_t>(in.gcount()));
    return strText;
}

// The statements of the engine's schema file; a file that holds none is no schema, and would
// leave a database without tables reported as up to date.
std::vector<std::string> schemaStatements(const Context& context, const std::string& strEngine)
{
    const std::string strSqlDir = context.args.value("sql-dir", context.strSqlDir);
    std::vector<std::string> statementS = splitStatements(readSchemaFile(strSqlDir, strEngine));
    if (statementS.empty())
        throw Failure("the schema file " + strSqlDir + "/" + strEngine + ".sql holds no statements");
    return statementS;
}

// Writes the row the query's key constraints address: an update when it is there, else an insert.
template <class TQuery>
void upsert(TQuery& query, VeskDal::DalDatabase& db)
{
    Result result;
    if (query.select(result, db, VeskDal::SqlQueryBase::full) > 0)
        query.update(db);
    else
        query.insert(db);
}

// Inserts the row unless the key constraints find it (what an operator changed stays).
template <class TQuery>
void insertMissing(TQuery& query, VeskDal::DalDatabase& db)
{
    Result result;
    if (query.select(result, db, VeskDal::SqlQueryBase::full) == 0) query.insert(db);
}

void registerPlugin(VeskDal::DalDatabase& db, const std::string& strPlugin)
{
    OstrelDal::PlatformQuery platform(OstrelDal::schema());
    platform.constrainPlatform(SqlText("LNX"));
    platform.columnPlatform().setValue(SqlText("LNX"));
    platform.columnDescription().setValue(SqlText("Linux"));
    insertMissing(platform, db);

    OstrelDal::AuthenticationLibraryQuery library(OstrelDal::schema());
    library.constrainAuthenticationLibrary(SqlInteger(nSqlPasswordLibrary));
    library.columnAuthenticationLibrary().setValue(SqlInteger(nSqlPasswordLibrary));
    library.columnDescription().setValue(SqlText("SQL password"));
    library.columnAuthenticationTokenDisposition().setValue(SqlText("P"));
    library.columnUserTools().setValue(SqlText("Y"));
    insertMissing(library, db);

    // The file moves with the installation, so a second init points the row at the new one.
    OstrelDal::SharedObjectQuery sharedObject(OstrelDal::schema());
    sharedObject.constrainPlatform(SqlText("LNX"));
    sharedObject.constrainAuthenticationLibrary(SqlInteger(nSqlPasswordLibrary));
    sharedObject.columnPlatform().setValue(SqlText("LNX"));
    sharedObject.columnAuthenticationLibrary().setValue(SqlInteger(nSqlPasswordLibrary));
    sharedObject.columnSharedObject().setValue(SqlText(strPlugin));
    upsert(sharedObject, db);
}

// Product 0, the framework itself: two roles, seven permissions, and which role carries which.
void registerFramework(VeskDal::DalDatabase& db)
{
    using namespace OSROstrel;
    OstrelDal::ProductQuery product(OstrelDal::schema());
    product.constrainProduct(SqlInteger(nOSRD_Ostrel));
    product.columnProduct().setValue(SqlInteger(nOSRD_Ostrel));
    product.columnDescription().setValue(SqlText("Ostrel"));
    insertMissing(product, db);

    const std::vector<std::pair<int, const char*>> roleS = {{nOSRR_Maintainer, "Maintainer"},
                                                            {nOSRR_Administrator, "Administrator"}};
    for (const auto& role : roleS) {
        OstrelDal::ProductRoleQuery query(OstrelDal::schema());
        query.constrainProduct(SqlInteger(nOSRD_Ostrel));
        query.constrainRole(SqlInteger(role.first));
        query.columnProduct().setValue(SqlInteger(nOSRD_Ostrel));
        query.columnRole().setValue(SqlInteger(role.first));
        query.columnDescription().setValue(SqlText(role.second));
        query.columnStatus().setValue(SqlInteger(OstrelData::PRStatus::statusDenied));
        insertMissing(query, db);
    }

    struct FrameworkPermission {
        int nPermission;
        const char* pszDescription;
        int nRole;
    };
    const FrameworkPermission permissionS[] = {
        {nOSRP_Maintain_Plugins, "Maintain plug-ins", nOSRR_Maintainer},
        {nOSRP_Maintain_Authenticators, "Maintain authenticators", nOSRR_Maintainer},
        {nOSRP_Maintain_Products, "Maintain products", nOSRR_Maintainer},
        {nOSRP_Administer_Customers, "Administer customers", nOSRR_Administrator},
        {nOSRP_Administer_Domains, "Administer domains", nOSRR_Administrator},
        {nOSRP_Administer_Teams, "Administer teams", nOSRR_Administrator},
        {nOSRP_Administer_Users, "Administer users", nOSRR_Administrator},
    };
    for (const FrameworkPermission& permission : permissionS) {
        OstrelDal::ProductPermissionQuery query(OstrelDal::schema());
        query.constrainProduct(SqlInteger(nOSRD_Ostrel));
        query.constrainPermission(SqlInteger(permission.nPermission));
        query.columnProduct().setValue(SqlInteger(nOSRD_Ostrel));
        query.columnPermission().setValue(SqlInteger(permission.nPermission));
        query.columnDescription().setValue(SqlText(permission.pszDescription));
        query.columnStatus().setValue(SqlInteger(OstrelData::PRStatus::statusDenied));
        insertMissing(query, db);

        OstrelDal::ProductRolePermissionQuery carried(OstrelDal::schema());
        carried.constrainProduct(SqlInteger(nOSRD_Ostrel));
        carried.constrainRole(SqlInteger(permission.nRole));
        carried.constrainPermission(SqlInteger(permission.nPermission));
        carried.columnProduct().setValue(SqlInteger(nOSRD_Ostrel));
        carried.columnRole().setValue(SqlInteger(permission.nRole));
        carried.columnPermission().setValue(SqlInteger(permission.nPermission));
        carried.columnStatus().setValue(SqlInteger(OstrelData::PRStatus::statusGranted));
        insertMissing(carried, db);
    }
}

std::string engineOf(const Context& context)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, context.strConnect, VeskDal::DalDatabase::csClearMap);
    const std::string strEngine = parameterS.count("engine") ? parameterS["engine"] : std::string("mysql");
    if (strEngine != "sqlite" && strEngine != "postgresql" && strEngine != "mysql")
        throw Failure("no schema for the engine '" + strEngine + "'");
    return strEngine;
}

// Whether the table has the column: an update of no row that sets it succeeds. (A select would
// not tell: SQLite reads a quoted name that is no column as a text.)
bool hasColumn(VeskDal::DalDatabase& db, const std::string& strTable, const std::string& strColumn, char chQuote)
{
    try {
        db.executeScript("UPDATE " + (chQuote + strTable + chQuote) + " SET " + (chQuote + strColumn + chQuote) +
                         " = NULL WHERE 1 = 0");
        return true;
    } catch (const VeskDal::DalDatabaseException&) {
        return false;
    }
}

// Columns added after the first release of their table, with their type in each engine.
struct AddedColumn {
    const char* pszTable;
    const char* pszColumn;
    const char* pszSqliteType;
    const char* pszOtherType;
};
const AddedColumn s_addedColumnS[] = {
    {"User", "LockedUntil", "INTEGER", "BIGINT"},
};

// Creates the tables and indexes the database lacks (the schema file's statements all keep what
// exists) and adds the columns its tables lack; returns the number of columns added.
int bringSchemaUpToDate(VeskDal::DalDatabase& db, const std::vector<std::string>& statementS,
                        const std::string& strEngine)
{
    for (const std::string& strStatement : statementS)
        db.executeScript(strStatement);
    int nAdded = 0;
    const char chQuote = strEngine == "mysql" ? '`' : '"';
    for (const AddedColumn& added : s_addedColumnS) {
        if (hasColumn(db, added.pszTable, added.pszColumn, chQuote)) continue;
        db.executeScript(std::string("ALTER TABLE ") + chQuote + added.pszTable + chQuote + " ADD COLUMN " + chQuote +
                         added.pszColumn + chQuote + " " +
                         (strEngine == "sqlite" ? added.pszSqliteType : added.pszOtherType));
        ++nAdded;
    }
    return nAdded;
}

void runUpgrade(Context& context)
{
    const std::string strEngine = engineOf(context);
    const std::vector<std::string> statementS = schemaStatements(context, strEngine);
    // Upgrading a file that is not there makes one, as init does: it will hold password hashes.
    createSqliteFileForOwnerOnly(context.strConnect);
    OstrelDal::connect(context.strConnect);
    OstrelDal::Connection connection = OstrelDal::connection();
    const int nAdded = bringSchemaUpToDate(connection.db(), statementS, strEngine);
    context.out() << "Schema up to date (" << statementS.size() << " statements, " << nAdded
                  << " column(s) added).\n";
}

void runInit(Context& context)
{
    const std::string strEngine = engineOf(context);
    const std::vector<std::string> statementS = schemaStatements(context, strEngine);
    const std::string strPlugin = context.args.value("plugin", context.strPlugin);

    createSqliteFileForOwnerOnly(context.strConnect);
    OstrelDal::connect(context.strConnect);
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    bringSchemaUpToDate(db, statementS, strEngine);

    VeskDal::inTransaction(db, [&](VeskDal::DalDatabase&) {
        registerPlugin(db, strPlugin);
        registerFramework(db);
    });
    context.out() << "Schema ready (" << statementS.size() << " statements); plug-in " << strPlugin
                  << " registered as library " << nSqlPasswordLibrary << "; product 0 registered.\n";
}

} // namespace

const std::vector<Command>& schemaCommands()
{
    static const std::vector<Command> s_commandS = {
        {"init", "", "init [--plugin PATH] [--sql-dir DIR]",
         "Creates the tables for the database's engine from the schema files (tables that exist\n"
         "are kept), registers platform LNX, the SQL password plug-in as authentication library 1\n"
         "with its shared object, and product 0 (the framework) with its roles Maintainer and\n"
         "Administrator and permissions 1 to 7. Safe to run again.\n"
         "  --plugin PATH   the plug-in's file (default: libOstrelAuthSql.so in the tool's lib/ostrel or lib)\n"
         "  --sql-dir DIR   the folder of sqlite.sql, postgresql.sql and mysql.sql\n",
         0, 0, {{"plugin", "sql-dir"}, {}}, loadNothing, runInit},
        {"upgrade", "", "upgrade [--sql-dir DIR]",
         "Brings the schema of a database made by an earlier release up to this one's: creates the\n"
         "tables and indexes it lacks and adds missing columns, keeping every row. Safe to run again.\n"
         "  --sql-dir DIR   the folder of sqlite.sql, postgresql.sql and mysql.sql\n",
         0, 0, {{"sql-dir"}, {}}, loadNothing, runUpgrade},
    };
    return s_commandS;
}

} // namespace OstrelAdmin

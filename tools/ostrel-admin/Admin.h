#ifndef OSTRELADMIN_ADMIN_H
#define OSTRELADMIN_ADMIN_H

// What every command of ostrel-admin shares: the command table's shape, the context a command
// runs in, and the readers of the arguments that refuse bad text with a clear message.

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/DalDatabase.h"

namespace OstrelAdmin {

// The default database of the tool and the daemon: SQLite in the usual place.
constexpr const char* pszDefaultConnect = "engine=sqlite;database=/var/lib/ostrel/ostrel.db";

// The number of the SQL password plug-in's library that init registers.
constexpr int nSqlPasswordLibrary = 1;

// A failure that is the operator's to mend (not a bad command line): printed, exit 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Context {
    CommandLine args;          // the command's own words (after entity and verb) and options
    std::string strConnect;    // the database connect string
    std::string strPlugin;     // the SQL password plug-in's file, for init
    std::string strSqlDir;     // where the schema files are, for init
    std::ostream* pout;        // listings
    std::ostream& out() const { return *pout; }
};

// How much of the model a command needs before it runs.
enum Load {
    loadNothing,  // connects nothing itself (init)
    loadModel     // the database-backed factory, plug-ins included
};

struct Command {
    const char* pszEntity;
    const char* pszVerb;
    const char* pszSynopsis;  // the words and options after "ostrel-admin"
    const char* pszHelp;
    size_t nMinWords;
    size_t nMaxWords;
    OptionSpec options;
    Load load;
    void (*run)(Context& context);
};

// The tables of the command families, in the order --help lists them.
const std::vector<Command>& schemaCommands();
const std::vector<Command>& organisationCommands();
const std::vector<Command>& catalogueCommands();

// ---- reading arguments (each throws UsageError naming what is wrong)

// The command's word n (after entity and verb); the command table has checked the count.
const std::string& word(const Context& context, size_t n);

int integerArgument(const std::string& strText, const char* pszWhat);
// The id of a new customer or profile: never empty.
const std::string& newIdArgument(const std::string& strText, const char* pszWhat);
// The name of a new domain: not empty, and without the separators that a user's text puts between
// the domain and the user id.
const std::string& newDomainArgument(const std::string& strText);
// "granted", "denied", "revoked" or 1, 0, -1.
OstrelData::PRStatus statusArgument(const std::string& strText);
std::string statusText(const OstrelData::PRStatus& status);
// "yes"/"no" (also y/n, true/false, 1/0).
bool yesNoArgument(const std::string& strText, const char* pszWhat);

// A column of a listing's row as text; empty when the row lacks it.
std::string columnText(const VeskDal::DalDatabase::Row& row, const char* pszColumn);

// ---- finding things in the loaded model (each throws Failure naming what is missing)

OstrelData::Customer& registeredCustomer(const std::string& strCustomer);
OstrelData::Domain& registeredDomain(const std::string& strDomain);
OstrelData::Team& registeredTeam(int nTeam);
OstrelData::Product& registeredProduct(int nProduct);
OstrelData::Role& registeredRole(OstrelData::Product& product, int nRole);
OstrelData::Permission& registeredPermission(OstrelData::Product& product, int nPermission);
// "DOMAIN/USER" (or "DOMAIN\USER", "USER@DOMAIN") of a registered domain; the user need not exist.
OstrelData::User userArgument(const std::string& strText);
// The domain's authenticator (Failure when the plug-in did not load for it).
OstrelData::Authenticator& authenticatorOf(const OstrelData::Domain& domain);

// Sets (or with bRemove removes) the one parameter row that the query's key constraints address,
// with the key columns set for an insert: one statement, so a failure leaves the old value.
template <class TQuery>
void writeParam(TQuery& query, bool bRemove, const std::string& strValue)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& db = connection.db();
    VeskDal::DalDatabase::Result result;
    bool bThere = query.select(result, db, VeskDal::SqlQueryBase::full) > 0;
    if (bRemove) {
        if (!bThere) throw Failure("no such parameter");
        query.remove(db);
        return;
    }
    query.columnValue().setValue(VeskDal::SqlText(strValue));
    if (bThere) {
        query.update(db);
    } else {
        query.insert(db);
    }
}

// Makes the tool's own user, who holds the framework's product-maintenance permission, the
// factory's current user: whoever can run the tool on the database may change the catalogue.
// Throws Failure when product 0 is not in the database (init has not run).
void actAsOperator();

// Makes the file of an SQLite connect string that may create it (mode rwc), when it is missing,
// readable and writable by its owner alone; leaves an existing file and other engines alone.
// Throws what the connect string's parser throws.
void createSqliteFileForOwnerOnly(const std::string& strConnect);

// The first line of standard input (at most 4 KiB), for a value such as a service account's password
// that must stay off the command line and out of the process list.
std::string readValueFromInput();

// A password for a user: the first line of standard input with --password-stdin, else asked twice
// on the terminal without echo. Throws Failure when none can be read or the two differ.
std::string readNewPassword(const Context& context, const std::string& strFor);

} // namespace OstrelAdmin

#endif

// ostrel-gen: fills an empty database with an organisation of a chosen size (see Generator.h).
//
//   ostrel-gen --connect CONNECT [--schema FILE | --no-schema] [--shared-object PATH]
//              [--customers N] [--domains N] [--users N] [--teams N] [--teams-per-user N]
//              [--products N] [--roles N] [--permissions N] [--permissions-per-role N]
//              [--products-per-team N]
//
// CONNECT is a database connect string ("engine=sqlite;database=ostrel;file=/tmp/ostrel.db").
// --users alone scales the whole organisation with it (OstrelGen::scaledTo); a count given beside it
// wins over the scaled one.
// The schema file defaults to the one of the engine in the source tree's sql folder.

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "Generator.h"
#include "VeskDal/VeskDal.h"

namespace {

void usage(std::ostream& out)
{
    out << "usage: ostrel-gen --connect CONNECT [--schema FILE | --no-schema] [--shared-object PATH]\n"
           "                  [--customers N] [--domains N] [--users N] [--teams N] [--teams-per-user N]\n"
           "                  [--products N] [--roles N] [--permissions N] [--permissions-per-role N]\n"
           "                  [--products-per-team N]\n"
           "--users alone grows the whole organisation with its users; the other counts given win.\n";
}

// A whole number from 0 to 10,000,000, or -1.
int count(const std::string& strText)
{
    if (strText.empty() || strText.find_first_not_of("0123456789") != std::string::npos || strText.size() > 8)
        return -1;
    const long n = std::strtol(strText.c_str(), nullptr, 10);
    return n <= 10000000 ? static_cast<int>(n) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string strConnect;
    std::string strSchema;
    bool bSchema = true;
    std::string strSharedObject = "libostrel_authlib.so";
    OstrelGen::Size size;
    std::map<std::string, int> givenS;
    struct SizeOption {
        const char* pszName;
        int* pnValue;
    };
    const SizeOption optionS[] = {
        {"--customers", &size.nCustomers},     {"--domains", &size.nDomains},
        {"--users", &size.nUsers},             {"--teams", &size.nTeams},
        {"--teams-per-user", &size.nTeamsPerUser}, {"--products", &size.nProducts},
        {"--roles", &size.nRoles},             {"--permissions", &size.nPermissions},
        {"--permissions-per-role", &size.nPermissionsPerRole}, {"--products-per-team", &size.nProductsPerTeam},
    };

    for (int n = 1; n < argc; ++n) {
        const std::string strArg = argv[n];
        if (strArg == "--help" || strArg == "-h") {
            usage(std::cout);
            return 0;
        }
        if (strArg == "--no-schema") {
            bSchema = false;
            continue;
        }
        if (n + 1 >= argc) {
            std::cerr << "ostrel-gen: " << strArg << " needs a value\n";
            usage(std::cerr);
            return 2;
        }
        const std::string strValue = argv[++n];
        if (strArg == "--connect") {
            strConnect = strValue;
        } else if (strArg == "--schema") {
            strSchema = strValue;
        } else if (strArg == "--shared-object") {
            strSharedObject = strValue;
        } else {
            bool bKnown = false;
            for (const SizeOption& option : optionS) {
                if (strArg != option.pszName)
                    continue;
                bKnown = true;
                givenS[strArg] = count(strValue);
                if (givenS[strArg] < 0) {
                    std::cerr << "ostrel-gen: " << strArg << " takes a whole number up to 10000000\n";
                    return 2;
                }
            }
            if (!bKnown) {
                std::cerr << "ostrel-gen: unknown option " << strArg << "\n";
                usage(std::cerr);
                return 2;
            }
        }
    }
    if (givenS.count("--users"))
        size = OstrelGen::scaledTo(givenS["--users"]);
    for (const SizeOption& option : optionS) {
        if (givenS.count(option.pszName))
            *option.pnValue = givenS[option.pszName];
    }
    if (strConnect.empty()) {
        std::cerr << "ostrel-gen: --connect is required\n";
        usage(std::cerr);
        return 2;
    }

    try {
        OstrelGen::check(size);
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
        const std::string strEngine = parameterS.count("engine") ? parameterS["engine"] : std::string("mysql");
        std::unique_ptr<VeskDal::DalDatabase> pdatabase(VeskDal::DalDynamic::dalDatabase(strEngine));
        pdatabase->open(parameterS);
        if (bSchema)
            OstrelGen::loadSchema(*pdatabase, strSchema.empty() ? std::string(OSTREL_SQL_DIR) + "/" + strEngine + ".sql"
                                                                 : strSchema);
        const long nRows = OstrelGen::fill(*pdatabase, size, strSharedObject);
        std::cout << nRows << " rows written\n";
    } catch (const VeskDal::DalDatabaseException& e) {
        std::cerr << "ostrel-gen: " << e.nativeExplanation() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "ostrel-gen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

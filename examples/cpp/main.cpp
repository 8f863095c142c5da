// An application on Ostrel's C++ client: it finds the service in the client settings, logs the
// user in with his password, asks whether he holds a role and a permission, has the service keep
// his session, takes the session up again from its id alone (as a later request would), and ends it.
//
//   cpp-example [MACHINE_SETTINGS USER_SETTINGS] <password-file
//
// The service (and its TLS trust) come from the machine-wide settings, /etc/ostreld/rcostrel; the
// user's domain, user id and profile from his own, ~/.rcostrel; two paths replace both files. The
// password is the first line of standard input. Exit status: 0 done, 1 failure, 2 bad command line.

#include <OstrelClientConfig/Settings.h>
#include <OstrelData/OstrelData.h>
#include <OstrelDataXML/OstrelFactory.h>
#include <OstrelDataXML/OstrelService.h>

#include <array>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

using OstrelDataXML::Factory;

namespace {

// What this application asks about, by the numbers ostrel-admin gave them: its product, one of the
// product's roles and one of its permissions.
constexpr int nProduct = 10;
constexpr int nRoleOperator = 1;
constexpr int nPermissionStopTheLine = 2;

// A real application takes the password from its login form; it never goes on a command line.
std::string readPassword()
{
    std::array<char, 256> buffer{};  // ostrel-admin takes passwords of up to 255 bytes
    if (!std::cin.getline(buffer.data(), buffer.size()))
        throw std::runtime_error("the password must be the first line of standard input, at most 255 bytes");
    return buffer.data();
}

void report(const char* pszWhen, const OstrelData::User& user)
{
    const OstrelData::Product product(nProduct);
    const OstrelData::Role role(product, nRoleOperator, "", OstrelData::PRStatus());
    const OstrelData::Permission permission(product, nPermissionStopTheLine, "", OstrelData::PRStatus());
    std::cout << pszWhen << ": " << user.domain().domain() << "/" << user.userId() << " (" << user.name()
              << "): role " << nRoleOperator << (user.hasRole(role) ? " held" : " not held") << ", permission "
              << nPermissionStopTheLine << (user.hasPermission(permission) ? " held" : " not held") << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 1 && argc != 3) {
        std::cerr << "usage: cpp-example [MACHINE_SETTINGS USER_SETTINGS] <password-file\n";
        return 2;
    }
    try {
        const auto settings = argc == 3 ? std::make_unique<OstrelClientConfig::Settings>(argv[1], argv[2])
                                        : std::make_unique<OstrelClientConfig::Settings>();
        try {
            settings->load(false);  // the machine's TLS trust, if it names any, now holds for every connection
        } catch (const OstrelData::Exception& e) {
            throw std::runtime_error("cannot read the settings " + settings->hklmPath() + " and " +
                                     settings->hkcuPath() + ": " + e.legend());
        }
        const std::string strService = settings->ostrelLocal();
        if (strService.empty() || settings->defaultDomain().empty() || settings->userId().empty())
            throw std::runtime_error("the settings name no service (Connect), domain (Domain) or user (UserId)");
        Factory::initialize(strService);

        const OstrelData::Domain domain(OstrelData::Customer::allCustomers, settings->defaultDomain());
        const OstrelData::User login(domain, settings->userId(), "", "", "");
        const OstrelData::PasswordAuthenticationToken password(readPassword());
        // A copy: the factory overwrites the user it returns at its next call.
        OstrelData::AuthenticatedUser user =
            Factory::authenticate(login, password, OstrelData::Profile(settings->defaultProfile()));
        report("logged in", user);

        Factory::persistSession(user);
        // The session id is as good as the password: hand it on, never log or show it.
        const std::string strSession = user.session().str();

        // A later request, perhaps in another process on a connection of its own, has only the id.
        Factory::initialize(strService);
        OstrelData::AuthenticatedUser resumed = Factory::retrieveSession(OstrelData::SessionString(strSession));
        report("resumed", resumed);

        Factory::killSession(resumed.session());
        OstrelDataXML::OstrelService::disconnect();
        std::cout << "signed off\n";
        return 0;
    } catch (const OstrelData::Exception& e) {
        std::cerr << "cpp-example: " << OstrelData::Exception::explainErrorCode(e.errorCode()) << " " << e.legend()
                  << " (error " << e.errorCode() << ")\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "cpp-example: " << e.what() << "\n";
        return 1;
    }
}

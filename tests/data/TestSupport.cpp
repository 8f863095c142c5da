#include "TestSupport.h"

#include <dlfcn.h>

namespace ostreltest {

namespace {

// Reaches the registries that have no public accessor.
struct FactoryState : OstrelData::Factory {
    static OstrelData::AuthenticatedUser& userAuth() { return _userAuth; }
    static OstrelData::SessionMap& sessionS() { return _sessionS; }
};

} // namespace

void RegistryTest::clearRegistries()
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
    Factory::customers().clear();
    Factory::profiles().clear();
    Factory::domains().clear();
    Factory::products().clear();
    OstrelData::Session::setSessionTimeout(1800);
}

void RegistryTest::SetUp()
{
    using OstrelData::Factory;
    ASSERT_TRUE(Factory::products().empty() && Factory::domains().empty() && Factory::profiles().empty() &&
                Factory::customers().empty() && Factory::teams().empty() && Factory::xteams().empty() &&
                Factory::aliens().empty() && Factory::raliens().empty() && Factory::platforms().empty() &&
                Factory::sharedObjects().empty() && Factory::authenticationLibraryTemplates().empty() &&
                Factory::authenticationLibraries().empty() && Factory::authenticators().empty() &&
                FactoryState::sessionS().empty() && !FactoryState::userAuth().hasSession() &&
                Factory::exporter() == nullptr && OstrelData::Session::sessionTimeout() == 1800)
        << "a previous test left the registries changed";
}

void RegistryTest::TearDown()
{
    clearRegistries();
}

OstrelData::AuthenticationLibrary& registerTemplate(int nLibrary, const std::string& strPath,
                                                    const OstrelData::InitMap& initLibrary)
{
    using namespace OstrelData;
    Platform& platform = Factory::platforms().try_emplace("LNX", "LNX", "Linux").first->second;
    AuthenticationLibrary& library = Factory::authenticationLibraryTemplates()[nLibrary] =
        AuthenticationLibrary(nLibrary, "Library " + std::to_string(nLibrary), initLibrary,
                              AuthenticationLibrary::dispositionClearPassword, true);
    SharedObject& sharedObject = Factory::sharedObjects()[SharedObject::Key("LNX", nLibrary)] =
        SharedObject(platform, library, strPath);
    library.sharedObjects()["LNX"] = &sharedObject;
    return library;
}

bool isLoaded(const std::string& strPath)
{
    void* handle = dlopen(strPath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

} // namespace ostreltest

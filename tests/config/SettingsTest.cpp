#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "ConfigTestSupport.h"
#include "Corvel/DaemonComm.h"
#include "OstrelClientConfig/OstrelClientConfig.h"

using OstrelClientConfig::Settings;
using namespace configtest;

namespace {

const char* const pszMachine =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<HKLM><Tessaly><Ostrel><Connect>svc.example:7420</Connect><Master>master.example</Master>"
    "</Ostrel></Tessaly></HKLM>\n";

const char* const pszUser =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<HKCU><Tessaly><Ostrel>"
    "<Domain>EAST</Domain><Profile>night</Profile><UserId>alice</UserId>"
    "<Domains><Domain>EAST</Domain><Domain>WEST</Domain><Domain>EAST</Domain><Domain/></Domains>"
    "<Profiles><Profile>day</Profile><Profile>night</Profile></Profiles>"
    "</Ostrel></Tessaly></HKCU>\n";

class SettingsFiles : public ::testing::Test {
protected:
    std::string machinePath() const { return _home.path("rcostrel"); }
    std::string userPath() const { return _home.path(".rcostrel"); }
    std::unique_ptr<Settings> settings() const { return std::make_unique<Settings>(machinePath(), userPath()); }

    TempHome _home;
};

} // namespace

// --- Loading ---------------------------------------------------------------

TEST_F(SettingsFiles, DefaultPathsAreTheMachineFileAndTheFileInHome)
{
    Settings s;
    EXPECT_EQ("/etc/ostreld/rcostrel", s.hklmPath());
    EXPECT_EQ(_home.dir() + "/.rcostrel", s.hkcuPath());
}

TEST_F(SettingsFiles, NoPerUserFileWithoutHome)
{
    ::unsetenv("HOME");
    Settings s;
    EXPECT_EQ("", s.hkcuPath());
    writeFile(machinePath(), pszMachine);
    Settings t(machinePath(), "");
    EXPECT_SETTINGS_THROW(t.load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
}

TEST_F(SettingsFiles, FirstAdminLoadOnEmptyMachineCreatesBothFilesEmpty)
{
    auto s = settings();
    s->load(true);
    ASSERT_TRUE(exists(machinePath()));
    ASSERT_TRUE(exists(userPath()));
    EXPECT_EQ("", readFile(machinePath()));
    EXPECT_EQ("", readFile(userPath()));
    EXPECT_TRUE(s->domains().empty());
    EXPECT_EQ("", s->ostrelLocal());

    // The keys existed in memory only; any setter writes them out.
    s->setUserId("bob");
    std::unique_ptr<Settings> t = settings();
    t->load(false);
    EXPECT_EQ("bob", t->userId());
    const std::string strUser = readFile(userPath());
    EXPECT_NE(std::string::npos, strUser.find("<Tessaly>"));
    EXPECT_NE(std::string::npos, strUser.find("<Ostrel>"));
    EXPECT_NE(std::string::npos, strUser.find("<Domains"));
    EXPECT_NE(std::string::npos, strUser.find("<Profiles"));
    EXPECT_NE(std::string::npos, readFile(machinePath()).find("<Ostrel"));
}

TEST_F(SettingsFiles, OrdinaryUserWithoutMachineFileFailsNamingIt)
{
    auto s = settings();
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKLM (" + machinePath() + ")");
    EXPECT_EQ(nullptr, Settings::current());
}

TEST_F(SettingsFiles, BothFilesUnopenableAreListedTogether)
{
    Settings s(machinePath(), _home.path("missing/.rcostrel"));
    EXPECT_SETTINGS_THROW(s.load(false), OstrelData::nNAX_BADCONFIG, "HKLM (" + machinePath() + "), HKCU");
}

TEST_F(SettingsFiles, PerUserFileThatIsNotXmlFails)
{
    writeFile(machinePath(), pszMachine);
    writeFile(userPath(), "Domain=EAST\nthis is not xml\n");
    auto s = settings();
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
    // Left as it was: a bad file is reported, never overwritten by the load.
    EXPECT_EQ("Domain=EAST\nthis is not xml\n", readFile(userPath()));
}

TEST_F(SettingsFiles, HostileSettingsTextIsRefusedNotObeyed)
{
    writeFile(machinePath(), pszMachine);
    const std::vector<std::string> textS = {
        "<HKCU><Tessaly>",
        "<?xml version=\"1.0\"?><!DOCTYPE HKCU [<!ENTITY x SYSTEM \"/etc/passwd\">]><HKCU>&x;</HKCU>",
        std::string(300, '<'),
        std::string("<HKCU>\0</HKCU>", 14),
    };
    for (const std::string& strText : textS) {
        writeFile(userPath(), strText);
        auto s = settings();
        EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
    }
}

TEST_F(SettingsFiles, OversizedFileIsRefused)
{
    writeFile(machinePath(), pszMachine);
    std::string strBig = "<HKCU><Tessaly><Ostrel><UserId>";
    strBig += std::string(Settings::nMaxFileBytes, 'x');
    strBig += "</UserId></Ostrel></Tessaly></HKCU>";
    writeFile(userPath(), strBig);
    auto s = settings();
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
}

TEST_F(SettingsFiles, FifoInPlaceOfFileIsRefusedWithoutWaiting)
{
    writeFile(machinePath(), pszMachine);
    ASSERT_EQ(0, ::mkfifo(userPath().c_str(), 0600));
    auto s = settings();
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
    // The machine's file is opened for reading only, which on a FIFO would wait for a writer.
    ASSERT_EQ(0, std::remove(userPath().c_str()));
    ASSERT_EQ(0, std::remove(machinePath().c_str()));
    ASSERT_EQ(0, ::mkfifo(machinePath().c_str(), 0600));
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKLM");
}

TEST_F(SettingsFiles, OrdinaryUserNeedsTheMachineKeys)
{
    writeFile(machinePath(), "<HKLM/>");
    auto s = settings();
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKLM\\Tessaly");
    writeFile(machinePath(), "<HKLM><Tessaly/></HKLM>");
    EXPECT_SETTINGS_THROW(s->load(false), OstrelData::nNAX_BADCONFIG, "HKLM\\Tessaly\\Ostrel");
}

TEST_F(SettingsFiles, ReadsHostsDefaultsAndKnownLists)
{
    writeFile(machinePath(), pszMachine);
    writeFile(userPath(), pszUser);
    auto s = settings();
    s->load(false);
    EXPECT_EQ("svc.example:7420", s->ostrelLocal());
    EXPECT_EQ("master.example", s->ostrelMaster());
    EXPECT_EQ("EAST", s->defaultDomain());
    EXPECT_EQ("night", s->defaultProfile());
    EXPECT_EQ("alice", s->userId());
    // The repeated "EAST" is one entry; the empty element is none.
    ASSERT_EQ(2u, s->domains().size());
    EXPECT_EQ(1u, s->domains().count("EAST"));
    EXPECT_EQ(1u, s->domains().count("WEST"));
    ASSERT_EQ(2u, s->profiles().size());
    EXPECT_FALSE(s->profiles().at("day").OstrelData::Profile::isDefault());
    EXPECT_EQ(s.get(), Settings::current());
}

TEST_F(SettingsFiles, DefaultsAreNotTakenFromTheListElements)
{
    writeFile(machinePath(), pszMachine);
    writeFile(userPath(), "<HKCU><Tessaly><Ostrel><Domains><Domain>EAST</Domain></Domains></Ostrel></Tessaly></HKCU>");
    auto s = settings();
    s->load(false);
    EXPECT_EQ("", s->defaultDomain());
    EXPECT_EQ(1u, s->domains().size());
}

// --- Changing and saving ---------------------------------------------------

class SettingsChanges : public SettingsFiles {
protected:
    void SetUp() override
    {
        writeFile(machinePath(), pszMachine);
        writeFile(userPath(), pszUser);
        _psettings = settings();
        _psettings->load(false);
    }
    // What a fresh load of the files gives.
    std::unique_ptr<Settings> reloaded(bool bAdmin = false) const
    {
        std::unique_ptr<Settings> p = settings();
        p->load(bAdmin);
        return p;
    }

    std::unique_ptr<Settings> _psettings;
};

TEST_F(SettingsChanges, NewDefaultDomainJoinsTheListAndIsWrittenAtOnce)
{
    _psettings->setDefaultDomain(Settings::Domain("NORTH"));
    EXPECT_EQ("NORTH", _psettings->defaultDomain());
    EXPECT_EQ(3u, _psettings->domains().size());

    std::unique_ptr<Settings> p = reloaded();
    EXPECT_EQ("NORTH", p->defaultDomain());
    EXPECT_EQ(3u, p->domains().size());
    EXPECT_EQ(1u, p->domains().count("NORTH"));
}

TEST_F(SettingsChanges, KnownDomainBecomesDefaultWithoutRepeatingIt)
{
    _psettings->setDefaultDomain(Settings::Domain("WEST"));
    std::unique_ptr<Settings> p = reloaded();
    EXPECT_EQ("WEST", p->defaultDomain());
    EXPECT_EQ(2u, p->domains().size());
}

TEST_F(SettingsChanges, DefaultProfileAndUserIdAreWrittenAtOnce)
{
    _psettings->setDefaultProfile(Settings::Profile("evening"));
    _psettings->setUserId("carol");
    std::unique_ptr<Settings> p = reloaded();
    EXPECT_EQ("evening", p->defaultProfile());
    EXPECT_EQ(3u, p->profiles().size());
    EXPECT_EQ("carol", p->userId());
}

TEST_F(SettingsChanges, HostChangeShowsOnlyAfterTheNextLoad)
{
    ASSERT_EQ(0, ::chmod(machinePath().c_str(), 0644));
    std::unique_ptr<Settings> admin = reloaded(true);
    admin->setOstrelLocal("h2");
    admin->setOstrelMaster("m2");
    EXPECT_EQ("svc.example:7420", admin->ostrelLocal());
    admin->load(true);
    EXPECT_EQ("h2", admin->ostrelLocal());
    EXPECT_EQ("m2", admin->ostrelMaster());
}

TEST_F(SettingsChanges, MachineWideTlsTrustIsKeptAndBecomesTheProcessDefault)
{
    Corvel::DaemonComm::setDefaultTls(Corvel::DaemonCommTls());
    ASSERT_EQ(0, ::chmod(machinePath().c_str(), 0644));
    std::unique_ptr<Settings> admin = reloaded(true);
    EXPECT_EQ("", admin->tlsCAFile());  // files written before TLS read as before
    EXPECT_EQ("", Corvel::DaemonComm::defaultTls().strCAFile);
    const std::string strPin(64, 'a');
    EXPECT_SETTINGS_THROW(admin->setTlsPin("sha256//short"), OstrelData::nNAX_BADCONFIG,
                          "A TLS pin is the SHA-256 of a public key: 64 hex digits, or sha256// and Base64.");
    admin->setTlsCAFile("/etc/ssl/ostrel-ca.pem");
    admin->setTlsPin(strPin);
    std::unique_ptr<Settings> p = reloaded();
    EXPECT_EQ("/etc/ssl/ostrel-ca.pem", p->tlsCAFile());
    EXPECT_EQ(strPin, p->tlsPin());
    EXPECT_EQ("svc.example:7420", p->ostrelLocal());
    EXPECT_EQ("/etc/ssl/ostrel-ca.pem", Corvel::DaemonComm::defaultTls().strCAFile);
    EXPECT_EQ(strPin, Corvel::DaemonComm::defaultTls().strPin);
    // A user's file that cannot be loaded does not take the machine's trust away.
    Corvel::DaemonComm::setDefaultTls(Corvel::DaemonCommTls());
    writeFile(userPath(), "<HKCU><Tessaly>");
    EXPECT_SETTINGS_THROW(settings()->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
    EXPECT_EQ(strPin, Corvel::DaemonComm::defaultTls().strPin);
    Corvel::DaemonComm::setDefaultTls(Corvel::DaemonCommTls());
}

TEST_F(SettingsChanges, OrdinaryUserDoesNotWriteTheMachineFile)
{
    _psettings->setOstrelLocal("h2");
    EXPECT_EQ(pszMachine, readFile(machinePath()));
    EXPECT_EQ("svc.example:7420", reloaded()->ostrelLocal());
}

TEST_F(SettingsChanges, SavingKeepsTheFileMode)
{
    ASSERT_EQ(0, ::chmod(userPath().c_str(), 0600));
    _psettings->setUserId("dave");
    struct stat st;
    ASSERT_EQ(0, ::stat(userPath().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(SettingsChanges, SavingThroughALinkReplacesTheLinkedFile)
{
    const std::string strReal = _home.path("real-rcostrel");
    ASSERT_EQ(0, ::rename(userPath().c_str(), strReal.c_str()));
    ASSERT_EQ(0, ::symlink(strReal.c_str(), userPath().c_str()));
    std::unique_ptr<Settings> p = reloaded();
    p->setUserId("erin");
    struct stat st;
    ASSERT_EQ(0, ::lstat(userPath().c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(std::string::npos, readFile(strReal).find("erin"));
}

TEST_F(SettingsChanges, NestedDomainAndProfileWorkThroughTheLastLoaded)
{
    EXPECT_TRUE(Settings::Domain("EAST").isDefault());
    EXPECT_FALSE(Settings::Domain("WEST").isDefault());
    EXPECT_TRUE(Settings::Profile("night").isDefault());

    Settings::Domain("WEST").setDefault(false);  // the flag is not consulted
    EXPECT_EQ("WEST", _psettings->defaultDomain());
    Settings::Profile(OstrelData::Profile("day", true)).setDefault(true);
    EXPECT_EQ("day", reloaded()->defaultProfile());
}

TEST_F(SettingsChanges, DestroyedSettingsStopBeingTheLastLoaded)
{
    _psettings.reset();
    EXPECT_EQ(nullptr, Settings::current());
    EXPECT_FALSE(Settings::Domain("EAST").isDefault());
    Settings::Domain("WEST").setDefault(true);  // nothing to change
    EXPECT_EQ("EAST", reloaded()->defaultDomain());
}

TEST_F(SettingsChanges, FailedReloadLeavesTheObjectUnloadedNotDangling)
{
    writeFile(userPath(), "not xml");
    EXPECT_SETTINGS_THROW(_psettings->load(false), OstrelData::nNAX_BADCONFIG, "HKCU");
    EXPECT_EQ("alice", _psettings->userId());  // values read earlier stay
    EXPECT_SETTINGS_THROW(_psettings->setUserId("x"), OstrelData::nNAX_BADCONFIG, "Settings not loaded.");
    EXPECT_EQ("not xml", readFile(userPath()));
}

TEST(SettingsUnloaded, DomainIsNotDefaultWhenNothingIsLoaded)
{
    ASSERT_EQ(nullptr, Settings::current());
    EXPECT_FALSE(Settings::Domain("x").isDefault());
    EXPECT_FALSE(Settings::Profile("x").isDefault());
}

TEST(SettingsUnloaded, SettersBeforeLoadAreRefused)
{
    TempHome home;
    Settings s(home.path("rcostrel"), home.path(".rcostrel"));
    EXPECT_SETTINGS_THROW(s.setUserId("x"), OstrelData::nNAX_BADCONFIG, "Settings not loaded.");
    EXPECT_SETTINGS_THROW(s.save(), OstrelData::nNAX_BADCONFIG, "Settings not loaded.");
    EXPECT_FALSE(exists(home.path(".rcostrel")));
}

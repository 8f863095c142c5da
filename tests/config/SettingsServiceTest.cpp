#include <gtest/gtest.h>

#include "ConfigTestSupport.h"
#include "FakeDaemon.h"
#include "OstrelClientConfig/OstrelClientConfig.h"
#include "OstrelDataXML/OstrelFactory.h"

using OstrelClientConfig::Settings;
using namespace configtest;

namespace {

class SettingsWithService : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pszAddress = fake_daemon_start(nullptr);
        ASSERT_NE(nullptr, pszAddress);
        OstrelDataXML::Factory::initialize(pszAddress);
        writeFile(_home.path("rcostrel"), "<HKLM><Tessaly><Ostrel/></Tessaly></HKLM>");
        writeFile(_home.path(".rcostrel"),
                  "<HKCU><Tessaly><Ostrel><Profile>night</Profile><Profiles><Profile>mine</Profile></Profiles>"
                  "</Ostrel></Tessaly></HKCU>");
    }
    void TearDown() override { fake_daemon_stop(); }

    TempHome _home;
};

} // namespace

TEST_F(SettingsWithService, ServiceProfilesJoinTheKnownOnesWithoutBeingWritten)
{
    Settings s(_home.path("rcostrel"), _home.path(".rcostrel"));
    s.load(false);
    const std::string strBefore = readFile(_home.path(".rcostrel"));
    s.loadProfiles();
    ASSERT_EQ(3u, s.profiles().size());
    EXPECT_EQ(1u, s.profiles().count("default"));
    EXPECT_EQ(1u, s.profiles().count("mine"));
    EXPECT_TRUE(s.profiles().at("night").isDefault());
    EXPECT_FALSE(s.profiles().at("default").isDefault());
    EXPECT_EQ(strBefore, readFile(_home.path(".rcostrel")));
}

TEST_F(SettingsWithService, ServiceGoneFailsLoadingProfilesAndKeepsTheKnownOnes)
{
    Settings s(_home.path("rcostrel"), _home.path(".rcostrel"));
    s.load(false);
    fake_daemon_stop();
    EXPECT_THROW(s.loadProfiles(), OstrelData::Exception);
    EXPECT_EQ(1u, s.profiles().size());
}

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "ConfigTestSupport.h"
#include "OstrelClientConfig/FileReplace.h"
#include "OstrelClientConfig/OstrelClientConfig.h"

using OstrelClientConfig::Settings;
namespace FileReplace = OstrelClientConfig::FileReplace;
using namespace configtest;

namespace {

const char* const pszMachine = "<HKLM><Tessaly><Ostrel><Connect>svc</Connect></Ostrel></Tessaly></HKLM>";
const char* const pszUser =
    "<HKCU><Tessaly><Ostrel><UserId>alice</UserId><Domains><Domain>EAST</Domain></Domains>"
    "<Profiles/></Ostrel></Tessaly></HKCU>";

// Fails (or crashes at) one step of every file replacement.
class SaveFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(_home.path("rcostrel"), pszMachine);
        writeFile(_home.path(".rcostrel"), pszUser);
        _psettings = std::make_unique<Settings>(_home.path("rcostrel"), _home.path(".rcostrel"));
        _psettings->load(false);
    }
    void TearDown() override { FileReplace::setStepHook(nullptr); }

    // The old per-user file is intact and nothing else was left in the folder.
    void expectOldFileWhole()
    {
        EXPECT_EQ(pszUser, readFile(_home.path(".rcostrel")));
        EXPECT_EQ(2u, listFolder(_home.dir()).size());
        Settings fresh(_home.path("rcostrel"), _home.path(".rcostrel"));
        fresh.load(false);
        EXPECT_EQ("alice", fresh.userId());
    }

    TempHome _home;
    std::unique_ptr<Settings> _psettings;
};

} // namespace

TEST_F(SaveFaults, FailureAtAnyStepLeavesTheOldFileWhole)
{
    const FileReplace::Step stepS[] = {FileReplace::Step::createTemp, FileReplace::Step::write,
                                       FileReplace::Step::sync, FileReplace::Step::rename};
    for (FileReplace::Step stepFailing : stepS) {
        FileReplace::setStepHook([stepFailing](FileReplace::Step step) { return step != stepFailing; });
        try {
            _psettings->setUserId("mallory");
            ADD_FAILURE() << "save reported success with step " << static_cast<int>(stepFailing) << " failing";
        } catch (const OstrelData::Exception& e) {
            EXPECT_EQ(OstrelData::nNAX_BADCONFIG, e.errorCode());
            EXPECT_NE(std::string::npos, e.legend().find("HKCU")) << e.legend();
        }
        expectOldFileWhole();
    }
}

TEST_F(SaveFaults, UnopenableNewFileKeepsTheUsualLegend)
{
    FileReplace::setStepHook([](FileReplace::Step step) { return step != FileReplace::Step::createTemp; });
    EXPECT_SETTINGS_THROW(_psettings->setUserId("x"), OstrelData::nNAX_BADCONFIG, "Failed to open HKCU For writing.");
}

TEST_F(SaveFaults, CrashBetweenWritingAndRenamingLeavesTheOldFileWhole)
{
    fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        // The process dies with the new text written and synced but not in place.
        FileReplace::setStepHook([](FileReplace::Step step) {
            if (step == FileReplace::Step::rename)
                ::_exit(42);
            return true;
        });
        try {
            _psettings->setUserId("mallory");
        } catch (...) {
        }
        ::_exit(0);
    }
    int nStatus = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus));
    ASSERT_EQ(42, WEXITSTATUS(nStatus));

    EXPECT_EQ(pszUser, readFile(_home.path(".rcostrel")));
    Settings fresh(_home.path("rcostrel"), _home.path(".rcostrel"));
    fresh.load(false);
    EXPECT_EQ("alice", fresh.userId());
    // The next save still works despite the crash's leftover.
    fresh.setUserId("bob");
    Settings again(_home.path("rcostrel"), _home.path(".rcostrel"));
    again.load(false);
    EXPECT_EQ("bob", again.userId());
}

TEST(FileReplacement, NewFileGetsTheGivenModeAndTheTextWhole)
{
    TempHome home;
    const std::string strPath = home.path("fresh");
    const std::string strText(100000, 'z');
    FileReplace::Result result = FileReplace::replace(strPath, strText, 0640);
    ASSERT_TRUE(result.bOk);
    EXPECT_EQ(strText, readFile(strPath));
    struct stat st;
    ASSERT_EQ(0, ::stat(strPath.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(1u, listFolder(home.dir()).size());
}

TEST(FileReplacement, MissingFolderFailsAtCreation)
{
    FileReplace::Result result = FileReplace::replace("/nonexistent-ostrel-dir/file", "x", 0640);
    EXPECT_FALSE(result.bOk);
    EXPECT_EQ(FileReplace::Step::createTemp, result.step);
    EXPECT_EQ(ENOENT, result.nErrno);
}

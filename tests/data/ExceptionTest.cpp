#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "OstrelData/Exception.h"

using namespace OstrelData;

namespace {

std::string streamed(const Exception& e)
{
    std::ostringstream os;
    os << e;
    return os.str();
}

} // namespace

TEST(Exception, ExplanationTableAnswersKnownCodesAndNothingElse)
{
    EXPECT_EQ("Unknown Error.", Exception::explainErrorCode(nNAX_UNKNOWN));
    EXPECT_EQ("Authentication Failed.", Exception::explainErrorCode(1));
    EXPECT_EQ("Bad session.", Exception::explainErrorCode(201));
    EXPECT_EQ("No shared object set (for platform).", Exception::explainErrorCode(506));
    EXPECT_EQ("Attempt to create Ostrel object from incorrect data object type.", Exception::explainErrorCode(2001));
    EXPECT_EQ("Failed to initialize the AuthenticationLibrary.", Exception::explainErrorCode(5011));
    EXPECT_EQ("The server version does not support the client version.", Exception::explainErrorCode(5201));
    EXPECT_EQ("Permission Denied.", Exception::explainErrorCode(6666));
    EXPECT_EQ("Failed to execute search.", Exception::explainErrorCode(7500));
    // The terminator's code is 0, yet 0 has no explanation.
    EXPECT_EQ("", Exception::explainErrorCode(0));
    EXPECT_EQ("", Exception::explainErrorCode(42));
    EXPECT_EQ("", Exception::explainErrorCode(-2));
}

TEST(Exception, EveryNamedCodeHasItsOwnExplanation)
{
    const int anCode[] = {nNAX_AUTHENTICATIONFAILED, nNAX_APPLICATIONABORTED, nNAX_BADREQUEST, nNAX_RESPONSETIMEOUT,
                          nNAX_ALIENEXCEPTION, nNAX_USERNOTFOUND, nNAX_CUSTOMERNOTFOUND, nNAX_DOMAINNOTFOUND,
                          nNAX_TEAMNOTFOUND, nNAX_PRODUCTNOTFOUND, nNAX_PLATFORMNOTFOUND,
                          nNAX_AUTHENTICATIONLIBRARYNOTFOUND, nNAX_PERMISSIONNOTFOUND, nNAX_ROLEPERMISSIONNOTFOUND,
                          nNAX_BADSESSION, nNAX_NOTEAMLEADSET, nNAX_NOCUSTOMERSET, nNAX_NODOMAINSET,
                          nNAX_NOPLATFORMSET, nNAX_NOAUTHENTICATIONLIBRARYSET, nNAX_NOSHAREDOBJECTSET,
                          nNAX_NOPAIRSET, nNAX_UPDATEFAILED, nNAX_MISMATCHEDNODE, nNAX_MALFORMEDXML, nNAX_DATABASE,
                          nNAX_NOSERVERCONNECT, nNAX_MISSINGDATA, nNAX_BADTEMPLATE, nNAX_NOSUCHVARIABLE,
                          nNAX_NOSUCHPRODUCT, nNAX_NOSUCHPROFILE, nNAX_NOSHAREDOBJECT, nNAX_NOENTRYPOINT,
                          nNAX_LIBRARYNOTLOADED, nNAX_AUTHENTICATIONLIBRARYINITFAILED, nNAX_AUTHENTICATORINITFAILED,
                          nNAX_NOAUTHENTICATORSET, nNAX_NOPRODUCTSET, nNAX_NOROLESET, nNAX_NODEFAULTPROFILESET,
                          nNAX_NOUNIQUEUSER, nNAX_VERSIONMISMATCH, nNAX_KEYOPENFAILED, nNAX_CONNECTOPENFAILED,
                          nNAX_BADCONFIG, nNAX_BADUSERFORMAT, nNAX_PERMISSIONDENIED, nNAX_NOTIMPLEMENTED,
                          nNAX_FILEOPENFAILED, nNAX_SEARCHEXECFAILED};
    std::set<std::string> explanationS;
    for (int nCode : anCode) {
        std::string strExplanation = Exception::explainErrorCode(nCode);
        EXPECT_FALSE(strExplanation.empty()) << nCode;
        EXPECT_TRUE(explanationS.insert(strExplanation).second) << nCode;
    }
    EXPECT_EQ(51u, explanationS.size());
}

TEST(Exception, StreamFormIsFourLines)
{
    Exception e("Factory.cpp", 209, nNAX_AUTHENTICATIONFAILED, "No such Domain - acme.", false);
    EXPECT_EQ("Error Code=1\n"
              "Explanation=\"Authentication Failed.\"\n"
              "Legend=\"No such Domain - acme.\"\n"
              "Location=Factory.cpp @ 209\n",
              streamed(e));
}

TEST(Exception, StreamFormMarksRemoteFailuresAndKeepsLegendUnescaped)
{
    Exception e("db.cpp", 7, nNAX_DATABASE, "say \"no\"\nnow", true);
    EXPECT_EQ("Error Code=1021\n"
              "Explanation=\"Failed to execute statement.\"\n"
              "Legend=\"say \"no\"\nnow\"\n"
              "Location=REMOTE: db.cpp @ 7\n",
              streamed(e));
}

TEST(Exception, DefaultAndUnknownCodesPrintEmptyExplanation)
{
    EXPECT_EQ("Error Code=0\nExplanation=\"\"\nLegend=\"\"\nLocation= @ -1\n", streamed(Exception()));
    EXPECT_EQ("Error Code=42\nExplanation=\"\"\nLegend=\"x\"\nLocation=f @ 3\n",
              streamed(Exception("f", 3, 42, "x", false)));
}

TEST(Exception, CopiesKeepEveryMemberIncludingRemoteFlag)
{
    Exception e("a.cpp", 12, nNAX_BADSESSION, "gone", true);
    Exception copy(e);
    Exception assigned;
    assigned = e;
    for (const Exception* p : {&copy, &assigned}) {
        EXPECT_EQ("a.cpp", p->file());
        EXPECT_EQ(12, p->line());
        EXPECT_EQ(nNAX_BADSESSION, p->errorCode());
        EXPECT_EQ("gone", p->legend());
        EXPECT_TRUE(p->remote());
    }
    Exception& self = assigned;
    assigned = self;
    EXPECT_EQ("gone", assigned.legend());
}

TEST(Exception, RaiseMacroRecordsItsOwnSite)
{
    int nLine = 0;
    try {
        nLine = __LINE__ + 1;
        OSTREL_RAISE(nNAX_NOTIMPLEMENTED, "here");
    } catch (const Exception& e) {
        EXPECT_EQ(nLine, e.line());
        EXPECT_NE(std::string::npos, e.file().find("ExceptionTest.cpp"));
        EXPECT_FALSE(e.remote());
        EXPECT_EQ("here", e.legend());
    }
}

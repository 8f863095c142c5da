// The LDAP plug-in's escaping helpers, alone: RFC 4515 filter values, RFC 4514 DN values, the
// templates they go into.

#include <gtest/gtest.h>

#include <string>

#include "AuthLdap/LdapEscape.h"

namespace {

using namespace AuthLdap;

TEST(LdapEscape, FilterValueEscapesTheFiveSpecialBytesOnly)
{
    EXPECT_EQ("alice", escapeFilterValue("alice"));
    EXPECT_EQ("\\2a", escapeFilterValue("*"));
    EXPECT_EQ("\\28\\29", escapeFilterValue("()"));
    EXPECT_EQ("back\\5cslash", escapeFilterValue("back\\slash"));
    EXPECT_EQ("nul\\00byte", escapeFilterValue(std::string("nul\0byte", 8)));
    EXPECT_EQ("a\\2a\\29\\28uid=\\2a", escapeFilterValue("a*)(uid=*"));
    EXPECT_EQ("x\\29\\28|\\28uid=\\2a\\29", escapeFilterValue("x)(|(uid=*)"));
    // DN metacharacters mean nothing in a filter value.
    EXPECT_EQ("com,ma+eq=ual", escapeFilterValue("com,ma+eq=ual"));
    // UTF-8 passes as it is.
    EXPECT_EQ("J\xc3\xb6rg", escapeFilterValue("J\xc3\xb6rg"));
    EXPECT_EQ("", escapeFilterValue(""));
}

TEST(LdapEscape, DnValueEscapesSpecialsAndEdges)
{
    EXPECT_EQ("alice", escapeDnValue("alice"));
    EXPECT_EQ("com\\,ma", escapeDnValue("com,ma"));
    EXPECT_EQ("plus\\+sign", escapeDnValue("plus+sign"));
    EXPECT_EQ("eq\\=ual", escapeDnValue("eq=ual"));
    EXPECT_EQ("back\\\\slash", escapeDnValue("back\\slash"));
    EXPECT_EQ("\\\"q\\\"\\;\\<\\>", escapeDnValue("\"q\";<>"));
    EXPECT_EQ("\\#hash#", escapeDnValue("#hash#"));
    EXPECT_EQ("\\ lead and trail\\ ", escapeDnValue(" lead and trail "));
    EXPECT_EQ("in side", escapeDnValue("in side"));
    EXPECT_EQ("nul\\00", escapeDnValue(std::string("nul\0", 4)));
    // Filter metacharacters mean nothing in a DN value.
    EXPECT_EQ("st*r(x)", escapeDnValue("st*r(x)"));
    EXPECT_EQ("x\\,ou\\=admins", escapeDnValue("x,ou=admins"));
}

TEST(LdapEscape, TemplateTakesTheValueForEveryPercentS)
{
    EXPECT_EQ("uid=a\\,b,ou=people,dc=x", fillTemplate("uid=%s,ou=people,dc=x", escapeDnValue("a,b")));
    EXPECT_EQ("(|(uid=j)(mail=j))", fillTemplate("(|(uid=%s)(mail=%s))", "j"));
    EXPECT_EQ("100% (50%s)", fillTemplate("100% (50%%s)", "x"));
    // A value holding %s is not expanded again.
    EXPECT_EQ("(uid=%s)", fillTemplate("(uid=%s)", "%s"));
    EXPECT_EQ("end%", fillTemplate("end%", "x"));
}

TEST(LdapEscape, ParentDnSkipsEscapedCommas)
{
    EXPECT_EQ("ou=people,dc=example,dc=org", parentDn("uid=%s,ou=people,dc=example,dc=org"));
    EXPECT_EQ("ou=people,dc=x", parentDn("cn=Smith\\, John, ou=people,dc=x"));
    EXPECT_EQ("dc=x", parentDn("cn=a\\5c,dc=x"));
    EXPECT_EQ("", parentDn("dc=org"));
}

} // namespace

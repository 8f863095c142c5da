#include <gtest/gtest.h>

#include <string>

#include "Vesk/String.h"

using Vesk::String;

TEST(String, DefaultAndNullPointerAreNullButEmptyTextIsNot)
{
    EXPECT_TRUE(String().isNull());
    EXPECT_TRUE(String(nullptr).isNull());
    EXPECT_TRUE(String::null.isNull());
    EXPECT_FALSE(String("").isNull());
    EXPECT_FALSE(String(std::string()).isNull());
    EXPECT_STREQ("", String());
    EXPECT_EQ(0u, String().length());
}

TEST(String, LengthTakesAPrefixAndNeverReadsPastTheNul)
{
    EXPECT_EQ("abc", String("abcdef", 3).str());
    EXPECT_EQ("abcdef", String("abcdef", 0).str());
    EXPECT_EQ("ab", String("ab\0cd", 5).str());
    EXPECT_EQ(std::string("a\0b", 3), String(std::string("a\0b", 3)).str());
}

TEST(String, ComparesByContentFromEitherSide)
{
    String s("abc");
    std::string strCopy("abc");
    EXPECT_TRUE(s == "abc");
    EXPECT_TRUE("abc" == s);
    EXPECT_TRUE(s == strCopy);
    EXPECT_TRUE(s == String(strCopy));
    EXPECT_TRUE(s != "abd");
    EXPECT_TRUE(s != nullptr);
    EXPECT_TRUE(String() == nullptr);
    EXPECT_TRUE(String() != "");
    EXPECT_TRUE(String("") != String());
    EXPECT_TRUE(String() == String::null);
}

TEST(String, AppendingMakesANullStringNonNull)
{
    String s;
    s += "";
    EXPECT_FALSE(s.isNull());
    s += String("ab");
    s += "cd";
    s += String();
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ("abcd", s.str());

    String stillNull;
    stillNull += String();
    EXPECT_TRUE(stillNull.isNull());
}

TEST(String, FormatRendersWhateverTheLength)
{
    String s;
    EXPECT_EQ("42", s.format("%i", 42).str());
    EXPECT_FALSE(s.isNull());

    std::string strLong(100000, 'x');
    s.format("<%s|%d>", strLong.c_str(), -7);
    EXPECT_EQ("<" + strLong + "|-7>", s.str());

    // The previous text may be an argument of the next rendering.
    s = String("ab");
    s.format("%s%s", s.c_str(), s.c_str());
    EXPECT_EQ("abab", s.str());
}

TEST(String, MovedTextIsTakenOverAndIsNeverNull)
{
    std::string strText(100000, 'x');
    String s(std::move(strText));
    EXPECT_FALSE(s.isNull());
    EXPECT_EQ(100000u, s.length());
    EXPECT_FALSE(String(std::string()).isNull());
}

TEST(String, ComparisonWithTextCountsEmbeddedNuls)
{
    const String s(std::string("a\0b", 3));
    EXPECT_TRUE(s != "a");
    EXPECT_FALSE(s == "a");
    EXPECT_TRUE(String("a") == "a");
    EXPECT_TRUE(String("ab") != "a");
    EXPECT_TRUE(String("a") != "ab");
    EXPECT_TRUE(String(std::string("a\0b", 3)) == String(std::string("a\0b", 3)));
    EXPECT_TRUE(String(std::string("a\0b", 3)) != String(std::string("a\0c", 3)));
}

// The enumerated-type registry: type-map parsing with its messages, merging
// of later maps, and the five calls that set display attributes.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "orx_etp.h"

namespace {

// Loads text quietly into the registry; returns the messages.
std::string Load(const std::string &text, int flags = 0, const char *name = "t.map")
{
    std::vector<char> copy(text.begin(), text.end());  // exactly sized, unterminated
    char *errors = nullptr;
    etpLoadTypeMapText(copy.data(), copy.size(), name, flags | ETP_LOAD_QUIET, &errors);
    std::string out = errors ? errors : "";
    Tcl_Free(errors);
    return out;
}

EtpAttr *Attr(const char *type, const char *literal, int index)
{
    EtpType *t = nullptr;
    EtpLiteral *l = nullptr;
    EtpAttr *a = nullptr;
    if (!etpFindType(type, &t) || !etpFindTypeLiteralByName(t, literal, &l) ||
        !etpGetLiteralAttr(l, index, &a)) {
        return nullptr;
    }
    return a;
}

int IntOf(const char *type, const char *literal, int index)
{
    int v = -999;
    etpGetAttrInt(Attr(type, literal, index), &v);
    return v;
}

std::string TextOf(const char *type, const char *literal, int index)
{
    char buffer[64] = "";
    etpGetAttrString(Attr(type, literal, index), buffer, sizeof buffer);
    return buffer;
}

TEST(EtpTypeMap, LiteralsAndDefaults)
{
    EXPECT_EQ(Load("# pin directions\n"
                   "type T1Dir\n"
                   "  IN  value=5 label=\"Input \\\"pin\\\"\" color=#ff8000 style=dash width=2\n"
                   "  OUT            # defaults: value 6, label OUT\n"
                   "  BI   color=none style=dot red=7\n"),
              "");
    EXPECT_EQ(IntOf("T1Dir", "IN", ETP_ATTR_VALUE), 5);
    EXPECT_EQ(TextOf("T1Dir", "IN", ETP_ATTR_LABEL), "Input \"pin\"");
    EXPECT_EQ(IntOf("T1Dir", "IN", ETP_ATTR_RED), 255);
    EXPECT_EQ(IntOf("T1Dir", "IN", ETP_ATTR_GREEN), 128);
    EXPECT_EQ(IntOf("T1Dir", "IN", ETP_ATTR_BLUE), 0);
    EXPECT_EQ(TextOf("T1Dir", "IN", ETP_ATTR_STYLE), "- -");
    EXPECT_EQ(IntOf("T1Dir", "IN", ETP_ATTR_WIDTH), 2);
    EXPECT_EQ(IntOf("T1Dir", "OUT", ETP_ATTR_VALUE), 6);
    EXPECT_EQ(TextOf("T1Dir", "OUT", ETP_ATTR_LABEL), "OUT");
    EXPECT_EQ(TextOf("T1Dir", "OUT", ETP_ATTR_STYLE), "-");
    EXPECT_EQ(IntOf("T1Dir", "OUT", ETP_ATTR_RED), -1);
    EXPECT_EQ(IntOf("T1Dir", "BI", ETP_ATTR_RED), 7);  // later setting on the line wins
    EXPECT_EQ(IntOf("T1Dir", "BI", ETP_ATTR_GREEN), -1);
    EXPECT_EQ(TextOf("T1Dir", "BI", ETP_ATTR_STYLE), ".");
}

TEST(EtpTypeMap, MalformedLinesNameFileAndLine)
{
    std::string errors = Load("LOOSE value=1\n"
                              "type\n"
                              "type T2 extra\n"
                              "type T2\n"
                              "  A value=x\n"
                              "  B color=#12345\n"
                              "  C color=#gg0000\n"
                              "  D style=wavy\n"
                              "  E shape=round\n"
                              "  F label=\"open\n"
                              "  G label=\"a\"b\n"
                              "  H novalue\n"
                              "  I value=99999999999\n"
                              "  \"J\n"
                              "  OK value=1\n",
                              0, "bad.map");
    EXPECT_EQ(errors,
              "bad.map:1: literal \"LOOSE\" before any \"type\" line\n"
              "bad.map:2: expected \"type NAME\"\n"
              "bad.map:3: expected \"type NAME\"\n"
              "bad.map:5: bad value \"x\": expected an integer\n"
              "bad.map:6: bad color \"#12345\": expected #rrggbb or none\n"
              "bad.map:7: bad color \"#gg0000\": expected #rrggbb or none\n"
              "bad.map:8: bad style \"wavy\": must be solid, dash or dot\n"
              "bad.map:9: unknown attribute \"shape\"\n"
              "bad.map:10: unterminated quoted text\n"
              "bad.map:11: text after quoted text\n"
              "bad.map:12: expected \"attribute=value\", got \"novalue\"\n"
              "bad.map:13: bad value \"99999999999\": expected an integer\n"
              "bad.map:14: unterminated quoted text\n");
    // Lenient loading keeps the good lines; malformed literals are not made.
    EtpType *t = nullptr;
    ASSERT_TRUE(etpFindType("T2", &t));
    EXPECT_TRUE(etpFindTypeLiteralByName(t, "OK", nullptr));
    EXPECT_FALSE(etpFindTypeLiteralByName(t, "A", nullptr));

    std::string zero("type T2z\n  A\0B\n", 14);
    EXPECT_EQ(Load(zero), "t.map:2: zero byte in line\n");
}

TEST(EtpTypeMap, AtomicAndCheckLoadsMergeNothingOnError)
{
    EXPECT_NE(Load("type T3\n  A\n  B bogus\n", ETP_LOAD_ATOMIC), "");
    EXPECT_FALSE(etpFindType("T3", nullptr));
    EXPECT_EQ(Load("type T3c\n  A\n", ETP_LOAD_CHECK), "");
    EXPECT_FALSE(etpFindType("T3c", nullptr));
}

TEST(EtpTypeMap, LaterMapsMergeOverEarlierOnes)
{
    Load("type T4\n  A value=1 label=First color=#010203\n  B\n");
    Load("type T4\n  A color=#ffffff\n  C\n");
    EXPECT_EQ(TextOf("T4", "A", ETP_ATTR_LABEL), "First");  // untouched attributes stay
    EXPECT_EQ(IntOf("T4", "A", ETP_ATTR_RED), 255);
    EXPECT_EQ(IntOf("T4", "B", ETP_ATTR_VALUE), 2);
    EXPECT_EQ(IntOf("T4", "C", ETP_ATTR_VALUE), 3);
}

TEST(EtpTypeMap, FilesAndMissingFiles)
{
    char path[] = "/tmp/etp_test.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::ofstream(path) << "type T5\n  X\n  Y style=bad\n";
    EXPECT_EQ(etpLoadTypeMap(path, ETP_LOAD_QUIET), 1);
    EXPECT_TRUE(etpFindType("T5", nullptr));
    std::remove(path);
    EXPECT_EQ(etpLoadTypeMap(path, ETP_LOAD_QUIET), -1);
    EXPECT_EQ(etpLoadTypeMap(nullptr, 0), -1);
}

TEST(EtpAttrs, SettingValues)
{
    Load("type T6\n  A\n");
    EtpAttr *red = Attr("T6", "A", ETP_ATTR_RED);
    EtpAttr *style = Attr("T6", "A", ETP_ATTR_STYLE);
    ASSERT_NE(red, nullptr);
    ASSERT_NE(style, nullptr);
    EXPECT_TRUE(etpSetAttrValFromInt(red, 200));
    EXPECT_EQ(IntOf("T6", "A", ETP_ATTR_RED), 200);
    EXPECT_TRUE(etpSetAttrValFromString(red, "17"));
    EXPECT_EQ(IntOf("T6", "A", ETP_ATTR_RED), 17);
    EXPECT_FALSE(etpSetAttrValFromString(red, "seventeen"));
    EXPECT_EQ(IntOf("T6", "A", ETP_ATTR_RED), 17);
    EXPECT_TRUE(etpSetAttrValFromString(style, "- -"));
    EXPECT_EQ(TextOf("T6", "A", ETP_ATTR_STYLE), "- -");
    EXPECT_TRUE(etpSetAttrValFromInt(style, 3));
    EXPECT_EQ(TextOf("T6", "A", ETP_ATTR_STYLE), "3");

    EtpType *t = nullptr;
    EtpLiteral *l = nullptr;
    ASSERT_TRUE(etpFindType("T6", &t));
    ASSERT_TRUE(etpFindTypeLiteralByName(t, "A", &l));
    EtpAttr *a = nullptr;
    EXPECT_FALSE(etpGetLiteralAttr(l, ETP_ATTR_COUNT, &a));
    EXPECT_FALSE(etpGetLiteralAttr(l, -1, &a));
    EXPECT_FALSE(etpFindTypeLiteralByName(t, "a", &l));
    EXPECT_FALSE(etpFindType("t6", &t));
    EXPECT_FALSE(etpSetAttrValFromInt(nullptr, 1));
    EXPECT_FALSE(etpSetAttrValFromString(red, nullptr));

    char small[3];
    etpSetAttrValFromString(style, "a long style text");
    EXPECT_TRUE(etpGetAttrString(style, small, sizeof small));
    EXPECT_STREQ(small, "a ");
}

} // namespace

// The enumerated-type registry: type-map parsing with its messages, merging
// of later maps, and the five calls that set display attributes.

#include <gtest/gtest.h>
#include <iterator>
#include <utility>

#include "orx_etp.h"
#include "tests/support/tessary_fixture.h"

namespace {

// Loads text quietly into the registry; returns the messages.
std::string Load(const std::string &text, int flags = 0, const char *name = "t.map")
{
    std::vector<char> copy(text.begin(), text.end()); // exactly sized, unterminated
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
    bool found = etpFindType(type, &t) && etpFindTypeLiteralByName(t, literal, &l);
    return found && etpGetLiteralAttr(l, index, &a) ? a : nullptr;
}

// All attributes of a literal: "value|label|width|style|red|green|blue".
std::string All(const char *type, const char *literal)
{
    std::string out;
    for (int i = 0; i < ETP_ATTR_COUNT; ++i) {
        char buffer[64] = "?";
        etpGetAttrString(Attr(type, literal, i), buffer, sizeof buffer);
        out += (i ? "|" : "") + std::string(buffer);
    }
    return out;
}

TEST(EtpTypeMap, MalformedLinesNameFileAndLine)
{
    // Each line with its message; good lines have none.
    const std::pair<std::string, std::string> lines[] = {
        {"LOOSE value=1", "literal \"LOOSE\" before any \"type\" line"},
        {"type", "expected \"type NAME\""},
        {"type T2 extra", "expected \"type NAME\""},
        {"type T2", ""},
        {"  A value=x", "bad value \"x\": expected an integer"},
        {"  B color=#12345", "bad color \"#12345\": expected #rrggbb or none"},
        {"  C color=#gg0000", "bad color \"#gg0000\": expected #rrggbb or none"},
        {"  F label=\"open", "unterminated quoted text"},
        {"  G label=\"a\"b", "text after quoted text"},
        {"  H novalue", "expected \"attribute=value\", got \"novalue\""},
        {"  I value=99999999999", "bad value \"99999999999\": expected an integer"},
        {"  \"J", "unterminated quoted text"},
        {"  OK value=1", ""},
        {std::string("  A\0B", 5), "zero byte in line"}};
    std::string text, want;
    for (size_t i = 0; i < std::size(lines); ++i) {
        text += lines[i].first + "\n";
        if (!lines[i].second.empty()) {
            want += "bad.map:" + std::to_string(i + 1) + ": " + lines[i].second + "\n";
        }
    }
    EXPECT_EQ(Load(text, 0, "bad.map"), want);
    // Lenient loading keeps the good lines; malformed literals are not made.
    EtpType *t = nullptr;
    ASSERT_TRUE(etpFindType("T2", &t));
    EXPECT_TRUE(etpFindTypeLiteralByName(t, "OK", nullptr));
    EXPECT_FALSE(etpFindTypeLiteralByName(t, "A", nullptr));
    // Check-only loads merge nothing.
    EXPECT_EQ(Load("type T3c\n  A\n", ETP_LOAD_CHECK), "");
    EXPECT_FALSE(etpFindType("T3c", nullptr));
}

TEST(EtpTypeMap, LoadingFiles)
{
    orxtest::TempDir dir;
    const std::string path = dir.Write("t5.map", "type T5\n  X\n  Y style=bad\n");
    EXPECT_EQ(etpLoadTypeMap(path.c_str(), ETP_LOAD_QUIET), 1); // the malformed line count
    EXPECT_TRUE(etpFindType("T5", nullptr));
    EXPECT_EQ(etpLoadTypeMap((dir.path + "/none.map").c_str(), ETP_LOAD_QUIET), -1);
    EXPECT_EQ(etpLoadTypeMap(nullptr, 0), -1);
}

TEST(EtpAttrs, SettingValues)
{
    Load("type T6\n  A\n");
    EtpAttr *red = Attr("T6", "A", ETP_ATTR_RED);
    EtpAttr *style = Attr("T6", "A", ETP_ATTR_STYLE);
    ASSERT_NE(red, nullptr);
    ASSERT_NE(style, nullptr);
    EXPECT_TRUE(etpSetAttrValFromInt(style, 3));
    EXPECT_TRUE(etpSetAttrValFromString(red, "17"));
    EXPECT_FALSE(etpSetAttrValFromString(red, "seventeen")); // leaves 17
    EXPECT_EQ(All("T6", "A"), "0|A|1|3|17|-1|-1");
    EXPECT_TRUE(etpSetAttrValFromInt(red, 200));
    EXPECT_TRUE(etpSetAttrValFromString(style, "- -"));
    EXPECT_EQ(All("T6", "A"), "0|A|1|- -|200|-1|-1");
    // Out-of-range indices, names in another case and null arguments are refused.
    EXPECT_EQ(Attr("T6", "A", -1), nullptr);
    EXPECT_EQ(Attr("T6", "A", ETP_ATTR_COUNT), nullptr);
    EXPECT_EQ(Attr("T6", "a", ETP_ATTR_RED), nullptr);
    EXPECT_EQ(Attr("t6", "A", ETP_ATTR_RED), nullptr);
    EXPECT_FALSE(etpSetAttrValFromInt(nullptr, 1) || etpSetAttrValFromString(red, nullptr));
    char small[3];
    etpSetAttrValFromString(style, "a long style text");
    EXPECT_TRUE(etpGetAttrString(style, small, sizeof small));
    EXPECT_STREQ(small, "a ");
}
} // namespace

// C-level tests of the keyed-list interface: statuses, who owns which
// reference, refusal of shared objects, and conversions that must leave the
// object as it was when they fail.  The commands' tests cover the semantics.

#include "orx_keylist.h"
#include "tests/support/interp_fixture.h"

#include <pthread.h>

#include <string>
#include <tuple>

namespace {

// Objects here are held and released by hand: the counts are what is tested.
class KeylistTest : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        ASSERT_EQ(OrxXKeyedListInit(interp_), TCL_OK);
    }
    static Tcl_Obj *Held(Tcl_Obj *obj)
    {
        Tcl_IncrRefCount(obj);
        return obj;
    }
    static Tcl_Obj *Text(const char *text) { return Held(Tcl_NewStringObj(text, -1)); }
};

TEST_F(KeylistTest, GetKeysAndDeleteStatusesAndReferences)
{
    Tcl_Obj *keyl = Text("{a {{b 1}}} {c 2}");
    Tcl_Obj *value = nullptr;
    ASSERT_EQ(OrxX_KeyedListGet(interp_, keyl, "a.b", &value), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(value), "1");
    EXPECT_EQ(value->refCount, 1) << "held by the list only";
    value = keyl;
    EXPECT_EQ(OrxX_KeyedListGet(interp_, keyl, "a.x", &value), TCL_BREAK);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Result(), "") << "not found leaves no message";
    EXPECT_EQ(OrxX_KeyedListGet(interp_, keyl, "c.d", &value), TCL_ERROR);
    EXPECT_EQ(Result(), "keyed list entry must be a valid, 2 element list, got \"2\"");

    Tcl_Obj *keys = nullptr;
    ASSERT_EQ(OrxX_KeyedListGetKeys(interp_, keyl, "a", &keys), TCL_OK);
    EXPECT_EQ(keys->refCount, 0) << "a new list for the caller";
    EXPECT_STREQ(Tcl_GetString(keys), "b");
    Tcl_DecrRefCount(Held(keys));
    EXPECT_EQ(OrxX_KeyedListGetKeys(interp_, keyl, "y", &keys), TCL_BREAK);
    EXPECT_EQ(keys, nullptr);

    EXPECT_EQ(OrxX_KeyedListDelete(interp_, keyl, "a.x"), TCL_BREAK);
    EXPECT_EQ(OrxX_KeyedListDelete(interp_, keyl, "q"), TCL_BREAK);
    EXPECT_EQ(OrxX_KeyedListDelete(interp_, keyl, "c.d"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetString(keyl), "{a {{b 1}}} {c 2}");
    ASSERT_EQ(OrxX_KeyedListDelete(interp_, keyl, "a.b"), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keyl), "{c 2}");  // the emptied level goes too
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, SetTakesOneReferenceAndReplaceReleasesIt)
{
    Tcl_Obj *keyl = OrxX_NewKeyedListObj();
    EXPECT_EQ(keyl->refCount, 0);
    EXPECT_EQ(keyl->typePtr, Tcl_GetObjType("keyedList"));
    Held(keyl);
    Tcl_Obj *first = Text("one");
    Tcl_Obj *second = Text("two");
    ASSERT_EQ(OrxX_KeyedListSet(interp_, keyl, "x.y", first), TCL_OK);
    EXPECT_EQ(first->refCount, 2);
    ASSERT_EQ(OrxX_KeyedListSet(interp_, keyl, "x.y", second), TCL_OK);
    EXPECT_EQ(first->refCount, 1);
    EXPECT_EQ(second->refCount, 2);
    EXPECT_STREQ(Tcl_GetString(keyl), "{x {{y two}}}");
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "z", keyl), TCL_ERROR);  // no cycle
    Tcl_DecrRefCount(keyl);
    EXPECT_EQ(second->refCount, 1) << "freeing the list releases its values";
    Tcl_DecrRefCount(first);
    Tcl_DecrRefCount(second);
}

TEST_F(KeylistTest, ModifyingASharedObjectIsRefused)
{
    Tcl_Obj *keyl = Held(Text("{a 1}"));
    Tcl_Obj *value = Text("2");
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "a", value), TCL_ERROR);
    EXPECT_EQ(value->refCount, 1);
    // A refused value nobody holds is freed (the sanitizer build checks).
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "a", Tcl_NewStringObj("3", -1)), TCL_ERROR);
    EXPECT_EQ(OrxX_GenericKeyedListDelete(interp_, keyl, "a"), TCL_ERROR);
    EXPECT_EQ(Result(), "cannot modify a shared keyed list"
                        "cannot modify a shared keyed list"
                        "cannot modify a shared keyed list");
    EXPECT_STREQ(Tcl_GetString(keyl), "{a 1}");
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(value);
}

TEST_F(KeylistTest, BadKeysAreRefusedAndGenericKeysAreOpaque)
{
    Tcl_Obj *keyl = Held(OrxX_NewKeyedListObj());
    Tcl_Obj *value = Text("v");
    const char *binary = "b\xC0\x80" "c";  // Tcl's coding of a zero byte
    for (const char *key : {"", "a..b", binary}) {
        Tcl_ResetResult(interp_);
        EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, key, value), TCL_ERROR) << key;
        EXPECT_EQ(Result(), key == binary ? "keyed list key may not be a binary string"
                                          : "keyed list key may not be an empty string");
    }
    EXPECT_EQ(OrxX_KeyedListSet(nullptr, keyl, "", Tcl_NewObj()), TCL_ERROR);  // no interp_
    EXPECT_STREQ(Tcl_GetString(keyl), "");
    Tcl_DecrRefCount(keyl);

    keyl = OrxX_NewGenericKeyedListObj();
    EXPECT_EQ(keyl->typePtr, Tcl_GetObjType("genericKeyedList"));
    Held(keyl);
    EXPECT_EQ(OrxX_GenericKeyedListSet(interp_, keyl, "", value), TCL_ERROR);
    EXPECT_EQ(OrxX_GenericKeyedListSet(interp_, keyl, binary, value), TCL_ERROR);
    EXPECT_EQ(value->refCount, 1);
    ASSERT_EQ(OrxX_GenericKeyedListSet(interp_, keyl, "a.b", value), TCL_OK);
    Tcl_Obj *keys = nullptr;
    EXPECT_EQ(OrxX_GenericKeyedListGet(interp_, keyl, "a", &keys), TCL_BREAK);
    ASSERT_EQ(OrxX_GenericKeyedListGetKeys(interp_, keyl, nullptr, &keys), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keys), "a.b");
    Tcl_DecrRefCount(Held(keys));
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(value);
}

TEST_F(KeylistTest, FailedParseLeavesTheObjectAlone)
{
    // A real zero byte in a key, which no script can write.
    static const char text[] = "{a 1} {b\0c 2}";
    Tcl_Obj *keyl = Held(Tcl_NewStringObj(text, sizeof text - 1));
    Tcl_Obj *value = nullptr;
    EXPECT_EQ(OrxX_KeyedListGet(interp_, keyl, "a", &value), TCL_ERROR);
    EXPECT_EQ(Result(), "keyed list key may not be a binary string");
    EXPECT_EQ(std::string(Tcl_GetString(keyl), keyl->length), std::string(text, sizeof text - 1));
    EXPECT_EQ(OrxX_KeyedListGet(nullptr, keyl, "a", &value), TCL_ERROR);  // no interp_
    Tcl_DecrRefCount(keyl);

    Tcl_Obj *number = Held(Tcl_NewIntObj(42));  // stays an integer
    EXPECT_EQ(Tcl_ConvertToType(nullptr, number, Tcl_GetObjType("keyedList")), TCL_ERROR);
    EXPECT_STREQ(number->typePtr->name, "int");
    Tcl_DecrRefCount(number);
}

// Runs fn(interp) on a thread with a 1 MiB stack, far less than a walk or a text
// build recursing once per level would need at these depths.
template <class Fn>
void OnSmallStack(Fn fn)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 1 << 20), 0);
    pthread_t thread;
    auto run = [](void *arg) -> void * {
        // An interpreter of the thread's own sets Tcl up for it.
        Tcl_Interp *interp = Tcl_CreateInterp();
        (*static_cast<Fn *>(arg))(interp);
        Tcl_DeleteInterp(interp);
        Tcl_FinalizeThread();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, &fn), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// "a.a. ... .a.<last>", n components.
std::string DeepKey(int n, const std::string &last = "a")
{
    std::string key;
    for (int i = 1; i < n; i++) {
        key += "a.";
    }
    return key + last;
}

TEST(KeylistDeepTest, HundredThousandComponentsThroughTheCInterface)
{
    OnSmallStack([](Tcl_Interp *interp) {
        const std::string key = DeepKey(100000);
        const std::string sibling = DeepKey(100000, "b");
        Tcl_Obj *keyl = OrxX_NewKeyedListObj();
        Tcl_IncrRefCount(keyl);
        ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, key.c_str(), Tcl_NewIntObj(1)), TCL_OK);
        ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, sibling.c_str(), Tcl_NewIntObj(2)), TCL_OK);
        Tcl_Obj *value = nullptr;
        ASSERT_EQ(OrxX_KeyedListGet(interp, keyl, key.c_str(), &value), TCL_OK);
        EXPECT_STREQ(Tcl_GetString(value), "1");
        Tcl_Obj *keys = nullptr;
        ASSERT_EQ(OrxX_KeyedListGetKeys(interp, keyl, DeepKey(99999).c_str(), &keys), TCL_OK);
        Tcl_IncrRefCount(keys);
        EXPECT_STREQ(Tcl_GetString(keys), "a b");
        Tcl_DecrRefCount(keys);

        // Deleting from a copy unshares every level; the source keeps its entries.
        Tcl_Obj *copy = Tcl_DuplicateObj(keyl);
        Tcl_IncrRefCount(copy);
        EXPECT_EQ(OrxX_KeyedListDelete(interp, copy, DeepKey(99999, "x.y").c_str()), TCL_BREAK);
        ASSERT_EQ(OrxX_KeyedListDelete(interp, copy, key.c_str()), TCL_OK);
        ASSERT_EQ(OrxX_KeyedListDelete(interp, copy, sibling.c_str()), TCL_OK);
        EXPECT_STREQ(Tcl_GetString(copy), "") << "emptied levels are pruned";
        EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, sibling.c_str(), &value), TCL_OK);
        Tcl_DecrRefCount(copy);
        Tcl_DecrRefCount(keyl);
    });
}

TEST(KeylistDeepTest, TextOfADeepListIsBuiltWithoutRecursion)
{
    OnSmallStack([](Tcl_Interp *interp) {
        const int depth = 5000;
        Tcl_Obj *keyl = OrxX_NewKeyedListObj();
        Tcl_IncrRefCount(keyl);
        ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, DeepKey(depth).c_str(), Tcl_NewIntObj(1)),
                  TCL_OK);
        int len;
        const char *text = Tcl_GetStringFromObj(keyl, &len);
        // Each level reads "{a {" ... "}}" around the one below, the bottom "{a 1}".
        EXPECT_EQ(len, 6 * (depth - 1) + 5);
        EXPECT_EQ(std::string(text, 8), "{a {{a {");
        Tcl_DecrRefCount(keyl);
    });
}

// Keys handed to the C interface as text and the same keys as command
// arguments (parsed once, then remembering where they were found) give the
// same answers.  Rows: list text, key, generic.
using KeyRow = std::tuple<const char *, const char *, bool>;
class KeyRouteTest : public KeylistTest, public ::testing::WithParamInterface<KeyRow> {
protected:
    // "ok: result" or "error: message" of script on l = text, run twice: the
    // second run finds the key object already parsed.
    std::string Command(const char *text, const std::string &script)
    {
        std::string answers[2];
        for (std::string &answer : answers) {
            Tcl_SetVar2Ex(interp_, "l", nullptr, Tcl_NewStringObj(text, -1), 0);
            int status = Tcl_Eval(interp_, script.c_str());
            answer = (status == TCL_OK ? "ok: " : "error: ") + Result();
        }
        EXPECT_EQ(answers[1], answers[0]) << "second run of " << script;
        return answers[0];
    }
};

TEST_P(KeyRouteTest, SameAnswers)
{
    auto [text, key, generic] = GetParam();
    const std::string g = generic ? "g" : "";
    Tcl_SetVar2Ex(interp_, "k", nullptr, Tcl_NewStringObj(key, -1), 0);
    for (const char *op : {"get", "keys", "set", "del"}) {
        Tcl_Obj *keyl = Text(text);
        Tcl_Obj *out = keyl;  // what the command answers: the list after set and del
        int status;
        std::string missing = "key not found: \"" + std::string(key) + "\"";
        if (op == std::string("get")) {
            status = (generic ? OrxX_GenericKeyedListGet : OrxX_KeyedListGet)(interp_, keyl,
                                                                              key, &out);
            missing = "key \"" + std::string(key) + "\" not found in keyed list";
        } else if (op == std::string("keys")) {
            status = (generic ? OrxX_GenericKeyedListGetKeys : OrxX_KeyedListGetKeys)(interp_, keyl,
                                                                                      key, &out);
        } else if (op == std::string("set")) {
            status = (generic ? OrxX_GenericKeyedListSet : OrxX_KeyedListSet)(
                interp_, keyl, key, Tcl_NewStringObj("new", -1));
        } else {
            status = (generic ? OrxX_GenericKeyedListDelete : OrxX_KeyedListDelete)(interp_, keyl,
                                                                                    key);
        }
        std::string expected = status == TCL_OK      ? "ok: " + std::string(Tcl_GetString(out))
                               : status == TCL_BREAK ? "error: " + missing
                                                     : "error: " + Result();
        if (status == TCL_OK && op == std::string("keys")) {
            Tcl_DecrRefCount(Held(out));
        }
        Tcl_ResetResult(interp_);
        std::string script = g + "keyl" + op + " l $k" + (op == std::string("set") ? " new" : "");
        if (op == std::string("set") || op == std::string("del")) {
            script += "; set l";
        }
        EXPECT_EQ(Command(text, script), expected) << script;
        Tcl_DecrRefCount(keyl);
    }
}

const char kNested[] = "{a {{b 1} {c {{d 2}}}}} {e 3}";
const char kDotted[] = "{a.b 1} {c {{d.e 2}}}";
INSTANTIATE_TEST_SUITE_P(
    Keys, KeyRouteTest,
    ::testing::Values(KeyRow{kNested, "a", false}, KeyRow{kNested, "a.b", false},
                      KeyRow{kNested, "a.c.d", false}, KeyRow{kNested, "a.c.x", false},
                      KeyRow{kNested, "x.y.z", false},
                      KeyRow{kNested, "e.f", false},     // 3 is no keyed list
                      KeyRow{kNested, "a.b.c.d", false}, // nor is 1
                      KeyRow{"{a 1} {a", "a", false},    // nor is the text
                      KeyRow{kDotted, "a.b", true}, KeyRow{kDotted, "c", true},
                      KeyRow{kDotted, "a", true}, KeyRow{kDotted, "c.d", true}),
    [](const ::testing::TestParamInfo<KeyRow> &info) {
        std::string name = std::get<2>(info.param) ? "generic_" : "plain_";
        for (const char *p = std::get<1>(info.param); *p != '\0'; p++) {
            name += *p == '.' ? '_' : *p;
        }
        return name + "_" + std::to_string(info.index);
    });

}  // namespace

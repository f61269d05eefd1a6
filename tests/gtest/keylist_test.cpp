// C-level tests of the keyed-list interface: statuses, who owns which reference, refusal
// of shared objects, and failed conversions.  The commands' tests cover the semantics.

#include <pthread.h>

#include "orx_keylist.h"
#include "tests/support/interp_fixture.h"

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
    Tcl_Obj *keyl = Text("{a {{b 1}}} {c 2}"), *value = nullptr;
    ASSERT_EQ(OrxX_KeyedListGet(interp_, keyl, "a.b", &value), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(value), "1");
    EXPECT_EQ(value->refCount, 1) << "held by the list only";
    value = keyl;
    EXPECT_EQ(OrxX_KeyedListGet(interp_, keyl, "a.x", &value), TCL_BREAK);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Result(), "") << "not found leaves no message";
    Tcl_Obj *keys = nullptr;
    ASSERT_EQ(OrxX_KeyedListGetKeys(interp_, keyl, "a", &keys), TCL_OK);
    EXPECT_EQ(keys->refCount, 0) << "a new list for the caller";
    EXPECT_STREQ(Tcl_GetString(keys), "b");
    Tcl_DecrRefCount(Held(keys));
    EXPECT_EQ(OrxX_KeyedListGetKeys(interp_, keyl, "y", &keys), TCL_BREAK);
    EXPECT_EQ(keys, nullptr);
    EXPECT_EQ(OrxX_KeyedListDelete(interp_, keyl, "c.d"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetString(keyl), "{a {{b 1}}} {c 2}");
    ASSERT_EQ(OrxX_KeyedListDelete(interp_, keyl, "a.b"), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keyl), "{c 2}"); // the emptied level goes too
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, SetTakesOneReferenceAndReplaceReleasesIt)
{
    Tcl_Obj *keyl = OrxX_NewKeyedListObj();
    EXPECT_EQ(keyl->refCount, 0);
    EXPECT_EQ(keyl->typePtr, Tcl_GetObjType("keyedList"));
    Held(keyl);
    Tcl_Obj *first = Text("one"), *second = Text("two");
    ASSERT_EQ(OrxX_KeyedListSet(interp_, keyl, "x.y", first), TCL_OK);
    EXPECT_EQ(first->refCount, 2);
    ASSERT_EQ(OrxX_KeyedListSet(interp_, keyl, "x.y", second), TCL_OK);
    EXPECT_EQ(std::make_pair(first->refCount, second->refCount), std::make_pair(1, 2));
    EXPECT_STREQ(Tcl_GetString(keyl), "{x {{y two}}}");
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "z", keyl), TCL_ERROR); // no cycle
    Tcl_DecrRefCount(keyl);
    EXPECT_EQ(second->refCount, 1) << "freeing the list releases its values";
    Tcl_DecrRefCount(first);
    Tcl_DecrRefCount(second);
}

TEST_F(KeylistTest, ModifyingASharedObjectIsRefused)
{
    Tcl_Obj *keyl = Held(Text("{a 1}")), *value = Text("2");
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "a", value), TCL_ERROR);
    EXPECT_EQ(value->refCount, 1);
    // A refused value nobody holds is freed (the sanitizer build checks).
    EXPECT_EQ(OrxX_KeyedListSet(interp_, keyl, "a", Tcl_NewStringObj("3", -1)), TCL_ERROR);
    EXPECT_EQ(OrxX_GenericKeyedListDelete(interp_, keyl, "a"), TCL_ERROR);
    EXPECT_EQ(Result(), "cannot modify a shared keyed listcannot modify a shared keyed list"
                        "cannot modify a shared keyed list");
    EXPECT_STREQ(Tcl_GetString(keyl), "{a 1}");
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(value);
}

TEST_F(KeylistTest, BadKeysAreRefusedAndGenericKeysAreOpaque)
{
    Tcl_Obj *keyl = Held(OrxX_NewKeyedListObj()), *value = Text("v");
    const char *binary = "b\xC0\x80"
                         "c"; // Tcl's coding of a zero byte
    for (const char *key : {"", "a..b", binary}) {
        EXPECT_EQ(Failure(OrxX_KeyedListSet(interp_, keyl, key, value)),
                  key == binary ? "keyed list key may not be a binary string"
                                : "keyed list key may not be an empty string")
            << key;
    }
    EXPECT_EQ(OrxX_KeyedListSet(nullptr, keyl, "", Tcl_NewObj()), TCL_ERROR); // no interp_
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
    Tcl_Obj *keyl = Held(Tcl_NewStringObj(text, sizeof text - 1)), *value = nullptr;
    EXPECT_EQ(OrxX_KeyedListGet(interp_, keyl, "a", &value), TCL_ERROR);
    EXPECT_EQ(Result(), "keyed list key may not be a binary string");
    EXPECT_EQ(std::string(Tcl_GetString(keyl), keyl->length), std::string(text, sizeof text - 1));
    EXPECT_EQ(OrxX_KeyedListGet(nullptr, keyl, "a", &value), TCL_ERROR); // no interp_
    Tcl_DecrRefCount(keyl);
    Tcl_Obj *number = Held(Tcl_NewIntObj(42)); // stays an integer
    EXPECT_EQ(Tcl_ConvertToType(nullptr, number, Tcl_GetObjType("keyedList")), TCL_ERROR);
    EXPECT_STREQ(number->typePtr->name, "int");
    Tcl_DecrRefCount(number);
}

// Each call on each kind of key: found, missing, through a value, in malformed text.
// Statuses of get, keys, set and delete, in that order.
TEST_F(KeylistTest, StatusesOfEveryCallForEveryKind)
{
    const char *nested = "{a {{b 1} {c {{d 2}}}}} {e 3}", *dotted = "{a.b 1} {c {{d.e 2}}}";
    const struct {
        const char *text, *key;
        bool generic;
        const char *want;
    } rows[] = {
        {nested, "a", false, "0 0 0 0"},       {nested, "a.c.d", false, "0 1 0 0"},
        {nested, "a.c.x", false, "3 3 0 3"},   {nested, "x.y.z", false, "3 3 0 3"},
        {nested, "e.f", false, "1 1 1 1"},     {nested, "a.b.c.d", false, "1 1 1 1"},
        {"{a 1} {a", "a", false, "1 1 1 1"},   {dotted, "a.b", true, "0 1 0 0"},
        {dotted, "c", true, "0 0 0 0"},        {dotted, "c.d", true, "3 3 0 3"},
        {nested, "a.x.y.z", false, "3 3 0 3"}, {"{a 1} {a", "a", true, "1 1 1 1"},
    };
    for (const auto &r : rows) {
        std::string got;
        for (int op = 0; op < 4; ++op) {
            Tcl_Obj *keyl = Text(r.text), *out = nullptr;
            int status = op == 0   ? (r.generic ? OrxX_GenericKeyedListGet
                                                : OrxX_KeyedListGet)(interp_, keyl, r.key, &out)
                         : op == 1 ? (r.generic ? OrxX_GenericKeyedListGetKeys
                                                : OrxX_KeyedListGetKeys)(interp_, keyl, r.key, &out)
                         : op == 2 ? (r.generic ? OrxX_GenericKeyedListSet : OrxX_KeyedListSet)(
                                         interp_, keyl, r.key, Tcl_NewStringObj("new", -1))
                                   : (r.generic ? OrxX_GenericKeyedListDelete
                                                : OrxX_KeyedListDelete)(interp_, keyl, r.key);
            if (op == 1 && status == TCL_OK) {
                Tcl_DecrRefCount(Held(out));
            }
            got += (op ? " " : "") + std::to_string(status);
            Tcl_DecrRefCount(keyl);
        }
        EXPECT_EQ(got, r.want) << r.text << " / " << r.key;
    }
}

// Runs fn(interp) on a thread with a 1 MiB stack, far less than recursing per level would need.
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

TEST(KeylistDeepTest, TextOfADeepListIsBuiltWithoutRecursion)
{
    OnSmallStack([](Tcl_Interp *interp) {
        const int depth = 5000;
        std::string key = "a"; // "a.a. ... .a"
        for (int i = 1; i < depth; i++) {
            key += ".a";
        }
        Tcl_Obj *keyl = OrxX_NewKeyedListObj();
        Tcl_IncrRefCount(keyl);
        ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, key.c_str(), Tcl_NewIntObj(1)), TCL_OK);
        int len;
        const char *text = Tcl_GetStringFromObj(keyl, &len);
        // Each level reads "{a {" ... "}}" around the one below, the bottom "{a 1}".
        EXPECT_EQ(len, 6 * (depth - 1) + 5);
        EXPECT_EQ(std::string(text, 8), "{a {{a {");
        Tcl_DecrRefCount(keyl);
    });
}
} // namespace

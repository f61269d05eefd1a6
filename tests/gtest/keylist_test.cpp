// C-level tests of the keyed-list interface: statuses, who owns which
// reference, refusal of shared objects, and conversions that must leave the
// object as it was when they fail.

#include <gtest/gtest.h>

#include <tcl.h>

#include <string>

#include "orx_keylist.h"

namespace {

class KeylistTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp = Tcl_CreateInterp();
        ASSERT_EQ(OrxXKeyedListInit(interp), TCL_OK);
    }
    void TearDown() override { Tcl_DeleteInterp(interp); }

    std::string Result() { return Tcl_GetStringResult(interp); }

    // A new object holding one reference, from text or empty of either type.
    static Tcl_Obj *Held(Tcl_Obj *obj)
    {
        Tcl_IncrRefCount(obj);
        return obj;
    }
    static Tcl_Obj *Text(const char *text) { return Held(Tcl_NewStringObj(text, -1)); }

    Tcl_Interp *interp = nullptr;
};

TEST_F(KeylistTest, NewObjectsAreEmptyUnreferencedAndTyped)
{
    Tcl_Obj *plain = OrxX_NewKeyedListObj();
    Tcl_Obj *generic = OrxX_NewGenericKeyedListObj();
    EXPECT_EQ(plain->refCount, 0);
    EXPECT_EQ(generic->refCount, 0);
    EXPECT_STREQ(plain->typePtr->name, "keyedList");
    EXPECT_STREQ(generic->typePtr->name, "genericKeyedList");
    EXPECT_STREQ(Tcl_GetString(plain), "");
    EXPECT_EQ(Tcl_GetObjType("keyedList"), plain->typePtr);
    EXPECT_EQ(Tcl_GetObjType("genericKeyedList"), generic->typePtr);
    Tcl_DecrRefCount(Held(plain));
    Tcl_DecrRefCount(Held(generic));
}

TEST_F(KeylistTest, GetStatusesAndBorrowedValue)
{
    Tcl_Obj *keyl = Text("{a {{b 1}}} {c 2}");
    Tcl_Obj *value = nullptr;
    ASSERT_EQ(OrxX_KeyedListGet(interp, keyl, "a.b", &value), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(value), "1");
    EXPECT_EQ(value->refCount, 1) << "held by the list only";

    value = keyl;
    EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, "a.x", &value), TCL_BREAK);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Result(), "") << "not found leaves no message";

    EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, "c.d", &value), TCL_ERROR);
    EXPECT_EQ(Result(), "keyed list entry must be a valid, 2 element list, got \"2\"");
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, SetTakesOneReferenceAndReplaceReleasesIt)
{
    Tcl_Obj *keyl = Held(OrxX_NewKeyedListObj());
    Tcl_Obj *first = Text("one");
    Tcl_Obj *second = Text("two");
    ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, "x.y", first), TCL_OK);
    EXPECT_EQ(first->refCount, 2);
    ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, "x.y", second), TCL_OK);
    EXPECT_EQ(first->refCount, 1);
    EXPECT_EQ(second->refCount, 2);
    EXPECT_STREQ(Tcl_GetString(keyl), "{x {{y two}}}");
    Tcl_DecrRefCount(keyl);
    EXPECT_EQ(second->refCount, 1) << "freeing the list releases its values";
    Tcl_DecrRefCount(first);
    Tcl_DecrRefCount(second);
}

TEST_F(KeylistTest, ModifyingASharedObjectIsRefused)
{
    Tcl_Obj *keyl = Text("{a 1}");
    Tcl_IncrRefCount(keyl);
    Tcl_Obj *value = Text("2");
    EXPECT_EQ(OrxX_KeyedListSet(interp, keyl, "a", value), TCL_ERROR);
    EXPECT_EQ(Result(), "cannot modify a shared keyed list");
    Tcl_ResetResult(interp);
    EXPECT_EQ(OrxX_GenericKeyedListDelete(interp, keyl, "a"), TCL_ERROR);
    EXPECT_EQ(Result(), "cannot modify a shared keyed list");
    EXPECT_STREQ(Tcl_GetString(keyl), "{a 1}");
    EXPECT_EQ(value->refCount, 1);
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(value);
}

TEST_F(KeylistTest, NestedSetUnsharesTheNestedList)
{
    Tcl_Obj *keyl = Text("{a {{b 1}}}");
    Tcl_Obj *nested = nullptr;
    ASSERT_EQ(OrxX_KeyedListGet(interp, keyl, "a", &nested), TCL_OK);
    Tcl_IncrRefCount(nested); // someone else keeps the nested list
    ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, "a.b", Tcl_NewStringObj("2", -1)), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(nested), "{b 1}");
    EXPECT_STREQ(Tcl_GetString(keyl), "{a {{b 2}}}");
    EXPECT_EQ(nested->refCount, 1);

    // Storing a nested list into a deeper level of itself makes no cycle.
    Tcl_Obj *inner = nullptr;
    ASSERT_EQ(OrxX_KeyedListGet(interp, keyl, "a", &inner), TCL_OK);
    ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, "a.c", inner), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keyl), "{a {{b 2} {c {{b 2}}}}}");
    EXPECT_EQ(OrxX_KeyedListSet(interp, keyl, "z", keyl), TCL_ERROR);
    Tcl_DecrRefCount(nested);
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, DeleteStatusesAndPruning)
{
    Tcl_Obj *keyl = Text("{a {{b {{c 1}}}}} {d 2}");
    EXPECT_EQ(OrxX_KeyedListDelete(interp, keyl, "a.b.x"), TCL_BREAK);
    EXPECT_EQ(OrxX_KeyedListDelete(interp, keyl, "q"), TCL_BREAK);
    EXPECT_STREQ(Tcl_GetString(keyl), "{a {{b {{c 1}}}}} {d 2}");
    ASSERT_EQ(OrxX_KeyedListDelete(interp, keyl, "a.b.c"), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keyl), "{d 2}");
    EXPECT_EQ(OrxX_KeyedListDelete(interp, keyl, "d.e"), TCL_ERROR);
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, GetKeysReturnsANewList)
{
    Tcl_Obj *keyl = Text("{z 1} {a {{q 1} {b 2}}}");
    Tcl_Obj *keys = nullptr;
    ASSERT_EQ(OrxX_KeyedListGetKeys(interp, keyl, nullptr, &keys), TCL_OK);
    EXPECT_EQ(keys->refCount, 0);
    EXPECT_STREQ(Tcl_GetString(keys), "z a");
    Tcl_DecrRefCount(Held(keys));
    ASSERT_EQ(OrxX_KeyedListGetKeys(interp, keyl, "", &keys), TCL_OK);
    Tcl_DecrRefCount(Held(keys));
    ASSERT_EQ(OrxX_KeyedListGetKeys(interp, keyl, "a", &keys), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keys), "q b");
    Tcl_DecrRefCount(Held(keys));
    EXPECT_EQ(OrxX_KeyedListGetKeys(interp, keyl, "a.q.r", &keys), TCL_ERROR);
    EXPECT_EQ(OrxX_KeyedListGetKeys(interp, keyl, "y", &keys), TCL_BREAK);
    EXPECT_EQ(keys, nullptr);
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, GenericKeysAreOpaque)
{
    Tcl_Obj *keyl = Held(OrxX_NewGenericKeyedListObj());
    ASSERT_EQ(OrxX_GenericKeyedListSet(interp, keyl, "a.b", Tcl_NewStringObj("{x.y 1}", -1)),
              TCL_OK);
    Tcl_Obj *value = nullptr;
    ASSERT_EQ(OrxX_GenericKeyedListGet(interp, keyl, "a.b", &value), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(value), "{x.y 1}");
    EXPECT_EQ(OrxX_GenericKeyedListGet(interp, keyl, "a", &value), TCL_BREAK);
    Tcl_Obj *keys = nullptr;
    ASSERT_EQ(OrxX_GenericKeyedListGetKeys(interp, keyl, "a.b", &keys), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keys), "x.y");
    Tcl_DecrRefCount(Held(keys));

    // As a plain list its dotted key is refused, and it stays generic.
    EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, "a", &value), TCL_ERROR);
    EXPECT_STREQ(keyl->typePtr->name, "genericKeyedList");
    ASSERT_EQ(OrxX_GenericKeyedListDelete(interp, keyl, "a.b"), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(keyl), "");
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, BadKeysAreRefused)
{
    Tcl_Obj *keyl = Held(OrxX_NewKeyedListObj());
    Tcl_Obj *value = Text("v");
    for (const char *key : {"", "a..b", "a.", ".a"}) {
        Tcl_ResetResult(interp);
        EXPECT_EQ(OrxX_KeyedListSet(interp, keyl, key, value), TCL_ERROR) << key;
        EXPECT_EQ(Result(), "keyed list key may not be an empty string") << key;
    }
    EXPECT_EQ(OrxX_GenericKeyedListSet(interp, keyl, "", value), TCL_ERROR);
    EXPECT_EQ(value->refCount, 1);
    EXPECT_STREQ(Tcl_GetString(keyl), "");
    Tcl_DecrRefCount(keyl);
    Tcl_DecrRefCount(value);
}

TEST_F(KeylistTest, FailedParseLeavesTheObjectAlone)
{
    // A real zero byte in a key, which no script can write.
    static const char text[] = "{a 1} {b\0c 2}";
    Tcl_Obj *keyl = Held(Tcl_NewStringObj(text, sizeof text - 1));
    Tcl_Obj *value = nullptr;
    EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, "a", &value), TCL_ERROR);
    EXPECT_EQ(Result(), "keyed list key may not be a binary string");
    EXPECT_EQ(std::string(Tcl_GetString(keyl), keyl->length), std::string(text, sizeof text - 1));
    Tcl_DecrRefCount(keyl);

    // An integer stays an integer.
    Tcl_Obj *number = Held(Tcl_NewIntObj(42));
    EXPECT_EQ(Tcl_ConvertToType(nullptr, number, Tcl_GetObjType("keyedList")), TCL_ERROR);
    EXPECT_STREQ(number->typePtr->name, "int");
    Tcl_DecrRefCount(number);
}

TEST_F(KeylistTest, CopiesWithoutIndexAgreeWithTheOriginal)
{
    Tcl_Obj *keyl = Held(OrxX_NewKeyedListObj());
    for (int i = 0; i < 40; i++) {
        std::string key = "k" + std::to_string(i);
        ASSERT_EQ(OrxX_KeyedListSet(interp, keyl, key.c_str(), Tcl_NewIntObj(i)), TCL_OK);
    }
    Tcl_Obj *copy = Held(Tcl_DuplicateObj(keyl));
    EXPECT_EQ(copy->typePtr, keyl->typePtr);
    ASSERT_EQ(OrxX_KeyedListDelete(interp, copy, "k0"), TCL_OK);
    ASSERT_EQ(OrxX_KeyedListSet(interp, copy, "k5", Tcl_NewStringObj("five", -1)), TCL_OK);
    for (int i = 1; i < 40; i++) {
        std::string key = "k" + std::to_string(i);
        Tcl_Obj *value = nullptr;
        ASSERT_EQ(OrxX_KeyedListGet(interp, copy, key.c_str(), &value), TCL_OK) << key;
        EXPECT_EQ(Tcl_GetString(value), i == 5 ? std::string("five") : std::to_string(i));
    }
    Tcl_Obj *value = nullptr;
    EXPECT_EQ(OrxX_KeyedListGet(interp, copy, "k0", &value), TCL_BREAK);
    EXPECT_EQ(OrxX_KeyedListGet(interp, keyl, "k0", &value), TCL_OK);
    EXPECT_STREQ(Tcl_GetString(value), "0");
    Tcl_DecrRefCount(copy);
    Tcl_DecrRefCount(keyl);
}

TEST_F(KeylistTest, NullInterpIsAllowed)
{
    Tcl_Obj *keyl = Text("{a 1} {b}");
    Tcl_Obj *value = nullptr;
    EXPECT_EQ(OrxX_KeyedListGet(nullptr, keyl, "a", &value), TCL_ERROR);
    EXPECT_EQ(OrxX_KeyedListSet(nullptr, keyl, "", Tcl_NewObj()), TCL_ERROR);
    Tcl_DecrRefCount(keyl);
}

} // namespace

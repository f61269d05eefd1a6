// Handle tables: names from the base, growth past the initial room without moving entries,
// lowest-first reuse of freed numbers, and refusal of handle texts that name nothing.

#include "orx_handles.h"
#include "tests/support/interp_fixture.h"

namespace {

class Handles : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        table_ = OrxX_HandleTblInit("context", sizeof(void *), 2);
        ASSERT_NE(table_, nullptr);
    }
    void TearDown() override
    {
        OrxX_HandleTblRelease(table_);
        InterpTest::TearDown();
    }
    void *table_;
};

TEST(HandleTable, RefusesBadParameters)
{
    std::string tooLong(ORXX_HANDLE_BASE_MAX + 1, 'b');
    const struct {
        const char *base;
        int size, count;
    } bad[] = {{nullptr, 8, 1}, {"", 8, 1}, {"x", 0, 1}, {"x", 8, 0}, {tooLong.c_str(), 8, 1}};
    for (const auto &b : bad) {
        EXPECT_EQ(OrxX_HandleTblInit(b.base, b.size, b.count), nullptr)
            << (b.base ? b.base : "null");
    }
    OrxX_HandleTblRelease(nullptr);
}

TEST_F(Handles, GrowsKeepsAddressesAndReusesLowestFirst)
{
    std::vector<void *> entries;
    char name[ORXX_HANDLE_NAME_MAX];
    for (int i = 0; i < 40; ++i) {
        void *entry = OrxX_HandleAlloc(table_, name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(name, "context" + std::to_string(i));
        EXPECT_EQ(*static_cast<void **>(entry), nullptr); // zero-filled
        *static_cast<void **>(entry) = &entries;
        entries.push_back(entry);
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(OrxX_HandleXlate(interp_, table_, ("context" + std::to_string(i)).c_str()),
                  entries[i]);
        EXPECT_EQ(*static_cast<void **>(entries[i]), &entries);
    }
    EXPECT_EQ(OrxX_HandleFree(table_, entries[7]), 1);
    EXPECT_EQ(OrxX_HandleFree(table_, entries[3]), 1);
    EXPECT_EQ(OrxX_HandleFree(table_, entries[3]), 0); // already free
    int dummy;
    EXPECT_EQ(OrxX_HandleFree(table_, &dummy), 0);
    EXPECT_NE(OrxX_HandleAlloc(table_, name), nullptr);
    EXPECT_STREQ(name, "context3");
    EXPECT_NE(OrxX_HandleAlloc(table_, nullptr), nullptr);
    EXPECT_NE(OrxX_HandleXlate(nullptr, table_, "context7"), nullptr);
    EXPECT_NE(OrxX_HandleAlloc(table_, name), nullptr);
    EXPECT_STREQ(name, "context40");
    EXPECT_EQ(OrxX_HandleName(table_, entries[39], name), 1);
    EXPECT_STREQ(name, "context39");
    EXPECT_EQ(OrxX_HandleName(table_, &dummy, name), 0);
}

TEST_F(Handles, UnknownAndFreedHandlesAreRefused)
{
    void *entry = OrxX_HandleAlloc(table_, nullptr);
    OrxX_HandleAlloc(table_, nullptr);
    for (const char *bad : {"context", "context2", "context01", "context+1", "context 1",
                            "context-1", "Context1", "file1", "", "context99999999999"}) {
        Tcl_ResetResult(interp_);
        EXPECT_EQ(OrxX_HandleXlate(interp_, table_, bad), nullptr) << bad;
        EXPECT_EQ(Result(), std::string("invalid context handle \"") + bad + "\"");
    }
    OrxX_HandleFree(table_, entry);
    EXPECT_EQ(OrxX_HandleXlateObj(interp_, table_, Text("context0")), nullptr);
    EXPECT_EQ(Result(), "invalid context handle \"context0\"");
    EXPECT_EQ(OrxX_HandleXlate(nullptr, table_, "context0"), nullptr);
}

TEST_F(Handles, WalkVisitsAllocatedEntriesInOrderAndSurvivesFrees)
{
    std::vector<void *> entries;
    for (int i = 0; i < 6; ++i) {
        entries.push_back(OrxX_HandleAlloc(table_, nullptr));
    }
    OrxX_HandleFree(table_, entries[2]);
    std::vector<void *> seen;
    int key = -1;
    while (void *entry = OrxX_HandleWalk(table_, &key)) {
        seen.push_back(entry);
        OrxX_HandleFree(table_, entry); // freeing the current entry is allowed
    }
    EXPECT_EQ(seen,
              (std::vector<void *>{entries[0], entries[1], entries[3], entries[4], entries[5]}));
    key = -1;
    EXPECT_EQ(OrxX_HandleWalk(table_, &key), nullptr);
    // Release frees what is still allocated (the sanitizer build checks).
    OrxX_HandleAlloc(table_, nullptr);
}
} // namespace

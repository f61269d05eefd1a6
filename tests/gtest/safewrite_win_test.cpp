// Safe writing on Windows: the temporary file beside the target, the one-step
// replace with MoveFileEx, the read-only attribute, a file another process
// holds open.  Built for Windows only; safewrite_test.cpp covers POSIX with
// file modes, a full file system and killed writers.

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "orx_safewrite.h"

namespace {

namespace fs = std::filesystem;

// The file's access list in SDDL form ("" when it cannot be read).
std::string AccessList(const std::string &path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "";
    }
    char *text = nullptr;
    std::string sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sddl;
}

// Give path the protected access list sddl.  False where the file system keeps no lists.
bool SetAccessList(const std::string &path, const char *sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return false;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    DWORD error =
        SetNamedSecurityInfoA(const_cast<char *>(path.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return error == ERROR_SUCCESS;
}

std::string Read(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class SafeWriteWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tcl_FindExecutable(nullptr);
        interp_ = Tcl_CreateInterp();
        dir_ =
            fs::temp_directory_path() / ("orx-safewrite-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        target_ = (dir_ / "out.txt").string();
        Write(target_, "old content\n");
    }
    void TearDown() override
    {
        Tcl_DeleteInterp(interp_);
        SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Result() const { return Tcl_GetStringResult(interp_); }
    // Writes text to path through a handle; the status of the close, -1 when refused.
    int WriteThrough(const std::string &path, const char *text)
    {
        Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp_, path.c_str());
        if (handle == nullptr) {
            return -1;
        }
        std::fputs(text, Orx_GetFilePtr(handle));
        return Orx_RobustFcloseForWrite(interp_, handle);
    }
    Tcl_Interp *interp_ = nullptr;
    fs::path dir_;
    std::string target_;
};

TEST_F(SafeWriteWin, TargetUnchangedUntilCloseThenReplacedKeepingItsAttributes)
{
    SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr) << Result();
    std::fputs("new\n", Orx_GetFilePtr(handle));
    std::fflush(Orx_GetFilePtr(handle));
    EXPECT_EQ(Read(target_), "old content\n");
    EXPECT_EQ(Read(target_ + ".tq_tmp"), "new\n");
    ASSERT_EQ(Orx_RobustFcloseForWrite(interp_, handle), TCL_OK) << Result();
    EXPECT_EQ(Read(target_), "new\n"); // binary: no CR added
    EXPECT_FALSE(fs::exists(target_ + ".tq_tmp"));
    EXPECT_TRUE(GetFileAttributesA(target_.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    // An abort leaves the target and no temporary file.
    handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr) << Result();
    std::fputs("discarded", Orx_GetFilePtr(handle));
    Orx_RobustFabortForWrite(handle);
    EXPECT_EQ(Read(target_), "new\n");
    EXPECT_FALSE(fs::exists(target_ + ".tq_tmp"));
    // A new file in a directory given with backslashes (C:\...\fresh.txt).
    std::string fresh = (dir_ / "fresh.txt").string();
    ASSERT_NE(fresh.find('\\'), std::string::npos);
    EXPECT_EQ(WriteThrough(fresh, "fresh"), TCL_OK) << Result();
    EXPECT_EQ(Read(fresh), "fresh");
}

// The temporary file is private to its user until the close; the file that takes the
// target's name has the target's list (everyone, built-in users).
TEST_F(SafeWriteWin, ReplacedFileKeepsTheOldAccessList)
{
    const char *list = "D:P(A;;FA;;;WD)(A;;FR;;;BU)";
    if (!SetAccessList(target_, list) || AccessList(target_).empty()) {
        GTEST_SKIP() << "this file system keeps no access lists";
    }
    std::string before = AccessList(target_);
    ASSERT_EQ(WriteThrough(target_, "new\n"), TCL_OK) << Result();
    EXPECT_EQ(Read(target_), "new\n");
    EXPECT_EQ(AccessList(target_), before);
}

TEST_F(SafeWriteWin, ReadOnlyDirectoryOrMissingDirectoryRefused)
{
    SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY);
    for (std::string bad : {target_, dir_.string(), (dir_ / "missing" / "out.txt").string()}) {
        Tcl_ResetResult(interp_);
        EXPECT_EQ(Orx_RobustFopenForWrite(interp_, bad.c_str()), nullptr) << bad;
        EXPECT_EQ(Result(), "The file \"" + bad + "\" is not modifiable for writing.");
    }
    EXPECT_EQ(Read(target_), "old content\n");
}

TEST_F(SafeWriteWin, ReplaceRefusedWhileTheTargetIsHeldKeepsTheTemporaryFile)
{
    Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr) << Result();
    std::fputs("saved", Orx_GetFilePtr(handle));
    // Another opener that shares nothing: Windows refuses to replace the file.
    HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, handle), TCL_ERROR);
    CloseHandle(held);
    std::string temp = target_ + ".tq_tmp";
    EXPECT_EQ(Result(), "Could not rename the temporary file \"" + temp + "\" to the file \"" +
                            target_ + "\".\nData saved into the temporary file \"" + temp +
                            "\" and the file \"" + target_ + "\" may demolished.");
    EXPECT_EQ(Read(temp), "saved");
    EXPECT_EQ(Read(target_), "old content\n");
}
} // namespace

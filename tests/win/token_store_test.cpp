// The refresh token kept beside the INI file: sealed for the Windows user,
// bound to its account and endpoints, replaced in one step.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "signin/token_store_win.h"
#include "text/bounded_text.h"
#include "temp_folder_win.h"

namespace {

const TokenBinding kBinding = {"outlook.office365.com", "me@example.org", "client-1",
                               "https://login.example/authorize", "https://login.example/token"};
const char kFile[] = "TidewellDocklet.account2.token";

class TokenStore : public ::testing::Test {
protected:
    TokenStore() : instance() {
        CopyText(instance.iniPath, sizeof instance.iniPath, (folder.Path() + "TidewellDocklet.ini").c_str());
    }
    TokenLoad Load(const TokenBinding* binding = &kBinding) {
        return LoadRefreshToken(&instance, 2, binding, token, sizeof token, why, sizeof why);
    }
    bool Save(const std::string& value) {
        return SaveRefreshToken(&instance, 2, &kBinding, value.c_str(), why, sizeof why);
    }
    // The files of the folder, for telling that no temporary file stays behind.
    int Files() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder.Path() + "*").c_str(), &found);
        int count = 0;
        do
            count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileA(search, &found));
        FindClose(search);
        return count;
    }

    TempFolder folder;
    DockletInstance instance;
    char token[16385];
    char why[512];
};

TEST_F(TokenStore, ARoundTripKeepsTheTokenSealed) {
    EXPECT_EQ(kTokenNone, Load());
    const std::string refresh = "M.C507_BAY.0.U.-CsrjG!*tokenEnd";
    ASSERT_TRUE(Save(refresh)) << why;
    EXPECT_EQ(kTokenLoaded, Load()) << why;
    EXPECT_EQ(refresh, token);
    EXPECT_EQ(std::string::npos, folder.Read(kFile).find("tokenEnd"));
    // The longest token, replacing the first in place.
    ASSERT_TRUE(Save(std::string(16384, 'r'))) << why;
    EXPECT_EQ(kTokenLoaded, Load());
    EXPECT_EQ(std::string(16384, 'r'), token);
    EXPECT_EQ(1, Files());
    EXPECT_FALSE(Save(std::string(16385, 'r')));
    EXPECT_FALSE(Save("two words"));
    EXPECT_EQ(kTokenLoaded, Load());
    EXPECT_TRUE(ForgetRefreshToken(&instance, 2, why, sizeof why));
    EXPECT_EQ(kTokenNone, Load());
    EXPECT_TRUE(ForgetRefreshToken(&instance, 2, why, sizeof why));
}

// A file that is not the one written, or is for something else, loads nothing and says why.
TEST_F(TokenStore, AnyOtherFileLoadsNothingWithItsReason) {
    ASSERT_TRUE(Save("1//0refresh-token"));
    const std::string written = folder.Read(kFile);
    std::string flipped = written;
    flipped[flipped.size() - 20] ^= 0x01;
    std::string flippedHead = written;
    flippedHead[30] ^= 0x01;
    const struct {
        const char* name;
        std::string bytes;  // empty: the file as written
        TokenBinding binding;
        TokenLoad expected;
        const char* reason;
        bool past4GiB = false;  // the bytes 4 GiB further on, the gap sparse
    } cases[] = {
        {"a flipped byte in the sealed part", flipped, kBinding, kTokenUnreadable, "Windows refuses to unprotect"},
        {"a flipped byte in the head", flippedHead, kBinding, kTokenOtherBinding, "kept for another"},
        {"another Address", "", {"imap.gmail.com", kBinding.login, kBinding.clientId, kBinding.authorizeUrl, kBinding.tokenUrl},
         kTokenOtherBinding, "kept for another Address, Login, client or endpoints"},
        {"another Login", "", {kBinding.address, "you@example.org", kBinding.clientId, kBinding.authorizeUrl, kBinding.tokenUrl},
         kTokenOtherBinding, "kept for another"},
        {"another client", "", {kBinding.address, kBinding.login, "client-2", kBinding.authorizeUrl, kBinding.tokenUrl},
         kTokenOtherBinding, "kept for another"},
        {"another token endpoint", "", {kBinding.address, kBinding.login, kBinding.clientId, kBinding.authorizeUrl, "https://evil.example/token"},
         kTokenOtherBinding, "kept for another"},
        {"not ours", "[account2]\r\nPassword=x\r\n", kBinding, kTokenUnreadable, "is not a token file of this docklet"},
        {"empty", std::string(), kBinding, kTokenUnreadable, "is not a token file"},
        {"too large", std::string(200000, 'x'), kBinding, kTokenUnreadable, "is larger than"},
        {"the file as written, 4 GiB on", "", kBinding, kTokenUnreadable, "is larger than", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write(kFile, c.bytes.empty() && std::string(c.name) != "empty" ? written : c.bytes);
        if (c.past4GiB) {
            HANDLE file = CreateFileA((folder.Path() + kFile).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            LARGE_INTEGER size;
            size.QuadPart = (1LL << 32) + static_cast<LONGLONG>(written.size());
            EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
            CloseHandle(file);
        }
        EXPECT_EQ(c.expected, Load(&c.binding));
        EXPECT_STREQ("", token);
        EXPECT_NE(std::string::npos, std::string(why).find(c.reason)) << why;
        EXPECT_EQ(std::string::npos, std::string(why).find("refresh-token"));
    }
}

// A file that cannot be replaced, or a folder that cannot be written, keeps
// the token saved before and leaves no temporary file.
TEST_F(TokenStore, AFailedSaveKeepsTheOldFile) {
    ASSERT_TRUE(Save("old-token"));
    const std::string written = folder.Read(kFile);
    HANDLE held = CreateFileA((folder.Path() + kFile).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(Save("new-token"));
    EXPECT_NE(std::string::npos, std::string(why).find("the token file cannot be written")) << why;
    CloseHandle(held);
    EXPECT_EQ(written, folder.Read(kFile));
    EXPECT_EQ(1, Files());
    EXPECT_EQ(kTokenLoaded, Load());
    EXPECT_STREQ("old-token", token);

    CopyText(instance.iniPath, sizeof instance.iniPath, (folder.Path() + "missing\\TidewellDocklet.ini").c_str());
    EXPECT_FALSE(Save("new-token"));
    EXPECT_NE(std::string::npos, std::string(why).find("cannot be written in the docklet folder")) << why;
    instance.iniPath[0] = '\0';
    EXPECT_FALSE(Save("new-token"));
    EXPECT_EQ(kTokenUnreadable, Load());
    EXPECT_NE(std::string::npos, std::string(why).find("the docklet folder is not known")) << why;
}

}  // namespace

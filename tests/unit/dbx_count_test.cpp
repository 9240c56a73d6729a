#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include <unistd.h>

#include "mail/dbx_count.h"

namespace {

// DBX files written for the test, removed after it.
class DbxFiles : public ::testing::Test {
protected:
    ~DbxFiles() override {
        for (const std::string& path : written)
            remove(path.c_str());
    }
    // A file of size bytes whose header holds count at offset 196 (when it reaches that far).
    std::string Write(const char* name, int32_t count, size_t size = 208) {
        std::string path = std::string(testing::TempDir()) + "tidewell-" + std::to_string(getpid()) + name;
        std::string bytes(size, '\x5a');
        if (size >= 200)
            memcpy(&bytes[196], &count, 4);  // little-endian on every machine we build for
        FILE* file = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        written.push_back(path);
        return path;
    }
    void Use(std::initializer_list<std::string> paths) {
        account.dbxCount = 0;
        for (const std::string& path : paths)
            snprintf(account.dbxPaths[account.dbxCount++], kDbxPathSize, "%s", path.c_str());
    }

    // A header as the docklet reads it: as many of the header's bytes as the file has.
    static bool ReadHeader(const char* path, uint32_t* n, void*) {
        FILE* file = fopen(path, "rb");
        if (!file)
            return false;
        unsigned char header[kDbxHeaderSize];
        size_t length = fread(header, 1, sizeof header, file);
        fclose(file);
        return DbxHeaderCount(header, length, n);
    }

    // The count, and the index of the file that could not be read (-1: none).
    std::pair<int, int> Count() const {
        int unreadable = -1;
        int count = CountDbxMessages(&account, ReadHeader, nullptr, &unreadable);
        return {count, unreadable};
    }

    MailAccount account{};
    std::vector<std::string> written;
};

using Counted = std::pair<int, int>;

TEST_F(DbxFiles, HeaderCountsAddUp) {
    EXPECT_EQ(Counted(0, -1), Count());
    Use({Write("a.dbx", 5), Write("b.dbx", 7, 4096)});
    EXPECT_EQ(Counted(12, -1), Count());
    Use({Write("c.dbx", -3)});
    EXPECT_EQ(Counted(-3, -1), Count());
}

TEST_F(DbxFiles, AnyUnreadableFileFailsTheWholeCount) {
    Use({Write("short.dbx", 5, 207)});
    EXPECT_EQ(Counted(-1, 0), Count());
    Use({Write("first.dbx", 5), testing::TempDir() + "tidewell-no-such.dbx", Write("third.dbx", 1)});
    EXPECT_EQ(Counted(-1, 1), Count());
    Use({Write("first.dbx", 5), ""});  // an empty entry within the count
    EXPECT_EQ(Counted(-1, 1), Count());
}

}  // namespace

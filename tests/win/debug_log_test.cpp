#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "log/debug_log.h"
#include "temp_folder_win.h"

namespace {

TEST(DebugLog, AppendsFormattedLinesAndDropsThemWithoutAFile) {
    TempFolder folder;
    DockletInstance instance{};
    CopyText(instance.logPath, sizeof instance.logPath, (folder.Path() + "Debug.log").c_str());
    WriteDebugLog(&instance, "    Connect %s %d", "mail.example.com", 143);
    WriteDebugLog(&instance, "    %s", "1 LOGIN me secret\r\n");
    // Text mode: every line end lands as CR LF, including the command's own.
    EXPECT_EQ("    Connect mail.example.com 143\r\n    1 LOGIN me secret\r\r\n\r\n",
              folder.Read("Debug.log"));

    CopyText(instance.logPath, sizeof instance.logPath,
             (folder.Path() + "no such folder\\Debug.log").c_str());
    WriteDebugLog(&instance, "dropped");
    instance.logPath[0] = '\0';
    WriteDebugLog(&instance, "dropped");
}

struct Writer {
    const DockletInstance* instance;
    char mark;
};

// Longer than the C library's stream buffer, as a logged server reply can be,
// so that each line takes several writes to land.
const size_t kLineLength = 20000;
const int kLinesPerWriter = 40;

DWORD WINAPI WriteLongLines(void* parameter) {
    const Writer* writer = static_cast<const Writer*>(parameter);
    const std::string text(kLineLength, writer->mark);
    for (int i = 0; i < kLinesPerWriter; ++i)
        WriteDebugLog(writer->instance, "%s", text.c_str());
    return 0;
}

TEST(DebugLog, LinesOfConcurrentWritersNeverMix) {
    TempFolder folder;
    DockletInstance instance{};
    CopyText(instance.logPath, sizeof instance.logPath, (folder.Path() + "Debug.log").c_str());
    Writer writers[6];
    HANDLE threads[6];
    for (int i = 0; i < 6; ++i) {
        writers[i] = {&instance, static_cast<char>('a' + i)};
        threads[i] = CreateThread(nullptr, 0, WriteLongLines, &writers[i], 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    WaitForMultipleObjects(6, threads, TRUE, 60000);
    for (HANDLE thread : threads)
        CloseHandle(thread);

    const std::string log = folder.Read("Debug.log");
    size_t lines = 0;
    for (size_t start = 0; start < log.size(); ++lines) {
        size_t end = log.find("\r\n", start);
        ASSERT_NE(std::string::npos, end);
        const std::string line = log.substr(start, end - start);
        ASSERT_EQ(std::string(kLineLength, line[0]), line) << "line " << lines << " mixes writers";
        start = end + 2;
    }
    EXPECT_EQ(6u * kLinesPerWriter, lines);
}

}  // namespace

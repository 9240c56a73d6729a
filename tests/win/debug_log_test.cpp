#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "log/debug_log.h"
#include "log/debug_log_bound.h"
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

// Lines of kLineLength bytes each end as kLineLength + 2 on disk.
size_t LinesUntilFull() { return kDebugLogLimit / (kLineLength + 2); }

std::string FirstLine(const std::string& log) { return log.substr(0, log.find("\r\n")); }

TEST(DebugLog, PastItsBoundBecomesTheOldLogOnceAndStartsAgain) {
    TempFolder folder;
    DockletInstance instance{};
    CopyText(instance.logPath, sizeof instance.logPath, (folder.Path() + "Debug.log").c_str());
    const std::string first(kLineLength, 'a'), second(kLineLength, 'b'), third(kLineLength, 'c');
    for (size_t i = 0; i < LinesUntilFull(); ++i)
        WriteDebugLog(&instance, "%s", first.c_str());
    EXPECT_FALSE(folder.Exists("Debug.old.log"));
    for (size_t i = 0; i < LinesUntilFull() + 1; ++i)
        WriteDebugLog(&instance, "%s", second.c_str());
    WriteDebugLog(&instance, "%s", third.c_str());

    // Two generations passed: the old log holds the second, none of the first.
    const std::string old = folder.Read("Debug.old.log");
    const std::string log = folder.Read("Debug.log");
    EXPECT_LE(old.size(), kDebugLogLimit);
    EXPECT_EQ(kDebugLogRenewedLine, FirstLine(old));
    EXPECT_EQ(std::string::npos, old.find(first));
    EXPECT_EQ(std::string(kDebugLogRenewedLine) + "\r\n" + second + "\r\n" + third + "\r\n", log);
}

TEST(DebugLog, PastItsBoundWithTheOldLogHeldStartsEmptyAndSaysSo) {
    TempFolder folder;
    DockletInstance instance{};
    CopyText(instance.logPath, sizeof instance.logPath, (folder.Path() + "Debug.log").c_str());
    folder.Write("Debug.old.log", "kept");
    // A reader that shares nothing: Debug.old.log cannot be replaced.
    HANDLE held = CreateFileA((folder.Path() + "Debug.old.log").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const std::string line(kLineLength, 'a');
    for (size_t i = 0; i < LinesUntilFull() + 1; ++i)
        WriteDebugLog(&instance, "%s", line.c_str());
    CloseHandle(held);

    EXPECT_EQ("kept", folder.Read("Debug.old.log"));
    EXPECT_EQ(std::string(kDebugLogCutLine) + "\r\n" + line + "\r\n", folder.Read("Debug.log"));
}

}  // namespace

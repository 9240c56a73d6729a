// A stand-in for the user's web browser, for tests of a sign-in: opens the
// URL it is given with plain HTTP and follows redirects as a browser would.
//
//   standin_browser.exe URL
//
// Appends each request's status and the last page to standin_browser.log
// beside the program, and prints nothing: a redirect carries the code, and
// the program that starts a browser may share its output with it. Exits with 0 when the last answer
// was 2xx, 1 otherwise, 2 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "plain_http_win.h"

namespace {

const int kMaxRedirects = 5;

std::string Visit(std::string url, bool* reached) {
    std::string record;
    for (int redirects = 0;; ++redirects) {
        std::string host, target, error;
        int port = 0;
        HttpAnswer answer;
        if (!SplitHttpUrl(url, &host, &port, &target))
            return record + "not a plain http URL: " + url + "\n";
        if (!PlainHttpRequest(host, port, "GET", target, "", &answer, &error))
            return record + "GET " + url + " failed: " + error + "\n";
        record += "GET " + url + " -> " + std::to_string(answer.status) + "\n";
        if (answer.status >= 300 && answer.status < 400 && !answer.location.empty()) {
            if (redirects == kMaxRedirects)
                return record + "more than " + std::to_string(kMaxRedirects) + " redirects\n";
            url = answer.location;
            continue;
        }
        *reached = answer.status >= 200 && answer.status < 300;
        return record + answer.body + "\n";
    }
}

void AppendToLog(const std::string& record) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length < 4 || length >= sizeof path)
        return;
    std::string log(path, length - 4);
    log += ".log";
    HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: standin_browser.exe URL\n", stderr);
        return 2;
    }
    bool reached = false;
    std::string record = Visit(argv[1], &reached);
    AppendToLog(record);
    return reached ? 0 : 1;
}

// HTTP responses as the token request reads them: the completeness scan
// decides where the response ends, then the judge reads it. Raw bytes must
// get a defined outcome, and the judge never accepts a response the scan
// would still be waiting on. Bodies sent in chunks the input chooses must
// come back exactly as they were.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/http_response.h"
#include "net/reply_scan.h"

namespace {

void JudgeRaw(const std::string& bytes) {
    ReplyScan scan = StartReplyScan(kHttpReplyEnd);
    const ReplyState state = ScanReply(&scan, bytes.data(), bytes.size());
    std::vector<char> text(bytes.begin(), bytes.end());
    text.push_back('\0');
    HttpResponse response;
    char why[128] = "";
    if (JudgeHttpResponse(text.data(), bytes.size(), &response, why, sizeof why)) {
        if (state != kReplyComplete || response.status < 200 || response.status > 599)
            abort();
        if (response.bodyLength > bytes.size() || response.body[response.bodyLength] != '\0' ||
            memchr(response.body, '\0', response.bodyLength))
            abort();
    } else if (strncmp(why, "HTTP reply ", 11) != 0) {
        abort();
    }
}

void RoundTrip(FuzzedDataProvider* input) {
    const bool interim = input->ConsumeBool();
    const bool chunked = input->ConsumeBool();
    std::vector<size_t> pieces(input->ConsumeIntegralInRange<size_t>(1, 8));
    for (size_t& piece : pieces)
        piece = input->ConsumeIntegralInRange<size_t>(1, 300);
    std::string body = input->ConsumeRemainingBytesAsString();
    for (char& c : body)
        c = c == '\0' ? ' ' : c;

    std::string response = interim ? "HTTP/1.1 100 Continue\r\n\r\n" : "";
    response += "HTTP/1.1 200 OK\r\n";
    if (chunked) {
        response += "Transfer-Encoding: chunked\r\n\r\n";
        for (size_t at = 0, i = 0; at < body.size(); ++i) {
            size_t piece = pieces[i % pieces.size()] < body.size() - at ? pieces[i % pieces.size()]
                                                                        : body.size() - at;
            char size[32];
            snprintf(size, sizeof size, i % 2 ? "%zX;x=1\r\n" : "%zx\r\n", piece);
            response += size + body.substr(at, piece) + "\r\n";
            at += piece;
        }
        response += "0\r\n\r\n";
    } else {
        response += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    ReplyScan scan = StartReplyScan(kHttpReplyEnd);
    size_t length = 0;
    for (size_t i = 0; length < response.size(); ++i) {
        length += pieces[i % pieces.size()];
        length = length < response.size() ? length : response.size();
        if (ScanReply(&scan, response.data(), length) !=
            (length == response.size() ? kReplyComplete : kReplyNeedsMore))
            abort();
    }
    HttpResponse judged;
    char why[128] = "";
    if (!JudgeHttpResponse(&response[0], response.size(), &judged, why, sizeof why) ||
        judged.status != 200 || std::string(judged.body, judged.bodyLength) != body)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] == 'R') {
        FuzzedDataProvider input(data + 1, size - 1);
        RoundTrip(&input);
    } else {
        JudgeRaw(std::string(reinterpret_cast<const char*>(data), size));
    }
    return 0;
}

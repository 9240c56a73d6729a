#include "net/https_post_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "log/debug_log.h"
#include "net/http_response.h"
#include "net/reply.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"
#include "net/url_parts.h"
#include "text/bounded_text.h"

namespace {

// The dock host's version number, 100 for 1.0.0, as the three parts of the version.
const int kVersion = TIDEWELL_VERSION_NUMBER;

// Room for the request line and header fields, besides the target and host.
const size_t kHeadRoom = 512;

// Everything sent and received may carry tokens: gone before the memory is.
void Wipe(char* text, size_t length) {
    if (text)
        SecureZeroMemory(text, length);
}

void SetFailure(HttpResult* result, const char* text) {
    CopyText(result->failure, sizeof result->failure, text);
}

}  // namespace

bool PostForm(const DockletInstance* instance, const MailAccount* account, const char* url,
              const char* body, const char* shownBody, HttpResult* result) {
    memset(result, 0, sizeof *result);
    UrlParts parts;
    char why[200];
    if (!SplitHttpUrl(url, &parts, why, sizeof why)) {
        FormatText(result->failure, sizeof result->failure, "cannot POST: %s", why);
        return false;
    }
    const bool defaultPort = parts.port == (parts.tls ? 443 : 80);
    char authority[sizeof parts.host + 8];
    if (defaultPort)
        CopyText(authority, sizeof authority, parts.host);
    else
        FormatText(authority, sizeof authority, "%s:%d", parts.host, parts.port);
    if (instance->debug) {
        WriteDebugLog(instance, "    POST %s://%s%s", parts.tls ? "https" : "http", authority,
                      parts.target);
        WriteDebugLog(instance, "    %s", shownBody);
    }

    const size_t bodyLength = strlen(body);
    const size_t requestSize = kHeadRoom + sizeof authority + strlen(parts.target) + bodyLength + 1;
    char* request = static_cast<char*>(malloc(requestSize));
    if (!request) {
        SetFailure(result, "out of memory: POST");
        return false;
    }
    FormatText(request, requestSize,
               "POST %s HTTP/1.1\r\nHost: %s\r\nContent-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: %u\r\nAccept: application/json\r\nConnection: close\r\n"
               "User-Agent: Tidewell/%d.%d.%d\r\n\r\n%s",
               parts.target, authority, static_cast<unsigned>(bodyLength), kVersion / 100,
               kVersion / 10 % 10, kVersion % 10, body);

    Reply reply;
    InitReply(&reply);
    Connection* connection = OpenEndpointConnection(instance, &reply, parts.host, parts.port,
                                                    parts.tls, account->caFile);
    if (connection)
        ExchangeUnshown(instance, &connection, &reply, kHttpReplyEnd, request);
    DisconnectFromServer(&connection);
    Wipe(request, requestSize);
    free(request);

    bool judged = false;
    HttpResponse response;
    if (reply.length == 0) {
        result->stopped = reply.stopped;
        SetFailure(result, reply.failure);
    } else if (!JudgeHttpResponse(reply.text, reply.length, &response, why, sizeof why)) {
        SetFailure(result, why);
    } else {
        // Only the status line: the body carries the tokens.
        if (instance->debug)
            WriteDebugLog(instance, "    %s %d %s", response.version, response.status,
                          response.reason);
        result->body = static_cast<char*>(malloc(response.bodyLength + 1));
        if (result->body) {
            memcpy(result->body, response.body, response.bodyLength + 1);
            result->bodyLength = response.bodyLength;
            result->status = response.status;
            judged = true;
        } else {
            SetFailure(result, "out of memory: reply to POST");
        }
    }
    Wipe(reply.text, reply.capacity);
    FreeReply(&reply);
    return judged;
}

void FreeHttpResult(HttpResult* result) {
    Wipe(result->body, result->bodyLength);
    free(result->body);
    result->body = nullptr;
    result->bodyLength = 0;
}

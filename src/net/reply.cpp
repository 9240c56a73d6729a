#include "net/reply.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "log/debug_log.h"
#include "text/secret_wipe.h"

void InitReply(Reply* reply) {
    memset(reply->initial, 0, sizeof reply->initial);
    reply->text = reply->initial;
    reply->length = 0;
    reply->capacity = sizeof reply->initial;
    reply->step[0] = '\0';
    reply->failure[0] = '\0';
    reply->stopped = false;
}

void EmptyReply(Reply* reply) {
    reply->length = 0;
    reply->text[0] = '\0';
}

bool GrowReply(Reply* reply, size_t capacity) {
    if (capacity <= reply->capacity)
        return true;
    // Never realloc: a reply may carry tokens, and realloc would free the
    // old memory as it is. Each copy left behind is wiped first.
    char* grown = static_cast<char*>(malloc(capacity));
    if (!grown)
        return false;
    memcpy(grown, reply->text, reply->length + 1);
    WipeSecret(reply->text, reply->capacity);
    if (reply->text != reply->initial)
        free(reply->text);
    reply->text = grown;
    reply->capacity = capacity;
    return true;
}

void FreeReply(Reply* reply) {
    if (reply->text != reply->initial)
        free(reply->text);
    InitReply(reply);
}

void SetReplyFailure(Reply* reply, const char* format, ...) {
    if (reply->failure[0] != '\0' || reply->stopped)
        return;
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(reply->failure, sizeof reply->failure, format, arguments);
    va_end(arguments);
}

void LogReplyFailure(const DockletInstance* instance, const Reply* reply) {
    if (!instance->debug || reply->stopped)
        return;
    if (reply->failure[0] != '\0')
        WriteDebugLog(instance, "    Error: %s", reply->failure);
    else
        WriteDebugLog(instance, "    Error: rejected by the server: %s", reply->step);
}

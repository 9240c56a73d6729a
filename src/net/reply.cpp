#include "net/reply.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "log/debug_log.h"

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
    char* grown = static_cast<char*>(reply->text == reply->initial ? malloc(capacity)
                                                                     : realloc(reply->text, capacity));
    if (!grown)
        return false;
    if (reply->text == reply->initial)
        memcpy(grown, reply->initial, reply->length + 1);
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

#include "net/reply.h"

#include <cstdlib>
#include <cstring>

void InitReply(Reply* reply) {
    memset(reply->initial, 0, sizeof reply->initial);
    reply->text = reply->initial;
    reply->length = 0;
    reply->capacity = sizeof reply->initial;
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

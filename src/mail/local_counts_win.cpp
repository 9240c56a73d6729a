#include "mail/local_counts_win.h"

#include "docklet/abandonable_call_win.h"
#include "mail/dbx_count.h"
#include "mail/registry_count_win.h"
#include "net/server_connection.h"
#include "text/bounded_text.h"

namespace {

struct DbxRead {
    char path[kDbxPathSize];
    bool read;
    uint32_t count;
};

void ReadDbx(void* data) {
    DbxRead* dbx = static_cast<DbxRead*>(data);
    dbx->read = ReadDbxHeaderCount(dbx->path, &dbx->count);
}

struct DbxContext {
    const DockletInstance* instance;
    bool stopped;
};

bool ReadDbxUnlessStopped(const char* path, uint32_t* count, void* context) {
    DbxContext* dbx = static_cast<DbxContext*>(context);
    DbxRead read = {};
    CopyText(read.path, sizeof read.path, path);
    CallOutcome outcome = CallUnlessStopped(ReadDbx, &read, sizeof read, dbx->instance->stopEvent,
                                            CheckTimeoutMs(dbx->instance));
    dbx->stopped = outcome == kCallStopped;
    *count = read.count;
    return outcome == kCallDone && read.read;
}

struct RegistryRead {
    char path[kAccountTextSize];
    int count;
};

void ReadRegistry(void* data) {
    RegistryRead* registry = static_cast<RegistryRead*>(data);
    registry->count = ReadRegistryCount(registry->path);
}

}  // namespace

DbxCountOutcome CountDbxMessagesUnlessStopped(const DockletInstance* instance, const MailAccount* account,
                                              int* count, int* unreadable) {
    DbxContext context = {instance, false};
    *unreadable = -1;
    *count = CountDbxMessages(account, ReadDbxUnlessStopped, &context, unreadable);
    if (context.stopped)
        return kDbxStopped;
    return *unreadable == -1 ? kDbxCounted : kDbxUnreadable;
}

int ReadRegistryCountUnlessStopped(const DockletInstance* instance, const char* path) {
    RegistryRead registry = {};
    CopyText(registry.path, sizeof registry.path, path);
    registry.count = -1;
    CallUnlessStopped(ReadRegistry, &registry, sizeof registry, instance->stopEvent, CheckTimeoutMs(instance));
    return registry.count;
}

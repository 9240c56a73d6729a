#include "mail/local_counts_win.h"

#include "docklet/abandonable_call_win.h"
#include "mail/dbx_count.h"
#include "mail/dbx_file_win.h"
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
    CallOutcome outcome;  // of the last read
};

// One read per file at a time, module-wide: a file that never answers holds
// one thread, not one for every check that names it.
bool ReadDbxUnlessStopped(const char* path, uint32_t* count, void* context) {
    DbxContext* dbx = static_cast<DbxContext*>(context);
    DbxRead read = {};
    CopyText(read.path, sizeof read.path, path);
    dbx->outcome = CallOnceUnlessStopped(read.path, ReadDbx, &read, sizeof read, dbx->instance->stopEvent,
                                         CheckTimeoutMs(dbx->instance));
    *count = read.count;
    return dbx->outcome == kCallDone && read.read;
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
    DbxContext context = {instance, kCallDone};
    *unreadable = -1;
    *count = CountDbxMessages(account, ReadDbxUnlessStopped, &context, unreadable);
    if (context.outcome == kCallStopped)
        return kDbxStopped;
    if (*unreadable == -1)
        return kDbxCounted;
    return context.outcome == kCallStillOutstanding ? kDbxStillUnanswered : kDbxUnreadable;
}

const char* DbxFailure(DbxCountOutcome outcome) {
    return outcome == kDbxStillUnanswered ? "DBX file still not answering from an earlier check"
                                          : "DBX file cannot be read";
}

int ReadRegistryCountUnlessStopped(const DockletInstance* instance, const char* path) {
    RegistryRead registry = {};
    CopyText(registry.path, sizeof registry.path, path);
    registry.count = -1;
    CallOnceUnlessStopped(registry.path, ReadRegistry, &registry, sizeof registry, instance->stopEvent,
                          CheckTimeoutMs(instance));
    return registry.count;
}

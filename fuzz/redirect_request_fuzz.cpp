// The request a browser, or anything else on this machine, sends to the
// sign-in's loopback listener: only a GET of / with this sign-in's state
// carries a code, and whatever is kept of it is whole and printable where it
// is shown. The listener reads each client's head as its bytes come, many
// clients side by side: read so, in any pieces and interleaved with other
// clients, a head ends where the first empty line of the bytes sent ends,
// or is too long, exactly as when read at once.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/request_head.h"
#include "shown_text.h"
#include "signin/redirect_request.h"

namespace {

void Judge(const std::string& head, RedirectRequest* request) {
    memset(request, 0x5A, sizeof *request);
    JudgeRedirectRequest(head.data(), head.size(), "S1", request);
    bool hasCode = strnlen(request->code, sizeof request->code) > 0;
    if (request->kind < kRedirectCode || request->kind > kRedirectBad ||
        strnlen(request->code, sizeof request->code) == sizeof request->code ||
        hasCode != (request->kind == kRedirectCode) ||
        (request->kind != kRedirectRefused && request->error[0] != '\0') ||
        !IsShown(request->error, sizeof request->error) ||
        !IsShown(request->errorDescription, sizeof request->errorDescription) ||
        !IsShown(request->why, sizeof request->why))
        abort();
    // A code only ever comes from a GET of / with the state.
    if (request->kind == kRedirectCode &&
        (head.compare(0, 6, "GET /?") != 0 || head.find("state=S1") == std::string::npos))
        abort();
}

// One client of the listener: its bytes, how far they have come, and what
// the scan said.
struct Client {
    size_t limit;
    char* head;
    size_t sent = 0;
    size_t got = 0;
    RequestHeadScan scan = kRequestHeadPartial;
    size_t length = 0;
};

// The plain reading: the first empty line within limit bytes ends the head.
RequestHeadScan Expected(const std::string& bytes, size_t limit, size_t* length) {
    const size_t end = bytes.substr(0, limit).find("\r\n\r\n");
    if (end != std::string::npos) {
        *length = end + 4;
        return kRequestHeadWhole;
    }
    return bytes.size() >= limit ? kRequestHeadTooLong : kRequestHeadPartial;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<RedirectRequest> request(new RedirectRequest);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Judge(bytes, request.get());

    // The pieces and the order of the clients follow from the bytes themselves.
    uint32_t random = 2166136261u;
    for (unsigned char c : bytes)
        random = (random ^ c) * 16777619u;
    auto next = [&random](uint32_t below) {
        random = random * 1103515245u + 12345u;
        return (random >> 8) % below;
    };
    static std::vector<char> buffers[3];
    Client clients[3];
    clients[0].limit = kRequestHeadRoom - 1;
    clients[1].limit = kRequestHeadRoom - 1;
    clients[2].limit = 1 + next(96);
    for (int i = 0; i < 3; ++i) {
        buffers[i].resize(kRequestHeadRoom);
        clients[i].head = buffers[i].data();
    }
    for (;;) {
        Client* waiting[3];
        size_t count = 0;
        for (Client& client : clients) {
            if (client.scan == kRequestHeadPartial && client.sent < bytes.size())
                waiting[count++] = &client;
        }
        if (count == 0)
            break;
        Client& client = *waiting[next(static_cast<uint32_t>(count))];
        const size_t room = std::min(client.limit - client.got, bytes.size() - client.sent);
        const size_t piece = std::min<size_t>(room, 1 + next(next(4) == 0 ? 4096 : 8));
        memcpy(client.head + client.got, bytes.data() + client.sent, piece);
        client.sent += piece;
        const size_t scanned = client.got;
        client.got += piece;
        client.scan = ScanRequestHead(client.head, client.got, scanned, client.limit, &client.length);
    }
    for (const Client& client : clients) {
        size_t length = 0;
        const RequestHeadScan expected = Expected(bytes, client.limit, &length);
        if (client.scan != expected || (expected == kRequestHeadWhole && client.length != length))
            abort();
        if (expected == kRequestHeadWhole) {
            const std::string head(client.head, client.length);
            if (head != bytes.substr(0, length))
                abort();
            Judge(head, request.get());
        }
    }
    return 0;
}

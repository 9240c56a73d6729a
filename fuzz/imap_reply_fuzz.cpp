// IMAP replies as the check judges them: NUL-terminated server text, tested
// for "<tag> OK" with the tags the dialogue uses, and SEARCH items counted.
// Both are checked against plain readings of their rules.
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/imap_reply.h"

namespace {

bool ReferenceHasOk(const std::string& reply, char tag) {
    return reply.find(std::string{tag, ' ', 'O', 'K'}) != std::string::npos;
}

// The items of the first "* SEARCH " line are the pieces between single
// spaces; a space that ends the line closes the last item without adding one.
int ReferenceSearchCount(const std::string& reply) {
    if (reply.find("* SEARCH") == std::string::npos)
        return -1;
    size_t start = reply.find("* SEARCH ");
    if (start == std::string::npos)
        return 0;
    start += 9;
    std::string line = reply.substr(start, reply.find_first_of("\r\n", start) - start);
    if (line.empty())
        return 0;
    int pieces = 1;
    for (char c : line)
        pieces += c == ' ';
    return line.back() == ' ' ? pieces - 1 : pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reply buffer is NUL-terminated after what arrived; a NUL the server
    // sent ends the text there, as it does for the product.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.c_str();
    for (char tag : {'*', '1', '2', '3', '4'})
        if (HasImapOk(bytes.c_str(), tag) != ReferenceHasOk(text, tag))
            abort();
    if (CountSearchResults(bytes.c_str()) != ReferenceSearchCount(text))
        abort();
    return 0;
}

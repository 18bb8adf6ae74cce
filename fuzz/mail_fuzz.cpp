// A mailbox as the gateway reads it: the start line, then each mail's
// header and body in turn, in the format its first line shows.
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "server/mail_parse.h"

using namespace kv::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (f == nullptr) return 0;
    MailboxReader in(f);
    std::string first;
    in.ReadLine(first);
    MailboxFormat format = BeginsMailbox(first, MailboxFormat::kMmdf) ? MailboxFormat::kMmdf : MailboxFormat::kFromLines;
    IsForwardLine(first);
    // A user for every alias, so that mails reach their bodies.
    RecipientLookup lookup = [](std::string_view value) {
        std::optional<std::string> alias = RecipientAlias(value, "fuzzhost");
        return alias ? *alias : std::string();
    };
    for (int dateOrder = 0;; dateOrder = (dateOrder + 1) % 5) {
        MailHeader header;
        if (ParseMailHeader(in, header, lookup, dateOrder) == kHeaderEndOfFile) break;
        std::vector<std::string> body;
        GetBody(in, format, body);
    }
    std::fclose(f);
    return 0;
}

// A mailbox as the gateway reads it: the start line, then each mail's
// header and body in turn, in the format its first line shows.  A header's
// texts stay within the message header's fields, a date and a time are
// whole texts of 8 characters or none; every body piece fits a line, and
// wrapping a line keeps all of it but white space, in order.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "server/mail_parse.h"

using namespace kv::server;
using kv::fuzz::Check;

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
        Check(header.FromName.size() <= kSenderWidth && header.ToName.size() <= kSenderWidth &&
                  header.Subject.size() <= kSubjectWidth,
              "a header text longer than its field");
        Check(header.DateText.empty() || header.DateText.size() == 8, "a date text of other than 8 characters");
        Check(header.TimeText.empty() || header.TimeText.size() == 8, "a time text of other than 8 characters");
        std::vector<std::string> body;
        GetBody(in, format, body);
        for (const std::string& piece : body) Check(piece.size() <= kPieceWidth, "a body piece wider than a line");
    }
    std::fclose(f);

    std::string_view text = kv::fuzz::Bytes(data, size);
    std::string_view line = text.substr(0, std::min<size_t>(text.find('\n'), 4096));
    std::vector<std::string> pieces;
    WrapBodyLine(line, pieces);
    std::string joined;
    for (const std::string& piece : pieces) {
        Check(piece.size() <= kPieceWidth, "a wrapped piece wider than a line");
        joined += piece;
    }
    Check(!pieces.empty(), "a line gave no piece");
    Check(kv::fuzz::Solid(joined) == kv::fuzz::Solid(line), "wrapping a line lost or changed part of it");
    return 0;
}

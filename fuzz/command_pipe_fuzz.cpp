// The server's command pipe: the input cut into writes of 84 bytes (the
// last one short) into a real FIFO, which the server reads as its loop
// does.  Each whole write is one request, in order, decoding and encoding
// again as it lay; a short piece is no request.  A mail request becomes
// exactly one line of "outgoing.bbs" (no sender is set, so an immediate one
// is queued too), the line holding the request's fields, which kvpost's
// reader takes back unchanged or refuses as no message it could send.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/segment.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"
#include "server/command_pipe.h"
#include "server/mail_gateway.h"
#include "tools/kvpost/sender.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

std::string Outgoing() {
    std::ifstream in(fuzz::ScratchDir() + "/" + server::kOutgoingFile, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The field as a request line may hold it: no bar, no line end.
std::string Flat(std::string s) {
    for (char& c : s)
        if (c == '|' || c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureConfig();
    static const bool made = server::CreateFifo() == 1;
    Check(made, "harness: no FIFO");
    std::filesystem::remove(fuzz::ScratchDir() + "/" + server::kOutgoingFile);
    int writer = open(server::FifoPath().c_str(), O_WRONLY | O_NONBLOCK);
    Check(writer >= 0, "harness: the FIFO cannot be written");
    // Fifty requests at a time fit the pipe.
    size = std::min<size_t>(size, 50 * ServerCommand::kSize);
    for (size_t at = 0; at < size; at += ServerCommand::kSize) {
        size_t n = std::min(ServerCommand::kSize, size - at);
        Check(write(writer, data + at, n) == ssize_t(n), "harness: a request was not written whole");
    }
    close(writer);

    size_t taken = 0;
    ServerCommand cmd;
    std::string queue;
    while (server::ReadServerCommand(cmd)) {
        Check(taken + ServerCommand::kSize <= size, "a short piece was read as a request");
        const uint8_t* p = data + taken;
        auto again = EncodeRecord(cmd);
        Check(std::vector<uint8_t>(again.begin(), again.end()) == fuzz::CanonicalRecord<ServerCommand>(p),
              "a request does not encode back as it came");
        taken += ServerCommand::kSize;
        if (cmd.Code != CMD_MAIL_NOW && cmd.Code != CMD_MAIL_QUEUE) continue;

        const std::string line = server::MailRequestLine(cmd);
        Check(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1,
              "a request is not one line");
        server::HandleMailRequest(cmd);
        queue += line;
        Check(Outgoing() == queue, "the queue did not get the request's line, alone");

        post::MailRequest rq;
        const bool sendable = cmd.MessageNumber > 0 && cmd.HeaderOffset >= 0 && cmd.HeaderOffset % MsgHeader::kSize == 0;
        Check(post::ParseRequestLine(line.substr(0, line.size() - 1), rq) == sendable,
              "kvpost refuses a request it could send, or takes one it cannot");
        if (sendable)
            Check(rq.Name == Flat(cmd.Name) && rq.Alias == Flat(cmd.Alias) && rq.Number == cmd.MessageNumber &&
                      rq.Offset == cmd.HeaderOffset,
                  "kvpost reads another request than the server wrote");
    }
    Check(taken == size / ServerCommand::kSize * ServerCommand::kSize, "a whole request was lost");
    return 0;
}

// kvpost's request file, worked through against a message base of four
// messages none of which may leave (no area leads to Internet mail, one is
// deleted, one sent already), so no mailer ever runs.  A line kvpost takes
// holds a message number above 0 and the offset of a whole header, and
// written again as the server writes it, reads back the same.  Every line
// is passed over or refused, the file is then removed as worked through,
// and no message of the base changes: nothing is marked sent or deleted
// that never left.
#include <filesystem>
#include <fstream>
#include <string>

#include "common/msg_records.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "fuzz/fuzz_support.h"
#include "server/mail_gateway.h"
#include "tools/kvpost/sender.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

std::string ReadBaseFile(const char* name) {
    std::ifstream in(MsgBasePath(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The base, made once: messages 1-4, the third deleted, the fourth sent.
void MakeBase() {
    static const bool made = [] {
        for (MsgAreaDef& a : MutableConfig().MsgAreas) a.AreaType = kAreaLocal;
        for (int i = 0; i < 4; ++i) {
            MsgText text;
            text.Pid = "Kivo v1.0";
            text.Lines = {"To the world.", "Regards"};
            MsgHeader h;
            BuildMessageHeader(h, "someone@example.org", "Hello", 0, 0, i, false, std::nullopt, false, false, "Sam");
            if (i == 2) h.Status |= MSG_DELETED;
            if (i == 3) h.MailFlags |= MAIL_SENT;
            int32_t offset = 0;
            if (!AppendMessage(text, h, offset)) return false;
        }
        return true;
    }();
    Check(made, "harness: the message base could not be made");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureConfig();
    MakeBase();
    std::string_view file = fuzz::Bytes(data, size);

    for (std::string_view rest = file; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        post::MailRequest rq;
        if (!post::ParseRequestLine(line, rq)) continue;
        Check(rq.Number > 0 && rq.Offset >= 0 && rq.Offset % int32_t(MsgHeader::kSize) == 0,
              "a request for no message was taken");
        Check(rq.Name.find('|') == std::string::npos && rq.Alias.find('|') == std::string::npos,
              "a request's field holds a bar");
        if (rq.Name.size() >= 61 || rq.Alias.size() >= 13 || rq.Name.find_first_of("\r\0", 0, 2) != std::string::npos ||
            rq.Alias.find_first_of("\r\0", 0, 2) != std::string::npos)
            continue;  // no request from the pipe gives such a line
        ServerCommand cmd;
        cmd.Code = CMD_MAIL_QUEUE;
        cmd.Name = rq.Name;
        cmd.Alias = rq.Alias;
        cmd.MessageNumber = rq.Number;
        cmd.HeaderOffset = rq.Offset;
        std::string again = server::MailRequestLine(cmd);
        post::MailRequest back;
        Check(post::ParseRequestLine(again.substr(0, again.size() - 1), back) && back.Name == rq.Name &&
                  back.Alias == rq.Alias && back.Number == rq.Number && back.Offset == rq.Offset,
              "a request written again reads back otherwise");
    }

    const std::string headers = ReadBaseFile(kMsgHeaderFile), texts = ReadBaseFile(kMsgTextFile);
    const std::string path = fuzz::WriteScratchFile("kvmail.request", file);
    Check(post::SendRequestFile(path) == post::kAllSent, "a file of lines that send nothing was not worked through");
    Check(!std::filesystem::exists(path), "a request file worked through was kept");
    Check(ReadBaseFile(kMsgHeaderFile) == headers && ReadBaseFile(kMsgTextFile) == texts,
          "a message that never left was changed");
    return 0;
}

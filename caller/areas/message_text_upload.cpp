#include "caller/areas/message_text_upload.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "caller/areas/file_areas.h"
#include "caller/areas/line_editor.h"
#include "caller/areas/transfers.h"
#include "caller/areas/uploads.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/external_programs.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/msg_records.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/whole_file.h"
#include "common/wildcard.h"

namespace kv::caller {
namespace {

// What the editor may have changed: the size and the time to the
// nanosecond, so a text saved within the same second still counts.
struct FileStamp {
    off_t size = -1;
    timespec time{};
    bool operator==(const FileStamp& o) const {
        return size == o.size && time.tv_sec == o.time.tv_sec && time.tv_nsec == o.time.tv_nsec;
    }
};

bool StampOf(const std::string& path, FileStamp& stamp) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    stamp.size = st.st_size;
    stamp.time = st.st_mtim;
    return true;
}

// The header a file's text is loaded under: addressed to the caller, so
// no line of "originally to" is put before it.
MsgHeader LoadingHeader() {
    MsgHeader h;
    h.ToName = Call().CallerName;
    h.TextOffset = 0;
    return h;
}

// The file's text in a buffer of its size and 3 KB more; none when the
// memory cannot be had (told) or no line came.
std::optional<MessageBuffer> LoadTextFile(const std::string& path, int limit) {
    int64_t size = std::max<int64_t>(FileSize(path), 0);
    std::optional<MessageBuffer> buffer = MessageBuffer::Make(size_t(size / 1024) + 3);
    if (!buffer) {
        PutColorText(GetText(208), true, false, 3, kColorWarning);
        return std::nullopt;
    }
    if (LoadMessageText(LoadingHeader(), *buffer, limit, false, path) <= 0) return std::nullopt;
    buffer->Finish();
    return buffer;
}

// A code-page-437 letter as its plain letter; any other high byte a dot.
char FoldedOrDot(uint8_t c) {
    uint8_t folded = FoldChar(c);
    return folded < 127 ? char(folded) : '.';
}

}  // namespace

std::optional<std::string> CleanTextBytes(std::string_view text, bool acceptHigh) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        uint8_t c = uint8_t(ch);
        if (c == 0) return std::nullopt;
        if (c == 0x1A) continue;
        if (c < 32) out += (c == '\n' || c == '\r' || c == '\t') ? ch : '.';
        else if (c >= 127) out += acceptHigh ? ch : FoldedOrDot(c);
        else out += ch;
    }
    return out;
}

int CleanTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::optional<std::string> clean = CleanTextBytes(text, Call().AcceptHighChars);
    if (!clean) return 0;
    return WriteFileWhole(path, *clean) ? 1 : 0;
}

std::optional<MessageBuffer> ExternalEdit(MessageBuffer buffer, int limit) {
    const CallState& c = Call();
    std::string editor = c.User.SecurityLevel == kSysopLevel ? Config().SysopEditor : Config().CallerEditor;
    editor = editor.substr(0, editor.find(' '));
    if (editor.empty() || access(editor.c_str(), X_OK) != 0) {
        PutColorText(GetText(722), true, false, 3, kColorWarning);
        return std::nullopt;
    }

    // The text lives in the line's own work directory under a name no
    // other call can have.
    std::string dir = MakeTransferDir(c.LineNumber);
    if (dir.empty()) return std::nullopt;
    std::string path = dir + "/tmp_msg.XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        WriteLog("Cannot make a message file in %s", dir);
        return std::nullopt;
    }
    std::string text;
    for (int n = 1; n <= buffer.Lines(); ++n) text += buffer.LineText(n) + "\n";
    bool written = true;
    for (size_t done = 0; written && done < text.size();) {
        ssize_t w = write(fd, text.data() + done, text.size() - done);
        written = w > 0;
        if (written) done += size_t(w);
    }
    if (close(fd) != 0) written = false;

    std::optional<MessageBuffer> result;
    FileStamp before, after;
    if (written && StampOf(path, before)) {
        bool ran = RunExternal(0, 0, 1, editor + " " + TransferWord(path) + " *Z*&") != 0;
        { MessageBuffer gone = std::move(buffer); }  // the file holds the text now
        if (ran && StampOf(path, after)) {
            if (after == before) {
                PutColorText(GetText(702), true, false, 0, kColorTitle);
            } else {
                // Whatever the area takes, the control bytes an editor
                // program may leave (escapes that would act on every
                // reader's screen) go; the high bytes stay where the area
                // takes them.
                CleanTextFile(path);
                result = LoadTextFile(path, limit);
            }
        }
    }
    unlink(path.c_str());
    return result;
}

std::optional<MessageBuffer> UploadMessageText(int area) {
    int protocol = ChooseProtocol(kUpload);
    if (protocol < 0) return std::nullopt;
    return ReceiveMessageText(protocol, area);
}

std::optional<MessageBuffer> ReceiveMessageText(int protocol, int area) {
    if (protocol < 0 || protocol >= kProtocolCount) return std::nullopt;
    const ProtocolDef& p = Config().Protocols[size_t(protocol)];
    if (!ProtocolProgramReady(p)) return std::nullopt;
    CallState& c = Call();
    if (ChangeTransferDir(0, c.LineNumber) == 0) {
        PutColorText(GetText(503), true, false, 3, kColorWarning);
        return std::nullopt;
    }
    EmptyTransferDir();

    std::optional<MessageBuffer> result;
    std::string asked;
    bool cancelled = false;
    if (p.Batch == 0 || p.WantsFileList != 0) {
        PutColorText(GetText(399), false, false, 0, kColorPrompt);
        SetColorPair(kColorNormal);
        InputLine(true, 14, asked);
        PutLine();
        cancelled = asked.empty() || asked == kEscAnswer;
        if (!cancelled && !UploadNameIsPlain(asked)) {
            RingBell();
            PutColorText(GetText(504), true, false, 2, kColorWarning);
            cancelled = true;
        }
        if (!cancelled && p.WantsFileList != 0) WriteProtocolList(kUpload, p, {asked});
    }

    if (!cancelled) {
        size_t used = 0;
        std::vector<std::string> names;
        if (!asked.empty()) names.push_back(asked);
        std::string command = TransferCommandLine(p.ProgramPath, p.UploadArgs, names, false, used);
        c.PendingTransfer = uint16_t(protocol);
        PutColorText(GetText(505), true, false, 0, kColorTitle);
        int status = used == names.size() ? RunReceivingProgram(command) : -1;
        if (status != 0) {
            PutColorText(GetText(715), true, false, 3, kColorWarning);
        } else {
            PutColorText(GetText(507), false, false, 0, kColorPrompt);
            GetKey();
            PutLine();
            std::string received;
            for (const std::string& name : ExpandPattern("*", false, ".")) {
                if (IsProtocolFile(name, p.LogFile) || (p.WantsFileList != 0 && IsProtocolFile(name, p.ListFile)))
                    continue;
                if (!asked.empty() && name != asked) continue;
                received = name;
                break;
            }
            if (received.empty()) {
                RingBell();
                PutColorText(GetText(509), true, false, 3, kColorWarning);
            } else if (CleanTextFile(received) == 0) {
                RingBell();
                PutColorText(GetText(716), true, false, 3, kColorWarning);
            } else {
                result = LoadTextFile(received, EditorLineLimit(area));
            }
            if (!received.empty()) unlink(received.c_str());
        }
    }

    c.PendingTransfer = kNoTransfer;
    if (!p.LogFile.empty()) unlink(p.LogFile.c_str());
    if (p.WantsFileList != 0 && !p.ListFile.empty()) unlink(p.ListFile.c_str());
    ChangeTransferDir(1, 0);
    return result;
}

}  // namespace kv::caller

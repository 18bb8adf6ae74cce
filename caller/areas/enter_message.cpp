// The enter-message command.
#include "caller/areas/enter_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "caller/areas/area_access.h"
#include "caller/areas/line_editor.h"
#include "caller/areas/message_buffer.h"
#include "caller/areas/message_text_upload.h"
#include "caller/areas/save_message.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/files.h"
#include "common/record_io.h"
#include "common/runtime.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/users.h"

namespace kv::caller {
namespace {

constexpr size_t kRecipientMax = 60;    // the header's field holds 60 and a NUL
constexpr size_t kSubjectMax = 71;      // 72 bytes with the NUL
constexpr size_t kFixedRecipientMax = 35;
constexpr size_t kAttachNameMax = 50;

// Colours of the heading and the questions go out only while the call
// shows colour at all.
void Color(int16_t fg, int16_t bg) {
    if (Call().ColorOn) SetColor(fg, bg);
}

// A label in yellow, then the answer's light cyan.
void Label(int text) {
    Color(14, 0);
    PutString(GetText(text));
    Color(11, 0);
}

bool IsCancel(const std::string& answer) { return answer.empty() || answer[0] == kKeyEsc; }

bool YesTo(int text, int keysText = 76) {
    return ChoicePrompt(GetText(text), true, true, true, false, GetText(keysText)) == Call().YesKey;
}

const MsgAreaDef& Area(int area) { return Config().MsgAreas[size_t(area)]; }

std::string TrimmedAreaName(int area) {
    if (area < 0 || area >= kMsgAreaCount) return "";
    std::string name = Area(area).AreaName;
    return TrimRight(name);
}

// The area of the argument, from 1; 0 when there is none.
int AreaOfArgument(const std::string& argument) {
    if (MatchPrefix("/M", argument, 2)) return Call().User.MsgArea + 1;
    long n = std::strtol(argument.c_str(), nullptr, 10);
    if (n > 0 && n <= INT_MAX) return int(n);
    return ChooseMessageArea(kAreaWrite, true, true, false);
}

// Everything the questions gather about the message being entered.
struct Draft {
    int area = 0;                       // 0-99
    const MsgHeader* source = nullptr;  // replied to or forwarded
    bool forward = false;
    std::string recipient, subject;
    bool recipientFixed = false;
    bool isPrivate = false, quote = false, upload = false, attach = false;
    int killAfterSend = 0, sendNow = 0;
    std::string attachPath;
    int64_t attachSize = 0;
    bool Reply() const { return source != nullptr && !forward; }
};

bool ToEverybody(const Draft& d) { return d.recipient == GetText(169); }

void Refuse(int text, int seconds) { PutColorText(GetText(text), true, false, seconds, kColorWarning); }

// The option that does not change privacy here, and the toggle where the
// area leaves it to the writer.
void TogglePrivacy(Draft& d) {
    if (Area(d.area).PostingMode != 2) {
        PutColorText(GetText(181), true, false, 2, kColorNormal);
        return;
    }
    PutColorText(GetText(d.isPrivate ? 179 : 180), true, false, 0, kColorNormal);
    d.isPrivate = !d.isPrivate;
}

// The caller changes the heading before writing.  False when the message
// is abandoned (the last key of the choice).
bool OptionLoop(Draft& d) {
    for (;;) {
        // Asked again each turn: a new recipient may make privacy a choice.
        bool askPrivacy = Area(d.area).PostingMode == 2 && !ToEverybody(d);
        int promptText = askPrivacy ? (d.recipientFixed ? 679 : 172) : (d.recipientFixed ? 677 : 174);
        int keysText = askPrivacy ? (d.recipientFixed ? 678 : 173) : (d.recipientFixed ? 676 : 175);
        std::string keys = GetText(keysText);
        UpperCase(keys);
        if (keys.empty()) return true;
        int key = ChoicePrompt(GetText(promptText), true, false, true, true, keys);
        int pos = int(keys.find(char(key)));
        SetColorPair(kColorNormal);
        switch (pos) {
        case 0:
            PutLine(GetText(176));
            break;
        case 1: {
            PutLine(GetText(177));
            Label(168);
            std::string subject = d.subject, overflow;
            InputLineWrap(false, overflow, int(kSubjectMax), subject);
            PutLine();
            if (!subject.empty()) d.subject = subject;
            break;
        }
        case 2:
            if (d.recipientFixed) {
                TogglePrivacy(d);
                break;
            }
            PutLine(GetText(178));
            {
                std::string recipient;
                AskRecipient(recipient, d.area);
                if (!recipient.empty()) d.recipient = recipient;
            }
            break;
        case 3:
            if (d.recipientFixed) {
                PutColorText(GetText(181), true, false, 2, kColorNormal);
            } else {
                TogglePrivacy(d);
            }
            break;
        case 4:
            PutColorText(GetText(181), true, false, 2, kColorNormal);
            break;
        default:
            break;
        }
        if (pos == int(keys.size()) - 1) return false;
        if (pos == 0) return true;
    }
}

// The file to attach, asked until one is found; false when the caller
// gives none.
bool AskAttachment(Draft& d) {
    for (;;) {
        PutString(GetText(371));
        std::string name;
        InputLine(true, int(kAttachNameMax), name);
        PutLine();
        if (IsCancel(name)) return false;
        if (name[0] == '/' || name[0] == '.') {
            Refuse(736, 0);
            continue;
        }
        switch (CheckAttachment(Config().WorkDir, name, d.attachPath, d.attachSize)) {
        case AttachCheck::kOk:
            return true;
        case AttachCheck::kNotFound:
            PutColorText(FormatText(406, name), true, false, 0, kColorWarning);
            RingBell();
            break;
        case AttachCheck::kOutside:
        case AttachCheck::kTooLong:
            Refuse(736, 0);
            break;
        }
    }
}

// The questions of a message that leaves the board.
void MailQuestions(Draft& d) {
    const ConfigRecord& cfg = Config();
    int32_t level = Call().User.SecurityLevel;
    d.killAfterSend = cfg.KillAfterSend == 2 ? (YesTo(730, 35) ? 1 : 0) : cfg.KillAfterSend;
    if (cfg.SendNowLevel > level)
        d.sendNow = 0;
    else if (cfg.AlwaysSendLevel <= level)
        d.sendNow = 1;
    else
        d.sendNow = YesTo(731) ? 1 : 0;
    if (!d.upload && cfg.AttachLevel <= level && !cfg.WorkDir.empty() && YesTo(732) && AskAttachment(d)) {
        d.attach = true;
        d.subject = d.attachPath;
    }
}

// The recipient of a new message or a forward, or of a reply.
void TakeRecipient(Draft& d, const std::string& argument) {
    if (d.Reply()) {
        d.recipient = d.source->FromName;
        Label(167);
        PutLine(d.recipient);
        // A mailer takes an address that begins with '-' for one of its
        // options: such a sender is never answered as it stands.
        if (Area(d.area).AreaType == kAreaUucp && d.recipient.starts_with('-')) {
            Refuse(577, 0);
            AskRecipient(d.recipient, d.area);
        }
        return;
    }
    if (ParseRecipientOption(argument, d.recipient) > 0) {
        d.recipientFixed = true;
        CapitalizeName(d.recipient);
        const std::string& sysop = Config().SysopName;
        if (d.recipient == "Sysop" && !sysop.empty()) d.recipient = sysop;
        return;
    }
    AskRecipient(d.recipient, d.area);
}

// False when the caller gave no subject.
bool TakeSubject(Draft& d) {
    Label(168);
    if (d.source != nullptr) {
        d.subject = d.forward ? d.source->Subject : ReplySubject(d.source->Subject);
        PutLine(d.subject);
        return true;
    }
    InputLine(true, int(kSubjectMax) - 1, d.subject);
    PutLine();
    return !IsCancel(d.subject);
}

void ChoosePrivacy(Draft& d) {
    int mode = Area(d.area).PostingMode;
    if (mode == 2)
        d.isPrivate = !ToEverybody(d) && YesTo(170);
    else
        d.isPrivate = mode == 0;
}

// The text of the message, or none when the caller gave none.
std::optional<MessageBuffer> TakeText(const Draft& d) {
    if (d.attach)
        return MessageBuffer::FromText(
            FormatChecked("%s (%ld bytes)\r\n", d.attachPath, static_cast<long>(d.attachSize)));
    if (d.upload) return UploadMessageText(d.area);
    return MessageEditor(d.area, d.quote || d.forward ? d.source : nullptr, d.forward);
}

// Tells the server that message number waits to leave as Internet mail.
void RequestMail(const Draft& d, int32_t number, int32_t headerOffset) {
    const UserRecord& u = Call().User;
    ServerCommand request;
    request.Code = d.sendNow == 1 ? CMD_MAIL_NOW : CMD_MAIL_QUEUE;
    request.Name = u.Name;
    request.Alias = u.Alias;
    request.MessageNumber = number;
    request.HeaderOffset = headerOffset;
    SendMailRequest(request);
}

// Steps from the recipient to the store; the number, or 0.
int32_t WriteMessage(Draft& d, const std::string& argument) {
    TakeRecipient(d, argument);
    if (d.recipient.empty()) return 0;
    if (!TakeSubject(d)) return 0;
    ChoosePrivacy(d);
    if (YesTo(171) && !OptionLoop(d)) return 0;
    if (d.Reply()) d.quote = YesTo(182);
    if (!d.forward && !d.quote && Config().OfferTextUpload) d.upload = YesTo(714);
    uint8_t type = Area(d.area).AreaType;
    bool leaves = type == kAreaNetmail || type == kAreaUucp;
    if (leaves) MailQuestions(d);

    std::optional<MessageBuffer> text = TakeText(d);
    if (!text) return 0;
    OutgoingMessage m;
    m.Recipient = d.recipient;
    m.Subject = d.subject;
    m.Area = d.area;
    m.Private = d.isPrivate;
    m.Source = d.source;
    m.Forward = d.forward;
    m.KillAfterSend = d.killAfterSend;
    m.SendNow = d.sendNow;
    m.Attach = d.attach ? 1 : 0;
    int32_t headerOffset = 0;
    int32_t number = SaveMessage(*text, m, headerOffset);
    if (number <= 0) {
        LogText(183);
        Refuse(184, 2);
        return 0;
    }
    if (type == kAreaUucp) RequestMail(d, number, headerOffset);
    Call().User.MessagesPosted++;
    return number;
}

}  // namespace

bool IsMailAddress(std::string_view text) {
    // A leading '-' would reach the mailer as one of its options.
    if (text.empty() || text[0] == '@' || text[0] == '!' || text[0] == '-') return false;
    if (text.find_first_of("@!") == std::string_view::npos) return false;
    for (char c : text) {
        bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && std::strchr("@!%.+-_=", c) == nullptr) return false;
    }
    return true;
}

std::string ReplySubject(std::string_view sourceSubject) {
    std::string_view s = sourceSubject;
    // A subject answered before keeps one prefix, however it was spaced.
    if (s.substr(0, 3) == "RE:") s = SkipBlanks(s.substr(3));
    return FormatChecked("RE: %.65s", std::string(s));
}

AttachCheck CheckAttachment(const std::string& workDir, const std::string& name, std::string& path,
                            int64_t& size) {
    path.clear();
    size = 0;
    char root[PATH_MAX], file[PATH_MAX];
    std::string joined = workDir + "/" + name;
    if (realpath(workDir.c_str(), root) == nullptr || realpath(joined.c_str(), file) == nullptr)
        return AttachCheck::kNotFound;
    // Resolved, so that neither ".." nor a link leads out of the directory.
    std::string inside = std::string(root) + (std::strcmp(root, "/") == 0 ? "" : "/");
    if (std::strncmp(file, inside.c_str(), inside.size()) != 0) return AttachCheck::kOutside;
    struct stat st;
    if (stat(file, &st) != 0 || !S_ISREG(st.st_mode)) return AttachCheck::kNotFound;
    // The subject carries the path to the mail sender: a cut path would
    // name another file, or none.
    if (std::strlen(file) > kSubjectMax) return AttachCheck::kTooLong;
    path = file;
    size = FileSize(path);
    return AttachCheck::kOk;
}

bool SendMailRequest(const ServerCommand& request) {
    // A pipe nobody reads is the same as no server: nothing is sent.
    CommandPipe pipe = OpenCommandPipe(Config().DataDir);
    if (pipe.state == PipeOpen::kMissing) {
        LogText(733);
        return false;
    }
    if (pipe.state == PipeOpen::kNotAPipe)
        WriteLog("Mail request for message #%d not sent: %s is not a pipe", request.MessageNumber, pipe.path);
    if (pipe.fd < 0) return false;
    int fd = pipe.fd;
    auto bytes = EncodeRecord(request);
    ssize_t n = write(fd, bytes.data(), bytes.size());
    int err = errno;
    close(fd);
    if (n != ssize_t(bytes.size())) {
        WriteLog("Mail request for message #%d not sent: %s", request.MessageNumber,
                 n < 0 ? std::strerror(err) : "short write");
        return false;
    }
    return true;
}

void ShowPostingHeader(int area, const MsgHeader* source, int forward) {
    std::string line = GetText(forward ? 188 : source != nullptr ? 189 : 190);
    int described = forward && source != nullptr ? source->MsgArea : area;
    if (described >= 0 && described < kMsgAreaCount) {
        static const char* const kKinds[] = {"LOCAL ", "ECHOMAIL ", "NETMAIL ", "UUCP "};
        uint8_t type = Area(described).AreaType;
        if (type < 4) line += kKinds[type];
    }
    line += FormatText(191, TrimmedAreaName(described));
    if (Call().User.Options & USER_CLEAR_SCREEN)
        EraseScreen();
    else
        PutLine();
    Color(15, 0);
    PutLine(line);
    Color(14, 0);
    PutString(GetText(192));
    Color(11, 0);
    PutLine(Call().User.Name);
}

int ParseRecipientOption(std::string_view argument, std::string& out) {
    size_t at = argument.find("/T=");
    if (at == std::string_view::npos) return 0;
    std::string_view rest = argument.substr(at + 3);
    rest = rest.substr(0, std::min(rest.find(' '), kFixedRecipientMax));
    out.assign(rest);
    for (char& c : out)
        if (c == '_') c = ' ';
    if (!out.empty()) {
        Label(167);
        PutLine(out);
    }
    return int(out.size());
}

void AskRecipient(std::string& out, int area) {
    const MsgAreaDef& a = Area(area);
    for (;;) {
        out.clear();
        if (a.AreaType == kAreaUucp) {
            Label(569);
            InputLine(true, int(kRecipientMax), out);
            PutLine();
            if (IsCancel(out)) break;
            if (IsMailAddress(out)) return;
            Refuse(577, 0);
            continue;
        }
        Label(167);
        InputName(int(kRecipientMax), out);
        PutLine();
        if (IsCancel(out)) break;
        CapitalizeName(out);
        if (out == GetText(169)) {
            if (a.PostingMode != 0 && a.AreaType != kAreaNetmail) return;
            Refuse(196, 3);
            continue;
        }
        if (out == GetText(193)) {
            if (a.AreaType != kAreaLocal) {
                if (DisplayFile(1, GetText(653)) == -1) Refuse(671, 3);
                continue;
            }
            if (!Config().SysopName.empty()) {
                out = Config().SysopName;
                CapitalizeName(out);
            }
        }
        if (a.AreaType == kAreaLocal && a.AskAlias == 0) {
            PutColorText(GetText(194), false, false, 0, kColorTitle);
            if (!UserExists(out, kByName)) {
                Refuse(195, 0);
                continue;
            }
            PutLine();
        }
        return;
    }
    out.clear();
}

int EnterMessage(const std::string& argument, const MsgHeader* source, int forward) {
    int area = AreaOfArgument(argument);
    if (area == 0) return 0;
    if (!CanUseMessageArea(area - 1, kAreaWrite) && !CanUseMessageArea(area - 1, kAreaSysop)) {
        Refuse(187, 2);
        return 0;
    }
    --area;
    if (Area(area).PostingMode == 3 && !CanUseMessageArea(area, kAreaSysop)) {
        Refuse(186, 2);
        return 0;
    }

    // The answered or forwarded header is shown, quoted and copied from
    // here on: mail stored before the gateway blanked control bytes may
    // still hold escape sequences.
    MsgHeader shown;
    if (source != nullptr) {
        shown = *source;
        BlankHeaderControlBytes(shown);
        source = &shown;
    }

    CallState& c = Call();
    c.AcceptHighChars = Area(area).AcceptHighAscii != 0 && c.AnsiOn;
    SetLineStatus(c.LineNumber, kLineWriting, 1);
    bool logOffAfter = argument.find("/L") != std::string::npos;
    ShowPostingHeader(area, source, forward);

    Draft d;
    d.area = area;
    d.source = source;
    d.forward = forward != 0 && source != nullptr;
    int32_t number = WriteMessage(d, argument);

    SetLineStatus(c.LineNumber, kLineWriting, 0);
    c.AcceptHighChars = false;
    if (logOffAfter) {
        LogText(185);
        DisplayFile(1, GetText(643));
        RestoreTtyMode();
        TerminateCall(kLogOffNormal, 51);
    }
    return number;
}

}  // namespace kv::caller

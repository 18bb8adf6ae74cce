#include "caller/areas/save_message.h"

#include <optional>

#include "caller/areas/line_editor.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"

namespace kv::caller {

namespace {

constexpr int kAliasMax = 20;

// The area's alias question.  Returns the alias to sign with, or "" for
// the caller's own name.  An alias that is another user's name, or
// "Sysop", would let the message pass for theirs: it is refused.
std::string AskAlias() {
    SetColorPair(kColorPrompt);
    PutString(GetText(711));
    SetColorPair(kColorNormal);
    std::string alias;
    InputLine(true, kAliasMax, alias);
    PutLine();
    if (!alias.empty() && alias[0] == kKeyEsc) alias.clear();
    if (alias.empty()) return alias;
    CapitalizeName(alias);
    if (alias == "Sysop" || UserExists(alias, kByName)) {
        PutColorText(GetText(712), true, false, 3, kColorWarning);
        SetColorPair(kColorNormal);
        return {};
    }
    return alias;
}

}  // namespace

int32_t SaveMessage(const MessageBuffer& text, const OutgoingMessage& m, int32_t& headerOffset) {
    if (m.Area < 0 || m.Area >= kMsgAreaCount) return 0;
    const MsgAreaDef& area = Config().MsgAreas[size_t(m.Area)];

    MsgHeader header;
    if (area.AskAlias != 0 && !m.Forward && !m.AsSysop && m.Attach != 1) header.FromName = AskAlias();

    std::optional<int32_t> replyTo;
    if (m.Source != nullptr) replyTo = m.Source->MsgNumber;
    BuildMessageHeader(header, m.Recipient, m.Subject, 0, 0, m.Area, m.Private, replyTo, m.Forward, m.AsSysop,
                       Call().CallerName);
    if (m.KillAfterSend == 1) header.MailFlags |= MAIL_KILL_SENT;
    if (m.SendNow == 1) header.MailFlags |= MAIL_SEND_NOW;
    if (m.Attach == 1) header.MailFlags |= MAIL_FILE_ATTACHED;

    // One append under the base lock: a failed step takes the earlier ones
    // back, so a half-stored message never meets a reader.
    MsgText body = TextFromBuffer(kKivoVersion, text.Text());
    if (!AppendMessage(body, header, headerOffset)) return 0;

    std::string areaName = area.AreaName;
    TrimRight(areaName);
    LogText(m.AsSysop ? 241 : 242, header.MsgNumber, areaName);
    return header.MsgNumber;
}

}  // namespace kv::caller

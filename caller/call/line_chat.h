// Who is on the other lines, and chat between two lines.
//
// A caller lists the callers of the other lines (menu command 52) and asks
// one of them, on lines 0 to 9, for a chat or sends a one-line message
// (menu command 54).  The two kivo processes meet through:
//   "line<N>.ask" in DataDir   the request, named after the CALLED line:
//                              "%d|%ld|%d|%d|%d|%c|%s|" (requester's line,
//                              user number, 0, monitored 1/0, screen
//                              length, 'O' message or 'C' chat, the message
//                              with "|" made "!" or "...");
//   "line<N>.rsp" in DataDir   the answer, named after the REQUESTING line:
//                              "%d|%d|%d|%d|%d|" (answering line, 0,
//                              monitored 1/0, the smaller screen length,
//                              accepted 1/0);
//   SIGUSR2                    tells the called line a request waits; its
//                              handler only records it and OnChatRequest
//                              runs at that line's next key wait;
//   the semaphore set 3870     two values used as shared integers, 0 the
//                              requester's and 1 the answerer's: 1 while
//                              that side is in the chat, 0 when it left,
//                              4/5/6 when its call ended by hang-up,
//                              interrupt or time-out;
//   the terminals              each side writes what its caller types
//                              straight to the partner's terminal device,
//                              in the form that terminal wants (UTF-8 or
//                              the PC bytes), read from the locale the
//                              partner's program started with.
// Both files are written under a temporary name and renamed into place, so
// a reader never meets half a line.  One semaphore set serves every line,
// so while one chat runs a second chat request is refused as busy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::caller {

constexpr int kChatSemaphoreKey = 3870;
enum ChatEnd { CHAT_ENDED = 0, CHAT_READY = 1, CHAT_HANGUP = 4, CHAT_INTERRUPT = 5, CHAT_TIMEOUT = 6 };
enum ChatSide { kChatRequester = 0, kChatAnswerer = 1 };

// Menu command 52: the callers of the other lines, with their devices,
// what they are doing and whether they may be disturbed.
void WhoIsOnline();

// The device (below "/dev/") of line n in "bbsline.ctl": 1, or 0 when the
// file has no such line.
int LineDeviceName(int line, std::string& name);

// Menu command 54: a chat request or a one-line message to another line.
void RequestChat();

// A request of another line, run at the key wait after its SIGUSR2: shows
// it and, for a chat, asks the caller and chats.  It does not run inside
// itself, nor while this line's own request or chat runs (a chat request
// that comes then is declined).
void OnChatRequest();

// The request file of targetLine; message empty: a chat request.  1 or 0.
int WriteChatRequest(int targetLine, const std::string& message);
// The answer file of requesterLine; 1 or 0.
int WriteChatAnswer(int requesterLine, bool accepted, int screenLength);
// Deletes a stale answer file of this line.
void RemoveOwnAnswer();

// Waits for the answer of targetLine, asking the caller from the 15th
// second on whether to wait longer.
struct ChatAnswer {
    bool Accepted = false;
    bool PartnerMonitored = false;
};
ChatAnswer WaitChatAnswer(int targetLine);

// Readiness of both sides, then LineChat.  side: ChatSide.
void ChatSession(int side, int semaphores, const std::string& device, const std::string& name);
// The chat loop: this caller's keys, word-wrapped at 75 columns, go to the
// partner's terminal until either side leaves, the sysop ends it with
// SIGUSR1 or the partner's call ends.
void LineChat(int semaphores, int side, const std::string& device, const std::string& name);
// The sysop's file send inside a chat ("!" at the start of a line): a text
// file of TextDir typed to both screens.
void SendFileToChat(int partnerFd);
// Writes text to this caller's screen and to the partner's terminal.
void WriteBoth(int fd, std::string_view text);

// At log-off during a line chat: both semaphores say why this side left
// (reason: LogOffReason).  Nothing when no set exists.
void TellChatPartner(int reason);

}  // namespace kv::caller

// The reader loop and its commands.
#include "caller/areas/reader.h"

#include <functional>

#include "caller/areas/area_access.h"
#include "caller/areas/author_edit.h"
#include "caller/areas/enter_message.h"
#include "caller/areas/header_editor.h"
#include "caller/areas/message_delete.h"
#include "caller/areas/message_display.h"
#include "caller/areas/message_print.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/caller_record.h"
#include "caller/term/limits.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/msgbase.h"
#include "common/runtime.h"

namespace kv::caller {

namespace {


constexpr int kPassOver = -2;

// Whether two copies of a header are of one message.  The number alone
// does not tell: a renumbering gives it to another message.
bool SameMessage(const MsgHeader& a, const MsgHeader& b) {
    return a.MsgNumber == b.MsgNumber && a.WrittenAt == b.WrittenAt && a.FromName == b.FromName &&
           a.Subject == b.Subject;
}

void PauseSeconds(int seconds) { PutColorText("", false, false, seconds, kColorNormal); }

// Changes the header at index as the file holds it now, under the base
// lock, so that what another line or kvpost wrote meanwhile stays; header
// gets the result.  A header that cannot be read or written is logged with
// text 380 and left as it was.
bool ChangeHeader(int32_t index, MsgHeader& header, const std::function<void(MsgHeader&)>& change) {
    MsgBaseLock lock;
    MsgHeader fresh;
    // Another message at the place (the base packed meanwhile) is not the
    // one to change.
    if (!lock || !ReadMessageHeader(fresh, index) || !SameMessage(fresh, header)) {
        LogText(380, index, int(header.MsgArea));
        return false;
    }
    change(fresh);
    if (!WriteMessageHeader(fresh, index)) {
        LogText(380, index, int(header.MsgArea));
        return false;
    }
    header = fresh;
    return true;
}

// One run of ReadMessages: where it stands and how it goes on.
class Reading {
public:
    Reading(const MessageList* list, int area, int direction, bool prompted)
        : list_(list), area_(area), direction_(direction), prompted_(prompted), keys_(GetText(324)) {}

    // Position of reader key place p, or 0 when text 324 is short.
    int Key(size_t p) const { return p < keys_.size() ? static_cast<unsigned char>(keys_[p]) : -1; }
    size_t Place(int key) const {
        size_t p = keys_.find(char(key));
        return key > 0 ? p : std::string::npos;
    }

    // With a list: the first entry the caller may see, from entry `from`
    // (0-based) on in the reading direction; false when none is left.  A
    // list made earlier may hold messages deleted since, or given to the
    // list by a scan that had other rules; those never show.
    bool SeekVisibleEntry(int32_t from, int dir) {
        for (int32_t i = from; i >= 0 && i < list_->count(); i += dir == kForward ? 1 : -1) {
            if (MessageVisible(list_->positions[size_t(i)])) {
                entry_ = i;
                current_ = list_->positions[size_t(i)];
                return true;
            }
        }
        return false;
    }

    // The next message in a direction from the current one.
    bool Step(int dir) {
        if (list_) return SeekVisibleEntry(entry_ + (dir == kForward ? 1 : -1), dir);
        int32_t next = dir == kForward ? FindNextMessage(area_, header_.MsgNumber, false)
                                       : FindPrevMessage(area_, header_.MsgNumber, current_, false);
        if (next < 0) return false;
        current_ = next;
        return true;
    }

    // The message shown is passed over: the next one in the reading
    // direction from it.
    bool PassOver() {
        if (list_) return SeekVisibleEntry(entry_ + (direction_ == kForward ? 1 : -1), direction_);
        return Step(direction_);
    }

    // Whether the place still holds the message shown and the caller may
    // still see it, read afresh into header_.  A place read again (after a
    // pause, at "again", before a reply quotes it) may hold another message
    // by then: a delete, or a base packed and renumbered, moves them.
    bool StillShown() {
        MsgHeader fresh;
        if (!ReadMessageHeader(fresh, current_) || !SameMessage(fresh, header_) || !MessageVisible(fresh))
            return false;
        header_ = fresh;
        return true;
    }

    // After a delete: the list's entry at the same place (the marked list
    // lost the deleted one, another list still holds it and skips it), or
    // the next message from the deleted number.
    bool StepAfterDelete() {
        if (list_) return SeekVisibleEntry(direction_ == kForward ? entry_ : entry_ - 1, direction_);
        return Step(direction_);
    }

    void Run(int32_t start);

private:
    // No message left: text 382, then a key in non-stop reading, a pause
    // in prompted reading.
    void EndOfMessages() {
        SetColorPair(kColorNormal);
        PutLine(GetText(382));
        if (prompted_) {
            PauseSeconds(2);
            return;
        }
        SetColorPair(kColorPrompt);
        PutString(GetText(104));
        GetKey();
        PutLine();
    }

    int ShowMessage(bool& stop);
    void CountReading(int key);
    // Runs the command of a key; false when no current message is left.
    bool RunCommand(int key);
    bool Delete();

    const MessageList* list_;
    int area_;
    int direction_;
    bool prompted_;
    std::string keys_;
    std::string allowed_;
    MsgHeader header_;
    int32_t current_ = -1;
    int32_t entry_ = 0;
    bool showControl_ = false;
    DisplayState display_;
};

// Header and body, and in prompted reading the command; again while the
// caller asks to see it again.  The key that ended it, -1 when the text
// cannot be read, kPassOver when the message is no longer there to show.
int Reading::ShowMessage(bool& stop) {
    int key = 0;
    bool again = false;
    do {
        if (again && !StillShown()) return kPassOver;
        again = true;
        key = ShowMessageHeader(header_, allowed_, display_, true, keys_);
        if (key == Key(kReaderControlLines)) {
            showControl_ = !showControl_;
            key = 0;
        }
        if (key == 0 && display_.pageMode != kPageSkip) {
            int body = ShowMessageText(header_, allowed_, display_, showControl_, keys_);
            if (body == -1) {
                LogText(379, current_, int(header_.MsgArea));
                stop = true;
                return -1;
            }
            key = body;
        }
        if (key == Key(kReaderStop))
            stop = true;
        else if (key == Key(kReaderControlLines))
            showControl_ = !showControl_;
        if (prompted_ && !stop) {
            display_.pageMode = kPagePrompted;
            if (key == 0) {
                key = ReaderPrompt(header_, header_.MsgArea, allowed_, display_, list_, keys_);
                if (key == Key(kReaderStop))
                    stop = true;
                else if (key == Key(kReaderControlLines))
                    showControl_ = !showControl_;
            }
        }
    } while (prompted_ && !stop && (key == Key(kReaderAgain) || key == Key(kReaderControlLines)));
    return key;
}

// The showing counts: times read, received, the last-read numbers.
void Reading::CountReading(int key) {
    size_t place = Place(key);
    bool count = !(prompted_ && (place == kReaderPrintSave || place == kReaderEditHeader || place == kReaderEditAuthor ||
                                 place == kReaderForwardCopy));
    const std::string me = Call().User.Name;
    ChangeHeader(current_, header_, [&](MsgHeader& h) {
        if (count) ++h.TimesRead;
        // A message deleted meanwhile keeps "Deleted" as its recipient.
        if (!(h.Status & MSG_RECEIVED) && !(h.Status & MSG_DELETED) && h.ToName == me) {
            h.Status |= MSG_RECEIVED;
            WriteRecipientEntry(current_, kRecipientReceived);
        }
    });

    int area = header_.MsgArea;
    if (area >= 0 && area < kMsgAreaCount && header_.MsgNumber > 0) {
        uint32_t& last = CallerLastRead().LastRead[size_t(area)];
        if (last < uint32_t(header_.MsgNumber)) {
            last = uint32_t(header_.MsgNumber);
            if (Call().HighestRead < header_.MsgNumber) Call().HighestRead = header_.MsgNumber;
        }
    }
}

bool Reading::Delete() {
    if (!DeleteMessage(header_, current_)) {
        LogText(381, header_.MsgNumber, MessageAreaName(header_.MsgArea));
        return true;
    }
    return StepAfterDelete();
}

bool Reading::RunCommand(int key) {
    const int area = header_.MsgArea;
    switch (Place(key)) {
        case kReaderNext:
            return Step(direction_);
        case kReaderOpposite:
            return Step(direction_ == kForward ? kBackward : kForward);
        case kReaderReply: {
            // The reply quotes the text the header names now.
            if (!StillShown()) return PassOver();
            int32_t number = EnterMessage(std::to_string(area + 1), &header_, 0);
            if (number > 0 && header_.LatestReply == 0)
                ChangeHeader(current_, header_, [&](MsgHeader& h) {
                    if (h.LatestReply == 0) h.LatestReply = number;
                });
            return true;
        }
        case kReaderEnter:
            EnterMessage(std::to_string(area + 1), nullptr, 0);
            return true;
        case kReaderDelete:
            return Delete();
        case kReaderPrintSave:
            if (!StillShown()) return PassOver();
            PrintOrSaveMessage(header_);
            return true;
        case kReaderNotReceived:
            if (header_.Status & MSG_RECEIVED)
                ChangeHeader(current_, header_, [&](MsgHeader& h) {
                    if (!(h.Status & MSG_RECEIVED)) return;
                    if (!(h.Status & MSG_DELETED)) WriteRecipientEntry(current_, h.ToName);
                    h.Status &= uint8_t(~MSG_RECEIVED);
                });
            return Step(direction_);
        case kReaderEditHeader: {
            if (!StillShown()) return PassOver();
            MsgHeader edited = header_;
            if (!EditMessageHeader(edited, current_)) return true;
            // The deleted bit is the delete's to set, with everything a
            // delete changes besides; a deleted message stays deleted.
            if (header_.Status & MSG_DELETED) {
                edited.Status |= MSG_DELETED;
            } else if (edited.Status & MSG_DELETED) {
                edited.Status &= uint8_t(~MSG_DELETED);
                header_ = edited;
                return Delete();
            }
            // The sysop's edit is the change: it is written as made.  A new
            // recipient who has not read it yet finds it at the mail check.
            ChangeHeader(current_, header_, [&](MsgHeader& h) {
                if (edited.ToName != h.ToName && !(edited.Status & (MSG_RECEIVED | MSG_DELETED)))
                    WriteRecipientEntry(current_, edited.ToName);
                h = edited;
            });
            return true;
        }
        case kReaderEditAuthor:
            if (!StillShown()) return PassOver();
            EditAuthorRecord(header_);
            return true;
        case kReaderForwardCopy:
            if (!StillShown()) return PassOver();
            if (int to = ChooseMessageArea(kAreaSysop, false, true, false); to > 0)
                EnterMessage(std::to_string(to), &header_, 1);
            return true;
        case kReaderFollowReply:
        case kReaderRepliedTo: {
            bool follow = Place(key) == kReaderFollowReply;
            int32_t found = FindLinkedMessage(follow ? header_.LatestReply : header_.ReplyTo, current_,
                                              follow ? '+' : '-');
            if (found >= 0) {
                current_ = found;
                // A list reading never offers these keys; its place stays.
            } else if (found == kNotFound) {
                ChangeHeader(current_, header_, [&](MsgHeader& h) {
                    if (follow)
                        h.LatestReply = 0;
                    else
                        h.ReplyTo = 0;
                });
            }
            return true;
        }
        default:  // the pause key and anything else: shown again
            return true;
    }
}

void Reading::Run(int32_t start) {
    display_.pageMode = prompted_ ? kPagePrompted : (Call().User.Options & USER_PAGE_BREAK) ? kPageStops : kPageNoStops;
    bool have = true;
    if (list_)
        have = SeekVisibleEntry(0, kForward);
    else
        current_ = start;
    bool stop = false;
    int32_t shown = -1;  // the place of the message shown last
    while (have && !stop) {
        MsgHeader fresh;
        if (!ReadMessageHeader(fresh, current_)) {
            LogText(383, current_);
            return;
        }
        // The place shown last, read again, must still hold that message;
        // and no message shows that the caller may not see.
        bool moved = current_ == shown && !SameMessage(fresh, header_);
        if (!moved) header_ = fresh;
        shown = current_;
        int key = moved || !MessageVisible(fresh) ? kPassOver : 0;
        if (key == 0) {
            allowed_ = BuildReaderKeys(prompted_, header_, list_);
            key = ShowMessage(stop);
        }
        if (key == -1) return;
        if (key == kPassOver) {
            shown = -1;
            have = PassOver();
            if (!have) EndOfMessages();
            continue;
        }
        CountReading(key);

        if (!prompted_ || stop) {
            if (stop) return;
            have = Step(direction_);
        } else {
            showControl_ = false;
            display_.pageMode = kPagePrompted;
            have = RunCommand(key);
        }
        if (!have) EndOfMessages();
        if (have && !CheckTimeLeft()) return;
    }
}

}  // namespace

bool AskContinuous() {
    int answer = ChoicePrompt(GetText(292), true, false, true, false, GetText(35));
    bool prompted = answer == Call().YesKey;
    SetColorPair(kColorPrompt);
    PutLine(GetText(prompted ? 293 : 294));
    PutLine();
    return prompted;
}

std::string BuildReaderKeys(bool prompted, const MsgHeader& h, const MessageList* list) {
    if (!prompted) return GetText(200);
    const std::string& me = Call().User.Name;
    bool sysop = CanUseMessageArea(h.MsgArea, kAreaSysop);
    std::string keys = GetText(297);
    if (sysop) keys += kSysopReaderKeys;
    if (CanUseMessageArea(h.MsgArea, kAreaWrite)) keys += GetText(298);
    if (sysop || (Config().UsersMayDelete && (me == h.ToName || me == h.FromName))) keys += GetText(299);
    if (!list) {
        keys += GetText(300);
        if (h.ReplyTo != 0) keys += '-';
        if (h.LatestReply != 0) keys += '+';
    } else if (list->count() > 1) {
        keys += GetText(300);
    }
    return keys;
}

int32_t FindLinkedMessage(int32_t number, int32_t current, char key) {
    int32_t found = key == '+' ? FindNextMessage(kAnyArea, number, true)
                               : FindPrevMessage(kAnyArea, number, current, true);
    if (found >= 0) return found;
    if (found == kNotVisible)
        PutColorText(GetText(295), true, false, 2, kColorWarning);
    else if (found == kNotFound)
        PutColorText(GetText(296), true, false, 2, kColorWarning);
    else
        PauseSeconds(2);
    return found;
}

void ReadMessages(const MessageList* list, int area, int32_t start, int direction, bool prompted) {
    Reading reading(list, area, direction, prompted);
    reading.Run(start);
}

}  // namespace kv::caller

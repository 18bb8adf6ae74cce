#include "caller/term/limits.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

// Minutes of the day of an "HH:MM" text.
int MinuteOfDay(const std::string& hhmm) {
    int h = 0, m = 0;
    if (std::sscanf(hhmm.c_str(), "%d:%d", &h, &m) < 1) return 0;
    return h * 60 + m;
}

void WarnTimeLeft(int text) {
    SetColorPair(kColorWarning);
    PutLine(GetText(text));
    SetColorPair(kColorNormal);
}

}  // namespace

int16_t FitInt16(int32_t value) {
    return int16_t(std::clamp<int32_t>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

int32_t DownloadLimitFor(const LevelLimits& limits, long bps) {
    switch (bps == 0 ? 300 : bps) {
        case 300: return limits.DownloadKb[0];
        case 1200: return limits.DownloadKb[1];
        case 2400: return limits.DownloadKb[2];
        case 4800: return limits.DownloadKb[3];
        default: return limits.DownloadKb[4];
    }
}

int LoadLimits(int32_t level, long bps) {
    std::vector<LevelLimits> lines;
    if (!ReadLimitsFile(false, lines)) return 0;
    LevelLimits found;
    for (const LevelLimits& l : lines) {
        if (l.Level == level) {
            found = l;
            break;
        }
    }
    CallState& c = Call();
    c.CallMinutes = FitInt16(found.Minutes);
    c.FileRatio = found.FileRatio;
    c.ByteRatio = found.ByteRatio;
    c.DownloadLimitKB = FitInt16(DownloadLimitFor(found, bps));
    return 1;
}

int ClosingTimeMinutes(int onMinute, int closeMinute, int minutes) {
    // A closing time before the log-on is tomorrow's.
    if (onMinute > closeMinute) closeMinute += 1440;
    if (onMinute + minutes >= closeMinute) minutes -= (onMinute + minutes - closeMinute) + 5;
    return minutes;
}

void ClosingTimeCut() {
    const TimeWindow& open = Config().OpenHours;
    if (open.Start == "00:00" && open.End == "24:00") return;
    CallState& c = Call();
    std::tm on{};
    localtime_r(&c.LogonTime, &on);
    int cut = ClosingTimeMinutes(on.tm_hour * 60 + on.tm_min, MinuteOfDay(open.End), c.CallMinutes);
    if (cut == c.CallMinutes) return;
    c.CallMinutes = int16_t(cut);
    if (DisplayFile(1, GetText(659)) != -1) return;
    SetColorPair(kColorWarning);
    PutLine(GetText(697));
    RingBell();
    PutLine(GetText(698));
    SetColorPair(kColorPrompt);
    PutString(GetText(454));
    SetColorPair(kColorNormal);
    GetKey();
    PutLine();
}

bool CheckTimeLeft() {
    CallState& c = Call();
    int32_t used = SecondsSince(c.LogonTime);
    int32_t left = int32_t(c.CallMinutes) * 60 - used;
    if (!c.Warned2Min && left < 121) {
        WarnTimeLeft(21);
        c.Warned2Min = true;
    }
    if (!c.Warned1Min && c.Warned2Min && left < 61) {
        WarnTimeLeft(22);
        c.Warned1Min = true;
    }
    return used / 60 < c.CallMinutes;
}

}  // namespace kv::caller

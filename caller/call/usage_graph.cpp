#include "caller/call/usage_graph.h"

#include <algorithm>
#include <cctype>

#include "caller/call/startup.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"
#include "common/strings.h"

namespace kv::caller {
namespace {

// The characters of the graph: code page 437 with colour, ASCII without.
struct GraphChars {
    uint8_t bar, axis, line, corner, tick, tick4;
};
constexpr GraphChars kBoxChars = {219, 179, 196, 192, 193, 208};
constexpr GraphChars kPlainChars = {'*', '|', '-', '+', '^', '^'};

// The row that carries the middle label and the half-way line.
constexpr int kMiddleRow = 9;
// The largest line number an argument may name.
constexpr int kHighestGraphLine = 9;

// Each within the plain form's 44-column rules; the boxed form shows the
// first five.
constexpr const char* kCredits[] = {
    "Kivo, a multi-line bulletin board for Linux",
    "Caller program, server, mail gate and tools",
    "written by the Kivo developers",
    "Thanks to every sysop and caller",
    "Free software: share it and change it",
    "Have a good call!",
};

void Repeat(uint8_t c, int n) {
    for (int i = 0; i < n; ++i) PutChar(c);
}

// A line number the argument names, or -1 for this call's own record.
int ArgumentLine(const std::string& argument) {
    if (argument.empty() || !std::all_of(argument.begin(), argument.end(), [](char ch) {
            return std::isdigit(uint8_t(ch)) != 0;
        }))
        return -1;
    int n = argument.size() > 2 ? kHighestGraphLine + 1 : std::stoi(argument);
    return n <= kHighestGraphLine ? n : -1;
}

void WaitKey(int indent) {
    SetColorPair(kColorPrompt);
    RepeatChar(' ', indent, false);
    PutString(GetText(104));
    GetKey();
    PutLine();
}

}  // namespace

void ClearGraph(UsageGraph& grid) {
    for (auto& row : grid) row.fill(0);
}

void FillGraphColumn(UsageGraph& grid, int hour, int rows) {
    if (hour < 0 || hour >= kGraphHours) return;
    rows = std::clamp(rows, 0, kGraphRows);
    for (int r = 0; r < rows; ++r) grid[size_t(r)][size_t(hour)] = 1;
}

int BusiestHour(uint32_t& count, const TimeLogRecord& record) {
    int best = -1;
    count = 0;
    for (int h = 0; h < kGraphHours; ++h) {
        if (record.Hours[size_t(h)] > count) {
            count = record.Hours[size_t(h)];
            best = h;
        }
    }
    return best;
}

void ScaleGraph(UsageGraph& grid, const TimeLogRecord& record, int busiestHour, uint32_t busiest) {
    ClearGraph(grid);
    if (busiestHour < 0 || busiest == 0) return;
    FillGraphColumn(grid, busiestHour, kGraphRows);
    for (int h = 0; h < kGraphHours; ++h) {
        if (h == busiestHour || record.Hours[size_t(h)] == 0) continue;
        // In 64 bits: the counters come from a file a door may have written.
        uint64_t rows = uint64_t(record.Hours[size_t(h)]) * kGraphRows / busiest;
        FillGraphColumn(grid, h, int(std::min<uint64_t>(rows, kGraphRows)));
    }
}

// A mark of the scale in the four columns before the axis: a log busier
// than they can show stands at 9999, not pushing its row past the screen.
std::string ScaleLabel(double value) {
    std::string label = FormatChecked("%-4.1f", value);
    return label.size() <= 4 ? label : FormatChecked("%-4.0f", std::min(value, 9999.0));
}

void DrawUsageGraph(const UsageGraph& grid, const TimeLogRecord& record, int line, uint32_t busiest) {
    const CallState& c = Call();
    const GraphChars& g = c.ColorOn ? kBoxChars : kPlainChars;
    if (c.User.Options & USER_CLEAR_SCREEN) EraseScreen();
    RepeatChar(' ', 4, false);
    if (c.ColorOn) SetColor(14, 1);
    // The date comes from the file: a torn or edited one sends no control byte.
    std::string since = record.Date;
    PutLine(FormatText(106, BlankControlBytes(since, ""), DateString(), line));
    ResetAttributes();

    SetNonBlocking(true);
    bool stopped = false;
    for (int row = kGraphRows - 1; row >= 0 && !stopped; --row) {
        SetColorPair(kColorNormal);
        if (row == kGraphRows - 1)
            PutString(ScaleLabel(double(busiest / 60) / 100));
        else if (row == kMiddleRow)
            PutString(ScaleLabel(double(busiest / 120) / 100));
        else
            RepeatChar(' ', 4, false);
        PutChar(g.axis);
        SetColorPair(kColorWarning);
        bool middle = row == kMiddleRow;
        Repeat(middle ? g.line : ' ', 2);
        for (int h = 0; h < kGraphHours && !stopped; ++h) {
            if (grid[size_t(row)][size_t(h)]) {
                PutChar(g.bar);
                Repeat(middle ? g.line : ' ', middle && h == kGraphHours - 1 ? 1 : 2);
            } else {
                Repeat(middle ? g.line : ' ', 3);
            }
            int index = 0;
            if (HotKeyPressed(index, 2, "SP")) {
                if (index == 0) {
                    stopped = true;
                } else {
                    SetNonBlocking(false);
                    GetKey();
                    SetNonBlocking(true);
                }
            }
        }
        ResetAttributes();
        PutLine();
    }
    SetNonBlocking(false);
    SetColorPair(kColorNormal);
    if (!stopped) {
        RepeatChar(' ', 4, false);
        PutChar(g.corner);
        Repeat(g.line, 2);
        for (int pos = 0; pos < 71; ++pos) {
            if (pos % 3 != 0)
                PutChar(g.line);
            else
                PutChar(pos / 3 % 4 == 0 ? g.tick4 : g.tick);
        }
        PutLine();
        SetColorPair(kColorKeys);
        PutLine(GetText(107));
    }
    ResetAttributes();
}

void ShowUsageGraph(const std::string& argument) {
    const CallState& c = Call();
    int line = ArgumentLine(argument);
    TimeLogRecord record = c.TimeLogLoaded;
    if (line >= 0) {
        // A line that never had a call gets its time log made here.
        if (!ReadTimeLog(line, record)) record = TimeLogRecord{};
    } else {
        line = c.LineNumber;
    }
    UsageGraph grid;
    ClearGraph(grid);
    uint32_t busiest = 0;
    int hour = BusiestHour(busiest, record);
    if (hour < 0) {
        SetColorPair(kColorWarning);
        PutLine(GetText(105));
        WaitKey(0);
        SetColorPair(kColorNormal);
        return;
    }
    ScaleGraph(grid, record, hour, busiest);
    DrawUsageGraph(grid, record, line, busiest);
    WaitKey(3);
    SetColorPair(kColorNormal);
}

void ShowCredits() {
    const CallState& c = Call();
    const ConfigRecord& cfg = Config();
    bool clear = (c.User.Options & USER_CLEAR_SCREEN) != 0;
    if (clear) EraseScreen();
    std::string banner = ProgramBanner();
    banner = banner.substr(0, banner.find('<'));
    if (c.AnsiOn && clear) {
        const ColorPair& frame = cfg.Colors[kColorHighlight];
        DrawBox(1, 1, 78, 16, c.ColorOn ? frame.Foreground : 7, c.ColorOn ? frame.Background : 0, 1);
        MoveCursor(38 - int(banner.size()) / 2, 3);
        SetColorPair(kColorWarning);
        PutString(banner);
        for (int i = 0; i < 5; ++i) {
            MoveCursor(16, 7 + i);
            if (c.ColorOn)
                SetColorPair(kColorTitle);
            else
                ResetAttributes();
            PutString(kCredits[i]);
        }
        MoveCursor(16, 14);
        SetColorPair(kColorPrompt);
        PutString(GetText(104));
        GetKey();
        EraseScreen();
        ResetAttributes();
        return;
    }
    PutLine();
    RepeatChar(' ', 18, false);
    SetColorPair(kColorHighlight);
    RepeatChar('-', 44, true);
    SetColorPair(kColorWarning);
    RepeatChar(' ', 19, false);
    PutLine(banner);
    PutLine();
    SetColorPair(kColorTitle);
    for (const char* credit : kCredits) {
        RepeatChar(' ', 19, false);
        PutLine(credit);
    }
    RepeatChar(' ', 18, false);
    SetColorPair(kColorHighlight);
    RepeatChar('-', 44, true);
    PutLine();
    WaitKey(19);
}

}  // namespace kv::caller

// Calls to the sample board as a caller makes them: a real kvhubd, kivo on
// a pseudo-terminal whose line is entered in "bbsline.ctl", keys in, texts
// expected in the order they come, the board's files read afterwards.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/dates.h"
#include "common/menu_record.h"
#include "common/runtime.h"
#include "common/user_record.h"
#include "tests/support/board.h"
#include "tests/support/pty_session.h"
#include "tests/support/server_process.h"

namespace kv::test {

// One caller: keys go out, and Expect waits for a text in what the program
// wrote after the previous text expected, so a prompt asked again is told
// from its first time.
class Caller {
public:
    explicit Caller(const PtyOptions& o) : s_(o) {}
    PtySession& session() { return s_; }
    bool Expect(const std::string& text, int timeoutMs = 8000) {
        // By the clock: a pump returns as soon as some output came, and a
        // screen drawn byte by byte comes in many small pieces.  A loaded
        // machine gets longer, as every wait of the tests does.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
        for (;;) {
            size_t at = s_.Output().find(text, pos_);
            if (at != std::string::npos) {
                pos_ = at + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline || !s_.Pump(20)) {
                at = s_.Output().find(text, pos_);
                if (at == std::string::npos) return false;
                pos_ = at + text.size();
                return true;
            }
        }
    }
    // Expect for a text that the program writes in several colours: the
    // escape sequences between its characters are skipped.  The screen is
    // no place to look for it: what comes next may clear it first.
    bool ExpectShown(const std::string& text, int timeoutMs = 8000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
        for (;;) {
            bool open = std::chrono::steady_clock::now() < deadline && s_.Pump(20);
            if (FindShown(text)) return true;
            if (!open) return false;
        }
    }
    // Expects a prompt, then answers it.
    bool Answer(const std::string& prompt, const std::string& keys) {
        if (!Expect(prompt)) return false;
        s_.Send(keys);
        return true;
    }
    void Send(const std::string& keys) { s_.Send(keys); }
    int Wait(int timeoutMs = 10000) { return s_.Wait(timeoutMs); }

    // The log-in dialogue: the name, its confirmation, then the password.
    void GiveName(const std::string& typed) {
        ASSERT_TRUE(Answer("Your full name: ", typed + "\r")) << Rest();
        ASSERT_TRUE(Answer("Is this right?", "y")) << Rest();
    }
    void LogInAs(const std::string& typed, const std::string& password) {
        GiveName(typed);
        ASSERT_TRUE(Answer("Password: ", password + "\r")) << Rest();
    }
    // At the sample board's top menu, logs off (its "G" line).
    bool LogOffAtMenu() { return Answer("Your choice: ", "g"); }
    std::string Rest() const { return s_.Output().substr(pos_); }

private:
    // Looks for text after pos_ with ESC [ ... sequences left out; moves
    // pos_ past it when found.
    bool FindShown(const std::string& text) {
        const std::string& out = s_.Output();
        std::string plain;
        std::vector<size_t> at;  // where each byte of plain stands in out
        for (size_t i = pos_; i < out.size(); ++i) {
            if (out[i] == '\033' && i + 1 < out.size() && out[i + 1] == '[') {
                for (i += 2; i < out.size() && !(out[i] >= '@' && out[i] <= '~'); ++i) {
                }
                continue;
            }
            plain += out[i];
            at.push_back(i);
        }
        size_t found = plain.find(text);
        if (found == std::string::npos || text.empty()) return found != std::string::npos;
        pos_ = at[found + text.size() - 1] + 1;
        return true;
    }

    PtySession s_;
    size_t pos_ = 0;
};

// A board with its server and any number of calls to it.  Public, so that
// a table of cases can set the board up through it.
class CallerTest : public ServerTest {
public:
    void SetUp() override {
        ServerTest::SetUp();
        board_ = std::make_unique<TempBoard>();
        // The mail check at log-on ends with a two-second pause for a
        // caller without mail; calls that test something else would all
        // wait it out.  A test of the check itself turns it on again.
        board_->Set("MailCheckAtLogon", "0");
        StartOnOneDay();
    }
    TempBoard& board() { return *board_; }

    // Tests compare the dates a call writes with Today(), and set a
    // record's last call to today before the call: a test that ran over
    // midnight would meet two days.  One that would start just before
    // midnight starts just after it instead (once a day, at most a minute
    // or two of waiting).
    static void StartOnOneDay() {
        std::tm t = LocalNow();
        int toMidnight = 24 * 3600 - (t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
        if (toMidnight * 1000 < ScaledTimeout(15000))
            std::this_thread::sleep_for(std::chrono::seconds(toMidnight + 1));
    }

    // The server, once the test has set the board up.
    void StartBoard() { ASSERT_GT(StartServer(*board_), 0) << last_.err; }

    // A new call on a line of its own (line numbers in dialling order),
    // kivo started with options and extra environment entries; with utf8
    // the line's locale and terminal speak UTF-8.
    std::unique_ptr<Caller> Dial(const std::vector<std::string>& options = {},
                                 const std::vector<std::string>& env = {}, bool utf8 = false) {
        PtyOptions o;
        o.utf8 = utf8;
        o.argv = {ProgramPath("kivo")};
        o.argv.insert(o.argv.end(), options.begin(), options.end());
        o.dir = board_->root();
        o.env = env;
        o.beforeStart = [this](const std::string& device) {
            // A line whose call has ended frees its terminal, and the
            // system may hand the same one out again: the old entry goes
            // out of the way, so this call still gets the next line.
            for (auto& d : devices_)
                if (d == device) d = "gone/" + std::to_string(&d - devices_.data());
            devices_.push_back(device);
            std::string lines = "# device,speed,delay\n";
            for (const auto& d : devices_) lines += d + ",0,0\n";
            // Renamed into place: a call already starting must never read
            // the file half written.
            std::filesystem::path file = board_->DataDir() / "bbsline.ctl";
            board_->WriteFile(file.string() + ".new", lines);
            std::filesystem::rename(file.string() + ".new", file);
        };
        o.speed = lineSpeed;
        return std::make_unique<Caller>(o);
    }

    // A top menu of the test's own: the prompt, then a line per entry
    // (command, hot key, argument), each line's text its key and argument.
    struct MenuLine {
        uint8_t command;
        char key;
        std::string argument;
    };
    void WriteTopMenu(const std::string& prompt, const std::vector<MenuLine>& lines) {
        MenuRecord head;
        head.Command = 10;
        head.Text = prompt;
        head.LineForeground = 14;
        std::vector<MenuRecord> records = {head};
        for (const auto& l : lines) {
            EXPECT_LT(l.argument.size(), kMenuArgumentWidth) << l.argument;
            MenuRecord r;
            r.Command = l.command;
            r.HotKey = uint8_t(l.key);
            r.Text = std::string(1, l.key) + " - " + l.argument.substr(0, 60);
            r.Argument = l.argument;
            r.LineForeground = 7;
            records.push_back(r);
        }
        std::vector<uint8_t> bytes = EncodeMenuFile(records);
        board_->WriteFile(board_->config().MenuDir + "/top.mnu", std::string(bytes.begin(), bytes.end()));
    }

    // The board's clock, for the calls dialled with ClockEnv(): a file the
    // programs read at every look at the time.
    std::filesystem::path ClockFile() const { return board_->root() / "clock"; }
    std::vector<std::string> ClockEnv() const { return {"KV_TEST_CLOCK_FILE=" + ClockFile().string()}; }
    // Renamed into place: a program never reads it half written.
    void SetClock(time_t t) {
        board_->WriteFile(ClockFile().string() + ".new", std::to_string(t));
        std::filesystem::rename(ClockFile().string() + ".new", ClockFile());
    }
    // Seconds since the epoch of a local time.
    static time_t LocalTime(int year, int month, int day, int hour, int minute) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_isdst = -1;
        return std::mktime(&t);
    }

    // Every line log of the board, in line order.
    std::string CallerLog() const {
        std::string all;
        for (size_t line = 0; line < std::max<size_t>(devices_.size(), 1); ++line)
            all += board_->ReadFile(board_->DataDir() / ("kivo" + std::to_string(line) + ".log"));
        return all;
    }

    std::string UsersFile() const { return board_->ReadFile(board_->DataDir() / "users.bbs"); }
    size_t UserCount() const { return UsersFile().size() / kUserRecordSize; }
    UserRecord User(size_t n) const {
        std::string bytes = UsersFile();
        EXPECT_GE(bytes.size(), (n + 1) * kUserRecordSize) << "no user record " << n;
        if (bytes.size() < (n + 1) * kUserRecordSize) return {};
        return DecodeUserRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + n * kUserRecordSize);
    }
    void PutUser(size_t n, const UserRecord& u) {
        std::string bytes = UsersFile();
        UserBytes rec = EncodeUserRecord(u);
        bytes.replace(n * kUserRecordSize, kUserRecordSize, reinterpret_cast<const char*>(rec.data()), rec.size());
        board_->WriteFile(board_->DataDir() / "users.bbs", bytes);
    }
    size_t LastReadSize() const {
        return std::filesystem::file_size(board_->MsgBaseDir() / "lastread.bbs");
    }
    // Today as the board writes dates.
    std::string Today() const {
        std::tm t = LocalNow();
        return FormatDate(t, board_->config().DateOrder);
    }

    std::unique_ptr<TempBoard> board_;
    std::vector<std::string> devices_;
    speed_t lineSpeed = B38400;  // of the lines dialled from now on
};

}  // namespace kv::test

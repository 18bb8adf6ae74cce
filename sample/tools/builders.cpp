#include "sample/tools/builders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "common/cp437.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/whole_file.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

struct StepEntry {
    int order;
    const char* name;
    BoardStep step;
};

std::vector<StepEntry>& Steps() {
    static std::vector<StepEntry> steps;
    return steps;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return parts;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

}  // namespace

bool CopyTree(const fs::path& from, const fs::path& to, const BoardContext& b) {
    if (!fs::exists(from)) return true;
    std::error_code ec;
    fs::create_directories(to, ec);
    for (const auto& e : fs::directory_iterator(from)) {
        fs::path target = to / e.path().filename();
        if (e.is_directory()) {
            if (!CopyTree(e.path(), target, b)) return false;
            continue;
        }
        // Text sources may name the board's own directories.
        std::ifstream in(e.path(), std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        body = Substitute(body, b);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << body;
        if (!out) {
            std::cerr << "kvsample: cannot write " << target << "\n";
            return false;
        }
        // A program of the board's (a door, the mailer) is the user's and
        // group's to run and change, as its other files are theirs alone.
        if ((fs::status(e.path()).permissions() & fs::perms::owner_exec) != fs::perms::none)
            fs::permissions(target, fs::perms::owner_all | fs::perms::group_all);
    }
    return true;
}

namespace {

bool StepConfig(BoardContext& b) {
    if (!ApplyConfigSource(b.config, b.src / "board.conf", b)) return false;
    if (b.sysop != nullptr) b.config.SysopName = b.sysop->name;
    const ConfigRecord& c = b.config;
    for (const std::string* d : {&c.DataDir, &c.MenuDir, &c.TextDir, &c.MsgBaseDir, &c.MailDir, &c.WorkDir,
                                 &c.NewsDir, &c.NewsSpool}) {
        if (d->empty()) continue;
        std::error_code ec;
        fs::create_directories(*d, ec);
        if (ec) {
            std::cerr << "kvsample: cannot make " << *d << ": " << ec.message() << "\n";
            return false;
        }
    }
    fs::create_directories(fs::path(c.DataDir) / "bin");
    return WriteConfigRecord((b.out / "kvconfig.bbs").string(), c);
}

bool StepTexts(BoardContext& b) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(b.src / "texts"))
        if (e.path().extension() == ".tsv") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return WriteMessageFiles(files, fs::path(b.config.DataDir) / "bin");
}

bool StepFiles(BoardContext& b) {
    if (!CopyTree(b.src / "data", b.config.DataDir, b)) return false;
    if (!CopyTree(b.src / "display", b.config.TextDir, b)) return false;
    if (!b.tty.empty()) {
        // The console the board is run from becomes line 0.
        fs::path lines = fs::path(b.config.DataDir) / "bbsline.ctl";
        std::ifstream in(lines);
        std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::ofstream out(lines, std::ios::trunc);
        out << b.tty << ",0,0\n" << rest;
    }
    return true;
}

BoardStepRegistrar config_step(10, "configuration", StepConfig);
BoardStepRegistrar texts_step(20, "texts", StepTexts);
BoardStepRegistrar files_step(30, "control and display files", StepFiles);

}  // namespace

void RegisterBoardStep(int order, const char* name, BoardStep step) { Steps().push_back({order, name, step}); }

bool ReadConfigRecord(const std::string& path, ConfigRecord& c) {
    // The file is rewritten from what is read here, perhaps by root in a
    // directory of the board's user: a link put in its place is refused,
    // or the file it points to would end up in the board.
    std::string why;
    int fd = OpenNoFollow(path, O_RDONLY, FileKindWanted::kRegular, &why);
    ConfigBytes slot{};
    bool whole = fd >= 0 && ReadFully(fd, slot.data(), kConfigFileSize);
    if (fd >= 0) close(fd);
    if (fd < 0) {
        std::cerr << "kvsample: " << why << "\n";
        return false;
    }
    if (!whole) {
        std::cerr << "kvsample: " << path << ": not a configuration file\n";
        return false;
    }
    c = DecodeConfig(slot.data());
    return true;
}

bool WriteConfigRecord(const std::string& path, const ConfigRecord& c) {
    ConfigBytes slot{};
    EncodeConfig(c, slot.data());
    return WriteWholeFile(path, slot.data(), kConfigFileSize);
}

bool WriteWholeFile(const fs::path& path, const void* data, size_t size) {
    std::string why;
    if (!WriteFileWhole(path.string(), std::string_view(static_cast<const char*>(data), size), &why)) {
        std::cerr << "kvsample: " << why << "\n";
        return false;
    }
    return true;
}

bool SetConfigKey(ConfigRecord& c, const std::string& key, const std::string& value, const std::string& where) {
    bool tooLong = false;
    if (!ApplyKeyValue(c, key, value, &tooLong)) {
        std::cerr << "kvsample: " << where << ": no field " << key << "\n";
        return false;
    }
    if (tooLong) {
        std::cerr << "kvsample: " << where << ": value of " << key << " is too long for its field\n";
        return false;
    }
    return true;
}

bool ReadKeyValueFile(const fs::path& file, std::vector<std::pair<std::string, std::string>>& out) {
    std::ifstream in(file);
    if (!in) {
        std::cerr << "kvsample: cannot read " << file << "\n";
        return false;
    }
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            std::cerr << "kvsample: " << file.string() << ":" << n << ": no '='\n";
            return false;
        }
        // A value in double quotes keeps its blanks ("@> ").
        std::string value = Trim(t.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        out.emplace_back(Trim(t.substr(0, eq)), value);
    }
    return true;
}

std::string Substitute(std::string text, const BoardContext& b) {
    ReplaceAll(text, "@BOARD@", b.out.string());
    ReplaceAll(text, "@BIN@", b.bin.string());
    return text;
}

bool ApplyConfigSource(ConfigRecord& c, const fs::path& file, const BoardContext& b) {
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(file, kvs)) return false;
    for (auto& [k, v] : kvs) {
        v = Substitute(v, b);
        if (!SetConfigKey(c, k, v, file.string())) return false;
    }
    return true;
}

bool ReadTextTable(const std::vector<std::string>& files, std::vector<TextEntry>& out) {
    std::map<int, TextEntry> byNumber;
    for (const auto& f : files) {
        std::ifstream in(f);
        if (!in) {
            std::cerr << "kvsample: cannot read " << f << "\n";
            return false;
        }
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            ++n;
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> parts = SplitTabs(line);
            std::string where = f + ":" + std::to_string(n);
            if (parts.size() < 3) {
                std::cerr << "kvsample: " << where << ": want number, values and text separated by tabs\n";
                return false;
            }
            TextEntry e;
            e.number = std::atoi(parts[0].c_str());
            e.values = Trim(parts[1]);
            e.usa = parts[2];
            if (parts.size() > 3) e.que = parts[3];
            e.where = where;
            if (e.number < 0 || e.number > 999) {
                std::cerr << "kvsample: " << where << ": text number out of range\n";
                return false;
            }
            auto [it, fresh] = byNumber.emplace(e.number, e);
            if (!fresh) {
                std::cerr << "kvsample: " << where << ": text " << e.number << " also at " << it->second.where << "\n";
                return false;
            }
        }
    }
    out.clear();
    for (auto& [n, e] : byNumber) out.push_back(e);
    return true;
}

bool WriteMessageFiles(const std::vector<std::string>& tsvFiles, const fs::path& dir) {
    std::vector<TextEntry> table;
    if (!ReadTextTable(tsvFiles, table)) return false;
    for (const char* ext : {"usa", "que"}) {
        fs::path path = dir / (std::string("message.") + ext);
        std::ofstream out(path, std::ios::trunc);
        out << "# Message texts of the board, one per number; see sample/texts/.\n";
        int next = 0;
        for (const auto& e : table) {
            // The file numbers texts without gaps: unused numbers get an empty text.
            for (; next < e.number; ++next) out << next << " \"\"\n";
            const std::string& source = (std::string(ext) == "que" && !e.que.empty()) ? e.que : e.usa;
            // The tables are written in UTF-8; the board keeps its texts in
            // the PC character set, as it keeps everything else.
            std::string words;
            if (!Utf8ToCp437(source, words)) {
                std::cerr << "kvsample: " << e.where << ": text " << e.number
                          << " holds a character the PC character set lacks\n";
                return false;
            }
            out << e.number << " \"" << words << "\"\n";
            next = e.number + 1;
        }
        if (!out) {
            std::cerr << "kvsample: cannot write " << path << "\n";
            return false;
        }
    }
    return true;
}

bool BuildBoard(const std::string& src, const std::string& out, const std::string& tty, const std::string& bin,
                bool messages, const RealSysop* sysop) {
    BoardContext b;
    b.messages = messages;
    b.bin = bin.empty() ? fs::path() : fs::absolute(bin);
    b.src = fs::absolute(src);
    std::error_code ec;
    b.out = fs::weakly_canonical(fs::absolute(out), ec);
    RealSysop real;
    if (sysop != nullptr) {
        real = *sysop;
        std::string why;
        if (!CheckRealSysop(b, real, why)) {
            std::cerr << "kvsample: " << why << "\n";
            return false;
        }
        b.sysop = &real;
        b.messages = false;
    }
    fs::create_directories(out, ec);
    b.out = fs::canonical(out);
    b.tty = tty;
    std::vector<StepEntry> steps = Steps();
    std::stable_sort(steps.begin(), steps.end(), [](const StepEntry& a, const StepEntry& c) { return a.order < c.order; });
    for (const auto& s : steps) {
        if (!s.step(b)) {
            std::cerr << "kvsample: step '" << s.name << "' failed\n";
            return false;
        }
    }
    return true;
}

}  // namespace kv::sample

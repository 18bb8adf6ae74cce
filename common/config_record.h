// The configuration record "kvconfig.bbs".
//
// The file is one record written by an outside set-up tool; no program of
// the board writes it.  The slot that holds it (in memory and in the shared
// segment) is 50668 bytes, of which the file supplies the first 50000.
// All integers are little-endian; ranges not listed are reserved.
//
//   offset  width  field
//   0       75     BbsName                 text
//   75      41     SysopName               text
//   116     41     ShellNotice             text
//   157     41     BulletinPrompt          text
//   198     5      QuoteTemplate           text
//   203     1      UploadCredit            signed byte
//   204..213       AllowFastLogon, AllowMultiLogon, AllowRecall,
//                  RemoteSysopMenus, ShowSysop, MailCheckAtLogon,
//                  FileListStyle, TouchUploads, MailCheckAll,
//                  AllowShellEscapes       bytes
//   214     75     LineLogName             text
//   289     1      AutoMonitor
//   290     75     MonitorPath             text
//   365     1      MultiLine
//   496..507       NewUserAnsi, NewUserColor, NewUserClearScreen,
//                  NewUserPause, AskHomePhone, AskDataPhone, OneWordNames,
//                  OfferTextUpload, KillAfterSend, CheckPasswords,
//                  UsersMayDelete, NewUserHotKeys bytes
//   508     2      PasswordTries           uint16
//   510     2      MaxCallsPerDay          uint16
//   512     2      PasswordChangeCalls     uint16
//   516     2      InactivityTimeout       uint16 seconds
//   518     2      MinPasswordLength       uint16
//   520     2      WatchdogArea            int16 (from 1; 0 off)
//   554     2      PageRings               int16
//   556     2      MaxPages                uint16
//   558     2      PageSound               int16
//   560     12     PagingHours             TimeWindow (window 0)
//   572     74     SysopConsole            text
//   646     80     DataDir                 text
//   726     80     MenuDir                 text
//   806     80     TextDir                 text
//   966     80     MsgBaseDir              text
//   1046    80     MailDir                 text
//   1206    80     WorkDir                 text
//   1286    80     CallerEditor            text
//   1366    80     SysopEditor             text
//   1448    4      NewUserLevel            int32
//   1452    4      NewUserFlagGroups       byte[4]
//   1456    4      NewUserCredit           int32
//   1460    4      SendNowLevel            int32
//   1464    4      AlwaysSendLevel         int32
//   1468    4      AttachLevel             int32
//   1520    12     Colors                  ColorPair[6]
//   1564    2      MinLogonSpeed           uint16
//   1568    2      MinDownloadSpeed        uint16
//   1570    12     LowSpeedHours           TimeWindow (window 2)
//   1582    12     DownloadHours           TimeWindow (window 1)
//   1596    4      MinFreeSpace            uint32
//   1600    12     OpenHours               TimeWindow (window 3)
//   1612    1      ClosedSystem
//   1648    11960  Protocols               ProtocolDef[20]
//   13608   21600  MsgAreas                MsgAreaDef[100]
//   35208   12000  FileAreas               FileAreaDef[50]
//   47208   21     PhoneTemplate           text
//   47229   1      DateOrder
//   47358   81     MailerPath              text
//   47439   81     MailerArgs              text
//   47520   61     FromTemplate            text
//   47581   81     SharCommand             text
//   47662   81     SenderPath              text
//   47743   81     MailboxPath             text
//   47824   2      MailArea                int16 (from 0)
//   47826   1      MmdfMailbox
//   47827   274    ExtraHeader             text
//   48101   81     NewsDir                 text
//   48182   81     NewsSpool               text
//   48348   2      MaxGroups               int16
//   48362   506    NewsHeaders             NewsHeaderRule[23]
//   48888   1      ArticleColor
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/record_io.h"

namespace kv {

constexpr size_t kConfigFileSize = 50000;   // what the file supplies
constexpr size_t kConfigSlotSize = 50668;   // what every holder reserves
constexpr int kMsgAreaCount = 100;
constexpr int kFileAreaCount = 50;
constexpr int kProtocolCount = 20;
constexpr int kNewsHeaderCount = 23;

using FlagGroups = std::array<uint8_t, 4>;  // groups A-D, bit n = flag n+1

// Window numbers of InTimeWindow.
enum TimeWindowId { kPagingHours = 0, kDownloadHours = 1, kLowSpeedHours = 2, kOpenHours = 3 };

struct TimeWindow {
    static constexpr size_t kSize = 12;
    std::string Start;  // "HH:MM"
    std::string End;    // "HH:MM"; earlier than Start wraps past midnight
};
template <class IO> constexpr void Visit(IO& io, TimeWindow& w) {
    io.Field("Start", 0, 6, w.Start);
    io.Field("End", 6, 6, w.End);
}

struct ColorPair {
    static constexpr size_t kSize = 2;
    int8_t Foreground = 0;  // 0-15
    int8_t Background = 0;  // 0-7
};
template <class IO> constexpr void Visit(IO& io, ColorPair& c) {
    io.Field("Foreground", 0, 1, c.Foreground);
    io.Field("Background", 1, 1, c.Background);
}

enum AreaType : uint8_t { kAreaLocal = 0, kAreaEchomail = 1, kAreaNetmail = 2, kAreaUucp = 3 };

struct MsgAreaDef {
    static constexpr size_t kSize = 216;
    uint16_t AreaDefined = 0;     // non-zero: the area exists
    std::string AreaName;         // text[21]
    uint8_t AreaType = 0;         // LOCAL, ECHOMAIL, NETMAIL, UUCP
    uint8_t PostingMode = 0;      // 0 private, 2 ask, 3 restricted, else public
    uint8_t AskAlias = 0;         // ask whether to sign with the alias
    int16_t KeepDays = 0;         // days to keep messages
    int16_t KeepReceivedDays = 0; // days to keep messages read by their recipient
    int32_t MaxMessages = 0;      // most messages kept; 0: age rule
    uint16_t LineLimit = 0;       // line editor limit; 0 means 999
    uint8_t AcceptHighAscii = 0;  // bytes above 127 accepted in input
    std::string AreaSignature;    // text[76]
    int32_t ReadLevel = 0;
    int32_t WriteLevel = 0;
    int32_t AreaSysopLevel = 0;
    FlagGroups ReadFlags{};
    FlagGroups WriteFlags{};
    FlagGroups AreaSysopFlags{};
};
template <class IO> constexpr void Visit(IO& io, MsgAreaDef& a) {
    io.Field("AreaDefined", 0, 2, a.AreaDefined);
    io.Field("AreaName", 2, 21, a.AreaName);
    io.Field("AreaType", 23, 1, a.AreaType);
    io.Field("PostingMode", 24, 1, a.PostingMode);
    io.Field("AskAlias", 25, 1, a.AskAlias);
    io.Field("KeepDays", 26, 2, a.KeepDays);
    io.Field("KeepReceivedDays", 28, 2, a.KeepReceivedDays);
    io.Field("MaxMessages", 32, 4, a.MaxMessages);
    io.Field("LineLimit", 36, 2, a.LineLimit);
    io.Field("AcceptHighAscii", 38, 1, a.AcceptHighAscii);
    io.Field("AreaSignature", 52, 76, a.AreaSignature);
    io.Field("ReadLevel", 128, 4, a.ReadLevel);
    io.Field("WriteLevel", 132, 4, a.WriteLevel);
    io.Field("AreaSysopLevel", 136, 4, a.AreaSysopLevel);
    io.Field("ReadFlags", 140, 4, a.ReadFlags);
    io.Field("WriteFlags", 144, 4, a.WriteFlags);
    io.Field("AreaSysopFlags", 148, 4, a.AreaSysopFlags);
}

struct FileAreaDef {
    static constexpr size_t kSize = 240;
    uint16_t AreaDefined = 0;
    std::string AreaName;         // text[21]
    std::string AreaDir;          // text[81]
    std::string ListingPath;      // text[81]; empty: "files.bbs" in AreaDir
    int32_t ListLevel = 0;
    int32_t DownloadLevel = 0;
    FlagGroups ListFlags{};
    FlagGroups DownloadFlags{};
    uint8_t UploadNameCase = 0;   // 0 names as received, 1 upper case, else lower
    uint8_t OpenArea = 0;         // always granted, no ratio accounting
};
template <class IO> constexpr void Visit(IO& io, FileAreaDef& a) {
    io.Field("AreaDefined", 0, 2, a.AreaDefined);
    io.Field("AreaName", 2, 21, a.AreaName);
    io.Field("AreaDir", 23, 81, a.AreaDir);
    io.Field("ListingPath", 104, 81, a.ListingPath);
    io.Field("ListLevel", 188, 4, a.ListLevel);
    io.Field("DownloadLevel", 192, 4, a.DownloadLevel);
    io.Field("ListFlags", 196, 4, a.ListFlags);
    io.Field("DownloadFlags", 200, 4, a.DownloadFlags);
    io.Field("UploadNameCase", 204, 1, a.UploadNameCase);
    io.Field("OpenArea", 205, 1, a.OpenArea);
}

struct ProtocolDef {
    static constexpr size_t kSize = 598;
    uint16_t ProtocolDefined = 0;
    std::string ProtocolName;      // text[21]
    std::string ProgramPath;       // text[81]
    uint8_t KeyLetter = 0;         // key in the protocol menu
    uint8_t WantsFileList = 0;
    uint8_t Batch = 0;
    std::string LogFile;           // text[80]
    std::string ListFile;          // text[75]
    std::string DownloadArgs;      // text[75]
    std::string UploadArgs;        // text[75]
    std::string UploadListLine;    // text[75], "%F"
    std::string DownloadListLine;  // text[75], "%F"
    std::string DownloadKeyword;   // text[16]
    std::string UploadKeyword;     // text[16]
    int16_t DownloadNameOffset = 0;
    int16_t UploadNameOffset = 0;
};
template <class IO> constexpr void Visit(IO& io, ProtocolDef& p) {
    io.Field("ProtocolDefined", 0, 2, p.ProtocolDefined);
    io.Field("ProtocolName", 2, 21, p.ProtocolName);
    io.Field("ProgramPath", 23, 81, p.ProgramPath);
    io.Field("KeyLetter", 104, 1, p.KeyLetter);
    io.Field("WantsFileList", 105, 1, p.WantsFileList);
    io.Field("Batch", 106, 1, p.Batch);
    io.Field("LogFile", 107, 80, p.LogFile);
    io.Field("ListFile", 187, 75, p.ListFile);
    io.Field("DownloadArgs", 262, 75, p.DownloadArgs);
    io.Field("UploadArgs", 337, 75, p.UploadArgs);
    io.Field("UploadListLine", 412, 75, p.UploadListLine);
    io.Field("DownloadListLine", 487, 75, p.DownloadListLine);
    io.Field("DownloadKeyword", 562, 16, p.DownloadKeyword);
    io.Field("UploadKeyword", 578, 16, p.UploadKeyword);
    io.Field("DownloadNameOffset", 594, 2, p.DownloadNameOffset);
    io.Field("UploadNameOffset", 596, 2, p.UploadNameOffset);
}

struct NewsHeaderRule {
    static constexpr size_t kSize = 22;
    std::string HeaderName;   // text[20]
    uint8_t HeaderColor = 0;  // low nibble foreground, high nibble background
    uint8_t HeaderShown = 0;  // non-zero: the header line is shown
};
template <class IO> constexpr void Visit(IO& io, NewsHeaderRule& r) {
    io.Field("HeaderName", 0, 20, r.HeaderName);
    io.Field("HeaderColor", 20, 1, r.HeaderColor);
    io.Field("HeaderShown", 21, 1, r.HeaderShown);
}

struct ConfigRecord {
    static constexpr size_t kSize = kConfigFileSize;

    std::string BbsName;            // text[75]
    std::string SysopName;          // text[41]
    std::string ShellNotice;        // text[41]
    std::string BulletinPrompt;     // text[41]
    std::string QuoteTemplate;      // text[5]; '@' becomes the initials
    int8_t UploadCredit = 0;        // >0 upload time back, >1 extra credit
    uint8_t AllowFastLogon = 0;
    uint8_t AllowMultiLogon = 0;
    uint8_t AllowRecall = 0;
    uint8_t RemoteSysopMenus = 0;
    uint8_t ShowSysop = 0;
    uint8_t MailCheckAtLogon = 0;
    uint8_t FileListStyle = 0;
    uint8_t TouchUploads = 0;
    uint8_t MailCheckAll = 0;
    uint8_t AllowShellEscapes = 0;
    std::string LineLogName;        // text[75], in DataDir
    uint8_t AutoMonitor = 0;
    std::string MonitorPath;        // text[75]
    uint8_t MultiLine = 0;
    uint8_t NewUserAnsi = 0;        // 0 no, 1 yes, 2 ask
    uint8_t NewUserColor = 0;
    uint8_t NewUserClearScreen = 0;
    uint8_t NewUserPause = 0;
    uint8_t AskHomePhone = 0;
    uint8_t AskDataPhone = 0;
    uint8_t OneWordNames = 0;
    uint8_t OfferTextUpload = 0;
    uint8_t KillAfterSend = 0;      // 0 never, 1 always, 2 ask
    uint8_t CheckPasswords = 0;
    uint8_t UsersMayDelete = 0;
    uint8_t NewUserHotKeys = 0;
    uint16_t PasswordTries = 0;
    uint16_t MaxCallsPerDay = 0;
    uint16_t PasswordChangeCalls = 0;
    uint16_t InactivityTimeout = 0; // seconds
    uint16_t MinPasswordLength = 0;
    int16_t WatchdogArea = 0;       // from 1; 0 off
    int16_t PageRings = 0;
    uint16_t MaxPages = 0;          // 0 no limit
    int16_t PageSound = 0;
    TimeWindow PagingHours;
    std::string SysopConsole;       // text[74], under "/dev/"
    std::string DataDir;            // text[80]
    std::string MenuDir;
    std::string TextDir;
    std::string MsgBaseDir;
    std::string MailDir;
    std::string WorkDir;
    std::string CallerEditor;
    std::string SysopEditor;
    int32_t NewUserLevel = 0;
    FlagGroups NewUserFlagGroups{};
    int32_t NewUserCredit = 0;
    int32_t SendNowLevel = 0;
    int32_t AlwaysSendLevel = 0;
    int32_t AttachLevel = 0;
    std::array<ColorPair, 6> Colors{};  // normal, warning, keys, titles, highlights, prompts
    uint16_t MinLogonSpeed = 0;     // 0, 1, 2 = 300, 1200, 2400 bps
    uint16_t MinDownloadSpeed = 0;
    TimeWindow LowSpeedHours;
    TimeWindow DownloadHours;
    uint32_t MinFreeSpace = 0;
    TimeWindow OpenHours;
    uint8_t ClosedSystem = 0;
    std::array<ProtocolDef, kProtocolCount> Protocols{};
    std::array<MsgAreaDef, kMsgAreaCount> MsgAreas{};
    std::array<FileAreaDef, kFileAreaCount> FileAreas{};
    std::string PhoneTemplate;      // text[21], '9' a digit
    uint8_t DateOrder = 0;          // 0 y/m/d, 1 m/d/y, 2 and 3 d/m/y
    std::string MailerPath;         // text[81]
    std::string MailerArgs;         // text[81]: %A %F %T
    std::string FromTemplate;       // text[61]: %A %F
    std::string SharCommand;        // text[81]: %f
    std::string SenderPath;         // text[81]
    std::string MailboxPath;        // text[81]
    int16_t MailArea = 0;           // from 0
    uint8_t MmdfMailbox = 0;
    std::string ExtraHeader;        // text[274]
    std::string NewsDir;            // text[81]
    std::string NewsSpool;          // text[81]
    int16_t MaxGroups = 0;
    std::array<NewsHeaderRule, kNewsHeaderCount> NewsHeaders{};
    uint8_t ArticleColor = 0;
};

template <class IO, class R, size_t N>
constexpr void VisitArray(IO& io, const char* name, size_t off, std::array<R, N>& arr) {
    for (size_t i = 0; i < N; ++i) {
        io.Enter(name, int(i), off + i * R::kSize);
        Visit(io, arr[i]);
        io.Leave();
    }
}

template <class IO, class R>
constexpr void VisitSub(IO& io, const char* name, size_t off, R& r) {
    io.Enter(name, -1, off);
    Visit(io, r);
    io.Leave();
}

template <class IO> constexpr void Visit(IO& io, ConfigRecord& c) {
    io.Field("BbsName", 0, 75, c.BbsName);
    io.Field("SysopName", 75, 41, c.SysopName);
    io.Field("ShellNotice", 116, 41, c.ShellNotice);
    io.Field("BulletinPrompt", 157, 41, c.BulletinPrompt);
    io.Field("QuoteTemplate", 198, 5, c.QuoteTemplate);
    io.Field("UploadCredit", 203, 1, c.UploadCredit);
    io.Field("AllowFastLogon", 204, 1, c.AllowFastLogon);
    io.Field("AllowMultiLogon", 205, 1, c.AllowMultiLogon);
    io.Field("AllowRecall", 206, 1, c.AllowRecall);
    io.Field("RemoteSysopMenus", 207, 1, c.RemoteSysopMenus);
    io.Field("ShowSysop", 208, 1, c.ShowSysop);
    io.Field("MailCheckAtLogon", 209, 1, c.MailCheckAtLogon);
    io.Field("FileListStyle", 210, 1, c.FileListStyle);
    io.Field("TouchUploads", 211, 1, c.TouchUploads);
    io.Field("MailCheckAll", 212, 1, c.MailCheckAll);
    io.Field("AllowShellEscapes", 213, 1, c.AllowShellEscapes);
    io.Field("LineLogName", 214, 75, c.LineLogName);
    io.Field("AutoMonitor", 289, 1, c.AutoMonitor);
    io.Field("MonitorPath", 290, 75, c.MonitorPath);
    io.Field("MultiLine", 365, 1, c.MultiLine);
    io.Field("NewUserAnsi", 496, 1, c.NewUserAnsi);
    io.Field("NewUserColor", 497, 1, c.NewUserColor);
    io.Field("NewUserClearScreen", 498, 1, c.NewUserClearScreen);
    io.Field("NewUserPause", 499, 1, c.NewUserPause);
    io.Field("AskHomePhone", 500, 1, c.AskHomePhone);
    io.Field("AskDataPhone", 501, 1, c.AskDataPhone);
    io.Field("OneWordNames", 502, 1, c.OneWordNames);
    io.Field("OfferTextUpload", 503, 1, c.OfferTextUpload);
    io.Field("KillAfterSend", 504, 1, c.KillAfterSend);
    io.Field("CheckPasswords", 505, 1, c.CheckPasswords);
    io.Field("UsersMayDelete", 506, 1, c.UsersMayDelete);
    io.Field("NewUserHotKeys", 507, 1, c.NewUserHotKeys);
    io.Field("PasswordTries", 508, 2, c.PasswordTries);
    io.Field("MaxCallsPerDay", 510, 2, c.MaxCallsPerDay);
    io.Field("PasswordChangeCalls", 512, 2, c.PasswordChangeCalls);
    io.Field("InactivityTimeout", 516, 2, c.InactivityTimeout);
    io.Field("MinPasswordLength", 518, 2, c.MinPasswordLength);
    io.Field("WatchdogArea", 520, 2, c.WatchdogArea);
    io.Field("PageRings", 554, 2, c.PageRings);
    io.Field("MaxPages", 556, 2, c.MaxPages);
    io.Field("PageSound", 558, 2, c.PageSound);
    VisitSub(io, "PagingHours", 560, c.PagingHours);
    io.Field("SysopConsole", 572, 74, c.SysopConsole);
    io.Field("DataDir", 646, 80, c.DataDir);
    io.Field("MenuDir", 726, 80, c.MenuDir);
    io.Field("TextDir", 806, 80, c.TextDir);
    io.Field("MsgBaseDir", 966, 80, c.MsgBaseDir);
    io.Field("MailDir", 1046, 80, c.MailDir);
    io.Field("WorkDir", 1206, 80, c.WorkDir);
    io.Field("CallerEditor", 1286, 80, c.CallerEditor);
    io.Field("SysopEditor", 1366, 80, c.SysopEditor);
    io.Field("NewUserLevel", 1448, 4, c.NewUserLevel);
    io.Field("NewUserFlagGroups", 1452, 4, c.NewUserFlagGroups);
    io.Field("NewUserCredit", 1456, 4, c.NewUserCredit);
    io.Field("SendNowLevel", 1460, 4, c.SendNowLevel);
    io.Field("AlwaysSendLevel", 1464, 4, c.AlwaysSendLevel);
    io.Field("AttachLevel", 1468, 4, c.AttachLevel);
    VisitArray(io, "Colors", 1520, c.Colors);
    io.Field("MinLogonSpeed", 1564, 2, c.MinLogonSpeed);
    io.Field("MinDownloadSpeed", 1568, 2, c.MinDownloadSpeed);
    VisitSub(io, "LowSpeedHours", 1570, c.LowSpeedHours);
    VisitSub(io, "DownloadHours", 1582, c.DownloadHours);
    io.Field("MinFreeSpace", 1596, 4, c.MinFreeSpace);
    VisitSub(io, "OpenHours", 1600, c.OpenHours);
    io.Field("ClosedSystem", 1612, 1, c.ClosedSystem);
    VisitArray(io, "Protocols", 1648, c.Protocols);
    VisitArray(io, "MsgAreas", 13608, c.MsgAreas);
    VisitArray(io, "FileAreas", 35208, c.FileAreas);
    io.Field("PhoneTemplate", 47208, 21, c.PhoneTemplate);
    io.Field("DateOrder", 47229, 1, c.DateOrder);
    io.Field("MailerPath", 47358, 81, c.MailerPath);
    io.Field("MailerArgs", 47439, 81, c.MailerArgs);
    io.Field("FromTemplate", 47520, 61, c.FromTemplate);
    io.Field("SharCommand", 47581, 81, c.SharCommand);
    io.Field("SenderPath", 47662, 81, c.SenderPath);
    io.Field("MailboxPath", 47743, 81, c.MailboxPath);
    io.Field("MailArea", 47824, 2, c.MailArea);
    io.Field("MmdfMailbox", 47826, 1, c.MmdfMailbox);
    io.Field("ExtraHeader", 47827, 274, c.ExtraHeader);
    io.Field("NewsDir", 48101, 81, c.NewsDir);
    io.Field("NewsSpool", 48182, 81, c.NewsSpool);
    io.Field("MaxGroups", 48348, 2, c.MaxGroups);
    VisitArray(io, "NewsHeaders", 48362, c.NewsHeaders);
    io.Field("ArticleColor", 48888, 1, c.ArticleColor);
}

// Raw bytes of a configuration slot, as the loader, the segment and reload
// move them around.
using ConfigBytes = std::array<uint8_t, kConfigSlotSize>;

// Decodes the first 50000 bytes of a slot.
ConfigRecord DecodeConfig(const uint8_t* slot);
// Encodes a record into the first 50000 bytes of a slot (the rest zeroed).
void EncodeConfig(const ConfigRecord& c, uint8_t* slot);

}  // namespace kv

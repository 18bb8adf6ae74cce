// kvroster's own settings: "kvconfig.kvr" in DataDir.
//
// One record of 3108 bytes, no header; all integers are little-endian and
// every text ends with a NUL inside its field.
//
//   offset  width  field
//   0       2112   FlagDescriptions   text[4][8][66]: set s, bit b at s*528 + b*66
//   2112    810    UtilityCommands    text[10][81]: utility 1-9, then 0
//   2922    1      DefaultLayout      uint8: browse layout at start, 0-4
//   2923    1      -                  padding, zero
//   2924    4      UnvalidatedLevel   int32: level of a user not yet validated
//   2928    4      ValidatedLevel     int32: level given at validation
//   2932    4      NewUserFlags       uint8[4]: flag sets A-D of a new user
//   2936    4      ValidatedFlags     uint8[4]: flag sets given at validation
//   2940    81     LetterPath         text: validation letter; empty = none
//   3021    1      PrivateLetter      uint8: non-zero posts the letter private
//   3022    2      LetterArea         int16: letter's message area, from 1
//   3024    81     QuestionnairePath  text: the new-user answers file
//   3105    1      ShowPassword       uint8: non-zero shows passwords in clear
//   3106    2      -                  padding, zero
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/config_record.h"
#include "common/record_io.h"

namespace kv::roster {

inline constexpr const char* kSettingsFile = "kvconfig.kvr";
inline constexpr int kLayoutCount = 5;
inline constexpr int32_t kMaxUnvalidatedLevel = 63999;
inline constexpr int32_t kMaxValidatedLevel = 64000;

struct RosterSettings {
    static constexpr size_t kSize = 3108;
    std::array<std::array<std::string, 8>, 4> FlagDescriptions;  // text[66] each
    std::array<std::string, 10> UtilityCommands;                  // text[81] each
    uint8_t DefaultLayout = 0;
    int32_t UnvalidatedLevel = 5;
    int32_t ValidatedLevel = 10;
    FlagGroups NewUserFlags{};
    FlagGroups ValidatedFlags{};
    std::string LetterPath;         // text[81], at most 50 used
    uint8_t PrivateLetter = 1;
    int16_t LetterArea = 1;         // from 1
    std::string QuestionnairePath;  // text[81], at most 68 used
    uint8_t ShowPassword = 1;
};

template <class IO> constexpr void Visit(IO& io, RosterSettings& s) {
    for (size_t set = 0; set < 4; ++set)
        for (size_t bit = 0; bit < 8; ++bit)
            io.Field("FlagDescriptions", set * 528 + bit * 66, 66, s.FlagDescriptions[set][bit]);
    for (size_t i = 0; i < 10; ++i) io.Field("UtilityCommands", 2112 + i * 81, 81, s.UtilityCommands[i]);
    io.Field("DefaultLayout", 2922, 1, s.DefaultLayout);
    io.Field("UnvalidatedLevel", 2924, 4, s.UnvalidatedLevel);
    io.Field("ValidatedLevel", 2928, 4, s.ValidatedLevel);
    io.Field("NewUserFlags", 2932, 4, s.NewUserFlags);
    io.Field("ValidatedFlags", 2936, 4, s.ValidatedFlags);
    io.Field("LetterPath", 2940, 81, s.LetterPath);
    io.Field("PrivateLetter", 3021, 1, s.PrivateLetter);
    io.Field("LetterArea", 3022, 2, s.LetterArea);
    io.Field("QuestionnairePath", 3024, 81, s.QuestionnairePath);
    io.Field("ShowPassword", 3105, 1, s.ShowPassword);
}
static_assert(LayoutIsSound<RosterSettings>());

using SettingsBytes = std::array<uint8_t, RosterSettings::kSize>;

// The settings of a fresh system.
RosterSettings DefaultSettings();
// The codec.  Decoding checks every value against its range: a value out of
// range (a layout of 9, a negative level, area 0) gives that field's default.
RosterSettings DecodeSettings(const uint8_t* p);
SettingsBytes EncodeSettings(const RosterSettings& s);

// The settings of DataDir/kvconfig.kvr: the defaults when the file is
// missing or shorter than a record (fromDefaults tells which it was); extra
// bytes are ignored.
RosterSettings ReadSettingsFile(const std::string& path, bool& fromDefaults);
// Writes the record whole: a temporary file beside it, synced, renamed into
// place.  False (logged) on any failure; the old file is then untouched.
bool WriteSettingsFile(const std::string& path, const RosterSettings& s);

}  // namespace kv::roster

namespace kv::roster {

// What each browse layout shows, as the setup menu names it.
inline constexpr const char* kLayoutDescriptions[kLayoutCount] = {
    "Name, Level, Calls, Date, Time, Credit ", "Name, ULK, ULS, DLK, DLS, Read, Posted ",
    "Name, Level, FlagA, FlagB, FlagC, FlagD", "ScrLen, Attributes, Today K, Today Min ",
    "Name, Location, Data phone, Home phone ",
};

}  // namespace kv::roster

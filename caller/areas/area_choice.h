// The caller's areas: choosing the current message or file area, the
// selection of message areas that the reading modes over "your selected
// areas" cover, a summary of the readable areas with their new messages,
// and the switch between the two loaded message-text tables.
//
// The current areas and the selection live in the caller's UserRecord in
// memory; log-off writes them to "users.bbs".
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

// The program and version over the sysop's and the caller's summary screens.
inline constexpr const char* kProgramTitle = "kivo v1.0";

// Menu codes 49 (message area) and 50 (file area): the area chosen, from 1,
// becomes the caller's current one; 0 when none was chosen (or another code).
int ChooseCurrentArea(int code);

// Menu code 28: flips the selection of each area chosen until none is.
void SelectScanAreas();

// Menu code 44: every area selected, or none, or no change.
void SetAllScanAreas();

// Menu code 43: each area the caller may read with its new and its total
// messages.
void ShowAreaSummary();

// The messages from index position on that the caller may see, in area
// (0-99), in every area (kAnyArea) or in the selected areas
// (kAllSelectedAreas); 0 when "msgidx.bbs" cannot be read.
int CountNewMessages(int area, int32_t position);

// Menu code 61: "0" or "1" binds that text table when it is loaded; an
// empty argument binds the other one when it is loaded.
void SwitchMessageFile(const std::string& argument);

}  // namespace kv::caller

// Stand-ins for the services of the caller program that are not built yet.
//
// Start-up, key input and log-off call into log-in, menus, display files,
// the line status file, the user database and the logs of later pieces.
// Until a piece is built its functions stand here, each doing nothing the
// caller can see.  Whoever builds one moves its declaration to the header
// of the new piece (which includes the rest of this file as long as it needs
// it) and deletes the stand-in from later_stubs.cpp: replaced, not wrapped.
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

// --- questionnaires, mail check ----------------------

// Runs the questionnaire script name (".q-a" in MenuDir).  Stand-in: 1,
// nothing asked.
int RunQuestionnaire(const std::string& name);

}  // namespace kv::caller

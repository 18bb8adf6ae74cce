// The caller's user record during a call, and new-user registration.
//
// The record of the caller (CallState's User) is read at log-in or made by
// registration, changed in memory by the commands and written back at
// log-off.  Its number in "users.bbs" is CallState's CurrentUserNumber (-1
// while there is none).  The file itself is reached only through
// common/users.h.
//
// Passwords are typed without echo, at most 15 characters, and capitalised
// like names before they are compared or stored, so case never matters.
#pragma once

#include <string>

#include "common/lastread.h"
#include "common/user_record.h"

namespace kv::caller {

// The caller's last-read numbers, read at log-in, written at log-off.
LastReadRecord& CallerLastRead();

// The password as last typed correctly in this call (a changed password
// must differ from it).
std::string& CurrentPassword();

// Records in "users.bbs" as last counted.
int UserCount();

// A fresh record and no user number; the start of every call.
void ClearUserRecord();
// Counts the records of "users.bbs" again.
void UpdateUserCount();

// The caller's own clear-screen bytes from the record (empty: none).
std::string CallerClearCodes();

// The questions a new user answers (terminal, screen, location, phones,
// password) into the current record; true.
bool NewUserQuestions(const std::string& name);

// Asks a new password twice until one that the rules allow is typed the
// same both times; it goes into the record and CurrentPassword.
void ChooseNewPassword();

// Menu command 17 (forced false) and the change that PasswordChangeCalls
// forces at log-in (forced true, repeated until a new password is in).
// True when the password was changed; the record reaches the file with the
// next write.
bool ChangePassword(bool forced);

// Up to PasswordTries tries at the current record's password.  After the
// last wrong one the owner gets a watchdog message with the passwords tried.
bool AskPassword();

// Asks a new caller to register, appends the record and gives the new user
// a last-read record at the number where the record landed.  False when the
// caller did not register.  When the record could not be saved the caller
// is told so and the call goes on without a user number (kRegistered):
// nothing of this call is ever written over another user's record.  When
// another line registered the same name meanwhile, the caller is told so and
// nothing is written (kNameTaken): the log-in asks for a name again.
enum class Registration { kRegistered, kDeclined, kNameTaken };
Registration RegisterNewUser(const std::string& name);

// What a new caller is told when the record could not be saved.
void ShowNewUserNotice();

// The end of a logged-in call: counts the call into the record, writes the
// caller's last-read record and the user record.  SIGINT, SIGQUIT and
// SIGHUP are ignored from here on.
void UpdateUserAtLogoff();

}  // namespace kv::caller

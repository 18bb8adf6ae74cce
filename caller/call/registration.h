// New-user registration, the caller's password, and the write of the
// caller's record at log-off (the record itself during the call:
// caller/term/caller_record.h).
//
// Passwords are typed without echo, at most 15 characters, and capitalised
// like names before they are compared or stored, so case never matters.
#pragma once

#include <string>

namespace kv::caller {

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

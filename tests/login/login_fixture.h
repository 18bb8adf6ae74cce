// The log-in tests' fixture: a board, its server and calls to it.
#pragma once

#include "tests/support/caller_fixture.h"

namespace kv::test {

class LoginTest : public CallerTest {};

}  // namespace kv::test

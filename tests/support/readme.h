// What the README prints for a sysop to copy, read back by the tests that
// check it does what the README says.
#pragma once

#include <string>

namespace kv::test {

// The indented block of the README whose first line is first (without its
// indent): its lines to the end of the block, the indent taken off.  Empty
// when the README has no such block.
std::string ReadmeBlock(const std::string& first);

// Every line of the README that holds text.
std::string ReadmeLineWith(const std::string& text);

}  // namespace kv::test

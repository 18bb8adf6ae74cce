// kvconsole: the sysop's console; [BOARD], the board's directory.
#include <string>
#include <vector>

#include "tools/kvconsole/console_main.h"

int main(int argc, char** argv) {
    return kv::console::ConsoleMain(std::vector<std::string>(argv + 1, argv + argc));
}

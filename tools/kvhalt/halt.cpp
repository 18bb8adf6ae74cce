#include "tools/kvhalt/halt.h"

#include "common/segment.h"
#include "server/control_request.h"

namespace kv::tools {

int HaltMain() {
    return server::SendControlRequest(CMD_SHUTDOWN, "kvhalt", "The SHUT DOWN command has been sent to the server\n");
}

}  // namespace kv::tools

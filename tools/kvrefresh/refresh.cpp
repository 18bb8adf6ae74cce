#include "tools/kvrefresh/refresh.h"

#include "common/segment.h"
#include "server/control_request.h"

namespace kv::tools {

int RefreshMain() {
    return server::SendControlRequest(CMD_RELOAD, "kvrefresh",
                                      "The CONFIGURATION RELOAD command has been sent to the server\n");
}

}  // namespace kv::tools

// kvhalt: asks the running server to shut down.  It obeys only when no
// caller program is attached; otherwise it logs that and goes on.
#pragma once

namespace kv::tools {

int HaltMain();

}  // namespace kv::tools

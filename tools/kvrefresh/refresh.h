// kvrefresh: asks the running server to read "kvconfig.bbs" again into the
// shared segment.
#pragma once

namespace kv::tools {

int RefreshMain();

}  // namespace kv::tools

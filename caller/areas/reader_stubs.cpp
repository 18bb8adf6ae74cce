// Stand-ins for the reader commands still to come; see reader_stubs.h.
#include "caller/areas/reader_stubs.h"

namespace kv::caller {

void PrintOrSaveMessage(const MsgHeader&) {}
bool EditMessageHeader(MsgHeader&, int32_t) { return false; }
void EditAuthorRecord(const MsgHeader&) {}

}  // namespace kv::caller

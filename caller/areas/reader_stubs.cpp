// Stand-ins for the reader commands still to come; see reader_stubs.h.
#include "caller/areas/reader_stubs.h"

namespace kv::caller {

int DeleteMessage(MsgHeader&, int32_t) { return 0; }
void PrintOrSaveMessage(const MsgHeader&) {}
bool EditMessageHeader(MsgHeader&, int32_t) { return false; }
void EditAuthorRecord(const MsgHeader&) {}

void ScanMessages(const MessageList*, int, int32_t, int, int) {}
int SearchMessages(int, int32_t, const std::string&, char, MessageList&, const std::string&) { return 0; }

}  // namespace kv::caller

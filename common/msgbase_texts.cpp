#include "common/msgbase_texts.h"

namespace kv {

std::string LibraryText(int n) {
    std::string text = LookupText(n);
    if (!text.empty()) return text;
    // Keep in step with sample/texts/100-msgbase.tsv (a test compares them).
    switch (n) {
    case 193: return "Sysop";
    case 342: return "Cannot read last-read record %d of %s: %s";
    case 343: return "Cannot write last-read record %d of %s: %s";
    case 728: return "Cannot release the lock of %s: %s";
    default: return {};
    }
}

}  // namespace kv

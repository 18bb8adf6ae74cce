#include "server/server_settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/server_log.h"

namespace kv::server {
namespace {

constexpr int kLastLanguage = 6;

// Decimal as atoi reads it (text that is no number reads as 0), without
// atoi's undefined result on overflow.
int ReadNumber(const char* s) {
    long v = std::strtol(s, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return int(v);
}

int Fail(const char* text) {
    std::fputs(text, stderr);
    return 1;
}

}  // namespace

ServerSettings& Settings() {
    static ServerSettings s;
    return s;
}

int ParseServerOptions(int argc, char** argv, ServerSettings& s) {
    if (argc < 2) return -1;
    opterr = 0;  // our usage line is the only complaint
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "t:n:f:v?oQq")) != -1) {
        switch (c) {
        case 't': {
            int v = ReadNumber(optarg);
            if (v < 1 || v > 720) return Fail("Timeout must be between 1 and 720 minutes\n");
            s.Timeout = int16_t(v);
            break;
        }
        case 'n': {
            int v = ReadNumber(optarg);
            if (v < 15 || v > 120) return Fail("Naptime must be between 15 and 120 secondes\n");
            s.NapTime = int16_t(v);
            break;
        }
        case 'f': {
            int first = ReadNumber(optarg);
            const char* comma = std::strchr(optarg, ',');
            int second = comma ? ReadNumber(comma + 1) : -1;
            if (first < 0 || first > kLastLanguage || (comma && (second < 0 || second > kLastLanguage))) {
                std::fprintf(stderr, "Message files number must between 0 and %d\n", kLastLanguage);
                return 1;
            }
            if (first == second) return Fail("You must enter two different messages file number\n");
            s.Language[0] = int16_t(first);
            s.Language[1] = int16_t(second);
            break;
        }
        case 'o': s.MailOut = 1; break;
        case 'q': s.Verbosity = 1; break;
        case 'Q': s.Verbosity = 2; break;
        case 'v':
            std::fprintf(stderr, "%s - %s\n", kServerVersion, kNoticeText);
            return 0;
        default:
            return Fail("USAGE: kvhubd [-t <min>] [-n <sec>] [-f <f1[,f2]>] [-o]\n");
        }
    }
    return -1;
}

}  // namespace kv::server

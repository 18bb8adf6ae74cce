#include "server/shared_memory.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/process_info.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "server/config_loader.h"
#include "server/message_file.h"
#include "server/server_log.h"
#include "server/server_settings.h"

namespace kv::server {
namespace {

int g_segmentId = -1;
uint8_t* g_segment = nullptr;

uint8_t* ConfigCopy() { return g_segment + kConfigOffset; }

void WriteHeader(const SegmentHeader& h) { EncodeRecord(h, g_segment); }

SegmentHeader ReadHeader() {
    SegmentHeader h;
    DecodeRecord(g_segment, h);
    return h;
}

}  // namespace

bool IsRunningServer(pid_t pid) {
    // A creator we cannot see (in another PID namespace) may well serve.
    if (pid <= 0) return true;
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    ProcessInfo info;
    // It lives, but we may not look: it may be a server.
    if (!ReadProcessInfo(pid, info)) return true;
    // A killed server nobody has reaped yet still holds its PID and name.
    if (info.state == 'Z' || info.state == 'X') return false;
    return info.name == "kvhubd";
}

int CreateSharedMemory() {
    // A server killed without its SIGTERM (a crash, the out-of-memory
    // killer, kill -9) leaves its segment behind; were it the end of the
    // board, one crash would keep it down until someone removes the
    // segment by hand.  The serving process makes the segment, so its
    // creator tells a live server's segment from a leftover.
    if (int old = shmget(kSegmentKey, 0, 0); old >= 0) {
        shmid_ds ds{};
        if (shmctl(old, IPC_STAT, &ds) != 0 || IsRunningServer(ds.shm_cpid) ||
            shmctl(old, IPC_RMID, nullptr) != 0) {
            std::fputs("Another instance of the server seems to be running\n", stderr);
            return 0;
        }
        // Callers still attached keep their copy until they end.
        WriteServerLog("SHARED MEMORY left by PID %d taken over, %d bbs still attached", int(ds.shm_cpid),
                       int(ds.shm_nattch));
        if (Settings().Verbosity != 2)
            std::printf("The shared memory left by the server with PID %d is taken over\n", int(ds.shm_cpid));
    }
    g_segmentId = shmget(kSegmentKey, kSegmentSize, IPC_CREAT | IPC_EXCL | 0660);
    if (g_segmentId < 0) {
        std::fputs("Cannot get a valid SHARED MEMORY identifier\n", stderr);
        return 0;
    }
    void* at = shmat(g_segmentId, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) {
        std::fprintf(stderr, "Cannot attach to memory segment (id = %d) errno = %d\n", g_segmentId, errno);
        // A segment left behind would make every later start think another
        // server runs.
        shmctl(g_segmentId, IPC_RMID, nullptr);
        g_segmentId = -1;
        return 0;
    }
    g_segment = static_cast<uint8_t*>(at);
    return 1;
}

int InitSharedMemory(const ServerSettings& s) {
    SegmentHeader h;
    h.ConfigOffset = int32_t(kConfigOffset);
    h.TableOffset0 = int32_t(kSlotTableOffset[0]);
    h.BlockOffset0 = int32_t(kSlotBlockOffset[0]);
    h.TableOffset1 = int32_t(kSlotTableOffset[1]);
    h.BlockOffset1 = int32_t(kSlotBlockOffset[1]);
    h.LastText[0] = h.LastText[1] = -1;
    h.Language[0] = s.Language[0];
    h.Language[1] = s.Language[1];
    WriteHeader(h);

    std::memcpy(ConfigCopy(), LoadedConfigBytes().data(), kConfigSlotSize);
    SetConfig(DecodeConfig(ConfigCopy()));

    if (!LoadMessageFile(s.Language[0], 0)) return 0;
    if (s.Language[1] != -1 && !LoadMessageFile(s.Language[1], 1)) {
        // The second table is optional; but a slot that holds no text at
        // all says so, and a caller never switches to an empty table.
        h = ReadHeader();
        if (h.LastText[1] < 0) {
            h.Language[1] = -1;
            WriteHeader(h);
        }
    }
    return 1;
}

void RemoveSharedMemory() {
    if (g_segment != nullptr) shmdt(g_segment);
    if (g_segmentId >= 0) shmctl(g_segmentId, IPC_RMID, nullptr);
    g_segment = nullptr;
    g_segmentId = -1;
}

uint8_t* SegmentAddress() { return g_segment; }

int AttachedCount() {
    shmid_ds ds;
    if (g_segmentId < 0 || shmctl(g_segmentId, IPC_STAT, &ds) != 0) return -1;
    return int(ds.shm_nattch);
}

int ReloadConfiguration() {
    if (g_segment == nullptr) return 0;
    auto scratch = std::make_unique<ConfigBytes>();
    std::memcpy(scratch->data(), ConfigCopy(), kConfigSlotSize);
    if (!ReadConfigFile(scratch->data())) return 0;
    std::memcpy(ConfigCopy(), scratch->data(), kConfigSlotSize);
    SetConfig(DecodeConfig(ConfigCopy()));
    return 1;
}

std::string GetSlotText(int n, int slot) { return SegmentText(g_segment, slot, n); }

}  // namespace kv::server

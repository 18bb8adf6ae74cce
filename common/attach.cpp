#include "common/attach.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>

#include "common/segment.h"

namespace kv {

namespace {

// The server holds one attachment; ten caller programs may hold the others.
constexpr int kMaxCallers = 10;
constexpr shmatt_t kMaxAttached = kMaxCallers + 1;

const uint8_t* Refuse(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
    return nullptr;
}

const uint8_t* NoServer() {
    return Refuse("ERROR: cannot get/attach to shared memory -- server must be running\n");
}

const uint8_t* TooMany() {
    char text[80];
    std::snprintf(text, sizeof text, "There's already %d Kivo instance running -- try later\n", kMaxCallers);
    return Refuse(text);
}

}  // namespace

size_t SharedMemorySize() { return kSegmentSize; }

const uint8_t* AttachSharedMemory() {
    int id = shmget(kSegmentKey, SharedMemorySize(), 0660);
    if (id < 0) return NoServer();
    struct shmid_ds ds;
    if (shmctl(id, IPC_STAT, &ds) != 0) return NoServer();
    if (ds.shm_nattch >= kMaxAttached) return TooMany();
    void* at = shmat(id, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) return NoServer();

    // Two caller programs starting together can both pass the test above.
    // Counting again once attached (ourselves included) catches that: more
    // than the limit means one too many got in, and this one backs out.
    if (shmctl(id, IPC_STAT, &ds) != 0) {
        shmdt(at);
        return NoServer();
    }
    if (ds.shm_nattch > kMaxAttached) {
        shmdt(at);
        return TooMany();
    }
    return static_cast<const uint8_t*>(at);
}

}  // namespace kv

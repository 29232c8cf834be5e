// Test helper, preloaded into postinfo: msgctl(IPC_STAT) reports the queue's byte limit as
// 3000000000, above the largest int, as if a privileged user had raised it that far (raising
// it needs CAP_SYS_RESOURCE, which a test cannot count on). Every other field is the queue's.
#include <cstdlib>
#include <dlfcn.h>
#include <sys/msg.h>

namespace {

using msgctl_function = int (*)(int, int, msqid_ds *);

constexpr msglen_t raised_limit = 3000000000U; // fits the limit's unsigned long, 32-bit too

} // namespace

// The C library's header names the parameters with reserved names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int msgctl(int msqid, int cmd, msqid_ds *buf)
{
    static auto *const real_msgctl =
        reinterpret_cast<msgctl_function>(dlsym(RTLD_NEXT, "msgctl")); // NOLINT
    if (real_msgctl == nullptr)
        abort();
    const int result = real_msgctl(msqid, cmd, buf);
    if (result == 0 && cmd == IPC_STAT)
        buf->msg_qbytes = raised_limit;
    return result;
}

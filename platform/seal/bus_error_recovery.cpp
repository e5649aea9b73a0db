#include "platform/seal/bus_error_recovery.hpp"

#include <csetjmp>
#include <csignal>
#include <mutex>
#include <openssl/evp.h>

namespace quillmark::platform {
namespace {

// Set only while this thread reads a mapping; a bus error then returns there.
thread_local sigjmp_buf* recovery = nullptr;
struct sigaction previousAction {};
std::once_flag handlerInstalled;

void onBusError(int signal, siginfo_t* information, void* context)
{
    if (recovery != nullptr)
        siglongjmp(*recovery, 1);
    // Not a read of ours: behave as before this handler was installed.
    if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
        previousAction.sa_sigaction(signal, information, context);
        return;
    }
    if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN
        && previousAction.sa_handler != nullptr) {
        previousAction.sa_handler(signal);
        return;
    }
    // Returning repeats the faulting access, which now ends the process as
    // the default action does.
    std::signal(SIGBUS, SIG_DFL);
}

void installHandler()
{
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousAction);
}

} // namespace

bool updateDigestFromMapping(evp_md_ctx_st* context, const unsigned char* bytes, std::size_t length)
{
    std::call_once(handlerInstalled, installHandler);
    sigjmp_buf here;
    // Saves the signal mask, so SIGBUS is not left blocked after a return here.
    if (sigsetjmp(here, 1) != 0) {
        recovery = nullptr;
        return false;
    }
    recovery = &here;
    EVP_DigestUpdate(context, bytes, length);
    recovery = nullptr;
    return true;
}

} // namespace quillmark::platform

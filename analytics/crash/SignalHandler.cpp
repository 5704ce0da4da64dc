#include "analytics/crash/SignalHandler.h"

#include "platform/base/AlternateSignalStack.h"

#include "analytics/crash/AsyncList.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/mman.h>

namespace {

struct CallbackEntry {
    TallyTLCrashSignalHandlerCallback callback;
    void* context;
};

struct PreviousAction {
    int signo;
    struct sigaction action;
};

// Filled before any handler can run and emptied by the exit-time destructors.
AsyncSafeList<CallbackEntry> callbacks;
AsyncSafeList<PreviousAction> previousActions;
std::mutex registration;

using CallbackNode = AsyncSafeList<CallbackEntry>::Node;

bool dispatch(int signo, siginfo_t* info, ucontext_t* uap, const void* current) {
    callbacks.setReading(true);
    auto* node = current ? static_cast<const CallbackNode*>(current)->next.load() : callbacks.head();
    if (node == nullptr) {
        callbacks.setReading(false);
        return false;
    }
    TallyTLCrashSignalHandlerNext next{dispatch, node};
    const bool handled =
        node->value.callback(signo, info, uap, node->value.context, node->next.load() ? &next : nullptr);
    callbacks.setReading(false);
    return handled;
}

bool findPrevious(int signo, struct sigaction* out) {
    previousActions.setReading(true);
    bool found = false;
    for (auto* node = previousActions.head(); node != nullptr; node = node->next.load()) {
        if (node->value.signo == signo) {
            *out = node->value.action;
            found = true;
            break;
        }
    }
    previousActions.setReading(false);
    return found;
}

// A fault the kernel raised comes back as soon as the handler returns; ignoring it would loop.
bool kernelFault(const siginfo_t* info) { return info != nullptr && info->si_code > 0; }

bool forwardToPrevious(int signo, siginfo_t* info, ucontext_t* uap, void*, const TallyTLCrashSignalHandlerNext* next) {
    if (next != nullptr && TallyTLCrashSignalHandlerCallNext(next, signo, info, uap))
        return true;
    struct sigaction previous;
    if (!findPrevious(signo, &previous))
        return false;
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signo, info, uap);
        return true;
    }
    if (previous.sa_handler == SIG_IGN)
        return !kernelFault(info);
    if (previous.sa_handler == SIG_DFL)
        return false;
    previous.sa_handler(signo);
    return true;
}

void trampoline(int signo, siginfo_t* info, void* uap) {
    const int savedErrno = errno;
    if (dispatch(signo, info, static_cast<ucontext_t*>(uap), nullptr)) {
        errno = savedErrno;
        return;
    }
    // Nobody handled it: put the earlier action back so the raised signal does not come back
    // here forever.
    struct sigaction previous;
    if (!findPrevious(signo, &previous)) {
        std::memset(&previous, 0, sizeof previous);
        previous.sa_handler = SIG_DFL;
        sigemptyset(&previous.sa_mask);
    }
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN && kernelFault(info))
        previous.sa_handler = SIG_DFL;
    sigaction(signo, &previous, nullptr);
    raise(signo);
    errno = savedErrno;
}

void fail(TallyTLCrashSignalHandlerError* error, const char* text) {
    if (error != nullptr) {
        error->description = text;
        error->posixError = errno;
    }
}

}  // namespace

TallyTLCrashSignalHandler* TallyTLCrashSignalHandler::sharedHandler() {
    static TallyTLCrashSignalHandler shared;
    return &shared;
}

bool TallyTLCrashSignalHandler::registerHandlerForSignal(int signo, TallyTLCrashSignalHandlerCallback callback,
                                                         void* context, TallyTLCrashSignalHandlerError* error) {
    if (!registerHandlerWithSignal(signo, error))
        return false;
    callbacks.prepend({callback, context});
    return true;
}

bool TallyTLCrashSignalHandler::registerHandlerWithSignal(int signo, TallyTLCrashSignalHandlerError* error) {
    std::lock_guard<std::mutex> lock(registration);
    if (!platform::AlternateSignalStack::installForThisThread()) {
        fail(error, "Could not initialize alternative signal stack");
        return false;
    }
    callbacks.append({forwardToPrevious, nullptr});
    struct sigaction existing;
    if (findPrevious(signo, &existing))
        return true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = trampoline;
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    struct sigaction old;
    if (sigaction(signo, &action, &old) != 0) {
        fail(error, "Failed to register signal handler");
        return false;
    }
    previousActions.append({signo, old});
    return true;
}

void TallyTLCrashSignalHandler::resetHandlers() {
    previousActions.clear();
    callbacks.clear();
}

bool TallyTLCrashSignalHandler::isTrampolineInstalled(int signo) {
    struct sigaction current;
    if (sigaction(signo, nullptr, &current) != 0)
        return false;
    return (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == trampoline;
}

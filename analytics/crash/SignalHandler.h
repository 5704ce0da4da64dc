#pragma once
// One process-wide trampoline per fatal signal, run on an alternate stack, dispatching through
// a chain of callbacks that ends with whatever action the signal had before.
#include "platform/base/AlternateSignalStack.h"

#include <csignal>
#include <string>

struct TallyTLCrashSignalHandlerNext;

// Returns true when the signal was handled; next (may be null) runs the rest of the chain.
using TallyTLCrashSignalHandlerCallback = bool (*)(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                                   const TallyTLCrashSignalHandlerNext* next);

struct TallyTLCrashSignalHandlerNext {
    bool (*dispatch)(int signo, siginfo_t* info, ucontext_t* uap, const void* current);
    const void* current;
};

inline bool TallyTLCrashSignalHandlerCallNext(const TallyTLCrashSignalHandlerNext* next, int signo, siginfo_t* info,
                                              ucontext_t* uap) {
    return next->dispatch(signo, info, uap, next->current);
}

struct TallyTLCrashSignalHandlerError {
    std::string description;
    int posixError = 0;
};

class TallyTLCrashSignalHandler {
public:
    static constexpr size_t kAlternateStackSize = platform::AlternateSignalStack::kSize;

    static TallyTLCrashSignalHandler* sharedHandler();

    // Installs the trampoline for the signal (once) and puts the callback first in the chain.
    bool registerHandlerForSignal(int signo, TallyTLCrashSignalHandlerCallback callback, void* context,
                                  TallyTLCrashSignalHandlerError* error);
    bool registerHandlerWithSignal(int signo, TallyTLCrashSignalHandlerError* error);
    // Empties both tables; the installed actions stay.
    static void resetHandlers();
    // Whether the signal's current action is this handler's trampoline.
    static bool isTrampolineInstalled(int signo);

private:
    TallyTLCrashSignalHandler() = default;
};

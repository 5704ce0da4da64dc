#include "analytics/crash/SignalNumbers.h"

#include <csignal>

namespace {

struct SignalRow {
    int linux_signo;
    int report_signo;
    const char* name;
};

// Report numbers with their Linux counterpart (0 where Linux has none).
constexpr SignalRow signals[] = {
    {SIGHUP, 1, "SIGHUP"},     {SIGINT, 2, "SIGINT"},       {SIGQUIT, 3, "SIGQUIT"},   {SIGILL, 4, "SIGILL"},
    {SIGTRAP, 5, "SIGTRAP"},   {SIGABRT, 6, "SIGABRT"},     {0, 6, "SIGIOT"},          {0, 7, "SIGEMT"},
    {SIGFPE, 8, "SIGFPE"},     {SIGKILL, 9, "SIGKILL"},     {SIGBUS, 10, "SIGBUS"},    {SIGSEGV, 11, "SIGSEGV"},
    {SIGSYS, 12, "SIGSYS"},    {SIGPIPE, 13, "SIGPIPE"},    {SIGALRM, 14, "SIGALRM"},  {SIGTERM, 15, "SIGTERM"},
    {SIGURG, 16, "SIGURG"},    {SIGSTOP, 17, "SIGSTOP"},    {SIGTSTP, 18, "SIGTSTP"},  {SIGCONT, 19, "SIGCONT"},
    {SIGCHLD, 20, "SIGCHLD"},  {SIGTTIN, 21, "SIGTTIN"},    {SIGTTOU, 22, "SIGTTOU"},  {SIGIO, 23, "SIGIO"},
    {SIGXCPU, 24, "SIGXCPU"},  {SIGXFSZ, 25, "SIGXFSZ"},    {SIGVTALRM, 26, "SIGVTALRM"}, {SIGPROF, 27, "SIGPROF"},
    {SIGWINCH, 28, "SIGWINCH"}, {0, 29, "SIGINFO"},         {SIGUSR1, 30, "SIGUSR1"},  {SIGUSR2, 31, "SIGUSR2"},
};

struct CodeRow {
    int report_signo;
    int linux_code;
    int report_code;
    const char* name;
};

constexpr CodeRow codes[] = {
    {4, 0, 0, "ILL_NOOP"},         {4, ILL_ILLOPC, 1, "ILL_ILLOPC"}, {4, ILL_ILLTRP, 2, "ILL_ILLTRP"},
    {4, ILL_PRVOPC, 3, "ILL_PRVOPC"}, {4, ILL_ILLOPN, 4, "ILL_ILLOPN"}, {4, ILL_ILLADR, 5, "ILL_ILLADR"},
    {4, ILL_PRVREG, 6, "ILL_PRVREG"}, {4, ILL_COPROC, 7, "ILL_COPROC"}, {4, ILL_BADSTK, 8, "ILL_BADSTK"},
    {8, 0, 0, "FPE_NOOP"},         {8, FPE_FLTDIV, 1, "FPE_FLTDIV"}, {8, FPE_FLTOVF, 2, "FPE_FLTOVF"},
    {8, FPE_FLTUND, 3, "FPE_FLTUND"}, {8, FPE_FLTRES, 4, "FPE_FLTRES"}, {8, FPE_FLTINV, 5, "FPE_FLTINV"},
    {8, FPE_FLTSUB, 6, "FPE_FLTSUB"}, {8, FPE_INTDIV, 7, "FPE_INTDIV"}, {8, FPE_INTOVF, 8, "FPE_INTOVF"},
    {11, 0, 0, "SEGV_NOOP"},       {11, SEGV_MAPERR, 1, "SEGV_MAPERR"}, {11, SEGV_ACCERR, 2, "SEGV_ACCERR"},
    {10, 0, 0, "BUS_NOOP"},        {10, BUS_ADRALN, 1, "BUS_ADRALN"}, {10, BUS_ADRERR, 2, "BUS_ADRERR"},
    {10, BUS_OBJERR, 3, "BUS_OBJERR"},
    {5, TRAP_BRKPT, 1, "TRAP_BRKPT"}, {5, TRAP_TRACE, 2, "TRAP_TRACE"},
    // int3 arrives from the kernel itself rather than as a breakpoint trap.
    {5, SI_KERNEL, 1, nullptr},
    {6, 0, 0, "#0"},
};

}  // namespace

int tlcrash_signal_report_number(int linux_signo) {
    for (const SignalRow& row : signals)
        if (row.linux_signo != 0 && row.linux_signo == linux_signo)
            return row.report_signo;
    return 0;
}

int tlcrash_signal_report_code(int linux_signo, int linux_code) {
    if (linux_code <= 0)
        return 0;
    const int report = tlcrash_signal_report_number(linux_signo);
    for (const CodeRow& row : codes)
        if (row.report_signo == report && row.linux_code == linux_code)
            return row.report_code;
    return linux_code;
}

const char* tlcrash_signal_name(int report_signo) {
    for (const SignalRow& row : signals)
        if (row.report_signo == report_signo)
            return row.name;
    return nullptr;
}

const char* tlcrash_signal_code_name(int report_signo, int report_code) {
    for (const CodeRow& row : codes)
        if (row.report_signo == report_signo && row.report_code == report_code && row.name != nullptr)
            return row.name;
    return nullptr;
}

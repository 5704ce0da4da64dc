#include "testing/Processes.h"

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace testing_support {

int runInProcessesAtOnce(int count, std::function<bool(int)> const& body) {
    int gate[2];
    if (pipe(gate) != 0) return 0;
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        pid_t const pid = fork();
        if (pid == 0) {
            char c;
            close(gate[1]);
            (void)!read(gate[0], &c, 1);  // returns once the parent closes its end
            _exit(body(i) ? 0 : 1);
        }
        if (pid > 0) children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    int passed = 0;
    for (pid_t pid : children) {
        int status = 0;
        passed += waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return passed;
}

}  // namespace testing_support

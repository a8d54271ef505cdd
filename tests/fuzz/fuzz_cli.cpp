#include "fuzz/fuzz_cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "tools/upgradectl/commands.h"

namespace quorvane::fuzz {

int RunUpgradectl(std::vector<const char*> args, Transport* link) {
    // A question asked on a terminal would stop the fuzzer.
    static const bool noTerminal = std::freopen("/dev/null", "r", stdin) != nullptr;
    FUZZ_CHECK(noTerminal);
    // Relative names land in the scratch folder. The fuzzer's own folder is
    // entered again afterwards: libFuzzer reads its corpus by relative names.
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(home >= 0 && ::chdir(ScratchFolder().c_str()) == 0);
    // Thousands of runs record nothing in the user's history.
    args.insert(args.begin(), {"upgradectl", "--no-history"});
    std::ostringstream sink;
    auto* out = std::cout.rdbuf(sink.rdbuf());
    auto* err = std::cerr.rdbuf(sink.rdbuf());
    const int code = cli::RunCli(static_cast<int>(args.size()), args.data(), link);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
    FUZZ_CHECK(::fchdir(home) == 0);
    ::close(home);
    // 0 done, 1 a script failed, 2 usage, 3 refused; 4 (endpoint) needs a socket.
    FUZZ_CHECK(code >= 0 && code <= 3);
    return code;
}

}  // namespace quorvane::fuzz

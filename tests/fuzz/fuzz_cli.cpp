#include "fuzz/fuzz_cli.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "tools/upgradectl/commands.h"

namespace quorvane::fuzz {

int RunUpgradectl(std::vector<const char*> args, Transport* link) {
    // Relative names then land in the scratch folder; a question asked on
    // a terminal would stop the fuzzer.
    static const bool prepared = [] {
        FUZZ_CHECK(::chdir(ScratchFolder().c_str()) == 0);
        FUZZ_CHECK(std::freopen("/dev/null", "r", stdin) != nullptr);
        return true;
    }();
    (void)prepared;
    args.insert(args.begin(), "upgradectl");
    std::ostringstream sink;
    auto* out = std::cout.rdbuf(sink.rdbuf());
    auto* err = std::cerr.rdbuf(sink.rdbuf());
    const int code = cli::RunCli(static_cast<int>(args.size()), args.data(), link);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
    // 0 done, 1 a script failed, 2 usage, 3 refused; 4 (endpoint) needs a socket.
    FUZZ_CHECK(code >= 0 && code <= 3);
    return code;
}

}  // namespace quorvane::fuzz

// Runs the desktop program's tests headless: the offscreen platform and a
// private runtime folder unless the caller set them already.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/gui/upgrade_app.h"

namespace {

bool OnlyListing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return true;
    return false;
}

// Qt refuses a runtime folder that others can read; make our own.
std::string PrivateRuntimeFolder() {
    char pattern[] = "/tmp/qv-gui-test-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (folder == nullptr) return {};
    ::chmod(folder, 0700);
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no window system at all.
    if (OnlyListing(argc, argv)) return RUN_ALL_TESTS();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string runtime;
    if (::getenv("XDG_RUNTIME_DIR") == nullptr || std::strlen(::getenv("XDG_RUNTIME_DIR")) == 0) {
        runtime = PrivateRuntimeFolder();
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    // The runs the tests make are recorded in a history of their own, not the user's.
    std::string state;
    if (::getenv("XDG_STATE_HOME") == nullptr) {
        state = PrivateRuntimeFolder();
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        quorvane::SetApplicationIdentity();
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    for (const std::string& folder : {runtime, state})
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    return result;
}

#pragma once
// The file-open prompt for a package: a fresh dialog for every prompt,
// existing files only, the package filter selected first.

#include <QFileDialog>

#include "app/app_loops.h"

namespace quorvane {

class FileChooser final : public PackageChooser {
public:
    std::optional<std::filesystem::path> Choose() override;

    // The dialog as Choose shows it, for inspection.
    static void SetUp(QFileDialog& dialog);
};

// Returns `first` once, then asks `next`: a package named on the command
// line skips the prompt, and a failed open still ends in the prompt.
class FirstChoiceChooser final : public PackageChooser {
public:
    FirstChoiceChooser(std::optional<std::filesystem::path> first, PackageChooser& next)
        : first_(std::move(first)), next_(next) {}
    std::optional<std::filesystem::path> Choose() override;

private:
    std::optional<std::filesystem::path> first_;
    PackageChooser& next_;
};

}  // namespace quorvane

#pragma once
// Developer diagnostics of the UDP endpoint. Nothing written here ever
// reaches the user.

#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class DiagnosticSink {
public:
    virtual ~DiagnosticSink() = default;
    virtual void Write(std::string_view text) = 0;
};

class DiscardingSink final : public DiagnosticSink {
public:
    void Write(std::string_view) override {}
};

// Keeps every text, for tests and for a front end's verbose mode.
class CollectingSink final : public DiagnosticSink {
public:
    void Write(std::string_view text) override { texts.emplace_back(text); }
    std::vector<std::string> texts;
};

}  // namespace quorvane

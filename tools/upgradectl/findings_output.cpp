#include "tools/upgradectl/findings_output.h"

#include "app/run_events.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {

nlohmann::ordered_json FindingsJson(const PackageCheck& check) {
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const Finding& finding : check.findings) {
        auto& list = finding.level == FindingLevel::Error ? errors : warnings;
        list.push_back({{"member", finding.member}, {"line", finding.line}, {"message", finding.text}});
    }
    nlohmann::ordered_json report = {{"errors", std::move(errors)}, {"warnings", std::move(warnings)}};
    if (check.signature) report["signature"] = SignatureJson(*check.signature);
    return report;
}

nlohmann::ordered_json SignatureJson(const SignatureCheck& signature) {
    return {{"status", SignatureStatusWord(signature.status)},
            {"key_id", TextOrNull(signature.keyId)},
            {"trusted_comment", TextOrNull(signature.trustedComment)},
            {"reason", TextOrNull(signature.reason)}};
}

void PrintFindings(std::ostream& out, const PackageCheck& check) {
    for (const Finding& finding : check.findings) out << PrintableText(FormatFinding(finding)) << '\n';
}

}  // namespace quorvane::cli

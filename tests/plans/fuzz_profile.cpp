// libFuzzer target: any text read as a profile is refused with its reasons, or read into a
// profile that, written back as JSON and read again, sends the same commands at the same times.
#include "plans/profile.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

struct Sent {
    std::vector<protocol::Bytes> bytes;
    std::vector<long long> at;
    std::vector<std::string> sections;
    bool operator==(const Sent&) const = default;
};

Sent sent(const plans::Profile& profile) {
    const plans::ProfilePlan plan = plans::profilePlan(profile);
    Sent result{{}, {}, plan.stepSection};
    for (const plans::Step& step : plan.plan.steps) {
        result.bytes.push_back(step.build().bytes.value_or(protocol::Bytes{}));
        result.at.push_back(step.at.count());
    }
    return result;
}

[[noreturn]] void fail(const char* what, const QString& detail = {}) {
    std::fprintf(stderr, "%s\n%s\n", what, detail.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto parsed = plans::parseProfile(text);
    if (const auto* problems = std::get_if<QStringList>(&parsed)) {
        if (problems->isEmpty()) {
            fail("refused without a reason");
        }
        return 0;
    }
    const auto& profile = std::get<plans::Profile>(parsed);
    const auto written = plans::profileJson(profile);
    if (const auto* problem = std::get_if<QString>(&written)) {
        fail("a profile read from JSON cannot be written back", *problem);
    }
    const auto again = plans::parseProfile(std::get<QByteArray>(written));
    if (const auto* problems = std::get_if<QStringList>(&again)) {
        fail("a profile written back is refused", problems->join('\n'));
    }
    if (sent(profile) != sent(std::get<plans::Profile>(again))) {
        fail("a profile written back sends other commands", QString::fromUtf8(text));
    }
    return 0;
}

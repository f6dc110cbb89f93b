#include "plans/plan.hpp"

namespace plans {

std::vector<std::string> refusals(const Plan& plan) {
    std::vector<std::string> messages;
    for (const Step& step : plan.steps) {
        if (StepResult result = step.build(); !result.bytes) {
            messages.push_back(std::move(result.refusal));
        }
    }
    return messages;
}

} // namespace plans

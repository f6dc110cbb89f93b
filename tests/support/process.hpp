#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int exitCode = -1; // -1: did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to completion with `input` on its standard input, collecting both outputs.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = {});

} // namespace testing_support

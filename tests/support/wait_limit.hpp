#pragma once

#include <chrono>

namespace testing_support {

// The one bound of every wait in the tests, for a condition, a line, a signal or an exit.
// Generous: the sanitizer builds are several times slower and CI shares its cores with other
// work, while a wait that succeeds returns as soon as its condition holds, so only a failure
// ever waits this long.
inline constexpr std::chrono::milliseconds kWaitLimit{15'000};
// The same in the int milliseconds of QTest::qWaitFor and QSignalSpy::wait.
inline constexpr int kWaitMs = static_cast<int>(kWaitLimit.count());

} // namespace testing_support

#pragma once
// The outcome file of automated runs: after each start of setup and each
// failure screen the window writes one word there and closes 200 ms later.
// Without an outcome path nothing happens. Main thread.

#include <string_view>

#include "app/app.h"

namespace kestrelume {

// "offline" ... "blocked" for the failures, "none" for anything else.
std::wstring_view OutcomeToken(Failure failure);
// Replaces the file's content with `token` (UTF-8, no line end), then closes
// the window after 200 ms, whether or not the file could be written.
void ReportOutcome(App& app, std::wstring_view token);

}  // namespace kestrelume

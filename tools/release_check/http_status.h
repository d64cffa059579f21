#pragma once
// The status line behind a transfer's HttpError, asked for again in a plain
// synchronous request (the installer's session reports only "not 200").

#include <string_view>

namespace kestrelume {

// The HTTP status a GET of `address` answers with, or 0 when none came.
unsigned HttpStatusOf(std::string_view address);

}  // namespace kestrelume

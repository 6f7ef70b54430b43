// The three commands. Each returns the process's exit status: 0 rendered,
// 1 the render failed, 2 an input error; the reason is on stderr.
#pragma once

#include "app/Options.h"

namespace qvr {

constexpr int kRendered = 0;
constexpr int kRenderFailed = 1;
constexpr int kUsageError = 2;

int renderPicture(const Options& options); // heatmap and aggregate
int renderMovie(const Options& options);

// One line "quorvex-render: <what>" on stderr; gives back `status`.
int complain(int status, const std::string& what);

} // namespace qvr

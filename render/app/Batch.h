// quorvex-render batch: a manifest of renders, each row run by a worker
// process of this program (its own GL context; a crash fails its row only).
#pragma once

namespace qvr {

// The exit status: 0 every row rendered or skipped, 1 a row failed, 2 a
// usage or manifest error.
int runBatch(int argc, char** argv);

} // namespace qvr

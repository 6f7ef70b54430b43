// quorvex-render: the library's heat maps and gaze-overlay movies from the
// files eye trackers export, without a display.
#include "app/Batch.h"
#include "app/Options.h"
#include "app/Render.h"

extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "batch")
        return qvr::runBatch(argc, argv);
    qvr::Options options;
    std::string error;
    switch (qvr::parseOptions(argc, argv, options, error)) {
    case qvr::ParseResult::Help:
        std::fputs(qvr::helpText(argc > 1 && argv[1][0] != '-' ? argv[1] : "").c_str(), stdout);
        return 0;
    case qvr::ParseResult::Error: return qvr::complain(qvr::kUsageError, error);
    case qvr::ParseResult::Run: break;
    }
    // The library reports its progress on stdout; a render's stdout stays
    // quiet unless asked.
    // FFmpeg's own notes (x264's settings, a plug-in's probing) only when asked.
    av_log_set_level(options.verbose ? AV_LOG_INFO : AV_LOG_ERROR);
    if (!options.verbose) {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    return options.command == qvr::Command::Movie ? qvr::renderMovie(options) : qvr::renderPicture(options);
}

// heatmap and aggregate: one picture, its heat and marks, as a PNG.
#include "app/GlContext.h"
#include "app/HeatLayer.h"
#include "app/Overlay.h"
#include "app/Output.h"
#include "app/Render.h"
#include "app/Canvas.h"
#include "gl/ImageHeader.h"
#include "gl/TextureManager.h"

#include <GL/glew.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qvr {

int complain(int status, const std::string& what)
{
    std::fprintf(stderr, "quorvex-render: %s\n", what.c_str());
    return status;
}

namespace {

// The stimulus's size from its header, before any GL exists.
bool stimulusSize(const std::string& path, int& width, int& height, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    const long bytes = std::ftell(file);
    std::rewind(file);
    qv::ImageHeader header;
    const char* why =
        bytes < 0 ? "not a regular file"
                  : qv::probeImage(file, static_cast<uint64_t>(bytes), uint64_t(16384) * 16384, header);
    std::fclose(file);
    if (why != nullptr) {
        error = path + ": not a usable image: " + why;
        return false;
    }
    width = static_cast<int>(header.width);
    height = static_cast<int>(header.height);
    return true;
}

} // namespace

int renderPicture(const Options& o)
{
    std::string error;
    int width = o.width, height = o.height;
    if (!o.stimulus.empty() && !stimulusSize(o.stimulus, width, height, error))
        return complain(kUsageError, error);
    if (extensionOf(o.output) != ".png")
        return complain(kUsageError, "the output " + o.output + " must end in .png");
    if (!outputWritable(o.output, error))
        return complain(kUsageError, error);
    std::vector<Recording> recordings;
    std::vector<Aoi> aois;
    if (!readInputs(o, width, height, recordings, aois, error))
        return complain(kUsageError, error);

    auto context = OffscreenContext::create(o.useGlx ? GlApi::Glx : GlApi::Egl, width, height, error);
    if (context == nullptr)
        return complain(kRenderFailed, error);
    Canvas scene(o, width, height);
    if (!scene.prepare(recordings, std::move(aois), error))
        return complain(kRenderFailed, error);
    if (!o.stimulus.empty() && !scene.useStimulus(o.stimulus, error))
        return complain(kUsageError, error);
    for (const Recording& r : recordings)
        scene.addHeat(r, o.command == Command::Aggregate && o.normalise);
    scene.draw();

    std::vector<uint8_t> pixels;
    readFrame(width, height, pixels);
    PendingOutput output(o.output);
    if (!savePng(output.temporary(), pixels, width, height, error) || !output.commit(error))
        return complain(kRenderFailed, error);
    std::fprintf(stderr, "quorvex-render: wrote %s (%dx%d, %zu points) with %s\n", o.output.c_str(), width,
                 height, scene.pointCount(), context->renderer().c_str());
    return kRendered;
}

} // namespace qvr

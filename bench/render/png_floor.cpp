// The floor of a heatmap render: decoding the stimulus PNG and encoding a
// picture of its size as PNG, with the same FreeImage calls and settings the
// renderer uses, and nothing else.
#include <FreeImage.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: png_floor STIMULUS.png OUT.png\n");
        return 2;
    }
    FIBITMAP* stimulus = FreeImage_Load(FreeImage_GetFileType(argv[1], 0), argv[1], 0);
    FIBITMAP* rgba = stimulus != nullptr ? FreeImage_ConvertTo32Bits(stimulus) : nullptr;
    FIBITMAP* rgb = rgba != nullptr ? FreeImage_ConvertTo24Bits(rgba) : nullptr;
    const bool saved = rgb != nullptr && FreeImage_Save(FIF_PNG, rgb, argv[2], PNG_Z_BEST_SPEED);
    for (FIBITMAP* b : {rgb, rgba, stimulus})
        if (b != nullptr)
            FreeImage_Unload(b);
    return saved ? 0 : 1;
}

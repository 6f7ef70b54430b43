// Test stand-in for the movie encoder: records its argument vector in
// "<argv[0]>.argv" (one per line) and the raw bytes it reads from the pipe in
// argv[0]. QV_RECORDER_MODE: "exit" exits without opening the pipe, "hang"
// never opens it; anything else records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    const char* mode = getenv("QV_RECORDER_MODE");
    if (mode != nullptr && strcmp(mode, "exit") == 0)
        return 3;
    if (mode != nullptr && strcmp(mode, "hang") == 0)
        for (;;)
            pause();
    FILE* args = fopen((std::string(argv[0]) + ".argv").c_str(), "w");
    if (args == nullptr)
        return 1;
    for (int i = 0; i < argc; ++i)
        fprintf(args, "%s\n", argv[i]);
    fclose(args);

    struct stat st;
    for (int tries = 0; stat("/tmp/fifoChannel", &st) != 0; ++tries) {
        if (tries > 1000)
            return 2;
        usleep(10000);
    }
    const int in = open("/tmp/fifoChannel", O_RDONLY);
    FILE* out = fopen(argv[0], "wb");
    if (in < 0 || out == nullptr)
        return 1;
    static char buffer[1 << 16];
    ssize_t n;
    while ((n = read(in, buffer, sizeof buffer)) > 0)
        fwrite(buffer, 1, static_cast<size_t>(n), out);
    fclose(out);
    return 0;
}

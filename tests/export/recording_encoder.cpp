// Test stand-in for the movie encoder: records its argument vector in
// "<argv[0]>.argv", one per line, and the bytes it reads from the pipe in argv[0].
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    FILE* args = fopen((std::string(argv[0]) + ".argv").c_str(), "w");
    for (int i = 0; args != nullptr && i < argc; ++i)
        fprintf(args, "%s\n", argv[i]);
    if (args == nullptr || fclose(args) != 0)
        return 1;
    for (int tries = 0; access("/tmp/fifoChannel", F_OK) != 0; ++tries)
        if (tries > 1000 || usleep(10000) != 0)
            return 2;
    const int in = open("/tmp/fifoChannel", O_RDONLY);
    FILE* out = fopen(argv[0], "wb");
    static char buffer[1 << 16];
    ssize_t n;
    while (in >= 0 && out != nullptr && (n = read(in, buffer, sizeof buffer)) > 0)
        fwrite(buffer, 1, static_cast<size_t>(n), out);
    return in >= 0 && out != nullptr && fclose(out) == 0 ? 0 : 1;
}

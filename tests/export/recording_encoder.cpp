// Test stand-in for the movie encoder: records its argument vector in
// "<argv[0]>.argv", one per line, and the bytes it reads from the pipe in argv[0].
#include <unistd.h>

#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    std::ofstream args(std::string(argv[0]) + ".argv");
    for (int i = 0; i < argc; ++i)
        args << argv[i] << '\n';
    if (!args.flush())
        return 1;
    for (int tries = 0; access("/tmp/fifoChannel", F_OK) != 0; ++tries)
        if (tries > 1000 || usleep(10000) != 0)
            return 2;
    std::ifstream in("/tmp/fifoChannel", std::ios::binary);
    std::ofstream out(argv[0], std::ios::binary);
    if (in.peek() != std::ifstream::traits_type::eof())
        out << in.rdbuf();
    return in.is_open() && out.flush() ? 0 : 1;
}

// Starts a program and says when: prints "startup: spawn <CLOCK_MONOTONIC nanoseconds> pid <pid>"
// on stderr, then becomes the program (same pid), so the time is taken just before it starts.
//   spawn_stamp program [argument...]

#include <cstdio>
#include <ctime>

#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: spawn_stamp program [argument...]\n");
        return 2;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr,
                 "startup: spawn %lld pid %d\n",
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                 int(getpid()));
    execvp(argv[1], argv + 1);
    std::perror("spawn_stamp");
    return 127;
}

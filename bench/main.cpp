// main() of the benchmarks on the X server: the frame, then the program's
// own benchmarks().

#include "harness.h"

int main(int argc, char* argv[]) {
    quillet::bench::Harness harness(argc, argv);
    return harness.usable() ? quillet::bench::benchmarks(harness) : harness.run();
}

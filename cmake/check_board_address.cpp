// Run once at configure time on VARDEK_BOARD_ADDRESS, so the build refuses exactly the addresses
// that the programs refuse at run time. Prints the reason and fails for a refused one.
#include <cstdio>

#include "link/board_address.h"

int main(int argc, char** argv) {
    const std::string problem = vardek::link::boardAddressProblem(argc > 1 ? argv[1] : "");
    if (!problem.empty()) {
        std::puts(problem.c_str());
        return 1;
    }
    return 0;
}

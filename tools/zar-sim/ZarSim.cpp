// zar-sim on Linux: the flasher against the simulated EC and chip.
#include "tools/zar-sim/SimFrontEnd.h"

int main(int argc, char* argv[])
{
    return zar::sim::SimMain(argc, argv);
}

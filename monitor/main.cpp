// brisemer: tests the serial links of a GPS receiver and an AIS transponder.
#include "brisemerprogram.h"

int main(int argc, char** argv) {
    TBrisemerProgram program(argc, argv);
    return program.Run();
}

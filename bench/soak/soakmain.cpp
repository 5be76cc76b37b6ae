// brisemer-soak: the program with the flood soak's instruments attached to its main window.
#include "brisemerprogram.h"
#include "soakprobe.h"

int main(int argc, char** argv) {
    TBrisemerProgram program(argc, argv);
    TSoakProbe probe(program.MainForm());
    return program.Run([&probe] { probe.Started(); });
}

// brisemer-probe: the program with the benchmark's instruments attached to its windows.
#include "brisemerprogram.h"
#include "programprobe.h"

int main(int argc, char** argv) {
    TBrisemerProgram program(argc, argv);
    TProgramProbe probe(program.MainForm(), program.SettingsForm());
    return program.Run();
}

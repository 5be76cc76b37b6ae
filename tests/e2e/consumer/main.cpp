// readline N: opens port COMN with the serial component library, says "open", then
// prints the first line it receives (ended by CR LF). Before that it asks the indicator
// library for its 3D lamp renderer, which must load from the installed module folder.
#include "nrcomm.h"
#include "nrcommthreads.h"
#include "nrlamp3d.h"
#include "nrmodules.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const TLibraryModules modules{nrcommModule};
    if (argc != 2) return 2;
    if (!Lamp3DProcAddress("glClear")) {
        std::puts("the 3D lamp renderer did not load");
        return 3;
    }
    TnrComm com;
    com.SetComPortNo(static_cast<std::uint16_t>(std::atoi(argv[1])));
    com.SetBaudRate(4800);
    com.SetActive(true);
    std::puts("open");
    std::fflush(stdout);
    QByteArray line;
    while (!line.contains('\n') && com.WaitForBytes(1, 10000))
        line += com.ReadString();
    std::fputs(line.constData(), stdout);
    return line.endsWith("\r\n") ? 0 : 1;
}

// The renderer of the 3D lamp images: a lit sphere or pyramid drawn with OpenGL into a
// bitmap in memory (OSMesa, software rendering, no display needed).
//
// OSMesa brings the LLVM library with it, some 40 MiB resident as soon as it is loaded,
// and most programs never show a 3D lamp. So in a normal build the renderer is a module
// of its own (lamp3d/, libnrlamp3d.so) that Lamp3DRender loads at its first call. The
// module is loaded with RTLD_DEEPBIND: its gl* calls and GLU's must reach OSMesa, not
// the libOpenGL that Qt brings into every program. Sanitizer runtimes refuse
// RTLD_DEEPBIND, so sanitizer builds link the renderer and OSMesa into the program
// (OSMesa first on the link line, for the same reason).
//
// Threads: the OpenGL context is current on the calling thread during the call only;
// call from one thread at a time (the semaphore calls it on the user-interface thread).
#pragma once

#include "lamp3d/nrlamp3dapi.h"

#include <QString>
#include <cstdint>

// Renders Scene into Pixels: Width x Height 32-bit pixels 0xffRRGGBB, top row first, which
// the call starts all white. False, with the reason in *Error, when the renderer can't be
// loaded or its context set up; the pixels are then left as they were.
bool Lamp3DRender(const TnrLamp3DScene& Scene, std::uint32_t* Pixels, QString* Error);

// The renderer's OpenGL function of that name, for a Draw callback: the program's own
// gl* calls may reach another OpenGL library. Null when unknown or not loadable.
void* Lamp3DProcAddress(const char* Name);

// True once the renderer is in the process (always in a build that links it).
bool Lamp3DLoaded();

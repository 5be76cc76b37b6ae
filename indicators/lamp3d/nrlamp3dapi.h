// The entry points of the 3D lamp renderer (lamp3d/nrlamp3drender.cpp), as the module
// exports them and the loader (nrlamp3d.cpp) looks them up, with the scene they draw.
// No Qt type: the module links no Qt.
#pragma once

#include <cstddef>
#include <cstdint>

// The scene of one lamp image. Shape is a TnrStyle3D value (1 sphere, 2 pyramid).
struct TnrLamp3DScene {
    int Width = 0;
    int Height = 0;
    float Red = 0, Green = 0, Blue = 0;
    int Shape = 1;
    bool Frame = false;
    // Replaces the shape when set: called with the context current, the scene set up and
    // the colour current. An exception it throws passes through Lamp3DRender, after the
    // context is released.
    void (*Draw)(void* DrawContext) = nullptr;
    void* DrawContext = nullptr;
};

extern "C" {
// 1 when drawn; 0 with a reason of at most ErrorSize - 1 bytes in Error.
__attribute__((visibility("default"))) int nrLamp3DRender(const TnrLamp3DScene* Scene, std::uint32_t* Pixels,
                                                          char* Error, std::size_t ErrorSize);
__attribute__((visibility("default"))) void* nrLamp3DProcAddress(const char* Name);
}

using TnrLamp3DRenderFn = decltype(&nrLamp3DRender);
using TnrLamp3DProcAddressFn = decltype(&nrLamp3DProcAddress);

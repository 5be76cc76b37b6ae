#include "nrlamp3d.h"

#include "lamp3d/nrlamp3dapi.h"

#include <QByteArray>
#include <QStringList>
#include <mutex>

#if BRISEMER_LAMP3D_MODULE
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <dlfcn.h>
#endif

namespace {

struct TRenderer {
    TnrLamp3DRenderFn Render = nullptr;
    TnrLamp3DProcAddressFn ProcAddress = nullptr;
    QString Error;
};

#if BRISEMER_LAMP3D_MODULE

constexpr const char* kModuleName = "libnrlamp3d.so";
std::once_flag gLoadOnce;
TRenderer gRenderer;
std::atomic<bool> gLoaded{false};

// Beside the executable first (a program kept in one folder with its module), then in the
// brisemer/ folder beside this library (where it is installed), then where the build put
// it, then the loader's own search path.
QStringList ModuleCandidates() {
    QStringList candidates;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!exe.isEmpty()) candidates << QFileInfo(exe).dir().filePath(QString::fromLatin1(kModuleName));
    Dl_info self{};
    if (dladdr(reinterpret_cast<const void*>(&Lamp3DLoaded), &self) != 0 && self.dli_fname) {
        const QDir libraryFolder = QFileInfo(QFile::decodeName(self.dli_fname)).absoluteDir();
        candidates << libraryFolder.filePath(QStringLiteral(BRISEMER_LAMP3D_FOLDER "/") +
                                             QString::fromLatin1(kModuleName));
    }
    candidates << QString::fromUtf8(BRISEMER_LAMP3D_PATH) << QString::fromLatin1(kModuleName);
    return candidates;
}

void Load() {
    QStringList reasons;
    for (const QString& candidate : ModuleCandidates()) {
        const bool bare = !candidate.contains(QLatin1Char('/'));
        if (!bare && !QFile::exists(candidate)) continue;
        // Its own OSMesa before the program's libOpenGL, for the module and for GLU.
        void* module = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
        if (!module) {
            reasons << QString::fromLocal8Bit(dlerror());
            continue;
        }
        auto render = reinterpret_cast<TnrLamp3DRenderFn>(dlsym(module, "nrLamp3DRender"));
        auto proc = reinterpret_cast<TnrLamp3DProcAddressFn>(dlsym(module, "nrLamp3DProcAddress"));
        if (!render || !proc) {
            reasons << QStringLiteral("%1: not a lamp renderer").arg(candidate);
            dlclose(module);
            continue;
        }
        // Kept loaded for the rest of the process.
        gRenderer.Render = render;
        gRenderer.ProcAddress = proc;
        gLoaded.store(true, std::memory_order_release);
        return;
    }
    gRenderer.Error = QStringLiteral("cannot load the 3D lamp renderer %1: %2")
                          .arg(QString::fromLatin1(kModuleName),
                               reasons.isEmpty() ? QStringLiteral("not found") : reasons.join(QStringLiteral("; ")));
}

const TRenderer& Renderer() {
    std::call_once(gLoadOnce, Load);
    return gRenderer;
}

#else

const TRenderer& Renderer() {
    static const TRenderer linked{&nrLamp3DRender, &nrLamp3DProcAddress, QString()};
    return linked;
}

#endif

} // namespace

bool Lamp3DRender(const TnrLamp3DScene& Scene, std::uint32_t* Pixels, QString* Error) {
    const TRenderer& renderer = Renderer();
    if (!renderer.Render) {
        if (Error) *Error = renderer.Error;
        return false;
    }
    char reason[256] = {};
    if (renderer.Render(&Scene, Pixels, reason, sizeof reason)) return true;
    if (Error) *Error = QString::fromUtf8(reason);
    return false;
}

void* Lamp3DProcAddress(const char* Name) {
    const TRenderer& renderer = Renderer();
    return renderer.ProcAddress ? renderer.ProcAddress(Name) : nullptr;
}

bool Lamp3DLoaded() {
#if BRISEMER_LAMP3D_MODULE
    return gLoaded.load(std::memory_order_acquire);
#else
    return true;
#endif
}

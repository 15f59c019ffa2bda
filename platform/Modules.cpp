#include "platform/Modules.h"

#include <dlfcn.h>

namespace platform {
namespace {

class DlModuleService final : public ModuleService {
public:
    HMODULE load(const QString &fileName) override
    {
        if (fileName.isEmpty())
            return nullptr;
        const QByteArray path = fileName.toLocal8Bit();
        return static_cast<HMODULE>(dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL));
    }

    FARPROC symbol(HMODULE module, const char *name) override
    {
        if (!module || !name)
            return nullptr;
        void *sym = dlsym(static_cast<void *>(module), name);
        return reinterpret_cast<FARPROC>(sym);
    }

    bool free(HMODULE module) override
    {
        return module && dlclose(static_cast<void *>(module)) == 0;
    }
};

ModuleService &current()
{
    return Service<ModuleService>::get();
}

} // namespace

const char *OrdinalName(WORD ordinal)
{
    switch (ordinal) {
    case 1:
        return "DSM_Entry";
    default:
        return nullptr;
    }
}

} // namespace platform

HMODULE LoadLibrary(const QString &fileName)
{
    return platform::current().load(fileName);
}

FARPROC GetProcAddress(HMODULE module, const char *nameOrOrdinal)
{
    const auto value = reinterpret_cast<std::uintptr_t>(nameOrOrdinal);
    if (value < 0x10000)
        return GetProcAddress(module, static_cast<WORD>(value));
    return platform::current().symbol(module, nameOrOrdinal);
}

FARPROC GetProcAddress(HMODULE module, WORD ordinal)
{
    const char *name = platform::OrdinalName(ordinal);
    if (!name)
        return nullptr;
    return platform::current().symbol(module, name);
}

BOOL FreeLibrary(HMODULE module)
{
    return platform::current().free(module) ? TRUE : FALSE;
}

QUILLORA_DEFINE_SERVICE(platform::ModuleService, platform::DlModuleService)

#include "media/TFFEntryPoints.h"

#include "media/TFFLoaderError.h"

#include <dlfcn.h>

namespace {

struct EntryPoint {
    TLibraryIndex library;
    const char* name;
    void (*store)(TFFEntryPoints&, void*);
    bool (*isBound)(const TFFEntryPoints&);
};

#define AURALON_FF_ROW(lib, fn)                                                               \
    {TLibraryIndex::lib, #fn,                                                                 \
     [](TFFEntryPoints& e, void* address) { e.fn = reinterpret_cast<decltype(e.fn)>(address); }, \
     [](const TFFEntryPoints& e) { return e.fn != nullptr; }},

const EntryPoint kEntryPoints[] = {AURALON_FF_ENTRY_POINTS(AURALON_FF_ROW)};

#undef AURALON_FF_ROW

}  // namespace

void TFFEntryPoints::Bind(TLibraryIndex library, void* module, const std::string& fileName)
{
    for (const EntryPoint& entry : kEntryPoints) {
        if (entry.library != library)
            continue;
        dlerror();  // a stale message must not be taken for this lookup's
        void* address = dlsym(module, entry.name);
        entry.store(*this, address);
        if (!address) {
            const char* reason = dlerror();
            throw TFFLoaderError(std::string("Load function ") + entry.name + "@" + fileName +
                                 " error: " + (reason ? reason : "symbol is null"));
        }
    }
}

void TFFEntryPoints::Unbind(TLibraryIndex library)
{
    for (const EntryPoint& entry : kEntryPoints)
        if (entry.library == library)
            entry.store(*this, nullptr);
}

std::size_t TFFEntryPoints::BoundCount() const
{
    std::size_t count = 0;
    for (const EntryPoint& entry : kEntryPoints)
        count += entry.isBound(*this) ? 1 : 0;
    return count;
}

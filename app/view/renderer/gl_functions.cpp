#include "app/view/renderer/gl_functions.h"

#include <cstring>
#include <utility>

namespace grainforge::gl {

namespace {

struct SlotEntry {
    const char* name;
    void (*store)(GlFunctionTable& table, void* function);
    void* (*epoxyPointer)();
    bool required;
};

// One entry per slot in table order. The OpenGL name given to the macro expands to libepoxy's
// dispatch pointer, while its spelling (#name) stays the plain OpenGL name.
#define TESSARY_GL_SLOT(member, type, name, required)                                       \
    SlotEntry{#name,                                                                        \
              [](GlFunctionTable& table, void* function) {                                  \
                  table.member = reinterpret_cast<type>(function);                          \
              },                                                                            \
              []() -> void* { return reinterpret_cast<void*>(name); },                      \
              required},
constexpr SlotEntry kSlots[] = {TESSARY_GL_FUNCTIONS(TESSARY_GL_SLOT)};
#undef TESSARY_GL_SLOT

constexpr std::size_t kSlotCount = sizeof(kSlots) / sizeof(kSlots[0]);
// Slots 0..5 are the timer queries; the vertex array and shader compile block (6..20) is loaded
// first, then the queries, then the rest.
constexpr std::size_t kFirstRequired = 6;
constexpr std::size_t kFirstBlockEnd = 21;

bool LoadRange(GlFunctionTable& table, const GlProcResolver& resolver, std::size_t begin, std::size_t end,
               std::string& errorText)
{
    for (std::size_t slot = begin; slot < end; ++slot) {
        void* function = nullptr;
        std::string missing;
        if (!LoadGlFunction(function, kSlots[slot].name, resolver, missing)) {
            if (!kSlots[slot].required)
                continue;  // the slot stays null and its user does without
            errorText = missing;
            return false;
        }
        kSlots[slot].store(table, function);
    }
    return true;
}

}  // namespace

GlProcResolver EpoxyProcResolver()
{
    return [](const char* name) -> void* {
        for (const SlotEntry& entry : kSlots) {
            if (std::strcmp(entry.name, name) == 0)
                return entry.epoxyPointer();
        }
        return nullptr;
    };
}

bool LoadGlFunction(void*& slot, const char* name, const GlProcResolver& resolver, std::string& errorText)
{
    slot = resolver ? resolver(name) : nullptr;
    if (slot != nullptr)
        return true;
    errorText = std::string("OpenGL driver does not provide ") + name + ".";
    return false;
}

bool LoadGlFunctions(GlFunctionTable& table, const GlProcResolver& resolver, std::string& lastError)
{
    table = GlFunctionTable{};
    if (!LoadRange(table, resolver, kFirstRequired, kFirstBlockEnd, lastError))
        return false;
    for (std::size_t slot = 0; slot < kFirstRequired; ++slot) {
        std::string ignored;
        if (!LoadRange(table, resolver, slot, slot + 1, ignored))
            continue;  // optional: frames are drawn without GPU timing
    }
    return LoadRange(table, resolver, kFirstBlockEnd, kSlotCount, lastError);
}

}  // namespace grainforge::gl

#include "app/shell/kit/compact_gtk_style.h"

#include <dlfcn.h>

#include <cstring>

namespace grainforge::app {
namespace {

// GTK's own calls, found in the running process: wx has loaded GTK, and this way the program
// needs no GTK development headers to build.
using NewProvider = void* (*)();
using LoadFromData = int (*)(void* provider, const char* data, long length, void** error);
using DefaultScreen = void* (*)();
using AddProviderForScreen = void (*)(void* screen, void* provider, unsigned priority);
using Unref = void (*)(void* object);
using FreeError = void (*)(void* error);
using GetType = unsigned long (*)();
using IsInstanceOf = int (*)(void* instance, unsigned long type);
using SetOverlayScrolling = void (*)(void* scrolledWindow, int overlay);
using GetOverlayScrolling = int (*)(void* scrolledWindow);
using DefaultSettings = void* (*)();
using SetObjectProperties = void (*)(void* object, const char* firstProperty, ...);
using FindObjectProperty = void* (*)(void* objectClass, const char* property);

// GTK_STYLE_PROVIDER_PRIORITY_APPLICATION: above the theme, below the user's own settings.
constexpr unsigned kApplicationPriority = 600;

template <typename Function>
Function Find(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

const char* CompactGtkCss() {
  // Each widget's height is its min-height plus its padding plus a 1 px border on both sides;
  // these make entries 24 px and buttons and combo boxes 24 px or less with 9 pt text.
  return R"css(
entry {
  min-height: 18px;
  padding-top: 2px;
  padding-bottom: 2px;
  padding-left: 4px;
  padding-right: 4px;
}
button {
  min-height: 16px;
  min-width: 16px;
  padding: 1px 6px;
}
combobox button, combobox entry {
  min-height: 16px;
  padding-top: 0;
  padding-bottom: 0;
}
spinbutton entry {
  min-height: 16px;
  padding-top: 0;
  padding-bottom: 0;
}
spinbutton button {
  min-height: 16px;
  padding: 0 4px;
}
spinbutton, spinbutton.horizontal {
  min-height: 16px;
}
spinbutton button image, spinbutton button label {
  min-height: 12px;
  -gtk-icon-transform: scale(0.75);
}
checkbutton, radiobutton {
  min-height: 16px;
  padding-top: 1px;
  padding-bottom: 1px;
}
)css";
}

bool ApplyCompactGtkStyle() {
  const auto newProvider = Find<NewProvider>("gtk_css_provider_new");
  const auto loadFromData = Find<LoadFromData>("gtk_css_provider_load_from_data");
  const auto defaultScreen = Find<DefaultScreen>("gdk_screen_get_default");
  const auto addProvider = Find<AddProviderForScreen>("gtk_style_context_add_provider_for_screen");
  const auto unref = Find<Unref>("g_object_unref");
  const auto freeError = Find<FreeError>("g_error_free");
  if (!newProvider || !loadFromData || !defaultScreen || !addProvider || !unref || !freeError)
    return false;
  void* screen = defaultScreen();
  if (screen == nullptr) return false;
  void* provider = newProvider();
  if (provider == nullptr) return false;
  const char* css = CompactGtkCss();
  void* error = nullptr;
  const bool loaded = loadFromData(provider, css, static_cast<long>(std::strlen(css)), &error) != 0;
  if (error != nullptr) freeError(error);
  if (loaded) addProvider(screen, provider, kApplicationPriority);
  // The screen holds its own reference to the provider.
  unref(provider);
  return loaded;
}

bool ShowScrollBarsBesideContentsEverywhere() {
  const auto defaultSettings = Find<DefaultSettings>("gtk_settings_get_default");
  const auto set = Find<SetObjectProperties>("g_object_set");
  const auto findProperty = Find<FindObjectProperty>("g_object_class_find_property");
  if (!defaultSettings || !set || !findProperty) return false;
  void* settings = defaultSettings();
  // The setting came with GTK 3.24.9; an older GTK would warn about the unknown property.
  if (settings == nullptr || findProperty(*static_cast<void**>(settings), "gtk-overlay-scrolling") == nullptr)
    return false;
  set(settings, "gtk-overlay-scrolling", 0, static_cast<const char*>(nullptr));
  return true;
}

bool ScrollBarsOverlayContents(void* widget) {
  const auto scrolledType = Find<GetType>("gtk_scrolled_window_get_type");
  const auto isInstanceOf = Find<IsInstanceOf>("g_type_check_instance_is_a");
  const auto getOverlay = Find<GetOverlayScrolling>("gtk_scrolled_window_get_overlay_scrolling");
  if (widget == nullptr || !scrolledType || !isInstanceOf || !getOverlay || isInstanceOf(widget, scrolledType()) == 0)
    return false;
  return getOverlay(widget) != 0;
}

bool ShowScrollBarsBesideContents(void* widget) {
  const auto scrolledType = Find<GetType>("gtk_scrolled_window_get_type");
  const auto isInstanceOf = Find<IsInstanceOf>("g_type_check_instance_is_a");
  const auto setOverlay = Find<SetOverlayScrolling>("gtk_scrolled_window_set_overlay_scrolling");
  if (widget == nullptr || !scrolledType || !isInstanceOf || !setOverlay || isInstanceOf(widget, scrolledType()) == 0)
    return false;
  setOverlay(widget, 0);
  return true;
}

}  // namespace grainforge::app

#include "WaylandFrames.h"

#include <QByteArray>
#include <QtGlobal>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>

namespace {

const char* const disableFramesVariable = "QT_WAYLAND_DISABLE_WINDOWDECORATION";
// Whether leaveWindowFramesToCompositor() set it (rather than the user).
bool setByUs = false;

// The few calls of libwayland-client's stable ABI that one look at the compositor's registry takes.
// The library is opened only for that look, and only where Qt may run on Wayland (where Qt's own
// plugin loads it anyway): on X11 the program neither loads it nor depends on it.
struct wl_display;
struct wl_proxy;
struct wl_interface;
struct RegistryListener {
    void (*global)(void* data, wl_proxy* registry, uint32_t name, const char* interface,
                   uint32_t version);
    void (*globalRemove)(void* data, wl_proxy* registry, uint32_t name);
};
constexpr uint32_t displayGetRegistry = 1; // wl_display.get_registry

struct WaylandClient {
    void* library = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    ~WaylandClient() {
        if (library)
            dlclose(library);
    }
    template <typename Function> Function* symbol(const char* name) const {
        return library ? reinterpret_cast<Function*>(dlsym(library, name)) : nullptr;
    }
};

// Whether the compositor's registry holds the xdg-decoration manager, through a connection of our
// own that lives for one round trip.
bool compositorDrawsFrames() {
    const WaylandClient client;
    const auto connect = client.symbol<wl_display*(const char*)>("wl_display_connect");
    const auto disconnect = client.symbol<void(wl_display*)>("wl_display_disconnect");
    const auto roundtrip = client.symbol<int(wl_display*)>("wl_display_roundtrip");
    const auto marshalConstructor =
        client.symbol<wl_proxy*(wl_proxy*, uint32_t, const wl_interface*, ...)>(
            "wl_proxy_marshal_constructor");
    const auto addListener =
        client.symbol<int(wl_proxy*, void (**)(void), void*)>("wl_proxy_add_listener");
    const auto destroy = client.symbol<void(wl_proxy*)>("wl_proxy_destroy");
    const auto registryInterface = client.symbol<const wl_interface>("wl_registry_interface");
    if (!connect || !disconnect || !roundtrip || !marshalConstructor || !addListener || !destroy ||
        !registryInterface)
        return false;

    wl_display* display = connect(nullptr);
    if (!display)
        return false;
    bool found = false;
    static const RegistryListener listener = {
        [](void* data, wl_proxy*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_proxy*, uint32_t) {},
    };
    bool answered = false;
    if (wl_proxy* registry = marshalConstructor(reinterpret_cast<wl_proxy*>(display),
                                                displayGetRegistry, registryInterface, nullptr)) {
        addListener(registry,
                    reinterpret_cast<void (**)(void)>(const_cast<RegistryListener*>(&listener)),
                    &found);
        answered = roundtrip(display) >= 0;
        destroy(registry);
    }
    disconnect(display);
    return answered && found;
}

} // namespace

void leaveWindowFramesToCompositor() {
    if (qEnvironmentVariableIsSet(disableFramesVariable))
        return;
    // libwayland-client would take the descriptor and the variable for our look, and Qt would find
    // no connection left.
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET"))
        return;
    // Only where Qt may end up on Wayland: it is told so, or it is told nothing and a compositor
    // runs.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() ? qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                           : !platform.startsWith("wayland"))
        return;
    if (compositorDrawsFrames()) {
        qputenv(disableFramesVariable, "1");
        setByUs = true;
    }
}

OwnWindowFramesSettingWithheld::OwnWindowFramesSettingWithheld()
    : m_withheld(setByUs && qEnvironmentVariableIsSet(disableFramesVariable)) {
    if (m_withheld)
        qunsetenv(disableFramesVariable);
}

OwnWindowFramesSettingWithheld::~OwnWindowFramesSettingWithheld() {
    if (m_withheld)
        qputenv(disableFramesVariable, "1");
}

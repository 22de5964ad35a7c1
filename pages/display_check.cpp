#include "pages/display_check.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "log/text_format.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string Env(const DisplayProbe& probe, const char* name) {
    return probe.environment(name).value_or(std::string());
}

// The value of a Qt argument such as "-platform name" (also "--platform name").
std::optional<std::string> QtArgument(const DisplayProbe& probe, const std::string& name) {
    const auto& args = probe.arguments;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-" + name || args[i] == "--" + name) {
            return args[i + 1];
        }
    }
    return std::nullopt;
}

// The platforms Qt will try, in its order: the argument, the environment, or the session's.
std::vector<std::string> Candidates(const DisplayProbe& probe) {
    std::string list = QtArgument(probe, "platform").value_or(Env(probe, "QT_QPA_PLATFORM"));
    if (list.empty()) {
        list = LowerCase(Env(probe, "XDG_SESSION_TYPE")) == "wayland" ? "wayland;xcb" : "xcb";
    }
    std::vector<std::string> names;
    for (const std::string& entry : Split(list, ';')) {
        const std::string name = LowerCase(entry.substr(0, entry.find(':')));  // options follow ':'
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

// Why the platform cannot start here, or nothing when it can.
std::optional<std::string> Obstacle(const DisplayProbe& probe, const std::string& name,
                                    const std::set<std::string>& plugins) {
    if (!plugins.empty() && !plugins.contains(name)) {
        return "no Qt platform plugin \"" + name + "\"";
    }
    if (name == "xcb") {
        const std::string display = QtArgument(probe, "display").value_or(Env(probe, "DISPLAY"));
        if (display.empty()) {
            return std::string("no X display (DISPLAY is not set)");
        }
        if (!probe.connectX(display)) {
            return "the X display \"" + display + "\" cannot be reached";
        }
        return std::nullopt;
    }
    if (name.starts_with("wayland")) {
        if (!Env(probe, "WAYLAND_SOCKET").empty()) {
            return std::nullopt;  // a socket handed over by the compositor
        }
        std::string socket = Env(probe, "WAYLAND_DISPLAY");
        if (socket.empty()) {
            socket = "wayland-0";
        }
        if (!socket.starts_with('/')) {
            const std::string runtime = Env(probe, "XDG_RUNTIME_DIR");
            if (runtime.empty()) {
                return std::string("no Wayland display (XDG_RUNTIME_DIR is not set)");
            }
            socket = runtime + "/" + socket;
        }
        if (!probe.connectWayland(socket)) {
            return "no Wayland display at " + socket;
        }
    }
    return std::nullopt;
}

std::set<std::string> InstalledPlatformPlugins() {
    QStringList folders;
    for (const QString& path : QCoreApplication::libraryPaths()) {
        folders << path + QStringLiteral("/platforms");
    }
    const QString extra = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!extra.isEmpty()) {
        folders << extra;
    }
    std::set<std::string> keys;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files)) {
            if (!QLibrary::isLibrary(file)) {
                continue;
            }
            // The plugin's keys come from its metadata; the plugin itself is not loaded.
            const QJsonObject meta = QPluginLoader(dir.filePath(file))
                                         .metaData()
                                         .value(QStringLiteral("MetaData"))
                                         .toObject();
            for (const QJsonValue key : meta.value(QStringLiteral("Keys")).toArray()) {
                keys.insert(LowerCase(key.toString().toStdString()));
            }
        }
    }
    return keys;
}

// Opens and closes a connection with the X client library the xcb plugin itself uses, loaded
// only for this. Without that library nothing can be said: Qt may try.
bool XServerAccepts(const std::string& display) {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) {
        return true;
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool accepted = true;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(display.c_str(), nullptr);
        accepted = connection != nullptr && hasError(connection) == 0;
        disconnect(connection);  // also frees a connection that failed
    }
    ::dlclose(xcb);
    return accepted;
}

bool CompositorListens(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return true;  // cannot be tried here; Qt may
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return true;
    }
    const bool listening =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return listening;
}

}  // namespace

DisplayCheck CheckDisplay(const DisplayProbe& probe) {
    const std::vector<std::string> candidates = Candidates(probe);
    if (candidates.empty()) {
        // A list such as ";" or ":opt" names no platform: Qt has none to start.
        return {false, "no Qt platform named (-platform or QT_QPA_PLATFORM holds no name)"};
    }
    const std::set<std::string> plugins = probe.platformPlugins();
    std::string missing;
    for (const std::string& name : candidates) {
        const std::optional<std::string> obstacle = Obstacle(probe, name, plugins);
        if (!obstacle) {
            return {true, {}};
        }
        missing += (missing.empty() ? "" : "; ") + *obstacle;
    }
    return {false, missing};
}

DisplayProbe SystemDisplayProbe(int argc, char** argv) {
    DisplayProbe probe;
    probe.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    probe.arguments.assign(argv + std::min(argc, 1), argv + argc);
    probe.platformPlugins = InstalledPlatformPlugins;
    probe.connectX = XServerAccepts;
    probe.connectWayland = CompositorListens;
    return probe;
}

#include "platform/wayland/active_window_wayland.h"

#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1.h"
#include "platform/wayland/session.h"

#include <wayland-client.h>

#include <functional>
#include <map>

namespace quillet {

namespace wayland {

namespace {

void destroyManager(zwlr_foreign_toplevel_manager_v1* manager) {
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
}
void destroyHandle(zwlr_foreign_toplevel_handle_v1* handle) {
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}

}  // namespace

// Every toplevel's app id and whether it is the activated one; the
// compositor sends changes in batches that end with `done`. Session thread only.
class Toplevels {
public:
    using OnActive = std::function<void(const QString& appId)>;

    Toplevels(zwlr_foreign_toplevel_manager_v1* manager, OnActive onActive)
        : manager_(manager), onActive_(std::move(onActive)) {
        static constexpr zwlr_foreign_toplevel_manager_v1_listener listener{&onToplevel,
                                                                            &onFinished};
        zwlr_foreign_toplevel_manager_v1_add_listener(manager, &listener, this);
    }
    ~Toplevels() {
        handles_.clear();
        if (manager_) {
            // Asks for no more; the manager goes when the compositor says finished,
            // or with the connection.
            zwlr_foreign_toplevel_manager_v1_stop(manager_.get());
        }
    }
    Toplevels(const Toplevels&) = delete;
    Toplevels& operator=(const Toplevels&) = delete;

private:
    struct Toplevel {
        Owned<zwlr_foreign_toplevel_handle_v1, destroyHandle> handle;
        QString appId;
        bool activated = false;
        // Until `done`.
        QString nextAppId;
        bool nextActivated = false;
    };

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* handle) {
        static constexpr zwlr_foreign_toplevel_handle_v1_listener listener{
            &onTitle, &onAppId, &onOutputEnter, &onOutputLeave,
            &onState, &onDone,  &onClosed,      &onParent};
        auto* self = static_cast<Toplevels*>(data);
        auto& toplevel = self->handles_[handle];
        toplevel.handle.reset(handle);
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, self);
    }
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        static_cast<Toplevels*>(data)->manager_.reset();
    }
    static void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId) {
        static_cast<Toplevels*>(data)->handles_[handle].nextAppId = QString::fromUtf8(appId);
    }
    static void onOutputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onOutputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
        bool activated = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
            activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        static_cast<Toplevels*>(data)->handles_[handle].nextActivated = activated;
    }
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<Toplevels*>(data);
        Toplevel& toplevel = self->handles_[handle];
        toplevel.appId = toplevel.nextAppId;
        toplevel.activated = toplevel.nextActivated;
        self->report();
    }
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<Toplevels*>(data);
        self->handles_.erase(handle);
        self->report();
    }
    static void onParent(void*, zwlr_foreign_toplevel_handle_v1*,
                         zwlr_foreign_toplevel_handle_v1*) {}

    void report() {
        QString active;
        for (const auto& [handle, toplevel] : handles_) {
            if (toplevel.activated) {
                active = toplevel.appId;
            }
        }
        onActive_(active);
    }

    Owned<zwlr_foreign_toplevel_manager_v1, destroyManager> manager_;
    OnActive onActive_;
    std::map<zwlr_foreign_toplevel_handle_v1*, Toplevel> handles_;
};

}  // namespace wayland

ActiveWindowWayland::ActiveWindowWayland(std::shared_ptr<wayland::Session> session)
    : session_(std::move(session)) {
    session_->call([this] {
        if (auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                session_->bind(zwlr_foreign_toplevel_manager_v1_interface, 3))) {
            toplevels_ = std::make_unique<wayland::Toplevels>(manager, [this](const QString& id) {
                std::lock_guard lock(mutex_);
                active_ = id;
            });
        }
    });
}

ActiveWindowWayland::~ActiveWindowWayland() {
    session_->call([this] { toplevels_.reset(); });
}

QString ActiveWindowWayland::appId() {
    std::lock_guard lock(mutex_);
    return active_;
}

}  // namespace quillet

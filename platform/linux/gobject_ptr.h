// One owner for a GObject reference: released by the destructor, never by hand.
#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

namespace platform {

template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference that the caller owns (a "transfer full" result).
    explicit GObjectPtr(T* object) : object_(object) {}
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr()
    {
        if (object_)
            g_object_unref(object_);
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

struct GFreeDeleter {
    void operator()(void* memory) const { g_free(memory); }
};
// A string that GLib allocated.
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

}  // namespace platform

#pragma once

#include <glib-object.h>
#include <utility>

namespace brindle::native {

// Owns one reference to a GObject and drops it on destruction. Constructing from a raw pointer
// adopts a reference the caller already holds (a "new" or "ref" result); it adds none of its
// own. Floating references (fresh GTK widgets) are sunk on adoption so that ownership is plain.
template <typename T> class GObjectPtr {
public:
    GObjectPtr() = default;
    explicit GObjectPtr(T* object)
        : object_(object)
    {
        if (object_ && g_object_is_floating(object_))
            g_object_ref_sink(object_);
    }
    GObjectPtr(GObjectPtr const& other)
        : object_(other.object_)
    {
        if (object_)
            g_object_ref(object_);
    }
    GObjectPtr(GObjectPtr&& other) noexcept
        : object_(std::exchange(other.object_, nullptr))
    {
    }
    GObjectPtr& operator=(GObjectPtr other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr()
    {
        if (object_)
            g_object_unref(object_);
    }

    // Adds a reference to an object that someone else owns.
    static GObjectPtr retain(T* object)
    {
        if (object)
            g_object_ref(object);
        return GObjectPtr(object);
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T* release() { return std::exchange(object_, nullptr); }

private:
    T* object_ = nullptr;
};

} // namespace brindle::native

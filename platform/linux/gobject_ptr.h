#pragma once

#include <glib-object.h>
#include <utility>

namespace brindle::native {

// Owns one reference to a GObject and drops it on destruction. A pointer is made with adopt() or
// retain(), so that every call says whose reference it holds (as WebKit's adoptGRef does).
template <typename T> class GObjectPtr;
template <typename T> GObjectPtr<T> adopt(T* object);

template <typename T> class GObjectPtr {
public:
    GObjectPtr() = default;
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

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    friend GObjectPtr adopt<T>(T* object);
    explicit GObjectPtr(T* object)
        : object_(object)
    {
        g_warn_if_fail(!object || !g_object_is_floating(object));
    }

    T* object_ = nullptr;
};

// Takes over the full reference the caller holds: the result of a "new", "ref" or other
// transfer-full call. A floating reference is a programming error here; retain() takes those.
template <typename T> GObjectPtr<T> adopt(T* object)
{
    return GObjectPtr<T>(object);
}

// Adds a reference of its own to an object someone else owns. A fresh floating object (a GTK
// widget, a GStreamer element) has no owner yet: its floating reference becomes this one.
template <typename T> GObjectPtr<T> retain(T* object)
{
    if (object)
        g_object_ref_sink(object);
    return adopt(object);
}

// Points at a GObject without owning it and turns null when the object is finalized, so that a
// widget GTK destroys on its own (a window the user closed) is never used afterwards.
template <typename T> class GObjectWeakPtr {
public:
    GObjectWeakPtr() = default;
    explicit GObjectWeakPtr(T* object) { reset(object); }
    GObjectWeakPtr(GObjectWeakPtr const&) = delete;
    GObjectWeakPtr& operator=(GObjectWeakPtr const&) = delete;
    ~GObjectWeakPtr() { reset(); }

    void reset(T* object = nullptr)
    {
        if (object_)
            g_object_remove_weak_pointer(G_OBJECT(object_), reinterpret_cast<gpointer*>(&object_));
        object_ = object;
        if (object_)
            g_object_add_weak_pointer(G_OBJECT(object_), reinterpret_cast<gpointer*>(&object_));
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

} // namespace brindle::native

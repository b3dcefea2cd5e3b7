#pragma once

#include <glib-object.h>
#include <utility>

namespace usbfs {

// Owns one reference to a GObject: takes over a reference the caller already holds (a "new"
// or "resolve" result) and gives it back when it goes.
template<typename T> class GRef
{
public:
    GRef() = default;
    explicit GRef(T *owned)
        : object_(owned)
    {
    }
    GRef(const GRef &other)
        : object_(other.object_ ? static_cast<T *>(g_object_ref(other.object_)) : nullptr)
    {
    }
    GRef(GRef &&other) noexcept
        : object_(std::exchange(other.object_, nullptr))
    {
    }
    GRef &operator=(GRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GRef()
    {
        if (object_)
            g_object_unref(object_);
    }

    // A new reference on `borrowed`, which the caller does not own.
    static GRef borrow(T *borrowed)
    {
        return GRef(borrowed ? static_cast<T *>(g_object_ref(borrowed)) : nullptr);
    }

    T *get() const { return object_; }
    T *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset() { GRef().swap(*this); }
    void swap(GRef &other) noexcept { std::swap(object_, other.object_); }

private:
    T *object_ = nullptr;
};

} // namespace usbfs

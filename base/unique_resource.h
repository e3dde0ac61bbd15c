#pragma once

#include <utility>

namespace lumivance {

// Owns one handle of a kind described by Traits:
//   using pointer = ...;                       the handle type
//   static pointer invalid() noexcept;         the kind's own "empty" value (NULL, INVALID_HANDLE_VALUE, ...)
//   static void close(pointer) noexcept;       its release call, whose result nobody examines
// Owners declared in creation order release in reverse order on every path, without catch blocks.
template <typename Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer handle) noexcept : handle_(handle) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    [[nodiscard]] pointer get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    // For out-parameters of creating calls: releases what is held and hands out the slot.
    [[nodiscard]] pointer* put() noexcept
    {
        reset();
        return &handle_;
    }

    [[nodiscard]] pointer release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    void reset(pointer handle = Traits::invalid()) noexcept
    {
        const pointer old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }

private:
    pointer handle_ = Traits::invalid();
};

}  // namespace lumivance

// The objects behind handles (windows, bitmaps): each new object gets a
// handle value of its own that is never 0 and never handed out twice in a
// run, and a handle that names nothing finds nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace platform {

// |Owner| is the smart pointer that holds an object (unique_ptr or
// shared_ptr); handles are spaced 16 apart from |first| on.
template <class Handle, class Owner>
class HandleTable {
public:
    explicit HandleTable(std::uintptr_t first) : next_(first) {}

    Handle Add(Owner object)
    {
        next_ += 0x10;
        const Handle h = reinterpret_cast<Handle>(next_);
        objects_.emplace(h, std::move(object));
        return h;
    }
    // The owner of |h|'s object, or null when |h| names nothing.
    Owner *Find(Handle h)
    {
        auto it = objects_.find(h);
        return it == objects_.end() ? nullptr : &it->second;
    }
    // The object itself, or null.
    auto *Object(Handle h)
    {
        Owner *o = Find(h);
        return o ? o->get() : nullptr;
    }
    bool Contains(Handle h) const { return objects_.count(h) != 0; }
    // True when |h| named an object, which is now gone.
    bool Erase(Handle h) { return objects_.erase(h) != 0; }
    std::size_t Size() const { return objects_.size(); }

private:
    std::unordered_map<Handle, Owner> objects_;
    std::uintptr_t next_;
};

} // namespace platform

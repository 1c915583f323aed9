#pragma once
// The units whose current job has not yet reported. Its size is the
// window's "operation in progress" test. UI thread only.
#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "inventory/hub_device.h"

namespace talvor {

// 32-bit FNV-1a over the pointer value's bytes, low byte first.
struct unit_pointer_hash {
    std::size_t operator()(const CHubDevice* unit) const noexcept;
};

// A unit in the set is at work on a refresh or a batch: until it has
// logged in, the password typed for them is kept (ensure_login.h).
class busy_units {
public:
    bool insert(CHubDevice* unit);
    bool erase(CHubDevice* unit);
    bool contains(const CHubDevice* unit) const { return set_.count(const_cast<CHubDevice*>(unit)) != 0; }
    std::size_t size() const { return set_.size(); }
    bool empty() const { return set_.empty(); }
    void clear();
    auto begin() const { return set_.begin(); }
    auto end() const { return set_.end(); }

private:
    std::unordered_set<CHubDevice*, unit_pointer_hash> set_;
};

} // namespace talvor

#pragma once
// What both clients keep: the session, the option flags, the unit's salt and
// the key derived from the password and that salt.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "protocol/key_derivation.h"
#include "protocol/zt_hub.h"

namespace talvor {

class hub_base : public zt_hub {
public:
    explicit hub_base(std::shared_ptr<conn_sess> session);

    int derive_key(std::string_view password) override;
    bool csrf_needs_renewal() override;
    bool has_key() override { return key_.has_value(); }
    int modbus_read(std::vector<int>& out, int start, int count, int interval, std::size_t limit) override;
    void set_flags(std::uint32_t bits) override { options_ |= bits; }
    void clear_flags() override { options_ = 0; }
    bool wait_cancel(int ms) override { return session_->wait_cancel(ms); }
    void set_cancel(bool on) override { session_->set_cancel(on); }

    const std::shared_ptr<conn_sess>& session() const { return session_; }
    std::uint32_t options() const { return options_; }

protected:
    // A salt other than the stored one invalidates the key.
    void store_salt(std::string salt);
    const std::string& salt() const { return salt_; }
    const std::optional<key16>& key() const { return key_; }
    // Follows a firmware upload's progress with `poll` (the progress read).
    int follow_progress(const std::function<json_ptr()>& poll, const progress_range& range);

    std::shared_ptr<conn_sess> session_;
    std::uint32_t options_ = 0;

private:
    std::string salt_;
    std::optional<key16> key_;
};

// Whole image for 0 or a count beyond it, else the first `byte_count` bytes.
std::size_t firmware_bytes_to_send(std::size_t image_size, std::size_t byte_count);

} // namespace talvor

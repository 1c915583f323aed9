#pragma once
// The client of units that take numbered JSON requests over one TLS
// WebSocket. Requests are strictly sequential; only get_challenge opens the
// socket, every other request on a closed socket fails with -1.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "protocol/hub_base.h"

namespace talvor {

class zt_hub_wss : public hub_base {
public:
    explicit zt_hub_wss(std::shared_ptr<conn_sess> session);
    ~zt_hub_wss() override;

    int get_challenge(std::string* challenge) override;
    int set_password(std::string_view new_password) override;
    int logout() override;
    int login(std::string* role) override;
    int get_config_file_raw(byte_vector& out, std::size_t limit) override;
    int upload_net_firmware(const byte_vector& image, const progress_range& progress, std::size_t byte_count) override;
    int upload_sys_firmware(const byte_vector& image, int target, const progress_range& progress,
                            std::size_t byte_count) override;
    int reboot(unsigned code) override;
    json_ptr get_config_cats(std::size_t limit) override;
    int set_config(const byte_vector& config, unsigned category, const progress_range& progress) override;
    int get_gen_conf_raw(byte_vector& out, std::size_t limit) override;
    int get_tap_details_raw(byte_vector& out, std::size_t limit) override;
    int get_config_cats_raw(byte_vector& out, std::size_t limit) override;
    json_ptr get_gen_conf(std::size_t limit) override;
    json_ptr get_tap_details(std::size_t limit) override;
    json_ptr get_config_file(std::size_t limit) override;
    json_ptr modbus_get(int start, int count, int interval, std::size_t limit) override;
    json_ptr get_conf(std::size_t limit) override;
    int sdcard_clear(unsigned code) override;
    int upload_customisation(const byte_vector& file, const progress_range& progress) override;
    int modbus_set(int start, const std::vector<int>& values) override;
    void drop_connection() override;
    int protocol_kind() const override { return protocol_wss; }
    int cert_upload(const byte_vector& file, const progress_range& progress) override;
    int priv_upload(const byte_vector& file, const progress_range& progress) override;
    int cert_default_regen() override;
    int cert_clear() override;
    byte_vector get_server_cert() override;

    bool socket_open() const;
    // The last request number used (tests start it near the wrap).
    std::uint32_t request_counter() const { return counter_; }
    void set_request_counter(std::uint32_t counter) { counter_ = counter; }

private:
    // Internal transport code; on a certificate problem found_problems is set.
    int open_socket();
    // Sends one request (envelope, then NUL and `file` when given) and reads
    // its reply into `payload` with room for `capacity` bytes. The reply's
    // status, or -1.
    int request(std::string_view name, std::string_view data, const byte_vector* file, byte_vector& payload,
                std::size_t capacity);
    int request(std::string_view name, std::string_view data, std::optional<std::span<const std::uint8_t>> file,
                byte_vector& payload, std::size_t capacity);
    int request_status(std::string_view name, std::string_view data = {}, const byte_vector* file = nullptr);
    int get_raw(std::string_view name, byte_vector& out, std::size_t limit);
    json_ptr get_parsed(std::string_view name, std::size_t limit, std::string_view data = {});
    int pass_request(std::string_view name, std::string* role);
    // Sends the first `byte_count` bytes of the image (0: all of it), then
    // follows the unit's progress.
    int firmware_upload(std::string_view name, std::string_view data, const byte_vector& image,
                        const progress_range& progress, std::size_t byte_count);

    std::unique_ptr<ws_socket> socket_;
    std::uint32_t counter_ = 0;
    // The open socket's certificate, copied at the handshake: the window
    // may ask for it while the worker uses (or loses) the socket.
    mutable std::mutex cert_lock_;
    byte_vector server_cert_;
};

} // namespace talvor

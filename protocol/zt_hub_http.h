#pragma once
// The client of units that answer plain HTTP requests on ".action" paths.
#include <string>

#include "protocol/hub_base.h"

namespace talvor {

class zt_hub_http : public hub_base {
public:
    explicit zt_hub_http(std::shared_ptr<conn_sess> session);

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
    void drop_connection() override {}
    int protocol_kind() const override { return protocol_http; }
    int cert_upload(const byte_vector&, const progress_range&) override { return -1; }
    int priv_upload(const byte_vector&, const progress_range&) override { return -1; }
    int cert_default_regen() override { return -1; }
    int cert_clear() override { return -1; }
    byte_vector get_server_cert() override { return {}; }

private:
    int get_raw(const std::string& path, byte_vector& out, std::size_t limit);
    json_ptr get_parsed(const std::string& path, std::size_t limit);
    int login_exchange(const std::string& path, std::string* role);
    int post_form(const std::string& path, const std::string& body);
    // Head, then each part (parts separated), then tail.
    int post_multipart(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts,
                       const progress_range& progress);
    int upload_with_progress(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts,
                             const progress_range& progress);
    std::string with_auth(std::string path) const;
};

} // namespace talvor

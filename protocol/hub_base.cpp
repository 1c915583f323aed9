#include "protocol/hub_base.h"

#include "protocol/auth_query.h"
#include "protocol/modbus_regs.h"
#include "protocol/upload_progress.h"

namespace talvor {

hub_base::hub_base(std::shared_ptr<conn_sess> session) : session_(std::move(session)) {}

int hub_base::derive_key(std::string_view password)
{
    if (salt_.empty())
        return -1;
    key_ = derive_f(password, salt_);
    return 0;
}

bool hub_base::csrf_needs_renewal()
{
    const auto csrf = session_->cookie("csrf");
    return csrf && csrf_wants_renewal(*csrf);
}

int hub_base::modbus_read(std::vector<int>& out, int start, int count, int interval, std::size_t limit)
{
    const json_ptr reply = modbus_get(start, count, interval, limit);
    return modbus_regs_from(reply.get(), count, out);
}

void hub_base::store_salt(std::string salt)
{
    if (salt == salt_)
        return;
    salt_ = std::move(salt);
    if (key_)
        key_->fill(0);
    key_.reset();
}

int hub_base::follow_progress(const std::function<json_ptr()>& poll, const progress_range& range)
{
    return follow_upload_progress(poll, [this](int ms) { return session_->wait_cancel(ms); }, range);
}

std::size_t firmware_bytes_to_send(std::size_t image_size, std::size_t byte_count)
{
    return byte_count == 0 || byte_count > image_size ? image_size : byte_count;
}

} // namespace talvor

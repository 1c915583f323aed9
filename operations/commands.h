#pragma once
// The administrative commands of the main window. The window's buttons,
// menus and drops, talvorctl and the tests all call these. Each returns the
// progress window's result (ShowOperationProgress), or 0 when the command
// ended before any job was queued (nothing selected, a question answered
// no, a file refused, ...). A null `path` means "ask for the file".
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "operations/batch.h"

namespace talvor {

// Firmware images for the selected units, or for their selected TAPs.
int OnFirmwareUpdate(batch_context& ctx, const std::filesystem::path* path);

// Configuration files (.cfg) and CT type tables (.csv).
// With `folder`, every unit's file goes there under its own name, as for
// several units, without asking; null asks for a file (one unit) or a folder.
int OnDownloadConfiguration(batch_context& ctx, const std::filesystem::path* folder = nullptr);
int OnUploadConfiguration(batch_context& ctx, const std::filesystem::path* path);
// The category choice the upload offers over the selected units that take
// configurations: available only where every one of them offers it.
category_request category_rows(unit_group& group);
int OnUploadCtTypes(batch_context& ctx, const std::filesystem::path* path);
// Not a command of the window: compares each selected unit's configuration
// with a .cfg file, or with `reference` (another unit's, read before with
// read_configuration); the outcomes carry the keys that differ (found),
// their reason "compliant" or how many keys differ. Reads only.
int OnCompareConfiguration(batch_context& ctx, const std::filesystem::path& file);
int OnCompareConfiguration(batch_context& ctx, std::shared_ptr<const byte_vector> reference);
// One unit's configuration read in a batch of its own; nothing when it
// cannot be read (`reason` says why).
std::optional<byte_vector> read_configuration(batch_context& ctx, CHubDevice& unit, std::string& reason);

// Customization (.cst): upload = 1 uploads `path` (or asks), 0 removes it.
int OnUploadCustomization(batch_context& ctx, const std::filesystem::path* path, int upload);
int OnRestart(batch_context& ctx);
int OnEraseSdCard(batch_context& ctx);

// TLS certificates of the units.
int OnUploadCertificate(batch_context& ctx, const std::filesystem::path* path);
int OnUploadCertificateKey(batch_context& ctx);
int OnRegenerateFallbackCertificate(batch_context& ctx);
int OnEraseCertificate(batch_context& ctx);

// The administrator password of the selected units: the new one is asked
// twice, and each unit logs in with it before it counts as changed.
int OnChangePassword(batch_context& ctx);
// Why a typed new password is refused (empty, the entries differ, a
// character the units cannot take); empty when it will do.
std::string new_password_problem(const new_password_entry& entry);

// The unit's web page: "http://" or "https://" by its session's protocol,
// IPv6 addresses in brackets; empty when the unit has no session.
std::string unit_browser_url(CHubDevice& unit);
// Stores the certificate the unit's WebSocket session presented in the
// per-user trusted folder our TLS checks read; reports failures itself.
// 0 on success; 1 when trusted but the certificate's other problems still
// fail the TLS checks, 2 when they remain but the checks accept them (both
// said in a warning, and in `still` when given); -1 on failure.
int trust_unit_certificate(batch_context& ctx, CHubDevice& unit, std::string* still = nullptr);

} // namespace talvor

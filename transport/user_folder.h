#pragma once
// This user's own folder for the program's files: on Windows
// %LOCALAPPDATA%\Quillon\Talvor Manager for both kinds, elsewhere the XDG
// folders ($XDG_CONFIG_HOME, default ~/.config, for settings-like files;
// $XDG_STATE_HOME, default ~/.local/state, for logs), each with
// Quillon/Talvor Manager below. The temporary folder stands in when the
// variables are all unset.
#include <filesystem>

namespace talvor {

enum class user_files { config, state };

std::filesystem::path user_folder(user_files kind);

} // namespace talvor

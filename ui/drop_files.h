#pragma once
// Files dropped on a button go to the window as one blocking message.
#include <QDragEnterEvent>
#include <QDropEvent>

#include <filesystem>
#include <vector>

#include "inventory/window_bridge.h"

namespace talvor {

// Local files of a drag; empty when it carries none.
std::vector<std::filesystem::path> dropped_files(const QMimeData* data);
void accept_file_drag(QDragEnterEvent* event);
// Sends `message` with the dropped paths (wparam) through the bridge.
void forward_drop(QDropEvent* event, window_bridge* bridge, unsigned message);

} // namespace talvor

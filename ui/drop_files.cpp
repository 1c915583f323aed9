#include "ui/drop_files.h"

#include <QMimeData>
#include <QUrl>

#include "transport/path_text.h"

namespace talvor {

std::vector<std::filesystem::path> dropped_files(const QMimeData* data)
{
    std::vector<std::filesystem::path> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.push_back(utf8_path(url.toLocalFile().toStdString()));
    return files;
}

void accept_file_drag(QDragEnterEvent* event)
{
    if (!dropped_files(event->mimeData()).empty())
        event->acceptProposedAction();
}

void forward_drop(QDropEvent* event, window_bridge* bridge, unsigned message)
{
    const auto files = dropped_files(event->mimeData());
    if (files.empty() || !bridge)
        return;
    event->acceptProposedAction();
    bridge->send({message, reinterpret_cast<std::uintptr_t>(&files), 0});
}

} // namespace talvor

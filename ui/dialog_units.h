#pragma once
// Dialog units, as the window layouts are drawn in: a quarter of the average
// character width across, an eighth of the font height down.
#include <QFontMetrics>
#include <QSize>
#include <QWidget>

namespace talvor {

inline int dlu_x(const QWidget* w, int units)
{
    const QFontMetrics fm(w->font());
    const int average =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52;
    return units * average / 4;
}

inline int dlu_y(const QWidget* w, int units)
{
    return units * QFontMetrics(w->font()).height() / 8;
}

inline QSize dlu_size(const QWidget* w, int width, int height)
{
    return {dlu_x(w, width), dlu_y(w, height)};
}

} // namespace talvor

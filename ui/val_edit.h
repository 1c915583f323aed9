#pragma once
// An edit that takes only characters of its allowed set: a typed character
// outside it is dropped, and a paste holding any such character is ignored
// whole.
#include <QLineEdit>

namespace talvor {

class CValEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CValEdit(const QString& allowed, QWidget* parent = nullptr);
    const QString& allowed() const { return allowed_; }

private:
    QString allowed_;
};

} // namespace talvor

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
    // A hint shown while the edit is empty and has no focus.
    void set_cue_banner(const QString& text);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString allowed_;
    QString cue_;
};

} // namespace talvor

#include "ui/val_edit.h"

#include <QValidator>

namespace talvor {

namespace {

// The edit's text only ever holds allowed characters, so judging the text
// as it would be after a keystroke or a paste judges what was added: Qt
// then drops the keystroke, or the whole paste, when it is refused.
class allowed_characters final : public QValidator {
public:
    allowed_characters(const QString& allowed, QObject* parent) : QValidator(parent), allowed_(allowed) {}
    State validate(QString& input, int&) const override
    {
        for (const QChar c : input)
            if (!allowed_.contains(c))
                return Invalid;
        return Acceptable;
    }

private:
    QString allowed_;
};

} // namespace

CValEdit::CValEdit(const QString& allowed, QWidget* parent) : QLineEdit(parent), allowed_(allowed)
{
    setValidator(new allowed_characters(allowed_, this));
}

void CValEdit::set_cue_banner(const QString& text)
{
    cue_ = text;
    setPlaceholderText(hasFocus() ? QString() : cue_);
}

void CValEdit::focusInEvent(QFocusEvent* event)
{
    setPlaceholderText(QString());
    QLineEdit::focusInEvent(event);
}

void CValEdit::focusOutEvent(QFocusEvent* event)
{
    setPlaceholderText(cue_);
    QLineEdit::focusOutEvent(event);
}

} // namespace talvor

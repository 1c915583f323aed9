#include "ui/task_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/dialog_units.h"

namespace talvor {

namespace {

struct common_button {
    unsigned bit;
    int id;
    const char* text;
};
// In the order the platform lays them out.
constexpr common_button common_buttons[] = {
    {button_ok, IDOK, "OK"},           {button_yes, IDYES, "Yes"},       {button_no, IDNO, "No"},
    {button_retry, IDRETRY, "Retry"}, {button_cancel, IDCANCEL, "Cancel"}, {button_close, IDCLOSE, "Close"},
};

QString text_of(const std::string& s)
{
    return QString::fromStdString(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// As tall as its lines up to a dozen, as wide as the longest up to about
// ninety characters; beyond that it scrolls. Its hint is also its minimum,
// so the dialog around it always has room for it.
class details_scroll final : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        const QSize content = widget() ? widget()->sizeHint() : QSize();
        const int line = fontMetrics().lineSpacing();
        const QSize cap(fontMetrics().averageCharWidth() * 90, line * 12);
        QSize s = content.boundedTo(cap);
        if (content.height() > cap.height())
            s.rwidth() += verticalScrollBar()->sizeHint().width();
        if (content.width() > cap.width())
            s.rheight() += horizontalScrollBar()->sizeHint().height();
        return s + QSize(2 * frameWidth(), 2 * frameWidth());
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

unsigned bit_of(int id)
{
    for (const auto& b : common_buttons)
        if (b.id == id)
            return b.bit;
    return 0;
}

} // namespace

QIcon dialog_icon_of(dialog_icon icon, const QWidget* w)
{
    switch (icon) {
    case dialog_icon::information:
        return w->style()->standardIcon(QStyle::SP_MessageBoxInformation);
    case dialog_icon::warning:
        return w->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case dialog_icon::error:
        return w->style()->standardIcon(QStyle::SP_MessageBoxCritical);
    case dialog_icon::shield:
        return w->style()->standardIcon(QStyle::SP_VistaShield);
    case dialog_icon::none:
        break;
    }
    return {};
}

CTaskDialog::CTaskDialog(const task_dialog_request& r, QWidget* parent) : QDialog(parent), ok_radio_(r.ok_radio)
{
    setWindowTitle(text_of(r.title));
    auto* outer = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    top->setSpacing(dlu_x(this, 7));
    const QIcon main_icon = dialog_icon_of(r.main_icon, this);
    if (!main_icon.isNull()) {
        auto* icon = new QLabel;
        icon->setPixmap(main_icon.pixmap(32, 32));
        icon->setAlignment(Qt::AlignTop);
        top->addWidget(icon, 0, Qt::AlignTop);
    }
    auto* texts = new QVBoxLayout;
    instruction_ = new QLabel(text_of(r.main_instruction));
    instruction_->setTextFormat(Qt::PlainText);
    instruction_->setWordWrap(true);
    QFont big = instruction_->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    instruction_->setFont(big);
    instruction_->setStyleSheet(QStringLiteral("color: #003399"));
    instruction_->setVisible(!r.main_instruction.empty());
    texts->addWidget(instruction_);
    content_ = new QLabel(text_of(r.content));
    content_->setTextFormat(Qt::PlainText);
    content_->setWordWrap(true);
    content_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    content_->setVisible(!r.content.empty());
    texts->addWidget(content_);
    auto* area = new details_scroll;
    details_ = new QLabel;
    details_->setTextFormat(Qt::PlainText);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    details_->setMargin(dlu_x(this, 2));
    area->setWidget(details_);
    area->setWidgetResizable(true);
    area->setVisible(false);
    details_area_ = area;
    texts->addWidget(area);

    if (!r.radio_buttons.empty()) {
        radio_group_ = new QButtonGroup(this);
        for (const auto& [id, caption] : r.radio_buttons) {
            auto* rb = new QRadioButton(text_of(caption));
            radio_group_->addButton(rb, id);
            radios_[id] = rb;
            texts->addWidget(rb);
        }
        for (int id : r.disabled_radios)
            if (auto* rb = radio(id))
                rb->setEnabled(false);
        const int first = r.default_radio ? r.default_radio : r.radio_buttons.front().first;
        if (auto* rb = radio(first))
            rb->setChecked(true);
        // The word rule: each choice of a radio button disables OK unless
        // it is the right one (the mask's OK bit follows the choice).
        connect(radio_group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
            if (!on || ok_radio_ == 0)
                return;
            set_disabled_buttons(id == ok_radio_ ? disabled_mask_ & ~button_ok : disabled_mask_ | button_ok);
        });
    }

    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    progress_->setVisible(false);
    texts->addWidget(progress_);
    top->addLayout(texts, 1);
    outer->addLayout(top);
    outer->addStretch(1);

    auto* bottom = new QHBoxLayout;
    if (!r.verification_text.empty()) {
        verification_ = new QCheckBox(text_of(r.verification_text));
        verification_->setChecked(r.verification_checked);
        connect(verification_, &QCheckBox::toggled, this, [this](bool on) {
            if (on_verification)
                on_verification(on);
        });
        bottom->addWidget(verification_);
    }
    bottom->addStretch(1);
    for (const auto& b : common_buttons) {
        if (!(r.buttons & b.bit))
            continue;
        auto* pb = new QPushButton(QString::fromLatin1(b.text));
        pb->setAutoDefault(false);
        const int id = b.id;
        connect(pb, &QPushButton::clicked, this, [this, id] { press(id); });
        buttons_[id] = pb;
        bottom->addWidget(pb);
    }
    outer->addLayout(bottom);

    if (!r.footer.empty()) {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        outer->addWidget(line);
        auto* footer = new QHBoxLayout;
        const QIcon footer_icon = dialog_icon_of(r.footer_icon, this);
        if (!footer_icon.isNull()) {
            auto* icon = new QLabel;
            icon->setPixmap(footer_icon.pixmap(16, 16));
            footer->addWidget(icon, 0, Qt::AlignTop);
        }
        auto* text = new QLabel(text_of(r.footer));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        footer->addWidget(text, 1);
        outer->addLayout(footer);
    }

    const int default_id = r.default_button ? r.default_button : (buttons_.empty() ? 0 : buttons_.begin()->first);
    if (auto* pb = button(default_id)) {
        pb->setDefault(true);
        pb->setFocus();
    }
    disabled_mask_ = r.disabled_buttons | (ok_radio_ != 0 ? button_ok : 0u);
    apply_buttons();
    // A strut rather than a fixed minimum: the layout keeps raising the
    // window's minimum as buttons appear and texts grow.
    outer->addStrut(dlu_x(this, r.width ? r.width : 180));
}

QPushButton* CTaskDialog::button(int id) const
{
    auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

QAbstractButton* CTaskDialog::radio(int id) const
{
    auto it = radios_.find(id);
    return it == radios_.end() ? nullptr : it->second;
}

task_dialog_answer CTaskDialog::answer() const
{
    task_dialog_answer a;
    a.button = result_button_;
    a.radio = radio_group_ ? radio_group_->checkedId() : 0;
    if (a.radio < 0)
        a.radio = 0;
    a.verification_checked = verification_ && verification_->isChecked();
    return a;
}

void CTaskDialog::apply_buttons()
{
    for (const auto& [id, pb] : buttons_)
        pb->setEnabled(!(disabled_mask_ & bit_of(id)));
}

void CTaskDialog::set_disabled_buttons(unsigned mask)
{
    disabled_mask_ = mask;
    apply_buttons();
}

void CTaskDialog::press(int id)
{
    // Escape reaches here with Cancel disabled too; on_button decides then.
    if (!button(id))
        return;
    if (on_button && !on_button(id))
        return;
    result_button_ = id;
    done(id);
}

void CTaskDialog::reject()
{
    if (button(IDCANCEL)) {
        press(IDCANCEL);
    } else if (buttons_.size() == 1 && (button(IDOK) || button(IDCLOSE))) {
        press(buttons_.begin()->first);
    }
}

void CTaskDialog::set_details(const QString& text)
{
    if (details_->text() == text)
        return;
    details_->setText(text);
    details_area_->updateGeometry();
    details_area_->setVisible(!text.isEmpty());
}

void CTaskDialog::fit_contents()
{
    // Before the first show the platform sizes the dialog itself.
    if (!isVisible())
        return;
    layout()->activate();
    QSize s = size().expandedTo(sizeHint()).expandedTo(minimumSize());
    // Wrapped texts need more height at this width than the hints say.
    if (layout()->hasHeightForWidth())
        s.setHeight(std::max(s.height(), layout()->totalHeightForWidth(s.width())));
    if (s != size())
        resize(s);
}

void CTaskDialog::show_progress_bar(int minimum, int maximum)
{
    progress_->setRange(minimum, maximum);
    progress_->setVisible(true);
}

void CTaskDialog::set_progress(int position)
{
    progress_->setValue(position);
}

int CTaskDialog::progress() const
{
    return progress_->value();
}

void CTaskDialog::set_progress_error(bool error)
{
    if (error == progress_error_)
        return;
    progress_error_ = error;
    progress_->setStyleSheet(error ? QStringLiteral("QProgressBar::chunk { background-color: #c00000; }") : QString());
}

void CTaskDialog::start_timer(int interval_ms, std::function<void()> tick)
{
    tick_ = std::move(tick);
    if (!timer_) {
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, [this] {
            if (tick_)
                tick_();
        });
    }
    timer_->start(interval_ms);
}

} // namespace talvor

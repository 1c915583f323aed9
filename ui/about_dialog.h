#pragma once
// The About box: product text with the build's version, the maker's link,
// and behind "More" the licence of every library the program carries, one
// at a time as chosen.
#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace talvor {

// "v2.1.105", with "+N" when the fourth number is not 0.
QString version_text(int major, int minor, int build, int extra);

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);

    bool expanded() const { return expanded_; }
    QPushButton* more_button() const { return more_; }
    QPlainTextEdit* licence() const { return licence_; }
    // The licences' names; choosing one shows its text.
    QComboBox* licences() const { return choice_; }
    QLabel* product() const { return product_; }

private:
    void toggle();

    QLabel* product_;
    QPushButton* more_;
    QComboBox* choice_;
    QPlainTextEdit* licence_;
    bool expanded_ = true;
};

} // namespace talvor

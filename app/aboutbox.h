#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutBox;
}

namespace qn {

/// The about box: a borderless panel shown modally, closed by OK (also Enter and Esc).
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
    ~AboutBox() override;
    int exec() override;
    void reject() override;
    Ui::AboutBox& ui() { return *m_ui; }

private:
    std::unique_ptr<Ui::AboutBox> m_ui;
};

} // namespace qn

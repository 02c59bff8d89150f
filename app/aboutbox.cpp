#include "aboutbox.h"

#include "artwork.h"
#include "quillnet_version.h"
#include "ui_aboutbox.h"

#include <QScreen>

namespace qn {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutBox>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    m_ui->Version->setText(QStringLiteral("version " QUILLNET_VERSION));
    m_ui->ProgramIcon->setPixmap(artwork::titlePicture(QSize(64, 64)));
    QFont name = m_ui->ProductName->font();
    name.setPointSize(name.pointSize() * 2);
    name.setBold(true);
    m_ui->ProductName->setFont(name);
    QFont small = m_ui->Copyright->font();
    small.setPointSize(std::max(6, small.pointSize() - 2));
    m_ui->Copyright->setFont(small);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

// OK is the cancel button too: Esc closes the box with OK.
void AboutBox::reject() {
    accept();
}

AboutBox::~AboutBox() = default;

int AboutBox::exec() {
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    return QDialog::exec();
}

} // namespace qn

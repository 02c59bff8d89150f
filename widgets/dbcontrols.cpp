#include "dbcontrols.h"

#include "guard.h"
#include "table.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace qn {

DBEdit::DBEdit(QWidget* parent) : QLineEdit(parent) {
    // Typing may fail (a row another user holds); that ends the keystroke, not the program.
    connect(this, &QLineEdit::textEdited, this, handler(this, &DBEdit::typed));
}

DBEdit::~DBEdit() {
    if (m_table && m_hook)
        m_table->removePostHook(m_hook);
}

void DBEdit::bind(Table* table, const QString& field) {
    if (m_table) {
        disconnect(m_table, nullptr, this, nullptr);
        m_table->removePostHook(m_hook);
    }
    m_table = table;
    m_field = field;
    connect(table, &Table::rowChanged, this, &DBEdit::load);
    connect(table, &Table::dataChanged, this, &DBEdit::load);
    connect(table, &Table::stateChanged, this, [this](Table::State s) {
        // Cancel and close drop what was typed; the row shows its stored values again.
        if (s == Table::State::Browse || s == Table::State::Inactive)
            m_dirty = false;
        load();
    });
    // A hook, not a signal: a value the field refuses must stop the post as an exception.
    m_hook = table->addPostHook([this] { flush(); });
    load();
}

void DBEdit::showEvent(QShowEvent* event) {
    QLineEdit::showEvent(event);
    if (m_stale)
        load();
}

void DBEdit::load() {
    if (m_busy || !m_table)
        return;
    // Laying out text nobody sees is most of what a walk over a shared table costs.
    m_stale = !isVisible();
    if (m_stale)
        return;
    if (m_dirty && m_table->state() == Table::State::Edit)
        return; // keep what the user is typing
    m_dirty = false;
    const bool hasRow = m_table->isActive() && !m_table->isEmpty() && m_table->recNo() != 0;
    const QString text = hasRow ? m_table->fieldText(m_field) : QString();
    const int width = m_table->isActive() ? m_table->fieldWidth(m_field) : 32767;
    setMaxLength(width > 0 ? width : 32767);
    if (text != QLineEdit::text())
        setText(text);
}

void DBEdit::typed() {
    if (!m_table || !m_table->isActive())
        return;
    m_busy = true;
    const QString typedText = text();
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_busy};
    if (m_table->state() == Table::State::Browse)
        m_table->edit();
    m_dirty = true;
    if (text() != typedText)
        setText(typedText);
}

void DBEdit::flush() {
    if (!m_dirty || !m_table)
        return;
    m_busy = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_busy};
    m_table->setFieldText(m_field, text());
    m_dirty = false;
}

DBText::DBText(QWidget* parent) : QLabel(parent) {}

void DBText::bind(Table* table, const QString& field) {
    m_table = table;
    m_field = field;
    connect(table, &Table::rowChanged, this, &DBText::load);
    connect(table, &Table::dataChanged, this, &DBText::load);
    connect(table, &Table::stateChanged, this, &DBText::load);
    load();
}

void DBText::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    if (m_stale)
        load();
}

void DBText::load() {
    m_stale = !isVisible();
    if (m_stale)
        return;
    const bool hasRow =
        m_table && m_table->isActive() && !m_table->isEmpty() && m_table->recNo() != 0;
    setText(hasRow ? m_table->fieldText(m_field) : QString());
}

DBNavigator::DBNavigator(QWidget* parent)
    : QWidget(parent), m_prior(new QToolButton(this)), m_next(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_prior->setObjectName(QStringLiteral("PriorButton"));
    m_next->setObjectName(QStringLiteral("NextButton"));
    m_prior->setArrowType(Qt::LeftArrow);
    m_next->setArrowType(Qt::RightArrow);
    m_prior->setToolTip(tr("Prior record"));
    m_next->setToolTip(tr("Next record"));
    layout->addWidget(m_prior);
    layout->addWidget(m_next);
    // Moving posts pending edits, which may be refused.
    connect(m_prior, &QToolButton::clicked, this, [this] {
        runHandler([this] {
            if (m_table && m_table->isActive())
                m_table->prior();
        });
        update(); // running into the start moves nothing and so signals nothing
    });
    connect(m_next, &QToolButton::clicked, this, [this] {
        runHandler([this] {
            if (m_table && m_table->isActive())
                m_table->next();
        });
        update();
    });
}

void DBNavigator::bind(Table* table) {
    m_table = table;
    connect(table, &Table::rowChanged, this, &DBNavigator::update);
    connect(table, &Table::stateChanged, this, &DBNavigator::update);
    connect(table, &Table::dataChanged, this, &DBNavigator::update);
    update();
}

void DBNavigator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_stale)
        update();
}

void DBNavigator::update() {
    m_stale = !isVisible();
    if (m_stale)
        return;
    const bool active = m_table && m_table->isActive() && !m_table->isEmpty();
    m_prior->setEnabled(active && !m_table->bof());
    m_next->setEnabled(active && !m_table->eof());
}

} // namespace qn

#pragma once

#include "table.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace qn {

/// An edit box bound to a field of a table's current row. Typing puts the row into editing;
/// the text reaches the row when it is posted. The box follows the current row and limits
/// typing to the field's width. While its window is hidden it only notes that the row moved,
/// and loads once when shown.
class DBEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DBEdit(QWidget* parent = nullptr);
    ~DBEdit() override;
    void bind(Table* table, const QString& field);
    Table* table() const { return m_table; }
    QString field() const { return m_field; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void typed();
    void flush();

    QPointer<Table> m_table;
    QString m_field;
    bool m_stale = false;
    bool m_dirty = false;
    bool m_busy = false;
    int m_hook = 0;
};

/// A display of a field of a table's current row; like DBEdit, idle while hidden.
class DBText : public QLabel {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);
    void bind(Table* table, const QString& field);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    QPointer<Table> m_table;
    QString m_field;
    bool m_stale = false;
};

/// Prior and Next over a table; moving posts the pending edits of the row it leaves.
class DBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DBNavigator(QWidget* parent = nullptr);
    void bind(Table* table);
    QToolButton* priorButton() const { return m_prior; }
    QToolButton* nextButton() const { return m_next; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void update();
    QPointer<Table> m_table;
    QToolButton* m_prior;
    QToolButton* m_next;
    bool m_stale = false;
};

} // namespace qn

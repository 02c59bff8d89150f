#pragma once

#include <QString>

class QWidget;

namespace qn {

struct SettingsRecord;

/// What the start-up windows need of the Admin window, which lives a layer above them.
class AdminPanel {
public:
    enum class Page { Company, Database, Password };
    virtual ~AdminPanel() = default;
    /// Copies the record into the boxes; the prefix boxes only when withPrefix is set.
    virtual void fillFromSettings(const SettingsRecord& record, bool withPrefix) = 0;
    /// Shows one of the three pages the Admin menu offers, hiding the others.
    virtual void selectPage(Page page) = 0;
    virtual QString oldPassword() const = 0;
    virtual QWidget* widget() = 0;
};

} // namespace qn

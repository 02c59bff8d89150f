#pragma once

#include "settings.h"

#include <QString>

namespace qn {

/// The process-wide state of the main window's module: the settings record and the start-up
/// flags. One instance lives for the whole run; windows receive it by reference.
struct AppState {
    SettingsRecord settings;
    QString WorkingFolder;
    QString SettingsFilePath;
    /// "Old" when setup.nfo existed at start, "New" when it did not; fixed for the run.
    QString SetupStatus;
    bool SetupPrompted = false;
    bool AdminUnlocked = false;
};

} // namespace qn

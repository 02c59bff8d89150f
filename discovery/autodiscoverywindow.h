#pragma once

#include "autofind.h"
#include "listingrunner.h"
#include "nmapscan.h"
#include "resolver.h"

#include <QDialog>
#include <memory>

namespace Ui {
class AutoDiscoveryWindow;
}

namespace qn {

class DataModule;
class Shell;
struct AppState;

/// Auto-Find and its progress window. The window first asks where the computers come from: the
/// listing batch of the working folder (the default), an nmap scan of typed targets, or a saved
/// nmap XML file (the targets and the file are remembered per user). The run then resolves the
/// names the inventory does not record, unless the scan gave their address, and keeps them for
/// New Computers Found. While its window is shown it blocks the other windows, whose handlers
/// would otherwise close the address table the run is reading.
class AutoDiscoveryWindow : public QDialog {
    Q_OBJECT
public:
    /// The working folder is taken from state now. Without a runner or a name service the
    /// system's are used.
    AutoDiscoveryWindow(AppState& state, DataModule& dm, Shell& mainWindow,
                        std::unique_ptr<discovery::ProcessRunner> runner = nullptr,
                        std::unique_ptr<discovery::NameService> names = nullptr,
                        std::unique_ptr<discovery::ProcessRunner> scanner = nullptr,
                        QWidget* parent = nullptr);
    ~AutoDiscoveryWindow() override;

    Ui::AutoDiscoveryWindow& ui() { return *m_ui; }
    discovery::AutoFind& finder() { return *m_find; }
    discovery::Resolver& resolver() { return *m_resolver; }
    /// The computers of the last run; entry k of names belongs to entry k of addresses.
    discovery::NewComputers& newComputers() { return m_find->newComputers(); }
    bool isRunning() const { return m_find->isRunning(); }

public slots:
    /// The Auto-Find menu entry: runs the listing batch at once. While a run is in progress it
    /// only brings the progress window forward, as chooseSource() does.
    void Find3Click();
    /// Auto-Find from nmap: shows the choice of source (the listing batch, an nmap scan of typed
    /// targets, a saved nmap XML file), the scan chosen.
    void chooseSource();
    /// Starts the run from the chosen source.
    void StartButtonClick();
    void BrowseButtonClick();

signals:
    /// The new-computer lists were emptied or grew.
    void listsChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void listingRead(int count);
    void nameStarted(int position, const QString& name);
    void resolving(const QString& name);
    void resolved(const QString& name, const QString& address);
    void unresolved(const QString& name);
    void finished(bool foundNew);
    void failed(const QString& message);
    void endRun();
    bool showRunInProgress();
    /// The hosts of an nmap run that had no name, for the closing message.
    QString unnamedNote() const;

    std::unique_ptr<Ui::AutoDiscoveryWindow> m_ui;
    Shell& m_main;
    std::unique_ptr<discovery::ListingRunner> m_listing;
    std::unique_ptr<discovery::NmapSource> m_nmap;
    std::unique_ptr<discovery::Resolver> m_resolver;
    std::unique_ptr<discovery::InventoryNames> m_known;
    std::unique_ptr<discovery::AutoFind> m_find;
    bool m_cancelled = false;
    bool m_listingRead = false;
    int m_count = 0;
};

} // namespace qn

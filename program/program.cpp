#include "program.h"

#include "aboutbox.h"
#include "adminwindow.h"
#include "application.h"
#include "appstate.h"
#include "datamodule.h"
#include "mainwindow.h"
#include "passwordwindow.h"

namespace qn {

Program::Program(Engine& engine) : m_engine(engine), m_state(std::make_unique<AppState>()) {
    m_main = std::make_unique<MainWindow>(*m_state, engine);
    // A failed start-up step is shown and the program opens all the same.
    Application::guarded([this] { m_main->FormCreate(); });
    m_data = std::make_unique<DataModule>(engine);
    m_admin = std::make_unique<AdminWindow>(*m_state, engine, *m_main);
    m_password = std::make_unique<PasswordWindow>(*m_state, m_main.get(), *m_admin);
    m_about = std::make_unique<AboutBox>();
    m_main->setWindows(m_admin.get(), m_password.get(), m_about.get());
}

Program::~Program() = default;

void Program::start() {
    m_main->show();
}

} // namespace qn

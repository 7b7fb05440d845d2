#pragma once

// The start-up object: made by main() after the Application and the Document, it hands the
// first command line to the Document and becomes the application's delegate; half a second
// later it lets the Document finish loading (settings, call notification, storage scan).
// The splash and the main skin plug in here once the screens exist.
// User-interface thread only; lives until the message loop has ended.

#include "controller/document.h"
#include "foundation/timer.h"
#include "shell/application.h"
#include "shell/application_listener.h"

#include <string>

namespace shell {

class Starter final : public ApplicationListener, public foundation::TimerListener {
public:
    Starter(Application& application, controller::Document& document,
            const std::u16string& command_line);
    ~Starter() override;
    Starter(const Starter&) = delete;
    Starter& operator=(const Starter&) = delete;

    bool loaded() const { return m_loaded; }

    void on_other_instance_started(const std::u16string& command_line) override;
    // The window stays open while a recording runs.
    bool may_close() override { return !m_document.is_recording(); }
    void on_timer(foundation::Timer& timer) override;

private:
    Application& m_application;
    controller::Document& m_document;
    foundation::Timer m_start_timer;
    bool m_loaded{false};
};

} // namespace shell

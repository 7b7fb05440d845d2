#pragma once

// Handing a record to the platform's mail program (xdg-email with a "mailto:?attach=" link to
// the file), which opens a new message with the record attached; the user picks the recipient
// there.

#include "foundation/timer.h"
#include "platform/desktop_bus.h"
#include "platform/process.h"

#include <functional>
#include <memory>
#include <string>

namespace sharing {

// Expands the path's macros and starts the mail program with it as the attachment. Returns
// whether the program could be started; what it does afterwards is not examined. An empty path
// starts nothing.
bool send_by_mail(const std::u16string& path);

// The mailto link that attaches the file at `path` (an absolute path, in bytes) whole, whatever
// its name holds, with every mail program xdg-email hands it to.
std::string mail_link_for(const std::string& path);

// How a send ended.
enum class SendOutcome {
    MailProgram, // the mail program took the record (or is still starting it)
    FolderShown, // no mail program: the record is shown selected in its folder instead
    NotPossible, // no mail program, and its folder could not be shown either
};

// Sends records as send_by_mail does and watches the mail program's start: when it fails
// (no mail program set up, no handler for mailto links) the record is shown selected in its
// folder through the desktop's file manager or portal, for the user to attach by hand. The
// outcome is told to the listener; nothing here waits. User-interface thread only.
class MailSender final : private foundation::TimerListener {
public:
    using Listener = std::function<void(SendOutcome outcome, const std::u16string& path)>;
    using ShowerMaker = std::function<std::unique_ptr<platform::ItemShower>()>;

    explicit MailSender(ShowerMaker maker = platform::open_item_shower);
    ~MailSender() override;
    MailSender(const MailSender&) = delete;
    MailSender& operator=(const MailSender&) = delete;

    void set_listener(Listener listener) { m_listener = std::move(listener); }
    // Starts sending (a send under way is no longer watched). False for an empty path.
    bool send(const std::u16string& path);
    bool busy() const { return m_stage != Stage::Idle; }

    // A mail program that fails later than this after its start is taken to have started.
    static constexpr double mail_program_wait = 15.0;
    // How long the folder may take to be shown.
    static constexpr double folder_wait = 15.0;
    static constexpr double poll_interval = 0.1;

private:
    enum class Stage { Idle, MailProgram, Folder };
    void on_timer(foundation::Timer& timer) override;
    void show_folder();
    void finish(SendOutcome outcome);

    ShowerMaker m_maker;
    Listener m_listener;
    foundation::Timer m_timer{*this};
    Stage m_stage{Stage::Idle};
    std::u16string m_path;
    std::shared_ptr<const platform::ChildExit> m_child;
    std::unique_ptr<platform::ItemShower> m_shower;
    double m_waited{0.0};
};

} // namespace sharing

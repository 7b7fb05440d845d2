#include "sharing/send_mail.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/process.h"

namespace sharing {

namespace {

// Bytes outside the unreserved set (and `keep`) as %XX.
std::string percent_encoded(const std::string& bytes, const char* keep) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved ||
            (byte != 0 && std::string_view(keep).find(char(byte)) != std::string::npos)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 15]);
        }
    }
    return out;
}

} // namespace

std::string mail_link_for(const std::string& path) {
    // The attachment travels as a file URL in which every byte but letters, digits, "-._~" and
    // "/" is percent-encoded, so the name carries no comma, quote, blank, backslash or
    // wildcard. Mail programs that read the link decode it once and find that URL. xdg-email's
    // Thunderbird route decodes it once too, then hands the value on inside attachment='...'
    // of Thunderbird's comma-separated -compose list, where a plain path with a comma would be
    // split in two.
    const std::string url = "file://" + percent_encoded(path, "/");
    return "mailto:?attach=" + percent_encoded(url, "");
}

namespace {

std::vector<std::string> mail_command(const std::u16string& device_path) {
    return {"xdg-email", mail_link_for(foundation::to_utf8(device_path))};
}

} // namespace

bool send_by_mail(const std::u16string& path) {
    if (path.empty())
        return false;
    const std::u16string device_path = foundation::expand(path);
    foundation::log() << "send_by_mail {" << device_path << "}\n";
    return platform::spawn_detached(mail_command(device_path));
}

MailSender::MailSender(ShowerMaker maker) : m_maker(std::move(maker)) {}

MailSender::~MailSender() {
    m_timer.cancel();
}

bool MailSender::send(const std::u16string& path) {
    if (path.empty())
        return false;
    m_timer.cancel();
    m_shower.reset();
    m_path = foundation::expand(path);
    m_waited = 0.0;
    foundation::log() << "send_by_mail {" << m_path << "}\n";
    m_child = platform::spawn_watched(mail_command(m_path));
    if (!m_child) {
        foundation::log() << "send_by_mail: xdg-email cannot be started\n";
        show_folder();
        return true;
    }
    m_stage = Stage::MailProgram;
    m_timer.after(poll_interval);
    return true;
}

void MailSender::show_folder() {
    m_stage = Stage::Folder;
    m_waited = 0.0;
    m_shower = m_maker ? m_maker() : nullptr;
    if (!m_shower) {
        finish(SendOutcome::NotPossible);
        return;
    }
    m_shower->show(foundation::to_utf8(m_path));
    m_timer.after(poll_interval);
}

void MailSender::on_timer(foundation::Timer&) {
    m_waited += poll_interval;
    if (m_stage == Stage::MailProgram) {
        if (m_child->finished()) {
            const int status = m_child->status();
            m_child.reset();
            if (status == 0) {
                finish(SendOutcome::MailProgram);
            } else {
                foundation::log() << "send_by_mail: xdg-email failed status=" << int32_t(status)
                                  << ", showing the folder\n";
                show_folder();
            }
        } else if (m_waited >= mail_program_wait) {
            m_child.reset();
            finish(SendOutcome::MailProgram);
        } else {
            m_timer.after(poll_interval);
        }
        return;
    }
    if (m_stage != Stage::Folder || !m_shower)
        return;
    m_shower->dispatch();
    switch (m_shower->state()) {
    case platform::ItemShower::State::Shown:
        finish(SendOutcome::FolderShown);
        return;
    case platform::ItemShower::State::Failed:
        foundation::log() << "send_by_mail: folder not shown: "
                          << std::string_view(m_shower->failure()) << "\n";
        finish(SendOutcome::NotPossible);
        return;
    default:
        break;
    }
    if (m_waited >= folder_wait) {
        foundation::log() << "send_by_mail: folder not shown in time\n";
        finish(SendOutcome::NotPossible);
        return;
    }
    m_timer.after(poll_interval);
}

void MailSender::finish(SendOutcome outcome) {
    m_stage = Stage::Idle;
    m_timer.cancel();
    // The shower goes later (a new send, or this object's end): its reply may still be running.
    const std::u16string path = m_path;
    if (m_listener)
        m_listener(outcome, path);
}

} // namespace sharing

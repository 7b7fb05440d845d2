#include "shell/game_base.h"

#include "foundation/log.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/single_instance.h"
#include "platform/system_paths.h"
#include "platform/timing_trace.h"
#include "shell/application.h"
#include "shell/instance_guard.h"
#include "shell/key_codes.h"
#include "skin/edit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace shell {

namespace {

GameBase* g_game_base = nullptr; // the base part's singleton and the window procedure's target

const std::u16string corvane_key = u"HKEY_CURRENT_USER\\Software\\Corvane";

// The longest the loop sleeps when no timer is due: input, posted messages and requests to end
// wake it; this only bounds what a missed wake-up could cost.
constexpr uint32_t longest_wait_ms = 60000;
// The same when requests to end cannot wake the loop (they are seen when it looks).
constexpr uint32_t unwoken_wait_ms = 1000;

// This platform is never a smartphone (the phone shell's platform type text is "PocketPC").
bool is_smartphone() {
    static const bool smartphone = [] {
        foundation::log() << "static_capability_is_smartphone=" << u"PocketPC" << "\n";
        return false;
    }();
    return smartphone;
}

int32_t low_word(platform::LParam value) {
    return int16_t(uint16_t(uint32_t(value) & 0xFFFF));
}
int32_t high_word(platform::LParam value) {
    return int16_t(uint16_t((uint32_t(value) >> 16) & 0xFFFF));
}

// A window onto part of a pixel buffer.
platform::PixelBuffer sub_buffer(const platform::PixelBuffer& whole, const foundation::Rect& rect) {
    foundation::Rect r{std::clamp(rect.left, 0, whole.width), std::clamp(rect.top, 0, whole.height),
                       std::clamp(rect.right, 0, whole.width),
                       std::clamp(rect.bottom, 0, whole.height)};
    if (r.width() <= 0 || r.height() <= 0)
        return platform::PixelBuffer{whole.pixels, 0, 0, whole.pitch};
    auto* first = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(whole.pixels) +
                                              ptrdiff_t(r.top) * whole.pitch) +
                  r.left;
    return platform::PixelBuffer{first, r.width(), r.height(), whole.pitch};
}

platform::LResult static_window_procedure(platform::WindowHandle window, uint32_t message,
                                          platform::WParam wparam, platform::LParam lparam) {
    if (!g_game_base)
        return 0;
    return g_game_base->window_procedure(window, message, wparam, lparam);
}

} // namespace

foundation::Rect client_rect_for(const ScreenInfo& screen, bool windowed_or_editing,
                                 bool show_task_bar, bool smartphone, int32_t direct_width,
                                 int32_t direct_height) {
    if (!windowed_or_editing)
        return foundation::Rect{0, 0, direct_width, direct_height};
    int32_t header = 0;
    if (smartphone) {
        switch (screen.width) {
        case 176:
            header = 20;
            break;
        case 240:
        case 320:
        case 400:
            header = 27;
            break;
        case 352:
            header = 40;
            break;
        case 480:
        case 640:
        case 800:
            header = 54;
            break;
        default:
            header = 0;
        }
    } else {
        header = screen.dots_per_inch < 97 ? 26 : 52;
    }
    int32_t bottom_reserve = header; // no input panel on this platform
    int32_t x = show_task_bar ? 0 : screen.x;
    int32_t y = show_task_bar ? header : screen.y;
    return foundation::Rect{x, y, screen.width, screen.height - bottom_reserve};
}

double frame_seconds(uint32_t now, uint32_t last) {
    double seconds = double(now - last) / 1000.0;
    return std::clamp(seconds, 0.001, 0.1);
}

GameBase::GameBase(Application& application, const std::u16string& application_name,
                   bool open_display, bool start_minimised)
    : m_application(application), m_minimised(start_minimised) {
    if (g_game_base)
        foundation::fatal_error(u"Application::Application", u"instance != 0");
    m_class_name = class_name_for(application_name);
    m_application_name = application_name;
    m_scheduler = std::make_unique<foundation::CActiveScheduler>(m_class_name);
    foundation::read_bool(corvane_key, u"SIPPreference", m_sip_preference);
    g_game_base = this;
    foundation::log() << platform::tick_count() << " GameBase 0\n";
    foundation::log() << platform::tick_count() << " GameBase 1\n";
    if (open_display) {
        std::string error;
        m_display =
            platform::Display::open(foundation::to_utf8(application_name), &error, start_minimised);
        if (!m_display) {
            foundation::log() << "GameBase::GameBase display failed " << error << "\n";
            m_display_error = error.empty() ? std::string("unknown reason") : error;
        }
    }
    foundation::log() << platform::tick_count() << " GameBase 2\n";
    foundation::log() << platform::tick_count() << " GameBase 3\n";
    m_screen = take_screen_info();
    foundation::log() << platform::tick_count() << " GameBase 4\n";
    m_window = platform::create_window(static_window_procedure);
    if (m_display) {
        m_display->attach(m_window);
        m_termination_wake = platform::TerminationWake::create();
        // An edit taking the focus switches text input on with its rectangle as the area: the
        // area first, so that an on-screen keyboard comes up knowing the field to keep clear.
        skin::Edit::set_text_input_switch([this](bool on, const foundation::Rect& area) {
            if (!m_display)
                return;
            if (on)
                m_display->set_text_input_area(area.left, area.top, area.width(), area.height());
            m_display->set_text_input(on);
        });
    }
    foundation::log() << platform::tick_count() << " GameBase 5\n";
    close_bracket(m_window);
    platform::set_timer(m_window, window_timer_id, window_timer_ms);
    m_last_frame_tick = platform::tick_count();
}

GameBase::~GameBase() {
    end_single_instance();
    if (m_window) {
        platform::kill_timer(m_window, window_timer_id);
        platform::WindowHandle window = m_window;
        m_window = 0;
        g_game_base = nullptr; // WM_DESTROY of a teardown does not quit
        platform::destroy_window(window);
    }
    g_game_base = nullptr;
    m_command_lines.clear();
    skin::Edit::set_text_input_switch(nullptr);
    m_termination_wake.reset();
    m_display.reset();
    m_scheduler.reset();
}

ScreenInfo GameBase::take_screen_info() const {
    ScreenInfo info;
    if (m_display) {
        info.width = m_display->width();
        info.height = m_display->height();
        info.orientation = m_display->orientation();
        info.dots_per_inch = m_display->dots_per_inch();
    } else {
        info.width = 480;
        info.height = 640;
        info.orientation = 0;
        info.dots_per_inch = 192;
    }
    return info;
}

bool GameBase::get(platform::Message& message) {
    if (!m_display)
        return platform::get_message(message);
    for (;;) {
        m_display->poll_events();
        if (platform::peek_message(message))
            return message.message != platform::WM_QUIT;
        const int32_t timer = platform::next_timer_ms();
        m_display->wait_events(timer >= 0           ? uint32_t(timer)
                               : m_termination_wake ? longest_wait_ms
                                                    : unwoken_wait_ms);
    }
}

int GameBase::run() {
    platform::Message message;
    for (;;) {
        // A form shown or changed by a timer or a posted message wants frames again.
        if (m_idle_until_input && m_application.needs_frame())
            m_idle_until_input = false;
        if (m_in_background || m_idle_until_input || !m_direct_display) {
            if (!get(message))
                break;
        } else {
            if (m_display)
                m_display->poll_events();
            if (!platform::peek_message(message)) {
                frame_step();
                // After a frame that leaves nothing moving the loop goes to sleep at once.
                if (!m_idle_until_input)
                    platform::sleep_ms(10);
                continue;
            }
            if (message.message == platform::WM_QUIT)
                break;
        }
        m_last_message_time = message.time;
        if (platform::timing_on())
            timed_dispatch(message);
        else
            platform::dispatch_message(message);
    }
    return int(message.wparam);
}

void GameBase::timed_dispatch(const platform::Message& message) {
    const int64_t start = platform::monotonic_us();
    const int64_t cpu = platform::thread_cpu_us();
    switch (message.message) {
    case platform::WM_LBUTTONDOWN:
    case platform::WM_LBUTTONUP:
    case platform::WM_KEYDOWN:
    case platform::WM_CHAR:
    case platform::WM_MOUSEWHEEL:
        platform::timing_mark_at(start, "input", message.message);
        break;
    default:
        break;
    }
    platform::dispatch_message(message);
    // Work that holds the loop up for a millisecond or more (timers, posted work, input).
    if (const int64_t spent = platform::monotonic_us() - start; spent >= 1000)
        platform::timing_mark_at(start, "busy", spent, platform::thread_cpu_us() - cpu);
}

void GameBase::frame_step() {
    const int64_t start = platform::timing_on() ? platform::monotonic_us() : 0;
    const int64_t cpu = start ? platform::thread_cpu_us() : 0;
    uint32_t now = platform::tick_count();
    double seconds = frame_seconds(now, m_last_frame_tick);
    m_last_frame_tick = now;
    if (m_application.update(seconds) && m_direct_display && m_display && m_display->is_ready()) {
        platform::PixelBuffer buffer = m_display->back_buffer();
        m_application.paint(buffer);
        present(0, 0);
        if (start) {
            const int64_t end = platform::monotonic_us();
            platform::timing_mark_at(start, "frame", end - start, platform::thread_cpu_us() - cpu);
            platform::timing_mark_at(end, "present", 0);
        }
    } else if (start) {
        platform::timing_mark_at(start, "step", platform::monotonic_us() - start,
                                 platform::thread_cpu_us() - cpu);
    }
    // Nothing moves: the loop waits for input (or a message that changes the forms).
    if (!m_application.needs_frame())
        m_idle_until_input = true;
}

void GameBase::invalidate() {
    if (m_paint_pending || !m_window)
        return;
    m_paint_pending = platform::post_message(m_window, platform::WM_PAINT, 0, 0);
}

void GameBase::paint() {
    m_paint_pending = false;
    if (!m_display || !m_display->is_ready())
        return;
    const int64_t start = platform::timing_on() ? platform::monotonic_us() : 0;
    const int64_t cpu = start ? platform::thread_cpu_us() : 0;
    platform::PixelBuffer whole = m_display->back_buffer();
    platform::PixelBuffer client = sub_buffer(whole, m_client);
    m_application.paint(client);
    present(m_client.left, m_client.top);
    if (start) {
        const int64_t end = platform::monotonic_us();
        platform::timing_mark_at(start, "frame", end - start, platform::thread_cpu_us() - cpu);
        platform::timing_mark_at(end, "present", 0);
    }
}

void GameBase::present(int32_t left, int32_t top) {
    const std::vector<foundation::Rect>* painted = m_application.forms().painted();
    if (!painted) {
        m_display->present();
        return;
    }
    if (painted->empty())
        return; // nothing changed: the window keeps its picture
    std::vector<foundation::Rect> areas;
    areas.reserve(painted->size());
    for (const foundation::Rect& rect : *painted)
        areas.push_back(rect.offset(left, top));
    m_display->present(areas);
}

void GameBase::apply_window_placement() {
    m_client = client_rect_for(m_screen, m_windowed || m_edit, m_show_task_bar, is_smartphone(),
                               m_direct_width, m_direct_height);
    m_application.set_client_origin(m_client.left, m_client.top);
    m_application.invalidate_all();
}

void GameBase::resolution_changed() {
    ScreenInfo info = take_screen_info();
    if (!(info == m_screen)) {
        m_screen = info;
        if (m_direct_display) {
            m_direct_width = info.width;
            m_direct_height = info.height;
        }
        foundation::log() << "Application::ResolutionChanged 2\n";
        if (ApplicationListener* delegate = m_application.delegate())
            delegate->on_resolution_changed();
    }
    apply_window_placement();
}

void GameBase::open_direct_display() {
    m_direct_display = m_display != nullptr;
    m_direct_width = m_screen.width;
    m_direct_height = m_screen.height;
}

void GameBase::set_direct_mode(int32_t orientation) {
    if (!m_windowed && m_orientation == orientation)
        return;
    m_orientation = orientation;
    m_windowed = false;
    m_direct_display = false;
    if (m_edit)
        return;
    m_application.set_redraw_all();
    open_direct_display();
    platform::kill_timer(m_window, window_timer_id);
    apply_window_placement();
}

void GameBase::set_windowed_mode(bool show_task_bar) {
    if (m_windowed && m_show_task_bar == show_task_bar)
        return;
    m_windowed = true;
    m_show_task_bar = show_task_bar;
    if (m_edit)
        return;
    m_application.set_redraw_all();
    m_direct_display = false;
    platform::set_timer(m_window, window_timer_id, window_timer_ms);
    apply_window_placement();
}

void GameBase::set_game_input(bool on) {
    m_game_input = on;
}

void GameBase::set_edit(EditTarget* widget, bool create_window) {
    if ((widget != nullptr) == (m_edit != nullptr)) {
        m_edit = widget;
        return;
    }
    m_edit = widget;
    if (widget) {
        m_application.set_redraw_all();
        m_direct_display = false;
        platform::set_timer(m_window, window_timer_id, window_timer_ms);
        apply_window_placement();
        if (create_window && m_display)
            m_display->set_text_input(true);
        return;
    }
    if (!m_windowed) {
        open_direct_display();
        platform::kill_timer(m_window, window_timer_id);
    }
    apply_window_placement();
    foundation::write_dword(corvane_key, u"SIPPreference", m_sip_preference ? 1 : 0);
    if (m_display)
        m_display->set_text_input(false);
}

void GameBase::minimise() {
    m_minimised = true;
    if (m_display)
        m_display->minimise();
}

void GameBase::bring_to_front() {
    m_minimised = false;
    if (m_display)
        m_display->restore();
}

void GameBase::pen(PenEvent::Kind kind, int32_t x, int32_t y, bool cancelled) {
    m_application.pen(PenEvent{kind, x, y, m_last_message_time, cancelled});
}

void GameBase::release_capture() {
    if (!m_captured)
        return;
    m_captured = false;
    window_procedure(m_window, platform::WM_CAPTURECHANGED, 0, 0);
}

void GameBase::key_message(uint32_t message, platform::WParam wparam, platform::LParam lparam) {
    m_idle_until_input = false;
    bool down = message == platform::WM_KEYDOWN;
    KeyEvent event{key_from_virtual_key(uint32_t(wparam)), down,
                   !(down && (uint32_t(lparam) & 0x40000000u))};
    foundation::log() << (down ? "WM_KEYDOWN = " : "WM_KEYUP = ") << uint32_t(wparam) << "("
                      << KeyCode(event.code) << ")"
                      << " lParam=" << long(lparam) << " ticks=" << platform::tick_count() << "\n";
    ApplicationListener* delegate = m_application.delegate();
    if (delegate && delegate->on_key_event(event))
        return;
    m_application.key(event);
}

platform::LResult GameBase::window_procedure(platform::WindowHandle, uint32_t message,
                                             platform::WParam wparam, platform::LParam lparam) {
    using namespace platform;
    ApplicationListener* delegate = m_application.delegate();
    switch (message) {
    case WM_CREATE:
        apply_window_placement();
        break;
    case WM_DESTROY:
        post_quit_message(0);
        break;
    case WM_ACTIVATE:
        if ((wparam & 0xFFFF) != WA_INACTIVE) {
            apply_window_placement();
            m_in_background = false;
            m_minimised = false;
            m_idle_until_input = false;
            if (delegate)
                delegate->on_came_to_foreground();
        } else {
            m_in_background = true;
            release_capture(); // a pen held while the window goes away is cancelled
            if (delegate)
                delegate->on_went_to_background();
        }
        break;
    case WM_PAINT:
        paint();
        break;
    case WM_ENDSESSION:
    case WM_CLOSE:
        // The user's close may be refused (a recording runs); the system's end may not: the
        // loop ends and teardown completes the recording's file.
        if (message == WM_CLOSE && delegate && !delegate->may_close())
            return 0;
        if (message == WM_ENDSESSION)
            foundation::log() << "GameBase::WM_ENDSESSION ticks=" << tick_count() << "\n";
        if (m_window) {
            WindowHandle window = m_window;
            m_window = 0;
            destroy_window(window);
        }
        return 0;
    case WM_SETTINGCHANGE:
        if (wparam == settingchange_reset || wparam == 47 || wparam == 224)
            resolution_changed();
        break;
    case WM_COPYDATA: {
        const auto* data = reinterpret_cast<const CopyData*>(lparam);
        if (!data || data->data != 0)
            break;
        const auto* bytes = static_cast<const uint8_t*>(data->bytes);
        std::u16string text;
        for (uint32_t i = 0; i + 1 < data->size; i += 2)
            text.push_back(char16_t(bytes[i] | (bytes[i + 1] << 8)));
        if (text == u"%CommandLineEmpty%")
            text.clear();
        m_command_lines.push_back(std::move(text));
        post_message(m_window, command_line_message, 0, 0);
        return 1;
    }
    case WM_HELP:
        if (delegate)
            delegate->on_help();
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
        key_message(message, wparam, lparam);
        break;
    case WM_CHAR:
        foundation::log() << "WM_CHAR=" << uint32_t(wparam) << " lParam=" << long(lparam)
                          << " ticks=" << tick_count() << "\n";
        if (wparam >= 32)
            m_application.text(char16_t(wparam));
        break;
    case WM_HOTKEY: {
        m_idle_until_input = false;
        KeyEvent event{uint32_t(high_word(lparam)) & 0xFFFF, !(uint32_t(lparam) & 0x1000), true};
        foundation::log() << "WM_HOTKEY = " << uint32_t(wparam) << "(" << KeyCode(event.code) << ")"
                          << " lParam=" << long(lparam) << " ticks=" << tick_count() << "\n";
        m_application.key(event);
        break;
    }
    case WM_TIMER:
        if (wparam == window_timer_id && !m_in_background && !m_idle_until_input &&
            !m_direct_display) {
            uint32_t now = tick_count();
            m_application.update(frame_seconds(now, m_last_frame_tick));
            m_last_frame_tick = now;
            invalidate();
        }
        break;
    case WM_PASTE:
        if (m_display)
            for (char16_t c : foundation::from_utf8(m_display->clipboard_text()))
                if (c >= 32)
                    m_application.text(c);
        break;
    case EM_SETSEL:
        if (skin::Edit* edit = skin::Edit::focused()) {
            m_idle_until_input = false;
            skin::Command select;
            select.code = skin::Edit::command_select_all;
            edit->command(select);
        }
        break;
    case WM_MOUSEWHEEL:
        m_idle_until_input = false;
        m_application.wheel(low_word(lparam), high_word(lparam),
                            int32_t(int16_t(uint16_t(uint32_t(wparam) >> 16))));
        break;
    case WM_MOUSEMOVE:
        if (m_captured) { // the pen moves only while it touches
            m_idle_until_input = false;
            pen(PenEvent::Kind::Move, low_word(lparam), high_word(lparam));
        }
        break;
    case WM_LBUTTONDOWN:
        m_last_up_x = no_point;
        m_last_up_y = no_point;
        m_captured = true;
        m_idle_until_input = false;
        pen(PenEvent::Kind::Down, low_word(lparam), high_word(lparam));
        break;
    case WM_LBUTTONUP:
        m_last_up_x = low_word(lparam);
        m_last_up_y = high_word(lparam);
        release_capture();
        break;
    case WM_CANCELMODE:
        release_capture();
        break;
    case WM_CAPTURECHANGED:
        m_idle_until_input = false;
        pen(PenEvent::Kind::Up, m_last_up_x, m_last_up_y,
            m_last_up_x == no_point && m_last_up_y == no_point);
        break;
    case command_line_message:
        if (!m_command_lines.empty()) {
            std::u16string line = std::move(m_command_lines.front());
            m_command_lines.pop_front();
            if (platform::handover_trace_on()) {
                std::fprintf(stderr, "command line: \"%s\"\n", foundation::to_utf8(line).c_str());
                std::fflush(stderr);
            }
            if (delegate)
                delegate->on_other_instance_started(line);
        }
        break;
    default:
        break;
    }
    if (m_observer)
        m_observer->on_message(message, wparam, lparam);
    return 0;
}

} // namespace shell

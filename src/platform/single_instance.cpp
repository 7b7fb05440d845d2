#include "platform/single_instance.h"

#include "platform/clock.h"
#include "platform/system_paths.h"
#include "platform/xdg_folders.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr char magic[4] = {'Q', 'V', 'C', 'L'};
constexpr size_t header_size = 8;
constexpr char acknowledgement = 'K';
// How long a connected peer has for its whole message.
constexpr uint32_t receive_timeout_ms = 2000;
// Connections the listener reads at the same time; more wait in the socket's backlog.
constexpr size_t max_connections = 16;
// How long a later start waits for the running instance to take its command line.
constexpr uint32_t hand_over_timeout_ms = 10000;

bool is_private_folder(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 0777) == 0700;
}

void set_timeouts(int fd, uint32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = suseconds_t(milliseconds % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool read_fully(int fd, char* out, size_t size) {
    while (size > 0) {
        ssize_t got = recv(fd, out, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= size_t(got);
    }
    return true;
}

bool write_fully(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

// A socket address for a path. A path too long for sun_path (a deep runtime or temporary
// folder) is reached through its folder, opened here, as "/proc/self/fd/N/name".
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path) {
        address.sun_family = AF_UNIX;
        if (path.empty())
            return;
        std::string usable = path;
        if (usable.size() >= sizeof address.sun_path) {
            const size_t slash = path.rfind('/');
            if (slash == std::string::npos || slash == 0)
                return;
            m_folder = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (m_folder < 0)
                return;
            usable = "/proc/self/fd/" + std::to_string(m_folder) + path.substr(slash);
            if (usable.size() >= sizeof address.sun_path)
                return;
        }
        std::memcpy(address.sun_path, usable.c_str(), usable.size() + 1);
        m_valid = true;
    }
    ~SocketAddress() {
        if (m_folder >= 0)
            close(m_folder);
    }
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;

    bool valid() const { return m_valid; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }

    sockaddr_un address{};

private:
    int m_folder{-1};
    bool m_valid{false};
};

enum class Connect { Connected, NoListener, Failed };

Connect connect_to(const std::string& path, int& fd) {
    SocketAddress address(path);
    if (!address.valid())
        return Connect::Failed;
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Connect::Failed;
    if (connect(fd, address.get(), sizeof address.address) != 0) {
        int error = errno;
        close(fd);
        fd = -1;
        return error == ENOENT || error == ECONNREFUSED ? Connect::NoListener : Connect::Failed;
    }
    return Connect::Connected;
}

uint32_t read_le32(const char* p) {
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}

// The text size a message header announces; false when the header is not one of ours or
// announces more than a command line may hold, or half a UTF-16 unit.
bool parse_header(const char* header, uint32_t& size) {
    if (std::memcmp(header, magic, 4) != 0)
        return false;
    size = read_le32(header + 4);
    return size <= SingleInstance::max_message_bytes && size % 2 == 0;
}

} // namespace

namespace {

// The folder made (mode 0700) if missing, when it is then a private folder of this user.
bool private_folder_at(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return is_private_folder(folder);
}

} // namespace

std::string private_runtime_directory() {
    if (const std::string runtime = runtime_dir(); !runtime.empty() && is_private_folder(runtime))
        return runtime;
    const std::string user = std::to_string(geteuid());
    std::string folder = temp_directory() + "/quillory-" + user;
    if (private_folder_at(folder))
        return folder;
    // The shared temporary folder's name is taken (another user can make it first, or open
    // it up): the user's own cache folder, which no one else can write in, serves instead.
    const std::string cache = cache_home();
    struct stat info {};
    if (stat(cache.c_str(), &info) != 0) {
        // Made as the desktop would make it; only its "quillory-" folder must be private.
        if (mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST)
            return {};
        if (stat(cache.c_str(), &info) != 0)
            return {};
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 0022) != 0)
        return {};
    folder = cache + "/quillory-" + user;
    return private_folder_at(folder) ? folder : std::string();
}

std::string file_name_for(const std::string& name) {
    std::string safe;
    for (char c : name) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
        safe.push_back(keep ? c : '_');
    }
    if (safe.empty() || safe[0] == '.')
        safe.insert(safe.begin(), '_');
    return safe;
}

struct SingleInstance::State {
    std::string socket_path;
    std::string lock_path;
    int lock_fd{-1};
    int listen_fd{-1};
    int stop_pipe[2]{-1, -1};
    WindowHandle window{0};
    std::thread listener;
    std::atomic<bool> finished{false};

    // A connection whose message is being read.
    struct Connection {
        int fd{-1};
        std::chrono::steady_clock::time_point deadline;
        std::string bytes;
    };

    // Reads what the connection has; true when it is done with (delivered or refused).
    bool read_from(Connection& connection) {
        for (;;) {
            uint32_t size = 0;
            if (connection.bytes.size() >= header_size) {
                if (!parse_header(connection.bytes.data(), size))
                    return true;
                if (connection.bytes.size() == header_size + size) {
                    CopyData copy{0, size, connection.bytes.data() + header_size};
                    send_message(window, WM_COPYDATA, 0, LParam(reinterpret_cast<intptr_t>(&copy)));
                    write_fully(connection.fd, &acknowledgement, 1);
                    return true;
                }
            }
            const size_t wanted =
                connection.bytes.size() < header_size ? header_size : header_size + size;
            char buffer[4096];
            const size_t room = std::min(sizeof buffer, wanted - connection.bytes.size());
            const ssize_t got = recv(connection.fd, buffer, room, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return false;
            if (got <= 0)
                return true;
            connection.bytes.append(buffer, size_t(got));
        }
    }

    void run() {
        serve_until_stopped();
        for (Connection& connection : connections)
            close(connection.fd);
        connections.clear();
        finished = true;
    }

    // Every connection is read as its bytes arrive, each with a deadline for its whole
    // message: a peer that sends slowly (or not at all) holds up no one else.
    void serve_until_stopped() {
        for (;;) {
            // With every place taken, new connections wait in the backlog.
            const short accepting = connections.size() < max_connections ? POLLIN : 0;
            std::vector<pollfd> waits = {{listen_fd, accepting, 0}, {stop_pipe[0], POLLIN, 0}};
            auto now = std::chrono::steady_clock::now();
            int timeout = -1;
            for (const Connection& connection : connections) {
                waits.push_back({connection.fd, POLLIN, 0});
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(connection.deadline - now)
                        .count();
                timeout = std::clamp(int(left) + 1, 0, timeout < 0 ? INT32_MAX : timeout);
            }
            if (poll(waits.data(), nfds_t(waits.size()), timeout) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (waits[1].revents)
                return;
            // Bytes that arrived are read before deadlines are judged.
            for (size_t i = connections.size(); i-- > 0;) {
                if (waits[2 + i].revents == 0)
                    continue;
                if (read_from(connections[i])) {
                    close(connections[i].fd);
                    connections.erase(connections.begin() + long(i));
                }
            }
            now = std::chrono::steady_clock::now();
            for (size_t i = connections.size(); i-- > 0;) {
                if (connections[i].deadline <= now) {
                    close(connections[i].fd);
                    connections.erase(connections.begin() + long(i));
                }
            }
            if (waits[0].revents & POLLIN)
                accept_one();
        }
    }

    void accept_one() {
        const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()) {
            close(fd);
            return;
        }
        set_timeouts(fd, receive_timeout_ms);
        Connection connection;
        connection.fd = fd;
        connection.deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(receive_timeout_ms);
        connections.push_back(std::move(connection));
    }

    std::vector<Connection> connections; // the listener thread's own
};

SingleInstance::SingleInstance(const std::string& class_name) : m_state(std::make_unique<State>()) {
    std::string folder = private_runtime_directory();
    if (folder.empty())
        return;
    std::string base = folder + "/" + file_name_for(class_name);
    m_state->socket_path = base + ".socket";
    m_state->lock_path = base + ".lock";
}

SingleInstance::~SingleInstance() {
    if (m_state->listener.joinable()) {
        char stop = 1;
        [[maybe_unused]] ssize_t written = write(m_state->stop_pipe[1], &stop, 1);
        // The listener may be waiting for this thread to take a command line: keep serving sent
        // messages until it has stopped.
        while (!m_state->finished) {
            Message none;
            peek_message(none, m_state->window, 0xFFFFFFFEu, 0xFFFFFFFEu);
            sleep_ms(1);
        }
        m_state->listener.join();
    }
    if (m_state->listen_fd >= 0) {
        close(m_state->listen_fd);
        unlink(m_state->socket_path.c_str());
    }
    for (int fd : m_state->stop_pipe) {
        if (fd >= 0)
            close(fd);
    }
    release_lock();
}

SingleInstance::Claim SingleInstance::claim(const std::u16string& text) {
    if (m_state->lock_path.empty())
        return Claim::NoPrivateFolder;
    mode_t old_mask = umask(077);
    int fd = open(m_state->lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    umask(old_mask);
    if (fd < 0)
        return Claim::Unguarded;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return Claim::Unguarded;
        }
    }
    int socket_fd = -1;
    if (connect_to(m_state->socket_path, socket_fd) == Connect::Connected) {
        set_timeouts(socket_fd, hand_over_timeout_ms);
        std::string message = frame(text);
        bool sent = write_fully(socket_fd, message.data(), message.size());
        shutdown(socket_fd, SHUT_WR);
        char answer = 0;
        const bool taken = sent && read_fully(socket_fd, &answer, 1) && answer == acknowledgement;
        close(socket_fd);
        close(fd);
        // A running instance that does not say it took the text may never act on it: this
        // start has failed, not succeeded.
        return taken ? Claim::HandedOver : Claim::NotTaken;
    }
    m_state->lock_fd = fd;
    return Claim::Primary;
}

bool SingleInstance::listen(WindowHandle window) {
    if (m_state->listen_fd >= 0 || m_state->socket_path.empty())
        return false;
    SocketAddress address(m_state->socket_path);
    if (!address.valid())
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    unlink(m_state->socket_path.c_str());
    mode_t old_mask = umask(077);
    bool bound = bind(fd, address.get(), sizeof address.address) == 0;
    umask(old_mask);
    if (!bound || chmod(m_state->socket_path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0 ||
        pipe2(m_state->stop_pipe, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    m_state->listen_fd = fd;
    m_state->window = window;
    m_state->listener = std::thread([state = m_state.get()] { state->run(); });
    return true;
}

void SingleInstance::release_lock() {
    if (m_state->lock_fd < 0)
        return;
    flock(m_state->lock_fd, LOCK_UN);
    close(m_state->lock_fd);
    m_state->lock_fd = -1;
}

bool SingleInstance::holds_lock() const {
    return m_state->lock_fd >= 0;
}

const std::string& SingleInstance::socket_path() const {
    return m_state->socket_path;
}

const std::string& SingleInstance::lock_path() const {
    return m_state->lock_path;
}

std::string SingleInstance::frame(const std::u16string& text) {
    std::string message(magic, 4);
    uint32_t size = uint32_t(text.size() * 2);
    for (int i = 0; i < 4; ++i)
        message.push_back(char((size >> (8 * i)) & 0xFF));
    for (char16_t unit : text) {
        message.push_back(char(unit & 0xFF));
        message.push_back(char(unit >> 8));
    }
    return message;
}

bool SingleInstance::unframe(std::string_view message, std::u16string& text) {
    uint32_t size = 0;
    if (message.size() < header_size || !parse_header(message.data(), size) ||
        message.size() - header_size != size)
        return false;
    text.clear();
    for (size_t i = header_size; i + 1 < message.size(); i += 2)
        text.push_back(char16_t(uint8_t(message[i]) | uint8_t(message[i + 1]) << 8));
    return true;
}

bool SingleInstance::send_raw(const std::string& path, const std::string& bytes,
                              uint32_t timeout_ms) {
    int fd = -1;
    if (connect_to(path, fd) != Connect::Connected)
        return false;
    set_timeouts(fd, timeout_ms);
    char answer = 0;
    bool written = write_fully(fd, bytes.data(), bytes.size());
    shutdown(fd, SHUT_WR);
    bool acknowledged = written && read_fully(fd, &answer, 1) && answer == acknowledgement;
    close(fd);
    return acknowledged;
}

} // namespace platform

#include "platform/address_book.h"

#include "platform/bus_connection.h"
#include "platform/locale.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dlfcn.h>
#include <gio/gio.h>
#include <mutex>
#include <optional>
#include <thread>
#include <unicode/uloc.h>

namespace platform {

namespace {

// libebook's entry points, by their C declarations; the library's objects stay opaque.
struct Ebook {
    using RegistryNew = GObject* (*)(GCancellable*, GError**);
    using ListEnabled = GList* (*)(GObject*, const char*);
    using SourceUid = const char* (*)(GObject*);
    using Connect = GObject* (*)(GObject*, guint32, GCancellable*, GError**);
    using GetContacts = gboolean (*)(GObject*, const char*, GSList**, GCancellable*, GError**);
    using ToString = char* (*)(GObject*, int);
    using IsSupported = gboolean (*)();
    using FromString = void* (*)(const char*, const char*, GError**);
    using CountryCode = int (*)(const void*, int*);
    using NationalNumber = char* (*)(const void*);
    using Free = void (*)(void*);

    RegistryNew registry_new{};
    ListEnabled list_enabled{};
    SourceUid source_uid{};
    Connect connect{};
    GetContacts get_contacts{};
    ToString vcard_to_string{};
    IsSupported phone_supported{};
    FromString phone_from_string{};
    CountryCode phone_country_code{};
    NationalNumber phone_national_number{};
    Free phone_free{};
};

constexpr int vcard_format_30 = 1;
// Questions waiting for the books, and answers kept for a caller asking again (a call looked up
// when it rings, and again when it is answered): the oldest go first.
constexpr std::size_t max_requests = 8;
constexpr std::size_t max_replies = 16;
// Contacts change: an answer older than this is asked again.
constexpr auto reply_lifetime = std::chrono::minutes(2);
constexpr const char* address_book_extension = "Address Book";

template <typename F> bool find_symbol(void* library, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(library, name));
    return out != nullptr;
}

// Loaded once; the library stays loaded (its GObject types cannot be unloaded).
const Ebook* ebook() {
    static const std::optional<Ebook> loaded = []() -> std::optional<Ebook> {
        void* library = nullptr;
        for (const char* name : {"libebook-1.2.so.21", "libebook-1.2.so.20", "libebook-1.2.so"}) {
            library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (library)
                break;
        }
        if (!library)
            return std::nullopt;
        Ebook e;
        const bool complete =
            find_symbol(library, "e_source_registry_new_sync", e.registry_new) &&
            find_symbol(library, "e_source_registry_list_enabled", e.list_enabled) &&
            find_symbol(library, "e_source_get_uid", e.source_uid) &&
            find_symbol(library, "e_book_client_connect_sync", e.connect) &&
            find_symbol(library, "e_book_client_get_contacts_sync", e.get_contacts) &&
            find_symbol(library, "e_vcard_to_string", e.vcard_to_string) &&
            find_symbol(library, "e_phone_number_is_supported", e.phone_supported) &&
            find_symbol(library, "e_phone_number_from_string", e.phone_from_string) &&
            find_symbol(library, "e_phone_number_get_country_code", e.phone_country_code) &&
            find_symbol(library, "e_phone_number_get_national_number", e.phone_national_number) &&
            find_symbol(library, "e_phone_number_free", e.phone_free);
        if (!complete)
            return std::nullopt;
        return e;
    }();
    return loaded ? &*loaded : nullptr;
}

// What goes into a query: digits, a leading plus and the usual separators; nothing that could
// end the quoted text.
std::string clean_number(const std::string& number) {
    std::string clean;
    for (char c : number)
        if ((c >= '0' && c <= '9') || c == '+' || c == ' ' || c == '-' || c == '(' || c == ')' ||
            c == '.')
            clean += c;
    return clean;
}

bool has_digit(const std::string& text) {
    return text.find_first_of("0123456789") != std::string::npos;
}

// What the caller and the books' thread share; the thread holds it too, so that a thread held up
// by a book (a request that ignores its cancellation) can be left to end on its own.
class EdsAddressBook final : public AddressBook,
                             public std::enable_shared_from_this<EdsAddressBook> {
public:
    explicit EdsAddressBook(const Ebook& e) : m_e(e), m_cancel(g_cancellable_new()) {}

    void start() {
        m_thread = std::thread([self = shared_from_this()] { self->run(); });
    }

    // Stops the thread; one still inside a book a second later is left to finish alone.
    void stop() {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_wake.notify_all();
        g_cancellable_cancel(m_cancel);
        const bool ended = m_done.wait_for(lock, std::chrono::seconds(1), [&] { return m_ended; });
        lock.unlock();
        if (ended)
            m_thread.join();
        else
            m_thread.detach();
    }

    ~EdsAddressBook() override { g_object_unref(m_cancel); }

    State state() const override {
        std::lock_guard lock(m_mutex);
        return m_state;
    }

    Answer find_by_phone(const std::string& number, std::chrono::milliseconds deadline,
                         std::vector<Card>& cards) override {
        const std::string clean = clean_number(number);
        if (!has_digit(clean))
            return Answer::NotFound;
        const auto until = std::chrono::steady_clock::now() + deadline;
        const std::string region = phone_region();
        std::unique_lock lock(m_mutex);
        if (m_state == State::Failed)
            return Answer::Unavailable;
        auto answered = [&] { return find_reply(clean, region) != nullptr; };
        if (!answered()) {
            const bool asked = std::any_of(m_requests.begin(), m_requests.end(), [&](auto& r) {
                return r.number == clean && r.region == region;
            });
            if (!asked) {
                if (m_requests.size() >= max_requests)
                    m_requests.pop_front();
                m_requests.push_back({clean, region});
                m_wake.notify_all();
            }
            if (deadline <= std::chrono::milliseconds(0))
                return Answer::Late;
            m_done.wait_until(lock, until, [&] { return answered() || m_state == State::Failed; });
        }
        const Reply* reply = find_reply(clean, region);
        if (!reply)
            return m_state == State::Failed ? Answer::Unavailable : Answer::Late;
        cards = reply->cards;
        return cards.empty() ? Answer::NotFound : Answer::Found;
    }

private:
    struct Request {
        std::string number;
        std::string region;
    };
    struct Reply {
        Request request;
        std::vector<Card> cards;
        std::chrono::steady_clock::time_point when;
    };

    // An answer given lately for that number, if any (under the lock).
    const Reply* find_reply(const std::string& number, const std::string& region) const {
        const auto now = std::chrono::steady_clock::now();
        for (const Reply& reply : m_replies)
            if (reply.request.number == number && reply.request.region == region &&
                now - reply.when < reply_lifetime)
                return &reply;
        return nullptr;
    }
    struct Book {
        GObject* client;
        std::string uid;
    };

    // The books' thread: opens them, then answers one question at a time.
    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        // The library talks over the process's shared session-bus connection, which by default
        // ends the process with SIGTERM when the bus goes away: the books going is no reason to
        // end a recording. The connection is held while the books are, so the setting stays.
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, m_cancel, nullptr);
        if (bus)
            g_dbus_connection_set_exit_on_close(bus, FALSE);
        std::vector<Book> books = bus ? open_books() : std::vector<Book>{};
        {
            std::lock_guard lock(m_mutex);
            m_state = books.empty() ? State::Failed : State::Ready;
        }
        m_done.notify_all();
        for (;;) {
            Request request;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_stop || !m_requests.empty(); });
                if (m_stop)
                    break;
                request = std::move(m_requests.front());
                m_requests.pop_front();
            }
            // What the books sent meanwhile (property changes) is let through.
            while (g_main_context_iteration(context, FALSE)) {
            }
            std::vector<Card> cards = ask(books, request);
            {
                std::lock_guard lock(m_mutex);
                std::erase_if(m_replies, [&](const Reply& r) {
                    return r.request.number == request.number && r.request.region == request.region;
                });
                if (m_replies.size() >= max_replies)
                    m_replies.pop_front();
                m_replies.push_back(
                    {std::move(request), std::move(cards), std::chrono::steady_clock::now()});
            }
            m_done.notify_all();
        }
        for (Book& book : books)
            g_object_unref(book.client);
        while (g_main_context_iteration(context, FALSE)) {
        }
        if (bus)
            g_object_unref(bus);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_done.notify_all();
    }

    std::vector<Book> open_books() {
        std::vector<Book> books;
        GError* error = nullptr;
        GObject* registry = m_e.registry_new(m_cancel, &error);
        if (!registry) {
            std::fprintf(stderr, "address book: no registry: %s\n",
                         error ? error->message : "unknown");
            g_clear_error(&error);
            return books;
        }
        GList* sources = m_e.list_enabled(registry, address_book_extension);
        for (GList* item = sources; item; item = item->next) {
            auto* source = static_cast<GObject*>(item->data);
            GObject* client = m_e.connect(source, 5, m_cancel, &error);
            if (client) {
                const char* uid = m_e.source_uid(source);
                books.push_back({client, uid ? uid : ""});
            } else {
                g_clear_error(&error);
            }
            if (g_cancellable_is_cancelled(m_cancel))
                break;
        }
        g_list_free_full(sources, g_object_unref);
        g_object_unref(registry);
        return books;
    }

    std::vector<Card> ask(const std::vector<Book>& books, const Request& request) {
        // Numbers are matched as numbers by the books: the same national number, or (for books
        // whose own locale cannot place a national number) the same last digits.
        const std::string& region = request.region;
        const std::string query = "(or (eqphone_national \"phone\" \"" + request.number + "\" \"" +
                                  region + "\") (eqphone_short \"phone\" \"" + request.number +
                                  "\" \"" + region + "\"))";
        std::vector<Card> cards;
        for (const Book& book : books) {
            GSList* contacts = nullptr;
            GError* error = nullptr;
            if (!m_e.get_contacts(book.client, query.c_str(), &contacts, m_cancel, &error)) {
                g_clear_error(&error);
                continue;
            }
            for (GSList* item = contacts; item; item = item->next) {
                char* text =
                    m_e.vcard_to_string(static_cast<GObject*>(item->data), vcard_format_30);
                if (text)
                    cards.push_back({book.uid, text});
                g_free(text);
            }
            g_slist_free_full(contacts, g_object_unref);
        }
        return cards;
    }

    const Ebook& m_e;
    GCancellable* m_cancel;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    State m_state{State::Opening};
    bool m_stop{false};
    bool m_ended{false};
    std::deque<Request> m_requests;
    std::deque<Reply> m_replies;
};

// The caller's address book: stops the books' thread when it goes.
class Handle final : public AddressBook {
public:
    explicit Handle(std::shared_ptr<EdsAddressBook> book) : m_book(std::move(book)) {}
    ~Handle() override { m_book->stop(); }
    State state() const override { return m_book->state(); }
    Answer find_by_phone(const std::string& number, std::chrono::milliseconds deadline,
                         std::vector<Card>& cards) override {
        return m_book->find_by_phone(number, deadline, cards);
    }

private:
    std::shared_ptr<EdsAddressBook> m_book;
};

} // namespace

std::unique_ptr<AddressBook> AddressBook::open() {
    if (session_bus_address().empty())
        return nullptr;
    const Ebook* e = ebook();
    if (!e)
        return nullptr;
    auto book = std::make_shared<EdsAddressBook>(*e);
    book->start();
    return std::make_unique<Handle>(std::move(book));
}

std::string phone_region() {
    char country[ULOC_COUNTRY_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getCountry(current_locale().c_str(), country, sizeof country, &status);
    if (U_FAILURE(status))
        return {};
    return country;
}

PhoneMatch compare_phone_numbers(const std::string& a, const std::string& b) {
    const Ebook* e = ebook();
    const std::string region = phone_region();
    if (!e || !e->phone_supported() || region.empty())
        return PhoneMatch::Unknown;
    struct Parsed {
        int country{0};
        std::string national;
    };
    auto parse = [&](const std::string& text) -> std::optional<Parsed> {
        const std::string clean = clean_number(text);
        if (!has_digit(clean))
            return std::nullopt;
        GError* error = nullptr;
        void* number = e->phone_from_string(clean.c_str(), region.c_str(), &error);
        g_clear_error(&error);
        if (!number)
            return std::nullopt;
        Parsed parsed;
        parsed.country = e->phone_country_code(number, nullptr);
        char* national = e->phone_national_number(number);
        if (national)
            parsed.national = national;
        g_free(national);
        e->phone_free(number);
        if (parsed.national.empty())
            return std::nullopt;
        return parsed;
    };
    const auto left = parse(a);
    const auto right = parse(b);
    if (!left || !right)
        return PhoneMatch::Unknown;
    // A number written without its country code is one of the user's country.
    return left->country == right->country && left->national == right->national
               ? PhoneMatch::Same
               : PhoneMatch::Different;
}

} // namespace platform

#pragma once

// The desktop's address books: Evolution Data Server, as GNOME Contacts and a phone's dialler
// keep them, reached through libebook. The library is loaded at run time, on first use; without
// it, or without a session bus, there is no address book and callers use their own contacts.
//
// The books are opened, and asked, on a thread of the address book's own, so that nothing the
// books do (starting their services, a book that never answers) ever holds up the caller: a
// question waits for its answer no longer than the caller's deadline (none at all when it is
// zero), and an answer that comes later is kept for a while, for the caller to ask again.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class AddressBook {
public:
    enum class State { Opening, Ready, Failed };
    enum class Answer {
        Found,       // `cards` holds the candidates
        NotFound,    // the books answered: nobody has that number
        Late,        // no answer before the deadline
        Unavailable, // the books could not be opened
    };

    // A contact that the books hold for a number, as a vCard (UTF-8), with the book it is in.
    struct Card {
        std::string book;
        std::string vcard;
    };

    // Starts opening the enabled address books in the background; nullptr without a session bus
    // or without libebook.
    static std::unique_ptr<AddressBook> open();

    virtual ~AddressBook() = default;
    virtual State state() const = 0;
    // The contacts whose telephone numbers the books take for `number` (the same national
    // number, or the same last digits: callers compare them with compare_phone_numbers()).
    // Waits for the books at most `deadline`; with no answer by then the question stays asked
    // (Late), and the answer, when it comes, is what the next question for that number gets.
    virtual Answer find_by_phone(const std::string& number, std::chrono::milliseconds deadline,
                                 std::vector<Card>& cards) = 0;
};

enum class PhoneMatch { Same, Different, Unknown };

// Two telephone numbers compared as numbers of the user's country (from the locale) with
// libphonenumber, through libebook: "+44 20 7946 0018" and "020 7946 0018" are the same in
// Britain. Unknown when either cannot be read as a number, or without the library.
PhoneMatch compare_phone_numbers(const std::string& a, const std::string& b);

// The country of the user's locale ("GB" for en_GB), or empty.
std::string phone_region();

} // namespace platform

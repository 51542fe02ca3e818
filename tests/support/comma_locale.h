// Switches the whole C library to a locale that writes decimals with a comma, for tests that
// numbers keep their point whatever the user's language; restores "C" when it goes.
#pragma once

#include <clocale>

namespace ulvarin::test {

class CommaLocale {
public:
    CommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
            if (std::setlocale(LC_ALL, name) != nullptr) {
                active_ = true;
                return;
            }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // False when no such locale is installed (the test should skip).
    bool active() const { return active_; }

private:
    bool active_ = false;
};

}  // namespace ulvarin::test

#pragma once

#include <string>
#include <vector>

namespace kestrova {

// A modal alert's content, in either of the two forms the program uses.
//
// The older form has a default, an alternate and an other button and answers 1 (default),
// 0 (alternate) or -1 (other). The newer form has buttons added in order and answers 1000 for
// the first, 1001 for the second, and so on.
struct Alert {
    enum class Style { Warning = 0, Informational = 1, Critical = 2 };
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;
    static constexpr int kFirstButtonReturn = 1000;

    static Alert legacy(std::string messageText, std::string defaultButton,
                        std::string alternateButton, std::string otherButton,
                        std::string informativeText);
    static Alert withButtons(std::string messageText, std::string informativeText,
                             std::vector<std::string> buttons, Style style);

    bool legacyForm = false;
    std::string messageText;
    std::string informativeText;
    // Older form: {default, alternate, other}, empty titles meaning "no such button".
    // Newer form: the added buttons in order.
    std::vector<std::string> buttons;
    Style style = Style::Warning;

    // The answer for the i-th entry of buttons.
    int returnCodeFor(std::size_t index) const;
    // The answer given when the alert is dismissed without a choice (Return/Escape).
    int defaultReturnCode() const;
};

// Shows modal alerts; runModal blocks the main thread until a button is pressed.
class AlertService {
public:
    virtual ~AlertService() = default;
    virtual int runModal(const Alert& alert) = 0;
};

}  // namespace kestrova

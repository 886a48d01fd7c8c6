#pragma once

#include <string>
#include <vector>

namespace kestrova {

// A modal alert's content, in either of the two button shapes the program uses.
//
// DefaultAlternateOther: a default, an alternate and an other button (an empty title: no such
// button), answering 1 (default), 0 (alternate) or -1 (other). ButtonList: buttons in order,
// answering 1000 for the first, 1001 for the second, and so on.
struct Alert {
    enum class Style { Warning = 0, Informational = 1, Critical = 2 };
    enum class Shape { DefaultAlternateOther, ButtonList };
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;
    static constexpr int kFirstButtonReturn = 1000;

    static Alert withDefaultAlternateOther(std::string messageText, std::string defaultButton,
                                           std::string alternateButton, std::string otherButton,
                                           std::string informativeText);
    static Alert withButtonList(std::string messageText, std::string informativeText,
                                std::vector<std::string> buttons, Style style);

    Shape shape = Shape::ButtonList;
    std::string messageText;
    std::string informativeText;
    // DefaultAlternateOther: {default, alternate, other}. ButtonList: the buttons in order.
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

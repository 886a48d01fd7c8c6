#include "platform/Alert.h"

namespace kestrova {

Alert Alert::withDefaultAlternateOther(std::string messageText, std::string defaultButton,
                                       std::string alternateButton, std::string otherButton,
                                       std::string informativeText) {
    Alert alert;
    alert.shape = Shape::DefaultAlternateOther;
    alert.messageText = std::move(messageText);
    alert.informativeText = std::move(informativeText);
    alert.buttons = {std::move(defaultButton), std::move(alternateButton), std::move(otherButton)};
    return alert;
}

Alert Alert::withButtonList(std::string messageText, std::string informativeText,
                            std::vector<std::string> buttons, Style style) {
    Alert alert;
    alert.messageText = std::move(messageText);
    alert.informativeText = std::move(informativeText);
    alert.buttons = std::move(buttons);
    alert.style = style;
    return alert;
}

int Alert::returnCodeFor(std::size_t index) const {
    if (shape == Shape::DefaultAlternateOther) {
        static constexpr int kCodes[] = {kDefaultReturn, kAlternateReturn, kOtherReturn};
        return index < 3 ? kCodes[index] : kOtherReturn;
    }
    return kFirstButtonReturn + static_cast<int>(index);
}

int Alert::defaultReturnCode() const { return returnCodeFor(0); }

}  // namespace kestrova

#include "autodownload/AnimeRecord.h"

#include "messages/Notifications.h"
#include "platform/text/TextUtil.h"

namespace kestrova {

std::optional<std::string> AnimeRecord::problem(const PlistValue& record) {
    if (!record.isDictionary()) return "not a dictionary";
    const PlistValue* title = record.find(key::kTitle);
    if (title == nullptr || !title->isString()) return "no \"title\" text";
    const std::string named = " (" + TextUtil::forLog(*title->asString()) + ")";
    if (const PlistValue* keyword = record.find(key::kKeyword)) {
        const PlistValue::Array* list = keyword->asArray();
        if (list == nullptr) return "\"keyword\" is not a list" + named;
        for (const PlistValue& item : *list) {
            if (!item.isString()) return "\"keyword\" holds something other than text" + named;
        }
    }
    if (record.find(key::kURL) != nullptr || record.find(key::kFile) != nullptr) {
        return "carries \"URL\" or \"file\"" + named;
    }
    return std::nullopt;
}

bool AnimeRecord::isSwitchedOff(const PlistValue& record) {
    const PlistValue* status = record.find(key::kStatus);
    return status != nullptr && status->isFalse();
}

std::vector<std::string_view> AnimeRecord::keywords(const PlistValue& record) {
    std::vector<std::string_view> texts;
    const PlistValue* keyword = record.find(key::kKeyword);
    const PlistValue::Array* list = keyword != nullptr ? keyword->asArray() : nullptr;
    if (list == nullptr) return texts;
    for (const PlistValue& item : *list) {
        if (const std::string* text = item.asString()) texts.emplace_back(*text);
    }
    return texts;
}

bool AnimeRecord::isFileNameSafe(std::string_view title) {
    return title.find('\0') == std::string_view::npos;
}

}  // namespace kestrova

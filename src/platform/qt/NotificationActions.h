#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <map>

#include "platform/SystemLog.h"

namespace kestrova::qt {

// What the buttons of a download's banner do: "開く" (and a click on the banner) opens the file
// with the desktop's default application; "フォルダを表示" shows it selected in the file manager
// (org.freedesktop.FileManager1.ShowItems), or opens its folder when no file manager answers.
// A banner about a folder offers "open-folder", which opens it as "開く" does.
// Listens to the notification server's ActionInvoked and NotificationClosed; main thread only.
class NotificationActions : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kOpen = "default";
    static constexpr const char* kShowFolder = "show-folder";
    static constexpr const char* kOpenFolder = "open-folder";

    explicit NotificationActions(SystemLog& log);

    // The banner of this id is about file (or folder).
    void remember(uint id, std::filesystem::path file);

private slots:
    void invoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    void showInFolder(const std::filesystem::path& file);

    SystemLog& log_;
    std::map<uint, std::filesystem::path> files_;
};

}  // namespace kestrova::qt

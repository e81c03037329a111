// AtSpiAnnouncer: announcements for screen readers on Linux, through the accessibility bus.
#pragma once

#include "features/announcer.h"

#include <QObject>

#include <memory>

class AnnouncementNode;

// Qt has no way to announce a text. Screen readers speak an object of the notification role
// when it shows (Orca says "notification" and the object's name), so each announcement is a
// small accessible object of our own, served on the accessibility bus connection of Qt's bridge:
// its name becomes the text, and it says that it shows. Events from that connection belong to
// this program, which the screen reader follows while the window is active. Without an assistive
// technology Qt opens no such connection, and nothing is sent.
class AtSpiAnnouncer : public QObject, public Announcer {
    Q_OBJECT
public:
    explicit AtSpiAnnouncer(QObject* parent);
    ~AtSpiAnnouncer() override;

    void announce(const std::string& text) override;

    // Where the object lives on the accessibility bus.
    static const char* const PATH;

private:
    std::unique_ptr<AnnouncementNode> node; // once the bridge's connection is there
};

#pragma once

#include "bootlink/LinkListener.h"

#include <QEvent>
#include <QObject>

namespace ostrel {

// The link's reports as posted events, each carrying its own copy of the reply.
inline constexpr QEvent::Type linkReplyEventType = static_cast<QEvent::Type>(QEvent::User + 1);
inline constexpr QEvent::Type linkTimeoutEventType = static_cast<QEvent::Type>(QEvent::User + 2);

class LinkReplyEvent final : public QEvent {
public:
    explicit LinkReplyEvent(const LinkReply& linkReply)
        : QEvent(linkReplyEventType), reply(linkReply) {}
    const LinkReply reply;
};

class LinkTimeoutEvent final : public QEvent {
public:
    explicit LinkTimeoutEvent(BootCommand timedOut)
        : QEvent(linkTimeoutEventType), command(timedOut) {}
    const BootCommand command;
};

// Turns the worker's calls into events posted to a receiver on the user-interface thread.
class LinkEventPoster final : public LinkListener {
public:
    explicit LinkEventPoster(QObject& eventReceiver) : receiver(eventReceiver) {}
    void PostLinkReply(const LinkReply& reply) override;
    void PostLinkTimeout(BootCommand command) override;

private:
    QObject& receiver;
};

} // namespace ostrel

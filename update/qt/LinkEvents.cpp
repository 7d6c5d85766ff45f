#include "update/qt/LinkEvents.h"

#include <memory>

#include <QCoreApplication>

namespace ostrel {

// postEvent takes ownership of the event and is safe to call from any thread.
void LinkEventPoster::PostLinkReply(const LinkReply& reply) {
    QCoreApplication::postEvent(&receiver, std::make_unique<LinkReplyEvent>(reply).release());
}

void LinkEventPoster::PostLinkTimeout(BootCommand command) {
    QCoreApplication::postEvent(&receiver, std::make_unique<LinkTimeoutEvent>(command).release());
}

} // namespace ostrel

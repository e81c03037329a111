// Upload: the ticket, then the file's bytes as they are on disk now.
#include "files/upload.h"

#include "files/file_names.h"
#include "files/local_file.h"
#include "files/service_protocol.h"

#include <algorithm>

Upload::Upload(std::string host, uint16_t port, std::string offer, std::string filePath,
               uint64_t fileSize, std::string sendTicket, RelayTimings waits,
               std::function<void(const std::string&)> noteLine, std::function<void()> finished)
    : offerId(std::move(offer)), address(std::move(host)), servicePort(port),
      path(std::move(filePath)), size(fileSize), ticket(std::move(sendTicket)), timings(waits),
      note(std::move(noteLine)), whenFinished(std::move(finished)) {}

Upload::~Upload() {
    cancel();
    stop();
}

void Upload::cancel() {
    std::lock_guard<std::mutex> guard(mutex);
    cancelled = true;
    if (connection)
        connection->socket().wake();
}

void Upload::run() {
    giveWayToEveryone();
    send();
    {
        std::lock_guard<std::mutex> guard(mutex);
        connection.reset();
        done = true;
    }
    if (whenFinished)
        whenFinished();
}

void Upload::send() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (cancelled)
            return;
        connection = std::make_unique<LineConnection>(TcpSocket::createStream());
    }
    // Only this thread makes or drops the connection, so it is used here without the lock.
    LineConnection& line = *connection;
    std::string greeting;
    if (!line.socket().connectWithin(address, servicePort, TcpSocket::CONNECT_TIMEOUT_MS) ||
        !line.readLine(greeting, MAX_SERVICE_LINE, TcpSocket::CONNECT_TIMEOUT_MS) ||
        greeting != SERVICE_GREETING)
        return;
    const std::string name = ShownFileName(FileNameOf(path));
    LocalFile file;
    if (!file.openForReading(path)) {
        (void)line.sendLine("FAIL " + ticket, timings.stallMs);
        note("Could not send " + name + " to someone who asked for it: " + file.lastError);
        return;
    }
    if (!line.sendLine("PUT " + ticket, timings.stallMs))
        return;
    const std::unique_ptr<char[]> buffer(new char[RelayTransfer::CHUNK]);
    uint64_t sent = 0;
    while (sent < size && !cancelled) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(RelayTransfer::CHUNK, size - sent));
        const int64_t got = file.read(buffer.get(), want);
        if (got <= 0) {
            note(name + " has changed since you offered it, so nobody can get it now: withdraw it "
                        "(Files menu) and offer it again");
            return;
        }
        // A receiver that went, or a withdrawal, ends the upload from the host's side.
        const auto count = static_cast<int32_t>(got);
        if (line.socket().sendAll(buffer.get(), count, timings.stallMs) != count)
            return;
        sent += static_cast<uint64_t>(got);
    }
    // Closing shuts the sending side first, which tells the host that nothing more comes.
}

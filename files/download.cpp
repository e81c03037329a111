// Download: the request, the framed pieces, the check and the rename.
#include "files/download.h"

#include "files/file_names.h"
#include "files/line_connection.h"
#include "files/local_file.h"
#include "files/piece_writer.h"
#include "files/service_protocol.h"

#include <chrono>
#include <memory>

namespace {

// A piece is never larger than the relay's buffer; anything larger is no relay of ours.
constexpr size_t MAX_PIECE = RelayTransfer::CHUNK;
// How often progress is reported, at most.
constexpr auto PROGRESS_EVERY = std::chrono::milliseconds(250);

} // namespace

Download::Download(std::string host, uint16_t port, FileOffer what, std::string where,
                   RelayTimings waits, std::function<void()> onProgress,
                   std::function<void(const Download&)> onFinished)
    : offer(std::move(what)), target(std::move(where)), address(std::move(host)), servicePort(port),
      timings(waits), progressed(std::move(onProgress)), whenFinished(std::move(onFinished)) {}

Download::~Download() {
    cancel("the download was stopped");
    stop();
}

void Download::cancel(const std::string& reason) {
    std::lock_guard<std::mutex> guard(mutex);
    if (done || cancelled)
        return;
    why = reason;
    cancelled = true;
    if (connection)
        connection->socket().wake();
}

std::string Download::failure() const {
    std::lock_guard<std::mutex> guard(mutex);
    return why;
}

std::string Download::reasonOr(const std::string& reason) {
    std::lock_guard<std::mutex> guard(mutex);
    return cancelled ? why : reason;
}

std::string Download::cut(const LineConnection& line, uint64_t got) {
    return reasonOr(line.timedOut() ? "nothing arrived for " + SecondsText(timings.stallMs)
                                    : "the connection to the host ended after " + HumanSize(got) +
                                          " of " + HumanSize(offer.size));
}

void Download::run() {
    giveWayToEveryone();
    const std::string part = PartFileName(target);
    const std::string failed = fetch(part);
    {
        std::lock_guard<std::mutex> guard(mutex);
        why = failed;
        connection.reset();
        done = true;
    }
    if (whenFinished)
        whenFinished(*this);
}

// Returns why the file was not saved, or nothing when it was.
std::string Download::fetch(const std::string& part) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (cancelled)
            return why;
        connection = std::make_unique<LineConnection>(TcpSocket::createStream());
    }
    // Only this thread makes or drops the connection, so it is used here without the lock.
    LineConnection& line = *connection;
    if (!line.socket().connectWithin(address, servicePort, TcpSocket::CONNECT_TIMEOUT_MS))
        return reasonOr("the host's file service cannot be reached (" +
                        line.socket().lastError.substr(0, line.socket().lastError.find('\n')) +
                        ")");
    std::string text;
    if (!line.readLine(text, MAX_SERVICE_LINE, TcpSocket::CONNECT_TIMEOUT_MS) ||
        text != SERVICE_GREETING)
        return reasonOr("the host does not pass files on");
    if (!line.sendLine("GET " + offer.id + " " + std::to_string(offer.size) + " " + offer.sha256,
                       timings.stallMs))
        return cut(line, 0);
    if (!line.readLine(text, MAX_SERVICE_LINE, timings.uploadWaitMs + timings.stallMs))
        return cut(line, 0);
    if (text.starts_with("ERR "))
        return reasonOr(text.substr(4));
    if (text != "FILE " + std::to_string(offer.size))
        return reasonOr("the host's answer was not the file offered");

    LocalFile file;
    if (!file.createNew(part))
        return reasonOr("it cannot be written there (" + file.lastError + ")");
    std::string failed = receive(line, file);
    if (failed.empty() && !file.close())
        failed = "it could not be written (" + file.lastError + ")";
    std::string error;
    if (failed.empty() && !RenameReplacing(part, target, error))
        failed = "it could not be given its name (" + error + ")";
    if (!failed.empty()) {
        (void)file.close();
        RemoveFile(part);
    }
    return failed;
}

std::string Download::receive(LineConnection& line, LocalFile& file) {
    PieceWriter writer(file);
    if (!writer.start())
        return "no thread could be started to write it";
    uint64_t got = 0;
    auto reported = std::chrono::steady_clock::now();
    std::string text;
    // Pieces arrive as large as the host happened to read them, often far below a buffer: they
    // are gathered into one buffer and handed to the writer when the next would not fit, so that
    // the two threads meet once per buffer rather than once per piece.
    char* buffer = nullptr;
    size_t filled = 0;
    const auto handOver = [&] {
        if (buffer != nullptr && filled > 0)
            writer.put(buffer, filled);
        buffer = nullptr;
        filled = 0;
    };
    for (;;) {
        if (!line.readLine(text, MAX_SERVICE_LINE, timings.stallMs))
            return cut(line, got);
        if (text == "END")
            break;
        if (text.starts_with("ERR "))
            return reasonOr(text.substr(4));
        uint64_t piece = 0;
        if (!text.starts_with("DATA ") || !ReadFileSize(std::string_view(text).substr(5), piece) ||
            piece == 0 || piece > MAX_PIECE || piece > offer.size - got)
            return reasonOr("the host sent more than the file offered, or something else");
        if (buffer != nullptr && filled + piece > MAX_PIECE)
            handOver();
        if (buffer == nullptr && (buffer = writer.take()) == nullptr)
            break; // writing failed: finish() says why
        if (!line.readBytes(buffer + filled, static_cast<size_t>(piece), timings.stallMs))
            return cut(line, got);
        filled += static_cast<size_t>(piece);
        got += piece;
        receivedBytes = got;
        const auto now = std::chrono::steady_clock::now();
        if (progressed && now - reported >= PROGRESS_EVERY) {
            reported = now;
            progressed();
        }
    }
    handOver();
    std::string error;
    const std::string digest = writer.finish(error);
    if (!error.empty())
        return "it could not be written (" + error + ")";
    if (got != offer.size)
        return reasonOr("the host ended it after " + HumanSize(got) + " of " +
                        HumanSize(offer.size));
    if (digest != offer.sha256)
        return "the file received differs from the one offered (its SHA-256 does not match)";
    return std::string();
}

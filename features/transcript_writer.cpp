// TranscriptWriter: a queue drained by one thread, which flushes after every batch it writes
// (so at least once a second while lines arrive) and stops for good at the first failure.
#include "features/transcript_writer.h"

#include "features/transcript_format.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string ErrnoText() {
    return errno != 0 ? std::error_code(errno, std::generic_category()).message()
                      : std::string("the write failed");
}

} // namespace

TranscriptWriter::TranscriptWriter(std::filesystem::path transcriptFolder, ErrorHandler handler)
    : folder(std::move(transcriptFolder)), onError(std::move(handler)), thread([this] { run(); }) {}

TranscriptWriter::~TranscriptWriter() {
    stop();
}

void TranscriptWriter::startRoom(const CurrentRoom& room, Clock::time_point now) {
    if (stopped)
        return;
    std::string header = TranscriptHeader(&room, "started", now);
    {
        std::lock_guard<std::mutex> guard(mutex);
        queuedBytes += header.size();
        queue.push_back({RoomFileName(room), std::move(header), now});
    }
    wake.notify_one();
}

void TranscriptWriter::append(std::string_view line, Clock::time_point arrived) {
    if (stopped)
        return;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (queuedBytes + line.size() > QUEUE_LIMIT) {
            ++droppedLines;
            return;
        }
        queuedBytes += line.size();
        queue.push_back({{}, std::string(line), arrived});
    }
    wake.notify_one();
}

void TranscriptWriter::stop() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        stopping = true;
    }
    wake.notify_one();
    if (thread.joinable())
        thread.join();
}

void TranscriptWriter::run() {
    for (;;) {
        std::deque<Entry> batch;
        size_t dropped = 0;
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            batch.swap(queue);
            queuedBytes = 0;
            dropped = std::exchange(droppedLines, 0);
            last = stopping;
        }
        if (!stopped)
            write(batch, dropped);
        if (last)
            break;
    }
    file.close();
}

void TranscriptWriter::write(std::deque<Entry>& batch, size_t dropped) {
    // Each write is checked at once: the system's reason for a failure (a full disk, say) is in
    // errno only until the next call, and a write fails as soon as the stream's buffer fills, not
    // only when it is flushed.
    const auto put = [this](const std::string& text) {
        errno = 0;
        file << text;
        if (!file)
            fail(ErrnoText());
        return !stopped;
    };
    for (Entry& entry : batch) {
        if (!entry.openFile.empty()) {
            file.close();
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            path = folder / entry.openFile;
            if (error) {
                fail(error.message());
                return;
            }
            errno = 0;
            file.open(path, std::ios::app | std::ios::binary);
            if (!file) {
                fail(ErrnoText());
                return;
            }
            if (!put(entry.text))
                return;
        } else if (file.is_open() && !put(TranscriptLine(entry.text, entry.arrived))) {
            return;
        }
    }
    if (!file.is_open())
        return;
    if (dropped > 0 &&
        !put("(" + std::to_string(dropped) + " lines not written: the disk fell behind)\n"))
        return;
    errno = 0;
    file.flush();
    if (!file)
        fail(ErrnoText());
}

void TranscriptWriter::fail(const std::string& reason) {
    stopped = true;
    file.close();
    {
        std::lock_guard<std::mutex> guard(mutex);
        queue.clear();
        queuedBytes = 0;
    }
    if (onError)
        onError("Transcripts stopped: " + PathText(path) + ": " + reason);
}

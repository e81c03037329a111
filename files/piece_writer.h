// PieceWriter: the second half of a download: the pieces that arrived are hashed and written on a
// thread of its own while the next ones arrive, so that receiving, hashing and writing share the
// processors. It holds PIECES buffers of RelayTransfer::CHUNK bytes, made once.
//
// Who waits where: the writer (this Thread) on `changed` for a piece, woken by put(), finish()
// and its destruction; the download's thread in take() for a free buffer, woken as the writer
// frees one or fails.
#pragma once

#include "files/local_file.h"
#include "files/sha256.h"
#include "net/thread.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class PieceWriter final : public Thread {
public:
    static constexpr size_t PIECES = 4;

    explicit PieceWriter(LocalFile& file);
    // Drops what waits and joins the thread.
    ~PieceWriter() override;

    // A buffer to receive the next piece into, once one is free; none when writing has failed.
    char* take();
    // Hands a buffer from take() over, filled with size bytes.
    void put(char* buffer, size_t size);
    // Waits until every piece handed over is written: the digest of them all, or nothing with
    // error saying why writing failed.
    std::string finish(std::string& error);

    void run() override;

private:
    LocalFile& file;
    Sha256 hash; // used by the writer's thread, then by finish() once it has ended
    std::unique_ptr<char[]> storage;
    // Guards every field below.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<char*> free;
    std::deque<std::pair<char*, size_t>> filled;
    bool closing = false; // no more pieces: finish() or the destruction
    bool ended = false;   // the writer's thread is done
    std::string error;    // why a write failed
};

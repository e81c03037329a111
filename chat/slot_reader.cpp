// The server's worker threads: their loops live in ChatServer, next to the state they share.
#include "chat/slot_reader.h"

#include "chat/chat_server.h"

SlotReader::~SlotReader() {
    stop(false);
}

void SlotReader::run() {
    server->serveSlot(slotIndex);
}

SlotWriter::~SlotWriter() {
    stop(false);
}

void SlotWriter::run() {
    server->writeQueues();
}

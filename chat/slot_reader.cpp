// SlotReader: its loop lives in ChatServer, next to the slot state it shares.
#include "chat/slot_reader.h"

#include "chat/chat_server.h"

SlotReader::~SlotReader() {
    stop(false);
}

void SlotReader::run() {
    server->serveSlot(slotIndex);
}

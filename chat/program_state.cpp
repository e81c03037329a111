// The program-wide state shared by the window's commands and the message handlers.
#include "chat/program_state.h"

#include "chat/chat_client.h"
#include "chat/chat_server.h"

CheckedMutex ChatLock;

std::array<std::string, MAX_CLIENTS> UserTable;
std::string HostName;

std::string LocalName;
std::string TargetAddress;
uint16_t PortNumber = 0;
char SendBuffer[SEND_BUFFER_SIZE] = {};

std::unique_ptr<ChatClient> ActiveClient;
std::unique_ptr<ChatServer> ActiveServer;

ChatViewModel ChatView;

// The live client and server of the window.
#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/program_state.h"

std::unique_ptr<ChatClient> ActiveClient;
std::unique_ptr<ChatServer> ActiveServer;

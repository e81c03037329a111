// The program-wide state shared by the window's commands and the message handlers.
#include "chat/program_state.h"

std::mutex ChatLock;

std::string LocalName;
std::string TargetAddress;
uint16_t PortNumber = 0;
char SendBuffer[SEND_BUFFER_SIZE] = {};

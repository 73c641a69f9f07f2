// Shared by the client's source files: printing and sending.
#pragma once

#include "net/client.h"

void client_print(NetClient* client, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Through the fake link when one is set; a failed send prints
// "sendto error (%.100s)".
void client_send(NetClient* client, const uint8_t* bytes, int length);
void client_send_message(NetClient* client, const ClientMessage& message);
// Entering a state clears the repeat timer, so its message goes out at once.
void enter_state(NetClient* client, int state);
int client_tick(NetClient* client);

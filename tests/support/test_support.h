// What the Windows tests of the resolver object include: clients' calls
// (com_client.h), clocks (clock.h) and a window to post messages to while a
// lookup waits (message_window.h), and the object itself.
#pragma once

#include "clock.h"
#include "com_client.h"
#include "hosting/vevivoridezaz_members.h"
#include "message_window.h"
#include "text.h"

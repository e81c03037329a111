// Whether the desktop's session bus is there to talk to.
#pragma once

// Only a bus that is there: with no address at all, the bus library would try to start one.
bool SessionBusAddressKnown();

#pragma once
#include <functional>

// Every wait of the main thread goes through here: it keeps dispatching
// messages, among them the host calls that worker threads send to it.
void PumpMessagesFor(unsigned long ms);

// Pumps until done() holds, ms have passed or a stop is requested; says
// whether done() held. done() is asked again whenever a message came or an
// item's label or picture changed.
bool PumpMessagesUntil(const std::function<bool()>& done, unsigned long ms);

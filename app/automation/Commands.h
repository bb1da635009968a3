#pragma once
// The automation commands, grouped by the kind of screen they work on. Each
// function adds its group to the table; Automation adds the run's own
// commands ("log", "quit") and dispatches. Reading commands answer at once;
// acting commands (and screenshots) answer once their events have been
// delivered and the screen has settled again (CommandContext::settle).
//
// Thread rule: main thread only.

#include "app/automation/CommandContext.h"

namespace fieldmon::automation {

// A handler of one group: the shared context, the request, the answer.
using Handler = void (*)(CommandContext&, const Request&, Answer&);

inline void addCommand(CommandTable& table, CommandContext& context, const char* name, Handler run,
                       bool readsOnly)
{
    table[QString::fromLatin1(name)] = {[&context, run](const Request& r, Answer& a) { run(context, r, a); },
                                        readsOnly};
}

// Any screen, through the window and its navigation stack: "screen",
// "back", "screenshot", "wait".
void addWindowCommands(CommandTable& table, CommandContext& context);

// Any screen, through the pointer and the keyboard: "tap", "press", "move",
// "release", "drag", "type".
void addInputCommands(CommandTable& table, CommandContext& context);

// Screens with a table (the device list, the detail screen, the event log,
// a table page): "rows", "tap_row".
void addTableCommands(CommandTable& table, CommandContext& context);

// A device's pages, whose widgets are named by their elements: "widgets",
// "pick".
void addPageCommands(CommandTable& table, CommandContext& context);

// History, trends and link health: "trend" (a widget's trend, as a long
// press opens it), "export_csv" (the trend on top, to a path), "link" (the
// open device's health figures).
void addTrendCommands(CommandTable& table, CommandContext& context);

// The alert box over any screen: "alert", "alert_button".
void addAlertCommands(CommandTable& table, CommandContext& context);

} // namespace fieldmon::automation

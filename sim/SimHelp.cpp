#include "sim/DeviceConfig.h"

namespace fieldmon::sim {

const char* deviceConfigHelp()
{
    return R"(fieldsim: simulated field devices for fieldmon.

Usage:
  fieldsim [--log FILE] [--ready-file FILE] [--for SECONDS]
           [--port N] [--app-port N] [--stop-with-parent] DEVICE.json...
  fieldsim --replay CAPTURE [--speed X] [--from SECONDS] [--loop] [--log FILE]
           [--ready-file FILE] [--port N] [--app-port N] [--stop-with-parent]
  fieldsim --check DEVICE.json|ui.xml...   check UI descriptions, run nothing
  fieldsim --addresses DEVICE.json...      print every address the devices use
  fieldsim --addresses --replay CAPTURE    the same for the devices of a capture
  fieldsim --help | --version

Each DEVICE.json describes one device; all of them run in this process. A
device answers the app's discovery datagrams (H, h, F), its variable
requests (v, a) and its commands (c...) on UDP port 10024 of its own address,
sends its answers and events to port 10023 of the asker, and serves the
files of its folder (its ui.xml, its pictures) over HTTP on port 80 of its
address. The addresses must exist on this machine: run the devices in the
private network of tools/netns, which adds them (10.77.0.10 and up).

Every datagram received and sent is logged with a time stamp on standard
output, or appended to FILE with --log. --ready-file writes FILE once every
socket is open. --for stops after SECONDS. SIGINT and SIGTERM stop it, and so does the end
of its parent process with --stop-with-parent. --port and --app-port change
the two UDP ports (for tests on loopback addresses such as 127.0.0.10).

The device file (JSON; "//" comments are not allowed, use "comment"):

  {
    "name": "North well",          identity, sent in the announcement
    "platform": "PLAT",
    "type": "PUMP",
    "version": 3,
    "serial": 1207,                the device's identity for the app
    "service": false,              service mode at start
    "address": "10.77.0.10",       required
    "folder": "pump",              files served over HTTP, relative to this file
    "ui": "ui.xml",                the UI description inside the folder

    "silent": false,               true: answer nothing at all
    "answerProbes": true,          false: ignore the presence probe F
    "hostRequestEvent": "EVENTSYS_HOST_REQUEST",   event sent for "chostreq"
    "flood": 0,                    malformed datagrams per second to every host
                                   heard from (unknown kinds, stray replies,
                                   oversized, hostile announcements), for soak runs

    "link": { "loss": 0,           share (0 to 1) of variable requests ("v", "a")
              "delay": 0 },        left unanswered, and seconds before each answer
                                   to the others goes out (link-health tests)

    "http": { "port": 80,          0 picks a free port
              "delay": 0,          seconds to wait before each answer
              "notFound": false,   answer 404 instead
              "drop": false,       send half the body, then close
              "redirect": "",      answer "302 Found" with this Location (a
                                   hostile device sending the app elsewhere)
              "only": ["ui.xml"] },  the four options above for these files only

    "memory": { "base": 256, "align": 4 },
                                   variables of the ui.xml declarations are laid
                                   out in declaration order from "base", each at
                                   its type's size and aligned to "align" bytes

    "variables": {                 values by variable name, in the variable's units
      "speed": 1200,               a constant
      "temperature": 21.5,         DEC10 stores 215
      "gateway": "192.168.1.20",   IP_ADDR takes a dotted text
      "mode": "ON",                an enumeration takes an enumerator name
      "pos.x": 12,                 a structure member
      "history": [1, 2, 3, 4],     an array: reserves 4 elements (history[1]...)
      "log": { "length": 10 },     reserves 10 elements, all 0
      "flow": { "behaviour": "sine", "min": 10, "max": 30, "period": 20 },
      "level": { "behaviour": "ramp", "from": 0, "to": 100, "period": 30 },
      "valve": { "behaviour": "square", "low": 0, "high": 1, "period": 8, "duty": 0.5 },
      "pressure": { "behaviour": "random", "min": 0, "max": 10, "step": 0.5, "start": 5 },
      "heading": { "behaviour": "constant", "value": 90, "address": 4096 }
    },                             behaviours also take "phase" (fraction of a
                                   period) and "every" (seconds between updates,
                                   0.2); "address" pins a variable in memory

    "commands": [                  "c" + text + line end from the app
      { "match": "set speed %d", "set": { "speed": "$1" }, "event": "SPEED SET TO $1" },
      { "match": "pump on", "set": { "pump": 1 } },
      { "match": "move %f %f", "set": { "joyx": "$1", "joyy": "$2" } },
      { "match": "limit %d %d", "set": { "limit[$1]": "$2" } }
    ],                             %d integer, %f number, %s word, %% percent;
                                   a blank matches blanks; "$1" is the first
                                   argument, in values and in names (an
                                   array element). Setting a variable stops its
                                   behaviour. "service 1", "service 0" and
                                   "hostreq" are built in.

    "events": [                    sent as "e" + "hh:mm:ss " + text to every
      { "every": 15, "text": "PUMP CYCLE {count} DONE" },   app heard from
      { "every": 60, "first": 5, "text": "no stamp", "stamp": false }
    ],

    "schedule": [                  changes at seconds after start
      { "at": 30, "address": "10.77.0.13" },
      { "at": 45, "type": "VALVE", "name": "Valve 2" },
      { "at": 60, "answerProbes": false },
      { "at": 90, "silent": true },
      { "at": 120, "link": { "loss": 0.5, "delay": 0.3 } }
    ]                              also "platform", "version", "serial",
                                   "service"
  }

Replaying a capture: "fieldsim --replay" plays every device of a pcap or
pcapng file (from fieldmon's recorder, tcpdump or Wireshark; raw IPv4,
Ethernet or Linux cooked) from the address it had in the capture: it
announces itself, answers the search and presence datagrams, sends its
recorded events at their times, serves its recorded documents and pictures
over HTTP, and answers variable requests with the last recorded bytes at the
addresses asked for. What the recording never answered gets no answer, and
while the recording shows a device silent it stays silent. Commands are
logged, not acted on. --speed runs the recording 0.25 to 16 times as fast,
--from starts SECONDS after the capture's first device datagram, --loop
starts over at the end; without it fieldsim ends with the recording.
"tools/netns --replay CAPTURE -- COMMAND" runs it in a private network.

Checking a UI description: "fieldsim --check" reads each device's ui.xml (or
a ui.xml given directly), reports errors and warnings with line numbers, and
exits with status 1 when there is an error.
)";
}

} // namespace fieldmon::sim

// Everything the relay's modules touch outside their own memory, built once
// by main and handed to each module by constructor: the form (sockets,
// queue timers, what the desktop shows), the connection slots, the settings,
// the logs, the dialogs, the file system, the clocks and the event loop.
// Tests build one of fakes (tests/support).
#pragma once

namespace dorvane {

class Clock;
class Dialogs;
class EventLoop;
class Files;
class Form;
class Logs;
class SlotPools;
struct Settings;

struct Environment {
  Form& form;
  SlotPools& pools;  // not "slots": a Qt keyword
  Settings& settings;
  Logs& logs;
  Dialogs& dialogs;
  Files& files;
  Clock& clock;
  EventLoop& loop;
};

}  // namespace dorvane

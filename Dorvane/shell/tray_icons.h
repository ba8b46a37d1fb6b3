// The program's pictures, drawn at run time: started and stopped (window
// and tray), and the information picture of the update icon.
#pragma once

#include <QIcon>

namespace dorvane {

// iconestart16 / iconestop16: a green disc with a play mark, or a red disc
// with a stop mark.
QIcon StateIcon(bool started);
// iconeinfo16: a blue disc with an "i".
QIcon InfoIcon();

}  // namespace dorvane

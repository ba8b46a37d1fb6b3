// LOADValues on Qt windows: the loaded language's texts go to the window's
// controls, found by object name (the control names of the language file).
#pragma once

class QWidget;

namespace dorvane {

class Logs;
struct LanguageTexts;

// Applies `language`'s entries to `window` by its object name ("mainf" takes
// section MAIN, "FRMConfiguration" section CONFIGURATION) and resets its
// constants to their defaults and the file's overrides. "CPT" sets a caption (label,
// button, check box, frame, menu entry), "TIP" a tooltip, "NOD" the text of
// the node of the Categories tree whose key it names. An entry for a
// control or node the window lacks is skipped with one line of `logs`'
// debug log. Errors are reported as "MOD:LANGUAGE[LOADValues]".
void LOADValues(QWidget& window, LanguageTexts& language, Logs& logs);

// The item-data role under which the Categories tree keeps its node keys.
constexpr int kNodeKeyRole = 0x0100 + 1;  // Qt::UserRole + 1

}  // namespace dorvane

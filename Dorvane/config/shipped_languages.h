// Language files shipped with the program live in language/ of its shipped
// folder (beside the executable, or the installed data folder); the program
// reads them from its own folder's language/. This copies the shipped ones
// there, never replacing a file the user has.
#pragma once

namespace dorvane {

// Copies each file of ShippedFolder() + "language/" that ProgramFolder()
// + "language/" lacks. Nothing happens when both are the same folder or
// nothing is shipped; a file that cannot be copied is left out.
void InstallShippedLanguages();

}  // namespace dorvane

// unassociate.exe, installed beside the program and run by its uninstaller before the files go:
// takes back every association of the program beside it, through the same code as the settings
// window's boxes. A program of its own, so that the program's command line keeps meaning "files
// to extract" and nothing else. Exit code 0 when everything of ours is gone, 1 when something
// could not be removed.
#include <windows.h>

#include "shell/associations.h"
#include "common/win32/module_path.h"
#include "win32/shell/program_associations.h"
#include "win32/startup/startup_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace dexalo;
    ProgramLocation program = win32::LocationFromPath(win32::ModulePath());
    if (program.folder.empty()) return 1;
    program.name = DEXALO_PROGRAM_NAME;
    win32::ProgramAssociations associations(program);
    return RemoveEveryAssociation(associations.get()) ? 0 : 1;
}

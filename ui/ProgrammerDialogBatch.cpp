// The device list and the sound-scheme menu of the main dialog.
#include "ui/ProgrammerDialog.h"

void ProgrammerDialog::runDeviceList() {}

void ProgrammerDialog::showSoundMenu() {}

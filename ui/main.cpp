#include "ui/ProgrammerApp.h"

int main(int argc, char** argv) {
    return rw::runProgrammerApp(argc, argv);
}

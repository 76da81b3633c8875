#include "ui/ProgrammerApp.h"

int main(int argc, char** argv) {
    return runProgrammerApp(argc, argv);
}

#include "application.h"

int main(int argc, char** argv) { return run_gui(argc, argv); }

#include "cli.h"
#include "platform/process.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return run_cli(program_arguments(argc, argv), std::cout, std::cerr, process_console());
}

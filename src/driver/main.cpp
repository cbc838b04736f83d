// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/command_line.h"

int main(int argc, char** argv) { return run_program(argc, argv); }

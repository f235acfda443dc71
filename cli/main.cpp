// audimera-measure: the headless measuring command.
#include "cli/MeasureCommand.h"

#include <iostream>

using namespace audimera;

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return MeasureCommand::run(args, std::cout, std::cerr);
}

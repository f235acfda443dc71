// audimera-measure: the headless measuring command.
#include "MeasureCommand.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return MeasureCommand::run(args, std::cout, std::cerr);
}

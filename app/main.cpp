#include "app/Console.h"
#include "app/Interrupt.h"
#include "app/Run.h"
#include "app/Settings.h"

#include <iostream>

int main(int argc, char** argv)
{
    stopCleanlyOnInterrupt();
    printBanner(std::cout);
    return run(scanCommandLine(argc, argv), std::cout, std::cerr);
}

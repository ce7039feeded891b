#include "app/Console.h"
#include "app/MpiRun.h"
#include "app/Settings.h"

#include <mpi.h>

#include <iostream>

int main(int argc, char** argv)
{
    MPI_Init(&argc, &argv);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank == 0)
        printBanner(std::cout);
    const int code = runMpi(scanCommandLine(argc, argv), std::cout, std::cerr);
    MPI_Finalize();
    return code;
}

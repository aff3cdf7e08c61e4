#include "Cli.h"

#include <unistd.h>

int main(int argc, char** argv)
{
    cli::Io io;
    io.errIsTerminal = isatty(STDERR_FILENO) == 1;
    return cli::run(argc, argv, io);
}
